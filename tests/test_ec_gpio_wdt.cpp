// EC GPIO in its three layouts and the EC watchdog (EC RAM and the auxiliary
// channel), through the exports, against the simulated EC.
#include "backends/ec/ec.h"
#include "ec_test_util.h"

using namespace vek;
using namespace vek::test;

namespace {

constexpr int64_t kSec = 1'000'000'000;

class EcGpioTest : public EcBoardTest {};

// ---- per-set layout (standard row: direction 0x2B, data 0x2C) ----

TEST_F(EcGpioTest, PerSetPinOperationsModifyOneBit) {
    InitBoard(11);
    ec->Poke(0x2B, 0x0F);
    ASSERT_EQ(VEK_GPIO_SetPinDirection(1, 8, 1), VEK_OK);
    EXPECT_EQ(PortOps(machine(), 0xE300, 0xE3FF), (std::vector<PortOp>{R(0xE32B, 0x0F), W(0xE32B, 0x8F)}));
    ASSERT_EQ(VEK_GPIO_SetPinDirection(1, 1, 0), VEK_OK);
    EXPECT_EQ(ec->Peek(0x2B), 0x8E);

    ec->Poke(0x2C, 0x50);
    const struct { int32_t pin; uint8_t level; uint8_t after; } writes[] = {
        {1, 1, 0x51}, {5, 0, 0x41}, {8, 1, 0xC1}, {8, 1, 0xC1}};
    for (const auto& w : writes) {
        ASSERT_EQ(VEK_GPIO_WritePin(1, w.pin, w.level), VEK_OK);
        EXPECT_EQ(ec->Peek(0x2C), w.after) << w.pin;
    }
    uint8_t v = 0xAA;
    ASSERT_EQ(VEK_GPIO_ReadPin(1, 7, &v), VEK_OK);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(VEK_GPIO_ReadPinDirection(1, 4, &v), VEK_OK);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(VEK_GPIO_Read(1, &v), VEK_OK);
    EXPECT_EQ(v, 0xC1);
    ASSERT_EQ(VEK_GPIO_Write(1, 0x3C), VEK_OK);
    EXPECT_EQ(ec->Peek(0x2C), 0x3C);
}

TEST_F(EcGpioTest, AbsentSetRegistersAnswer10) {
    InitBoard(81); // sets 4 and 5 have a data register only
    uint8_t v = 0;
    EXPECT_EQ(VEK_GPIO_SetDirection(4, 0xFF), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_GPIO_ReadDirection(5, &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_GPIO_SetPinDirection(4, 1, 1), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_GPIO_ReadPinDirection(5, 2, &v), VEK_ERR_UNSUPPORTED);
    ec->Poke(0x35, 0x81);
    EXPECT_EQ(VEK_GPIO_Read(5, &v), VEK_OK);
    EXPECT_EQ(v, 0x81);
    EXPECT_EQ(VEK_GPIO_Write(6, 0), VEK_ERR_ARGUMENT); // past the five sets
    ASSERT_EQ(VEK_GPIO_Write(3, 0x5A), VEK_OK);
    EXPECT_EQ(ec->Peek(0x33), 0x5A);
}

TEST_F(EcGpioTest, SubtypeAndDirectionGuards) {
    InitBoard(11);
    uint8_t v = 0;
    ctx().subtype = 4;
    EXPECT_EQ(VEK_GPIO_Read(1, &v), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_GPIO_ReadPin(1, 1, &v), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_GPIO_SetDirection(1, 0), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_GPIO_WritePin(1, 2, 1), VEK_OK); // writes do not depend on the layout revision
    EXPECT_EQ(ec->Peek(0x2C) & 0x02, 0x02);
    // The direction guard comes first.
    ec::Area(ctx()).flags |= ec::EC_NO_GPIO_DIRECTION;
    EXPECT_EQ(VEK_GPIO_SetDirection(1, 0), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_GPIO_SetPinDirection(1, 1, 0), VEK_ERR_UNSUPPORTED);
    EXPECT_TRUE(LockIsFree());
}

// ---- per-pin layout (board 135: four pins on 0x2B/0x2C) ----

TEST_F(EcGpioTest, PerPinSetPacksPinsAndAbsentPinsReadZero) {
    InitBoard(135);
    ec->Poke(0x2C, 0x31); // pins 1 (0x01), 3 (0x10), 4 (0x20) high; 0x02 clear
    uint8_t v = 0xFF;
    ASSERT_EQ(VEK_GPIO_Read(1, &v), VEK_OK);
    EXPECT_EQ(v, 0x0D);
    v = 0xFF;
    EXPECT_EQ(VEK_GPIO_ReadPin(1, 5, &v), VEK_ERR_ARGUMENT);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(VEK_GPIO_WritePin(1, 6, 1), VEK_ERR_ARGUMENT);

    // A whole-set write touches only the pins' own masks.
    ec->Poke(0x2C, 0xC0);
    ASSERT_EQ(VEK_GPIO_Write(1, 0xF6), VEK_OK); // pins 2, 3 high; 1, 4 low; 5..8 absent
    EXPECT_EQ(ec->Peek(0x2C), 0xC0 | 0x02 | 0x10);

    // Direction reads use the pin's control slot and mask; writes the set register.
    ec->Poke(0x2B, 0x20);
    ASSERT_EQ(VEK_GPIO_ReadDirection(1, &v), VEK_OK);
    EXPECT_EQ(v, 0x08);
    ASSERT_EQ(VEK_GPIO_SetPinDirection(1, 2, 1), VEK_OK);
    EXPECT_EQ(ec->Peek(0x2B), 0x22);
}

// ---- indirect layout (board 6: pins in EC memory) ----

TEST_F(EcGpioTest, IndirectPinDirectionUsesBits7And6) {
    InitBoard(6);
    const struct { uint8_t before; uint8_t direction; uint8_t after; } cases[] = {
        {0x80, 0, 0x40}, {0x40, 1, 0x80}, {0x3F, 1, 0xBF}, {0xC5, 0, 0x45}};
    for (const auto& c : cases) {
        ec->PokeMemory(0x165C, c.before);
        ASSERT_EQ(VEK_GPIO_SetPinDirection(1, 1, c.direction), VEK_OK);
        EXPECT_EQ(ec->PeekMemory(0x165C), c.after) << int(c.before);
    }
    const struct { uint8_t control; uint8_t result; } reads[] = {{0x80, 1}, {0xC0, 1}, {0x40, 0}, {0x00, 0x77}};
    for (const auto& r : reads) {
        ec->PokeMemory(0x1646, r.control);
        uint8_t v = 0x77; // left alone when the pin is neither input nor output
        ASSERT_EQ(VEK_GPIO_ReadPinDirection(1, 2, &v), VEK_OK);
        EXPECT_EQ(v, r.result) << int(r.control);
    }
}

TEST_F(EcGpioTest, IndirectPinsShareADataByte) {
    InitBoard(6); // pins 1, 6, 7, 8 share 0x160A with masks 0x10, 0x01, 0x02, 0x04
    ec->PokeMemory(0x160A, 0x10);
    ASSERT_EQ(VEK_GPIO_WritePin(1, 6, 1), VEK_OK);
    ASSERT_EQ(VEK_GPIO_WritePin(1, 1, 0), VEK_OK);
    EXPECT_EQ(ec->PeekMemory(0x160A), 0x01);
    ec->PokeMemory(0x1607, 0x40);
    ec->PokeMemory(0x1605, 0x80);
    uint8_t v = 0;
    ASSERT_EQ(VEK_GPIO_Read(1, &v), VEK_OK);
    EXPECT_EQ(v, 0x20 | 0x10 | 0x02); // pins 6, 5, 2
    // Nothing reached the EC RAM window or the ACPI ports.
    EXPECT_TRUE(PortOps(machine(), 0x62, 0x66).empty());
}

// ---- watchdog ----

class EcWatchdogTest : public EcBoardTest {};

TEST_F(EcWatchdogTest, WindowTriggerWritesCountOtherCountControlThenReadsBack) {
    InitBoard(11);
    const struct { uint32_t unit; uint8_t count; std::vector<PortOp> ops; int64_t timeoutNs; } cases[] = {
        {1, 5, {W(0xE307, 5), W(0xE308, 0), W(0xE306, 3), R(0xE307, 5)}, 300 * kSec},
        {0, 200, {W(0xE308, 200), W(0xE307, 0), W(0xE306, 1), R(0xE308, 200)}, 200 * kSec},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(VEK_WDT_SetConfig(c.unit, c.count), VEK_OK);
        machine().ClearTrace();
        ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
        EXPECT_EQ(PortOps(machine(), 0xE300, 0xE3FF), c.ops);
        EXPECT_TRUE(ec->watchdog().running);
        EXPECT_EQ(ec->watchdog().timeoutNs, c.timeoutNs);
    }
    // The EC's counter runs in device time; a trigger reloads it.
    machine().Advance(150 * kSec);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    machine().Advance(199 * kSec);
    EXPECT_EQ(ec->watchdog().expiries, 0);
    machine().Advance(2 * kSec);
    EXPECT_EQ(ec->watchdog().expiries, 1);
}

TEST_F(EcWatchdogTest, DisableClearsControlSecondsMinutesInOrder) {
    InitBoard(11);
    ASSERT_EQ(VEK_WDT_SetConfig(0, 10), VEK_OK);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    EXPECT_EQ(VEK_WDT_Available(), VEK_OK);
    machine().ClearTrace();
    ASSERT_EQ(VEK_WDT_Disable(), VEK_OK);
    EXPECT_EQ(PortOps(machine(), 0xE300, 0xE3FF), (std::vector<PortOp>{W(0xE306, 0), W(0xE308, 0), W(0xE307, 0)}));
    EXPECT_FALSE(ec->watchdog().running);
    EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
    machine().Advance(60 * kSec);
    EXPECT_EQ(ec->watchdog().expiries, 0);
}

TEST_F(EcWatchdogTest, ReadBackRetriesUpToTenAttempts) {
    const struct { int matchOn; uint32_t result; int reads; } cases[] = {{1, 0, 1}, {10, 0, 10}, {11, 9, 10}, {0, 9, 10}};
    for (const auto& c : cases) {
        InitBoard(11);
        ASSERT_EQ(VEK_WDT_SetConfig(0, 30), VEK_OK);
        ec->FailReadBack(0x08, c.matchOn);
        EXPECT_EQ(VEK_WDT_Trigger(), c.result) << c.matchOn;
        EXPECT_EQ(ec->reads_of(0x08), c.reads) << c.matchOn;
        TearDown();
    }
}

TEST_F(EcWatchdogTest, AcpiAndIndirectBoardsReachTheSameRegisters) {
    // Board 12 over the ACPI interface, board 6 over the bridge to EC memory 0x0306..0x0308.
    InitBoard(12);
    ASSERT_EQ(VEK_WDT_SetConfig(1, 2), VEK_OK);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    EXPECT_EQ(PortOps(machine(), 0x62, 0x66).front(), W(0x66, 0x81));
    EXPECT_EQ(ec->watchdog().timeoutNs, 120 * kSec);
    EXPECT_TRUE(PortOps(machine(), 0xE300, 0xE3FF).empty());
    TearDown();

    InitBoard(6);
    ASSERT_EQ(VEK_WDT_SetConfig(0, 45), VEK_OK);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    EXPECT_EQ(ec->watchdog().timeoutNs, 45 * kSec);
    EXPECT_EQ(ec->PeekMemory(0x0308), 45);
    EXPECT_EQ(ec->PeekMemory(0x0306), 1);
    // The indirect trigger leaves the other count alone: count and control only.
    const auto ops = PortOps(machine(), 0x4E, 0x4F);
    EXPECT_EQ(ops.size(), 3u * 12u);
    EXPECT_TRUE(PortOps(machine(), 0x62, 0x66).empty()); // the bridge alone
    EXPECT_TRUE(PortOps(machine(), 0xE300, 0xE3FF).empty());
    ASSERT_EQ(VEK_WDT_Disable(), VEK_OK);
    EXPECT_FALSE(ec->watchdog().running);
}

TEST_F(EcWatchdogTest, ArgumentsAndRange) {
    InitBoard(11);
    ctx().caps[CAP_WDT] = 0;
    EXPECT_EQ(VEK_WDT_SetConfig(2, 5), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_WDT_SetConfig(0, 0), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_WDT_SetConfig(0, 5), VEK_ERR_UNSUPPORTED);
    ctx().caps[CAP_WDT] = 1;
    uint8_t lo = 0, hi = 0;
    for (uint32_t unit : {0u, 1u}) {
        ASSERT_EQ(VEK_WDT_GetRange(unit, &lo, &hi), VEK_OK);
        EXPECT_EQ(lo, 1);
        EXPECT_EQ(hi, 255);
    }
    EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
    ASSERT_EQ(VEK_WDT_SetConfig(1, 7), VEK_OK);
    uint32_t unit = 9;
    uint8_t count = 0;
    ASSERT_EQ(VEK_WDT_GetConfig(&unit, &count), VEK_OK);
    EXPECT_EQ(unit, 1u);
    EXPECT_EQ(count, 7);
    EXPECT_TRUE(PortOps(machine(), 0, 0xFFFF).empty()); // configuring sends nothing
}

// ---- kind 100: the auxiliary channel of board 151 ----

TEST_F(EcWatchdogTest, Kind100SendsSecondsOverTheAuxChannel) {
    InitBoard(151);
    ASSERT_EQ(VEK_WDT_SetConfig(1, 255), VEK_OK);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    EXPECT_EQ(PortOps(machine(), 0x25C, 0x25D), (std::vector<PortOp>{W(0x25D, 0xA2), W(0x25C, 0xC4), W(0x25C, 0x3B)}));
    EXPECT_EQ(ec->watchdog().timeoutNs, 15300 * kSec);
    EXPECT_EQ(VEK_WDT_Available(), VEK_OK);

    machine().ClearTrace();
    ASSERT_EQ(VEK_WDT_Disable(), VEK_OK);
    EXPECT_EQ(PortOps(machine(), 0x25C, 0x25D), (std::vector<PortOp>{W(0x25D, 0xA2), W(0x25C, 0), W(0x25C, 0)}));
    EXPECT_FALSE(ec->watchdog().running);
}

TEST_F(EcWatchdogTest, Kind100GivesUpAfterTenRefusedCommands) {
    InitBoard(151);
    ASSERT_EQ(VEK_WDT_SetConfig(0, 10), VEK_OK);
    ec->aux_faults().stuckIbf = true;
    const int64_t t0 = machine().now_ns();
    EXPECT_EQ(VEK_WDT_Trigger(), VEK_ERR_WRITE);
    // Ten attempts of three one-second waits each.
    EXPECT_EQ(PortOpsOn(machine(), {0x25D}).size(), 10u);
    EXPECT_NEAR(double(machine().now_ns() - t0) / kSec, 30.0, 0.5);
    EXPECT_TRUE(LockIsFree());
}

} // namespace
