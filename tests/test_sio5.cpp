// The ChipKind 5 Super I/O through the exports against its chip model:
// locating the chip, the set-up writes, GPIO, watchdog, sensors, fans and
// curves, the pause after each access, and the chip's faults.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include "backends/sio5/sio5.h"
#include "sio_test_util.h"

using namespace vek;
using namespace vek::test;

namespace {

class Sio5Test : public SioBoardTest<sim::Sio5Model> {
protected:
    // The chip's context: the primary, or the secondary beside an EC (GTB-493).
    DeviceContext& ctx() { return Lib().primary.chipKind == KIND_SIO5 ? Lib().primary : Lib().secondary; }
    sio5::Sio5Area& area() { return sio5::Area(ctx()); }
    // On GTB-493 the EC's one set caps the export's set numbers and the EC
    // serves the rails: its chip's other sets and rails are reached through
    // the backend's routines.
    bool direct() { return Lib().primary.chipKind != KIND_SIO5; }
    uint32_t WritePin(int32_t set, int32_t pin, uint8_t v) {
        return direct() ? sio5::Ops().gpioWritePin(ctx(), set, pin, v) : VEK_GPIO_WritePin(set, pin, v);
    }
    uint32_t SetPinDirection(int32_t set, int32_t pin, uint8_t d) {
        return direct() ? sio5::Ops().gpioSetPinDirection(ctx(), set, pin, d) : VEK_GPIO_SetPinDirection(set, pin, d);
    }
    uint32_t ReadPinDirection(int32_t set, int32_t pin, uint8_t* d) {
        return direct() ? sio5::Ops().gpioReadPinDirection(ctx(), set, pin, d) : VEK_GPIO_ReadPinDirection(set, pin, d);
    }
    uint32_t Voltage(uint32_t channel, double* v) {
        return direct() ? sio5::Ops().voltage(ctx(), channel, v) : VEK_HWM_Voltage(channel, v);
    }
};

void Enter(Ops& ops, uint16_t port) { Append(ops, {W(port, 0x87), W(port, 0x87)}); }
void Exit(Ops& ops, uint16_t port) { Append(ops, {W(port, 0xAA)}); }

void WatchdogSetup(Ops& ops, uint16_t port, bool resetOnMonitor) {
    Enter(ops, port);
    Set(ops, port, 0x07, 7);
    Set(ops, port, 0x30, 1);
    Set(ops, port, 0xF5, 0x11);
    if (resetOnMonitor) Set(ops, port, 0x07, 4);
    Set(ops, port, 0xFA, 0x11);
    Exit(ops, port);
}

Ops ConfigPortOps(const sim::Machine& m) { return PortOpsOn(m, {0x2E, 0x2F, 0x4E, 0x4F}); }

// ---- locating the chip and setting it up ----

TEST_F(Sio5Test, InitFindsTheChipAndSetsItUpInOrder) {
    struct Case {
        uint32_t board;
        uint16_t port;        // where the chip ends up
        uint16_t hwmIndex;
        std::function<Ops()> expected;
    };
    const Case cases[] = {
        {74, 0x2E, 0x295, [] {
             Ops o;  // no set-up: only the watchdog device is switched on; the monitor base in its own session
             Enter(o, 0x2E); Set(o, 0x2E, 0x07, 7); Set(o, 0x2E, 0x30, 1); Exit(o, 0x2E);
             Enter(o, 0x2E); Set(o, 0x2E, 0x07, 4); Get(o, 0x2E, 0x60, 0x02); Get(o, 0x2E, 0x61, 0x90); Exit(o, 0x2E);
             return o;
         }},
        {133, 0x4E, 0x295, [] {
             Ops o;  // probe answers at 0x4E
             Enter(o, 0x4E); Set(o, 0x4E, 0x07, 4); Get(o, 0x4E, 0x60, 0x02);
             Get(o, 0x4E, 0x60, 0x02); Get(o, 0x4E, 0x61, 0x90); Exit(o, 0x4E);
             WatchdogSetup(o, 0x4E, true);
             return o;
         }},
        {128, 0x2E, 0x295, [] {
             Ops o;  // nothing at 0x4E: lock 0x2E, enter there and ask again
             Enter(o, 0x4E); Set(o, 0x4E, 0x07, 4); Get(o, 0x4E, 0x60, 0xFF);
             Exit(o, 0x2E); Enter(o, 0x2E); Set(o, 0x2E, 0x07, 4);
             Get(o, 0x2E, 0x60, 0x02); Get(o, 0x2E, 0x61, 0x90); Exit(o, 0x2E);
             WatchdogSetup(o, 0x2E, false);
             return o;
         }},
        {106, 0x4E, 0x295, [] {
             Ops o;  // chip check: base register of the device the firmware left selected
             Enter(o, 0x4E); Get(o, 0x4E, 0x60, 0x02); Exit(o, 0x4E);
             WatchdogSetup(o, 0x4E, false);
             Enter(o, 0x4E); Set(o, 0x4E, 0x07, 6); Set(o, 0x4E, 0x30, 1);
             for (auto [r, v] : {std::pair{0x28, 0x20}, {0x80, 0x1F}, {0x88, 0xFE}, {0x83, 0xFF}, {0x8B, 0xFF}})
                 Set(o, 0x4E, uint8_t(r), uint8_t(v));
             Exit(o, 0x4E);
             return o;
         }},
    };
    for (const Case& c : cases) {
        UseBoard(c.board);
        ASSERT_EQ(Init(), VEK_OK) << c.board;
        EXPECT_EQ(ConfigPortOps(machine()), c.expected()) << "board " << c.board;
        EXPECT_EQ(sio5::IndexPort(), c.port) << c.board;
        EXPECT_EQ(area().hwmIndexPort, c.hwmIndex) << c.board;
        EXPECT_FALSE(chip->config_mode()) << c.board;
    }
}

TEST_F(Sio5Test, GpioSetupWritesLandInTheirBanksAndDevices) {
    InitBoard(93);
    EXPECT_EQ(sio5::IndexPort(), 0x4E);
    EXPECT_EQ(area().hwmIndexPort, 0xA35);
    const struct { uint8_t reg; int bank; uint8_t value; } globals[] = {
        {0x2C, 0, 0x1F}, {0x28, 0, 0x60}, {0x2B, 0, 0xE2}, {0x2C, 1, 0xEF}, {0x2C, 2, 0xFF}, {0x27, -1, 0xF8}};
    for (const auto& g : globals) EXPECT_EQ(chip->Global(g.reg, g.bank), g.value) << std::hex << int(g.reg);
    const struct { uint8_t reg, value; } gpio[] = {{0x30, 1},    {0xF0, 0xFF}, {0xE0, 0},    {0xA0, 0xFF},
                                                  {0x88, 0xFF}, {0xF3, 0xFF}, {0x8B, 0x0F}, {0x83, 0xFF}};
    for (const auto& g : gpio) EXPECT_EQ(chip->Device(6, g.reg), g.value) << std::hex << int(g.reg);

    // Board 148 changes only some bits of its bank-3 and bank-1 pin functions.
    UseBoard(148);
    chip->SetGlobal(0x2A, 3, 0xFF);
    chip->SetGlobal(0x2C, 3, 0xFF);
    chip->SetGlobal(0x2C, 1, 0xFF);
    chip->SetGlobal(0x2C, 0, 0x5A);
    ASSERT_EQ(Init(), VEK_OK);
    EXPECT_EQ(chip->Global(0x2A, 3), 0xF8);
    EXPECT_EQ(chip->Global(0x2C, 3), 0xBA);
    EXPECT_EQ(chip->Global(0x2C, 1), 0x7F);
    EXPECT_EQ(chip->Global(0x2C, 0), 0x5A);
    EXPECT_EQ(chip->Device(6, 0x30), 1);
}

// ---- GPIO ----

struct PinCase {
    uint32_t board;
    int32_t set, pin;
    uint8_t port, bit;
};
// Pins of every pin table, spot-checked at their ends and odd codes.
constexpr PinCase kPins[] = {
    {93, 1, 1, 4, 0}, {93, 1, 8, 4, 7}, {93, 5, 1, 0, 7}, {93, 5, 8, 0, 0}, {93, 9, 4, 8, 3},
    {106, 1, 1, 7, 1}, {106, 1, 8, 8, 0}, {143, 1, 5, 0, 0}, {143, 1, 6, 1, 6}, {145, 1, 4, 9, 7},
    {146, 1, 1, 0, 0}, {146, 1, 8, 9, 7}, {148, 1, 1, 5, 4}, {148, 1, 6, 9, 5},
};

TEST_F(Sio5Test, PinWritesChangeOnlyTheirBit) {
    for (const PinCase& c : kPins) {
        Restart(c.board);
        const uint8_t base = sim::Sio5Model::kPortBase[c.port];
        chip->SetDevice(6, base + 1, 0xA5);
        chip->SetDevice(6, base, 0x5A);
        const uint8_t mask = uint8_t(1u << c.bit);
        ASSERT_EQ(WritePin(c.set, c.pin, (0xA5 & mask) ? 0 : 1), VEK_OK) << c.board;
        EXPECT_EQ(chip->Device(6, base + 1), 0xA5 ^ mask) << c.board << " pin " << c.pin;
        ASSERT_EQ(SetPinDirection(c.set, c.pin, (0x5A & mask) ? 1 : 0), VEK_OK);
        EXPECT_EQ(chip->Device(6, base), 0x5A ^ mask) << c.board << " pin " << c.pin;
        uint8_t dir = 9;
        ASSERT_EQ(ReadPinDirection(c.set, c.pin, &dir), VEK_OK);
        EXPECT_EQ(dir, (0x5A & mask) ? 1 : 0); // was driving, now an input
        EXPECT_FALSE(chip->config_mode());
    }
}

TEST_F(Sio5Test, InputsReadTheOutsideAndOutputsTheirLatch) {
    InitBoard(93);
    // Set 1 is port 4; pins 1..4 driving 1010, pins 5..8 inputs.
    ASSERT_EQ(VEK_GPIO_SetDirection(1, 0xF0), VEK_OK);
    EXPECT_EQ(chip->Device(6, 0xB0), 0x0F);
    ASSERT_EQ(VEK_GPIO_Write(1, 0x0A), VEK_OK);
    chip->DrivePins(4, 0x60);
    uint8_t v = 0;
    ASSERT_EQ(VEK_GPIO_Read(1, &v), VEK_OK);
    EXPECT_EQ(v, 0x6A);
    ASSERT_EQ(VEK_GPIO_ReadPin(1, 6, &v), VEK_OK);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(VEK_GPIO_ReadDirection(1, &v), VEK_OK);
    EXPECT_EQ(v, 0xF0);
    // Set 9 has four pins: the group touches bits 0..3 of port 8 only.
    chip->SetDevice(6, 0x89, 0xF0);
    ASSERT_EQ(sio5::Ops().gpioWrite(ctx(), 9, 0xFF), VEK_OK);
    EXPECT_EQ(chip->Device(6, 0x89), 0xFF);
    ASSERT_EQ(sio5::Ops().gpioWrite(ctx(), 9, 0x00), VEK_OK);
    EXPECT_EQ(chip->Device(6, 0x89), 0xF0);
    EXPECT_FALSE(chip->config_mode());
}

TEST_F(Sio5Test, PinsOutsideTheTableAreRefused) {
    InitBoard(93);
    uint8_t v = 0;
    EXPECT_EQ(WritePin(9, 5, 1), VEK_ERR_ARGUMENT); // set 9 has four pins
    EXPECT_EQ(sio5::Ops().gpioReadPin(ctx(), 10, 1, &v), VEK_ERR_ARGUMENT);
    EXPECT_EQ(sio5::Ops().gpioReadPin(ctx(), 0, 1, &v), VEK_ERR_ARGUMENT);
    EXPECT_EQ(sio5::Ops().gpioRead(ctx(), 10, &v), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_GPIO_ReadPin(10, 1, &v), VEK_ERR_ARGUMENT); // this chip's nine sets are the limit here
    EXPECT_TRUE(PortOpsOn(machine(), {0x4E, 0x4F}).empty());
    // Boards without a pin table offer no GPIO at all.
    Restart(133);
    uint32_t n = 0;
    EXPECT_EQ(VEK_GPIO_TotalSet(&n), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_GPIO_Read(1, &v), VEK_ERR_UNSUPPORTED);
}

// ---- watchdog ----

TEST_F(Sio5Test, WatchdogProgramsCountThenEnablesAndFires) {
    InitBoard(133);
    EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
    uint32_t unit = 9;
    uint8_t count = 0;
    ASSERT_EQ(VEK_WDT_GetConfig(&unit, &count), VEK_OK);
    EXPECT_EQ(unit, 0u);
    EXPECT_EQ(count, 10);
    ASSERT_EQ(VEK_WDT_SetConfig(1, 3), VEK_OK);
    EXPECT_TRUE(ConfigPortOps(machine()).empty()); // storing the setting touches nothing
    chip->SetDevice(7, 0xF5, 0x11);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    Ops o;
    Enter(o, 0x4E);
    Set(o, 0x4E, 0x07, 7);
    Set(o, 0x4E, 0xF6, 3);
    Get(o, 0x4E, 0xF5, 0x11);
    Set(o, 0x4E, 0xF5, 0x39);
    Exit(o, 0x4E);
    EXPECT_EQ(ConfigPortOps(machine()), o);
    EXPECT_EQ(VEK_WDT_Available(), VEK_OK);

    machine().Advance(179'000'000'000);
    EXPECT_EQ(chip->watchdog().expiries, 0);
    machine().Advance(2'000'000'000);
    EXPECT_EQ(chip->watchdog().expiries, 1);

    // Seconds clear the unit bit; disable clears only the enable bit.
    ASSERT_EQ(VEK_WDT_SetConfig(0, 5), VEK_OK);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    EXPECT_EQ(chip->Device(7, 0xF5) & 0x28, 0x20);
    ASSERT_EQ(VEK_WDT_Disable(), VEK_OK);
    EXPECT_EQ(chip->Device(7, 0xF5) & 0x3F, 0x11);
    machine().Advance(10'000'000'000);
    EXPECT_EQ(chip->watchdog().expiries, 1);
    EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
    EXPECT_FALSE(chip->config_mode());
}

// ---- temperatures and voltages ----

TEST_F(Sio5Test, TemperaturesFollowTheirRegisters) {
    struct Case {
        uint32_t board;
        uint32_t index;
        uint32_t result;
        double value;
    };
    const Case cases[] = {
        {133, 0, VEK_OK, 45}, {133, 1, VEK_OK, 38}, {133, 2, VEK_ERR_UNSUPPORTED, 0},
        {133, 3, VEK_ERR_UNSUPPORTED, 0}, {74, 0, VEK_ERR_UNSUPPORTED, 0}, {148, 0, VEK_OK, 38},
    };
    for (const Case& c : cases) {
        Restart(c.board);
        double t = -1;
        EXPECT_EQ(VEK_HWM_Temperature(c.index, &t), c.result) << c.board << "/" << c.index;
        EXPECT_EQ(t, c.value) << c.board << "/" << c.index;
        EXPECT_FALSE(chip->config_mode());
    }
    // The CPU register only where the row names it; elsewhere the processor's sensor.
    Restart(133);
    chip->SetMonitor(0x7E, 200);
    double t = 0;
    ASSERT_EQ(VEK_HWM_CPUTemperature(0, &t), VEK_OK);
    EXPECT_EQ(t, 200); // unsigned byte
    Restart(145);
    ASSERT_EQ(VEK_HWM_CPUTemperature(0, &t), VEK_OK);
    EXPECT_EQ(t, sim::kBoardTjMax - sim::kBoardThermReadout);
}

TEST_F(Sio5Test, VoltagesScaleByTheirDividers) {
    struct Case {
        uint32_t board;
        uint32_t channel;
        uint8_t reg;
        double scale;
    };
    const Case cases[] = {
        {74, 0, 0x21, 1.0},           {74, 3, 0x23, 247.0 / 47},  {74, 4, 0x22, 11.0},
        {74, 6, 0x24, 3.0},           {93, 2, 0x23, 59.0 / 20},   {93, 5, 0x22, 215.0 / 15},
        {93, 1, 0x21, 1.0},           {106, 4, 0x24, 19.0},       {128, 1, 0x22, 1.0},
        {133, 14, 0x22, 1.0},         {133, 17, 0x27, 3.0},       {143, 2, 0x25, 2.0},
    };
    for (const Case& c : cases) {
        Restart(c.board);
        chip->SetMonitor(c.reg, 0x9C);
        double v = 0;
        ASSERT_EQ(Voltage(c.channel, &v), VEK_OK) << c.board << "/" << c.channel;
        EXPECT_NEAR(v, 0x9C * 0.008 * c.scale, 1e-9) << c.board << "/" << c.channel;
        EXPECT_FALSE(chip->config_mode());
    }
}

TEST_F(Sio5Test, Channel3WithoutDividerUsesTheChipScaling) {
    InitBoard(131);
    area().divider[3] = {0, 0};
    chip->SetMonitor(0x22, 100);
    double v = 0;
    ASSERT_EQ(VEK_HWM_Voltage(3, &v), VEK_OK);
    EXPECT_NEAR(v, 100 * 0.008 * 4.28, 1e-9);
}

TEST_F(Sio5Test, VoltageChannelResults) {
    InitBoard(133);
    double v = 0;
    const struct { uint32_t channel, result; } cases[] = {
        {1, VEK_ERR_UNSUPPORTED}, {7, VEK_ERR_UNSUPPORTED}, {13, VEK_ERR_UNSUPPORTED},
        {18, VEK_ERR_ARGUMENT},   {19, VEK_ERR_ARGUMENT},   {15, VEK_OK}};
    for (const auto& c : cases) {
        EXPECT_EQ(VEK_HWM_Voltage(c.channel, &v), c.result) << c.channel;
        EXPECT_FALSE(chip->config_mode()) << c.channel;
    }
}

TEST_F(Sio5Test, BatteryIsSwitchedInReadAfterSettlingAndSwitchedOff) {
    InitBoard(133);
    double v = 0;
    const int64_t t = ElapsedNs([&] { ASSERT_EQ(VEK_HWM_Voltage(6, &v), VEK_OK); });
    EXPECT_NEAR(v, 0xBE * 0.008 * 2, 1e-9);
    EXPECT_GE(t, 200'000'000);
    EXPECT_EQ(PortOpsOn(machine(), {0x295, 0x296}),
              (Ops{W(0x295, 0x04), W(0x296, 0x00), W(0x295, 0x26), R(0x296, 0xBE), W(0x295, 0x04), W(0x296, 0x80)}));
    EXPECT_EQ(chip->Monitor(0x04), 0x80);

    // Without a switch no monitor register is written and nothing waits.
    Restart(145);
    const int64_t t2 = ElapsedNs([&] { ASSERT_EQ(VEK_HWM_Voltage(6, &v), VEK_OK); });
    EXPECT_LT(t2, 100'000'000);
    for (const PortOp& op : PortOpsOn(machine(), {0x295, 0x296})) EXPECT_FALSE(op.write && op.port == 0x296);
}

TEST_F(Sio5Test, Subtype3Channel0HasItsOwnReading) {
    struct Case {
        uint8_t raw;
        double volts;
    };
    for (const Case c : {Case{0xA3, 0xA3 * 0.00488 + 0.69}, Case{0xA2, 0xA2 * 0.008}}) {
        Restart(148);
        chip->SetMonitor(0x18, c.raw);
        chip->SetGlobal(0x27, 0, 0x2E); // bank 3 and bits of its own
        double v = 0;
        ASSERT_EQ(VEK_HWM_Voltage(0, &v), VEK_OK);
        EXPECT_NEAR(v, c.volts, 1e-9);
        EXPECT_EQ(chip->Global(0x27), 0x22); // bank 0, the other bits kept
    }
}

// ---- fans ----

TEST_F(Sio5Test, FanSpeedFromCount) {
    struct Case {
        uint32_t board, fan;
        std::optional<uint16_t> count;
        uint32_t result, rpm;
    };
    const Case cases[] = {
        {133, 0, 3000, VEK_OK, 500},       {133, 1, 0x01F4, VEK_OK, 3000},
        {133, 0, 0x12FF, VEK_OK, 0},       {133, 0, 0xFFFF, VEK_OK, 0},
        {133, 0, 0, VEK_OK, 0},            {143, 1, 3000, VEK_ERR_UNSUPPORTED, 7},
        {128, 0, 3000, VEK_ERR_UNSUPPORTED, 7}, {133, 2, 3000, VEK_ERR_UNSUPPORTED, 7},
        {133, 12, 3000, VEK_ERR_UNSUPPORTED, 7}, {133, 13, 3000, VEK_ERR_ARGUMENT, 7},
    };
    for (const Case& c : cases) {
        Restart(c.board);
        chip->SetFanStuck(c.fan < 2 ? int(c.fan) : 0, c.count);
        uint32_t rpm = 7;
        EXPECT_EQ(VEK_HWM_GetFanSpeed(c.fan, &rpm), c.result) << c.board << "/" << c.fan;
        EXPECT_EQ(rpm, c.rpm) << c.board << "/" << c.fan;
        EXPECT_FALSE(chip->config_mode());
    }
}

TEST_F(Sio5Test, FanDutyRoundsToNearestAndSelectsManualMode) {
    const struct { int32_t percent; uint8_t duty; } cases[] = {
        {0, 0}, {1, 3}, {33, 84}, {50, 128}, {99, 252}, {100, 255}};
    for (const auto& c : cases) {
        Restart(133);
        chip->SetMonitor(0x96, 0x11); // both fans on their curves
        ASSERT_EQ(VEK_HWM_SetFanSpeed(1, c.percent), VEK_OK) << c.percent;
        EXPECT_EQ(chip->Monitor(0xC3), c.duty) << c.percent;
        EXPECT_EQ(chip->Monitor(0x96), 0x31) << "fan 1 manual, fan 0 untouched";
        EXPECT_EQ(chip->Monitor(0x9F) & 0x80, 0);
        EXPECT_FALSE(chip->config_mode());
    }
    // Fans without a duty register: nothing written to the monitor at all.
    Restart(74);
    EXPECT_EQ(VEK_HWM_SetFanSpeed(0, 50), VEK_ERR_UNSUPPORTED);
    EXPECT_TRUE(PortOpsOn(machine(), {0x295, 0x296}).empty());
    EXPECT_EQ(VEK_HWM_SetFanSpeed(0, 101), VEK_ERR_ARGUMENT);
}

TEST_F(Sio5Test, SmartFanCurvesInBothEncodings) {
    InitBoard(133);
    uint8_t temps[4] = {0x28, 50, 60, 70}; // one byte a point
    int32_t duties0[4] = {20, 40, 60, 100};
    ASSERT_EQ(VEK_HWM_SetSmartfan(0, 7, temps, duties0, 0), VEK_OK);
    const struct { uint8_t reg, value; } fan0[] = {{0xA9, 0x28}, {0xA8, 50}, {0xA7, 60}, {0xA6, 70},
                                                  {0xAE, 51},   {0xAD, 102}, {0xAC, 153}, {0xAB, 255}};
    for (const auto& r : fan0) EXPECT_EQ(chip->Monitor(r.reg), r.value) << std::hex << int(r.reg);
    EXPECT_EQ(chip->Monitor(0x96) & 0x03, 0x01); // smart

    int32_t duties1[4] = {25, 50, 75, 0};
    const uint8_t temps1[4] = {30, 40, 50, 60};
    std::copy(std::begin(temps1), std::end(temps1), temps);
    ASSERT_EQ(VEK_HWM_SetSmartfan(1, 7, temps, duties1, 0), VEK_OK);
    const struct { uint8_t reg, value; } fan1[] = {{0xCE, 96}, {0xCD, 32}, {0xCC, 10}, {0xCB, 255}};
    for (const auto& r : fan1) EXPECT_EQ(chip->Monitor(r.reg), r.value) << std::hex << int(r.reg);

    uint32_t mode = 0, t[4] = {}, d[4] = {}, unused = 0;
    ASSERT_EQ(VEK_HWM_GetSmartfan(0, &mode, t, d, &unused), VEK_OK);
    EXPECT_EQ(mode, 7u);
    EXPECT_EQ((std::vector<uint32_t>(t, t + 4)), (std::vector<uint32_t>{40, 50, 60, 70}));
    EXPECT_EQ((std::vector<uint32_t>(d, d + 4)), (std::vector<uint32_t>{20, 40, 60, 100}));
    ASSERT_EQ(VEK_HWM_GetSmartfan(1, &mode, t, d, &unused), VEK_OK);
    EXPECT_EQ((std::vector<uint32_t>(d, d + 4)), (std::vector<uint32_t>{25, 50, 76, 11}));

    // The chip now runs fan 0 along the curve: at 65 °C the 60 % point.
    chip->SetMonitor(0x72, 65);
    uint32_t rpm = 0;
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    EXPECT_EQ(rpm, 3000u);
    EXPECT_FALSE(chip->config_mode());
}

TEST_F(Sio5Test, SmartFanModeResults) {
    InitBoard(133);
    uint32_t mode = 9, t[4], d[4], unused;
    EXPECT_EQ(VEK_HWM_GetSmartfan(0, &mode, t, d, &unused), VEK_ERR_STATE); // manual at power-on
    EXPECT_EQ(mode, 0u);
    ASSERT_EQ(VEK_HWM_Smartfan_Enable(0), VEK_OK);
    EXPECT_EQ(chip->Monitor(0x96), 0x31);
    ASSERT_EQ(VEK_HWM_Smartfan_Disable(0), VEK_OK);
    EXPECT_EQ(chip->Monitor(0x96), 0x33);
    chip->SetMonitor(0x96, 0x32); // fan 0 in a hardware mode of its own
    ASSERT_EQ(VEK_HWM_GetSmartfan(0, &mode, t, d, &unused), VEK_ERR_STATE);
    EXPECT_EQ(mode, 3u);
    uint8_t temps[4] = {};
    int32_t duties[4] = {10, 20, 30, 40};
    EXPECT_EQ(VEK_HWM_SetSmartfan(0, 0, temps, duties, 0), VEK_ERR_UNSUPPORTED);
    duties[2] = 101;
    EXPECT_EQ(VEK_HWM_SetSmartfan(0, 7, temps, duties, 0), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_HWM_Smartfan_Enable(13), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_HWM_Smartfan_Enable(2), VEK_ERR_UNSUPPORTED);
    EXPECT_FALSE(chip->config_mode());
    // Boards whose fans have no curve registers.
    Restart(74);
    EXPECT_EQ(VEK_HWM_Smartfan_Enable(0), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_Smartfan_Enable(1), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_GetSmartfan(1, &mode, t, d, &unused), VEK_ERR_UNSUPPORTED);
    EXPECT_TRUE(PortOpsOn(machine(), {0x295, 0x296}).empty());
}

// ---- pacing ----

TEST_F(Sio5Test, EveryAccessIsFollowedByThePause) {
    for (int32_t delay : {500, 37}) {
        Restart(133);
        if (delay != 500) {
            ASSERT_EQ(VEK_API_SetIOSleepTime(delay), VEK_OK);
        }
        EXPECT_EQ(Lib().primary.ioDelay, delay);
        double t = 0;
        const int64_t elapsed = ElapsedNs([&] { ASSERT_EQ(VEK_HWM_Temperature(0, &t), VEK_OK); });
        const size_t accesses = machine().trace().size();
        EXPECT_EQ(accesses, 7u); // key 2, device select 2, monitor pair 2, exit 1
        EXPECT_EQ(elapsed, int64_t(accesses) * (sim::kDefaultRequestCostNs + delay * 1000LL)) << delay;
    }
}

// ---- faults ----

TEST_F(Sio5Test, ChipLeftOpenByAnotherProcessIsLockedAfterEveryCall) {
    InitBoard(143);
    const std::function<uint32_t()> calls[] = {
        [] { return VEK_GPIO_WritePin(1, 1, 1); },
        [] { uint8_t v; return VEK_GPIO_Read(1, &v); },
        [] { return VEK_WDT_Trigger(); },
        [] { return VEK_WDT_Disable(); },
        [] { double v; return VEK_HWM_Voltage(3, &v); },
        [] { double v; return VEK_HWM_Voltage(9, &v); },
        [] { double v; return VEK_HWM_Temperature(5, &v); },
        [] { uint32_t r; return VEK_HWM_GetFanSpeed(0, &r); },
        [] { return VEK_HWM_SetFanSpeed(0, 40); },
        [] { return VEK_HWM_Smartfan_Enable(0); },
        [] { uint32_t m, t[4], d[4], u; return VEK_HWM_GetSmartfan(0, &m, t, d, &u); },
    };
    for (const auto& call : calls) {
        chip->LeaveUnlocked();
        machine().ClearTrace();
        const uint32_t r = call();
        EXPECT_TRUE(r == VEK_OK || r == VEK_ERR_UNSUPPORTED || r == VEK_ERR_STATE) << r;
        if (r == VEK_OK || r == VEK_ERR_STATE) {
            EXPECT_FALSE(machine().trace().empty());
        }
        EXPECT_FALSE(chip->config_mode());
    }
    uint8_t v = 0;
    chip->DrivePins(0, 0x00);
    ASSERT_EQ(VEK_GPIO_SetPinDirection(1, 5, 1), VEK_OK); // code 0: port 0 bit 0
    ASSERT_EQ(VEK_GPIO_ReadPin(1, 5, &v), VEK_OK);
    EXPECT_EQ(v, 0);
}

TEST_F(Sio5Test, ChipThatNeverAnswersLeavesTheMonitorUnfound) {
    // Wherever the chip sits, silence at 0x4E sends the probe to 0x2E.
    for (uint32_t id : {131u, 133u}) {
        UseBoard(id);
        chip->SetDeaf(true);
        ASSERT_EQ(Init(), VEK_OK) << id;
        EXPECT_EQ(sio5::IndexPort(), 0x2E) << id;
        EXPECT_EQ(area().hwmIndexPort, 0) << id;
        EXPECT_TRUE(PortOps(machine(), 0, 0x2D).empty()) << id; // no wrap-round to low ports
        machine().ClearTrace();
        double v = 0;
        uint32_t rpm = 0;
        EXPECT_EQ(VEK_HWM_Voltage(0, &v), VEK_ERR_UNSUPPORTED);
        EXPECT_EQ(VEK_HWM_Temperature(0, &v), VEK_ERR_UNSUPPORTED);
        EXPECT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_ERR_UNSUPPORTED);
        EXPECT_TRUE(machine().trace().empty()) << id;
    }
}

} // namespace
