// The ChipKind 2 Super I/O through the exports against its chip model: the
// key and lock, pin routing at initialisation, GPIO, watchdog, rails, sensors,
// fans, the pause after each access and the chip's faults.
#include <algorithm>
#include <cmath>
#include <vector>

#include "backends/sio2/sio2.h"
#include "sio_test_util.h"

using namespace vek;
using namespace vek::test;

namespace {

class Sio2Test : public SioBoardTest<sim::Sio2Model> {
protected:
    DeviceContext& ctx() { return Lib().primary.chipKind == KIND_SIO2 ? Lib().primary : Lib().secondary; }
};

constexpr uint16_t kIdx = 0x2E;
void Key(Ops& o) { Append(o, {W(kIdx, 0x87), W(kIdx, 0x01), W(kIdx, 0x55), W(kIdx, 0x55)}); }
void Lock(Ops& o, uint8_t control = 0) {
    Get(o, kIdx, 0x02, control);
    Set(o, kIdx, 0x02, uint8_t(control | 0x02));
}
Ops ConfigOps(const sim::Machine& m) { return PortOpsOn(m, {0x2E, 0x2F}); }

// ---- the chip's own key ----

TEST_F(Sio2Test, OnlyTheWholeKeyOpensTheChip) {
    UseBoard(1);
    const struct {
        std::vector<uint8_t> bytes;
        bool open;
    } cases[] = {
        {{0x87, 0x01, 0x55, 0x55}, true},
        {{0x87, 0x01, 0x55}, false},
        {{0x87, 0x87, 0x55, 0x55}, false},
        {{0x87, 0x01, 0x55, 0xAA}, false},
        {{0x55, 0x87, 0x01, 0x55, 0x55}, true}, // a stray byte before a whole key
    };
    for (const auto& c : cases) {
        machine().PortWrite(0x2E, 1, 0x02); // return to wait-for-key if open
        machine().PortWrite(0x2F, 1, 0x02);
        for (uint8_t b : c.bytes) machine().PortWrite(0x2E, 1, b);
        EXPECT_EQ(chip->config_mode(), c.open);
        machine().PortWrite(0x2E, 1, 0x20);
        EXPECT_EQ(machine().PortRead(0x2F, 1), c.open ? 0x87u : 0xFFu); // chip id only when open
    }
}

// ---- initialisation ----

// Each base is read high register first, then low: the order is fixed, not
// left to the compiler.
TEST_F(Sio2Test, BaseHalvesAreReadHighThenLow) {
    UseBoard(1);
    ASSERT_EQ(Init(), VEK_OK);
    const std::vector<uint8_t> regs = RegistersRead(ConfigOps(machine()), kIdx);
    for (const auto& [high, low] : {std::pair<uint8_t, uint8_t>{0x62, 0x63}, {0x60, 0x61}}) {
        const auto h = std::find(regs.begin(), regs.end(), high);
        ASSERT_NE(h, regs.end()) << int(high);
        ASSERT_NE(h + 1, regs.end());
        EXPECT_EQ(h[1], low) << int(high);
    }
}

TEST_F(Sio2Test, InitRoutesEachPinAndLocksTheChip) {
    UseBoard(1); // eight pins of chip set 7
    ASSERT_EQ(Init(), VEK_OK);
    Ops o;
    Key(o);
    for (int pin = 0; pin < 8; ++pin) {
        Set(o, kIdx, 0x07, 3);
        Set(o, kIdx, 0x30, 0x00);
        Set(o, kIdx, 0x07, 7);
        Get(o, kIdx, 0xE9, pin == 0 ? 0x00 : 0x20);
        Set(o, kIdx, 0xE9, 0x20);
    }
    Set(o, kIdx, 0x07, 7);
    Get(o, kIdx, 0x62, 0x0A);
    Get(o, kIdx, 0x63, 0x00);
    Set(o, kIdx, 0x07, 4);
    Get(o, kIdx, 0x60, 0x02);
    Get(o, kIdx, 0x61, 0x90);
    Set(o, kIdx, 0x07, 7);
    Get(o, kIdx, 0x2C, 0x01);
    Set(o, kIdx, 0x2C, 0x00);
    Lock(o);
    EXPECT_EQ(ConfigOps(machine()), o);
    EXPECT_EQ(PortOpsOn(machine(), {0x295, 0x296}), (Ops{W(0x295, 0x50), W(0x296, 0xFF)}));
    EXPECT_FALSE(chip->config_mode());
    EXPECT_EQ(Lib().primary.gpioSets[0], 1u);
    EXPECT_EQ(Lib().primary.gpioSets[1], 8u);
    EXPECT_EQ(Lib().primary.caps[CAP_SMBUS], 0u);
}

TEST_F(Sio2Test, InitPerSubtypeAndBoardExtras) {
    struct Case {
        uint32_t board;
        bool battery;       // 0x5C bit 7 set
        uint8_t mf0;        // 0x2C bit 0 afterwards
        uint8_t parallelF0; // logical device 3, 0xF0
        uint32_t sets, set1, set2;
    };
    const Case cases[] = {
        {1, false, 0, 0, 1, 8, 0},  {3, false, 0, 0, 2, 8, 8},  {37, true, 0, 0, 1, 8, 0},
        {53, false, 1, 0, 1, 8, 0}, {26, false, 0, 0x08, 2, 8, 8}, {60, false, 1, 0, 0, 0, 0},
        {89, true, 0, 0, 1, 6, 0},
    };
    for (const Case& c : cases) {
        Restart(c.board);
        EXPECT_EQ((chip->Env(0x5C) & 0x80) != 0, c.battery) << c.board;
        EXPECT_EQ(chip->Env(0x50), 0xFF) << c.board;
        EXPECT_EQ(chip->Global(0x2C) & 1, c.mf0) << c.board;
        EXPECT_EQ(chip->Device(3, 0xF0), c.parallelF0) << c.board;
        EXPECT_EQ(ctx().gpioSets[0], c.sets) << c.board;
        EXPECT_EQ(ctx().gpioSets[1], c.set1) << c.board;
        EXPECT_EQ(ctx().gpioSets[2], c.set2) << c.board;
        EXPECT_FALSE(chip->config_mode()) << c.board;
    }
}

// ---- GPIO ----

TEST_F(Sio2Test, PinWritesKeepNeighbours) {
    InitBoard(3); // set 2 is chip set 8, pins 84..87, 80..83
    ASSERT_EQ(VEK_GPIO_SetDirection(2, 0x00), VEK_OK); // all driving
    EXPECT_EQ(chip->Device(7, 0xCF), 0xFF);
    machine().PortWrite(0xA07, 1, 0xA5);
    const struct { int32_t pin; uint8_t value, latch; } steps[] = {
        {1, 1, 0xB5}, {5, 0, 0xB4}, {4, 0, 0x34}, {8, 1, 0x3C}, {8, 1, 0x3C}};
    for (const auto& s : steps) {
        ASSERT_EQ(VEK_GPIO_WritePin(2, s.pin, s.value), VEK_OK);
        EXPECT_EQ(chip->Latch(8), s.latch) << "pin " << s.pin;
    }
    // Pins 1..4 to inputs: their direction bits clear, nothing else moves.
    chip->SetDevice(7, 0xCE, 0x5A);
    ASSERT_EQ(VEK_GPIO_SetDirection(1, 0x0F), VEK_OK); // set 1: 74 75 76 77 70 71 72 73
    EXPECT_EQ(chip->Device(7, 0xCE), 0x0F);
    chip->DrivePins(7, 0x10);
    uint8_t v = 0;
    ASSERT_EQ(VEK_GPIO_Read(1, &v), VEK_OK);
    EXPECT_EQ(v, 0x01); // pin 1 driven high outside; pins 5..8 drive their latch, 0
    ASSERT_EQ(VEK_GPIO_ReadDirection(1, &v), VEK_OK);
    EXPECT_EQ(v, 0x0F);
    EXPECT_FALSE(chip->config_mode());
}

TEST_F(Sio2Test, GroupsSkipEntriesWithoutPins) {
    InitBoard(89); // second chip of a split board: its six pins are the board's set 2
    ASSERT_EQ(VEK_GPIO_SetDirection(2, 0x00), VEK_OK);
    EXPECT_EQ(chip->Device(7, 0xCE), 0xFC);
    chip->DrivePins(7, 0x00);
    ASSERT_EQ(VEK_GPIO_Write(2, 0xFF), VEK_OK);
    EXPECT_EQ(chip->Latch(7), 0xFC);
    EXPECT_EQ(chip->Device(7, 0xCE), 0xFC); // the two unused bits stay inputs
    uint8_t v = 0;
    ASSERT_EQ(VEK_GPIO_Read(2, &v), VEK_OK);
    EXPECT_EQ(v, 0x3F);
    EXPECT_EQ(VEK_GPIO_WritePin(2, 7, 1), VEK_ERR_ARGUMENT); // entry 7 has no pin
    uint32_t n = 0;
    ASSERT_EQ(VEK_GPIO_TotalNumber(2, &n), VEK_OK);
    EXPECT_EQ(n, 6u);
}

// ---- watchdog ----

TEST_F(Sio2Test, WatchdogControlThenCountAndFires) {
    InitBoard(1);
    ASSERT_EQ(VEK_WDT_SetConfig(0, 30), VEK_OK);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    Ops o;
    Key(o);
    Set(o, kIdx, 0x07, 7);
    Set(o, kIdx, 0x72, 0xC0);
    Set(o, kIdx, 0x73, 30);
    Lock(o);
    EXPECT_EQ(ConfigOps(machine()), o);
    machine().Advance(29'000'000'000);
    EXPECT_EQ(chip->watchdog().expiries, 0);
    machine().Advance(2'000'000'000);
    EXPECT_EQ(chip->watchdog().expiries, 1);

    ASSERT_EQ(VEK_WDT_SetConfig(1, 2), VEK_OK);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    EXPECT_EQ(chip->Device(7, 0x72), 0x40);
    machine().Advance(119'000'000'000);
    EXPECT_EQ(chip->watchdog().expiries, 1);
    ASSERT_EQ(VEK_WDT_Disable(), VEK_OK);
    EXPECT_EQ(chip->Device(7, 0x73), 0);
    machine().Advance(10'000'000'000);
    EXPECT_EQ(chip->watchdog().expiries, 1);
    EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
    uint8_t lo = 0, hi = 0;
    ASSERT_EQ(VEK_WDT_GetRange(1, &lo, &hi), VEK_OK);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 255);
}

// ---- rails and sensors ----

TEST_F(Sio2Test, VoltagesPerChannelRule) {
    struct Case {
        uint32_t board, channel;
        uint8_t reg;
        double volts; // for raw 0x80
    };
    const Case cases[] = {
        {1, 0, 0x20, 128 * 0.012},                       {1, 1, 0x21, 128 * 0.012},
        {1, 2, 0x24, 128 / 255.0 * 3.072 * 1.75},         {1, 3, 0x23, 128 * 2.0 * 0.012},
        {1, 4, 0x22, 128 * 5.99 * 0.012},                 {36, 2, 0x22, 128 / 255.0 * 4.096},
        {36, 4, 0x24, 128 * 4.06 * 0.016},                {53, 2, 0x22, 128 / 255.0 * 4.096 * 2.0},
        {37, 6, 0x28, 128 * 2 * 0.012},                   {56, 3, 0x24, 128 * 1.68 * 0.016},
        {60, 3, 0x25, 128 * 4.0 * 0.016},
    };
    for (const Case& c : cases) {
        Restart(c.board);
        chip->SetEnv(c.reg, 0x80);
        double v = 0;
        ASSERT_EQ(VEK_HWM_Voltage(c.channel, &v), VEK_OK) << c.board << "/" << c.channel;
        EXPECT_NEAR(v, c.volts, 1e-9) << c.board << "/" << c.channel;
    }
    Restart(56);
    double v = 0;
    const struct { uint32_t channel, result; } results[] = {
        {1, VEK_ERR_UNSUPPORTED}, {5, VEK_ERR_UNSUPPORTED}, {7, VEK_ERR_UNSUPPORTED},
        {17, VEK_ERR_UNSUPPORTED}, {18, VEK_ERR_ARGUMENT}, {19, VEK_ERR_ARGUMENT}};
    for (const auto& r : results) EXPECT_EQ(VEK_HWM_Voltage(r.channel, &v), r.result) << r.channel;
}

TEST_F(Sio2Test, TemperaturesAndTheCpuSource) {
    InitBoard(45); // CPU at 0x29, board sensor at 0x2A
    double t = 0;
    ASSERT_EQ(VEK_HWM_CPUTemperature(0, &t), VEK_OK);
    EXPECT_EQ(t, 36);
    chip->SetEnv(0x2A, 250);
    ASSERT_EQ(VEK_HWM_Temperature(0, &t), VEK_OK);
    EXPECT_EQ(t, 250);
    EXPECT_EQ(VEK_HWM_Temperature(1, &t), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_Temperature(5, &t), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_Temperature(6, &t), VEK_ERR_ARGUMENT);
    // A board whose CPU sensor is not on the chip reads the processor's.
    Restart(42);
    ASSERT_EQ(VEK_HWM_CPUTemperature(0, &t), VEK_OK);
    EXPECT_EQ(t, sim::kBoardTjMax - sim::kBoardThermReadout);
    EXPECT_TRUE(PortOpsOn(machine(), {0x295, 0x296}).empty());
    Restart(89);
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(VEK_HWM_Temperature(i, &t), VEK_OK) << i;
        EXPECT_EQ(t, chip->Env(uint8_t(0x29 + i)));
    }
}

// ---- fans ----

TEST_F(Sio2Test, FanSpeedFromCount) {
    struct Case {
        uint32_t board, fan;
        std::optional<uint16_t> count;
        uint32_t result, rpm;
    };
    const Case cases[] = {
        {1, 0, 0x0300, VEK_OK, 1'360'000 / (0x300 * 2)}, {1, 1, 680, VEK_OK, 1000},
        {1, 0, 0xFF10, VEK_OK, 0},                      {1, 0, 0, VEK_OK, 0xFFFFFFFF},
        {60, 1, 680, VEK_ERR_UNSUPPORTED, 7},            {1, 2, 680, VEK_ERR_UNSUPPORTED, 7},
        {1, 8, 680, VEK_ERR_UNSUPPORTED, 7},             {1, 9, 680, VEK_ERR_ARGUMENT, 7},
    };
    for (const Case& c : cases) {
        Restart(c.board);
        chip->SetFanStuck(c.fan < 2 ? int(c.fan) : 0, c.count);
        uint32_t rpm = 7;
        EXPECT_EQ(VEK_HWM_GetFanSpeed(c.fan, &rpm), c.result) << c.board << "/" << c.fan;
        EXPECT_EQ(rpm, c.rpm) << c.board << "/" << c.fan;
    }
}

TEST_F(Sio2Test, FanDutyTruncatesAndTakesTheFanOffAuto) {
    const struct { int32_t percent; uint8_t duty; } cases[] = {{0, 0}, {1, 2}, {50, 127}, {99, 252}, {100, 255}};
    for (const auto& c : cases) {
        Restart(1);
        ASSERT_EQ(VEK_HWM_SetFanSpeed(1, c.percent), VEK_OK);
        EXPECT_EQ(chip->Env(0x6B), c.duty) << c.percent;
        EXPECT_EQ(chip->Env(0x13), 0x72);
        EXPECT_EQ(chip->Env(0x6C) & 0x80, 0);
        EXPECT_EQ(chip->Env(0x16), 0);
    }
    uint32_t rpm = 0;
    ASSERT_EQ(VEK_HWM_GetFanSpeed(1, &rpm), VEK_OK);
    EXPECT_NEAR(double(rpm), 4000.0, 40); // the chip follows the new duty
    EXPECT_EQ(VEK_HWM_SetFanSpeed(0, 50), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_SetFanSpeed(2, 50), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_HWM_SetFanSpeed(3, 50), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_SetFanSpeed(9, 50), VEK_ERR_ARGUMENT);
    Restart(60);
    EXPECT_EQ(VEK_HWM_SetFanSpeed(1, 50), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(chip->Env(0x6B), 0x40);
    // No curves on this chip.
    EXPECT_EQ(VEK_HWM_Smartfan_Enable(0), VEK_ERR_UNSUPPORTED);
}

// ---- pacing and faults ----

TEST_F(Sio2Test, EveryAccessIsFollowedByThePause) {
    for (int32_t delay : {5, 40}) {
        Restart(1);
        if (delay != 5) {
            ASSERT_EQ(VEK_API_SetIOSleepTime(delay), VEK_OK);
        }
        uint8_t d = 0;
        const int64_t elapsed = ElapsedNs([&] { ASSERT_EQ(VEK_GPIO_ReadPinDirection(1, 3, &d), VEK_OK); });
        const size_t accesses = machine().trace().size();
        EXPECT_EQ(accesses, 12u); // key 4, select 2, direction 2, lock 4
        EXPECT_EQ(elapsed, int64_t(accesses) * (sim::kDefaultRequestCostNs + delay * 1000LL)) << delay;
    }
}

TEST_F(Sio2Test, ChipLeftOpenIsLockedAfterEveryCall) {
    InitBoard(3);
    // Unconfigured, the trigger only reads the stopped watchdog, and locks again.
    chip->LeaveUnlocked();
    EXPECT_EQ(VEK_WDT_Trigger(), VEK_ERR_STATE);
    EXPECT_FALSE(chip->config_mode());
    ASSERT_EQ(VEK_WDT_SetConfig(0, 5), VEK_OK);
    const std::function<uint32_t()> calls[] = {
        [] { return VEK_GPIO_WritePin(1, 1, 1); },
        [] { uint8_t v; return VEK_GPIO_ReadDirection(2, &v); },
        [] { return VEK_GPIO_SetDirection(1, 0xF0); },
        [] { return VEK_WDT_Trigger(); },
        [] { return VEK_WDT_Disable(); },
    };
    for (const auto& call : calls) {
        chip->LeaveUnlocked();
        EXPECT_EQ(call(), VEK_OK);
        EXPECT_FALSE(chip->config_mode());
    }
}

TEST_F(Sio2Test, ChipThatNeverAnswersIsNotWrappedToLowPorts) {
    UseBoard(1);
    chip->SetDeaf(true);
    ASSERT_EQ(Init(), VEK_OK);
    EXPECT_TRUE(PortOps(machine(), 0, 0x2D).empty());
    machine().ClearTrace();
    uint8_t v = 0;
    double t = 0;
    uint32_t rpm = 0;
    EXPECT_EQ(VEK_GPIO_ReadPin(1, 1, &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_GPIO_Read(1, &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_Temperature(0, &t), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_ERR_UNSUPPORTED);
    EXPECT_TRUE(machine().trace().empty());
}

} // namespace
