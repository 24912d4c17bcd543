// ChipKind 1 operations through the exports against the simulated chip: GPIO
// read-modify-write, the watchdog's order and countdown, conversions of the
// monitor, fan control and curves, the backlight step, result codes, and the
// chip left locked on bank 0 after every call.
#include <algorithm>
#include <cmath>
#include <functional>

#include "backends/sio1/config.h"
#include "sio1_test_util.h"

using namespace vek;
using namespace vek::test;

namespace {

constexpr int64_t kSec = 1'000'000'000;

class Sio1OpsTest : public Sio1Test {};

// ---- GPIO ----

struct PinCase {
    uint32_t boardId;
    int32_t set, pin;
    uint8_t ldn, ioReg, dataReg, mask;
};
const PinCase kPins[] = {
    {72, 1, 2, 0x07, 0xE8, 0xE9, 0x02},  // subtype 0, uniform group 2
    {72, 2, 1, 0x07, 0xEC, 0xED, 0x01},  // set 2 is group 3
    {43, 1, 1, 0x07, 0xE8, 0xE9, 0x10},  // pins 1..4 are bits 4..7
    {43, 1, 5, 0x07, 0xE8, 0xE9, 0x01},
    {4, 1, 3, 0x09, 0xF0, 0xF1, 0x04},   // subtype 1, group 3
    {25, 1, 8, 0x09, 0xE0, 0xE1, 0x80},  // subtype 2, group 1
    {29, 1, 4, 0x07, 0xF0, 0xF1, 0x08},  // subtype 3, group 1
    {33, 2, 6, 0x09, 0xF0, 0xF1, 0x20},  // subtype 4, group 3
    {151, 2, 4, 0x07, 0xE4, 0xE5, 0x08}, // subtype 8, group 1
};

TEST_F(Sio1OpsTest, PinOperationsTouchOnlyTheirBit) {
    for (const PinCase& c : kPins) {
        const std::string what = std::to_string(c.boardId) + " set " + std::to_string(c.set) + " pin " +
                                 std::to_string(c.pin);
        InitBoard(c.boardId);
        // All outputs: the data latch reads back, and only the pin's bit moves.
        chip->SetDeviceReg(c.ldn, c.ioReg, 0x00);
        chip->SetDeviceReg(c.ldn, c.dataReg, 0x5A);
        for (uint8_t level : {1, 0}) {
            ASSERT_EQ(VEK_GPIO_WritePin(c.set, c.pin, level), VEK_OK) << what;
            EXPECT_EQ(chip->DeviceReg(c.ldn, c.dataReg), level ? (0x5A | c.mask) : (0x5A & ~c.mask)) << what;
            EXPECT_EQ(chip->DrivenLevels(c.ldn, c.dataReg), chip->DeviceReg(c.ldn, c.dataReg)) << what;
        }
        chip->SetDeviceReg(c.ldn, c.ioReg, 0x5A);
        for (uint8_t level : {1, 0}) {
            ASSERT_EQ(VEK_GPIO_SetPinDirection(c.set, c.pin, level), VEK_OK) << what;
            EXPECT_EQ(chip->DeviceReg(c.ldn, c.ioReg), level ? (0x5A | c.mask) : (0x5A & ~c.mask)) << what;
        }
        chip->SetDeviceReg(c.ldn, c.ioReg, 0x00);
        // One pin write is one session: key, device, read, write, exit.
        machine().ClearTrace();
        ASSERT_EQ(VEK_GPIO_WritePin(c.set, c.pin, 1), VEK_OK);
        CfgSeq s(chip->config_port());
        s.Enter().Select(c.ldn).Modify(c.dataReg, uint8_t(0x5A & ~c.mask), uint8_t(0x5A | c.mask)).Exit();
        EXPECT_EQ(ConfigOps(), s.ops()) << what;

        // An input pin reads what the board drives; an output its latch.
        uint8_t v = 9;
        ASSERT_EQ(VEK_GPIO_SetPinDirection(c.set, c.pin, 1), VEK_OK);
        chip->DriveInputs(c.ldn, c.dataReg, c.mask);
        chip->SetDeviceReg(c.ldn, c.dataReg, 0x00);
        ASSERT_EQ(VEK_GPIO_ReadPin(c.set, c.pin, &v), VEK_OK);
        EXPECT_EQ(v, 1) << what;
        ASSERT_EQ(VEK_GPIO_ReadPinDirection(c.set, c.pin, &v), VEK_OK);
        EXPECT_EQ(v, 1) << what;
        chip->DriveInputs(c.ldn, c.dataReg, 0);
        ASSERT_EQ(VEK_GPIO_ReadPin(c.set, c.pin, &v), VEK_OK);
        EXPECT_EQ(v, 0) << what;
        ExpectChipIdle(what);
    }
}

TEST_F(Sio1OpsTest, SetOperationsGoPinByPin) {
    InitBoard(43); // pins 1..8 = bits 4..7, 0..3 of device 7's 0xE9
    ASSERT_EQ(VEK_GPIO_SetDirection(1, 0x00), VEK_OK);
    ASSERT_EQ(VEK_GPIO_Write(1, 0x21), VEK_OK); // pins 1 and 6
    EXPECT_EQ(chip->DeviceReg(0x07, 0xE9), 0x12);
    EXPECT_EQ(chip->DrivenLevels(0x07, 0xE9), 0x12);
    uint8_t v = 0;
    ASSERT_EQ(VEK_GPIO_Read(1, &v), VEK_OK);
    EXPECT_EQ(v, 0x21);
    ASSERT_EQ(VEK_GPIO_SetDirection(1, 0xF0), VEK_OK); // pins 5..8 = bits 0..3 inputs
    EXPECT_EQ(chip->DeviceReg(0x07, 0xE8), 0x0F);
    ASSERT_EQ(VEK_GPIO_ReadDirection(1, &v), VEK_OK);
    EXPECT_EQ(v, 0xF0);
    // Eight sessions of seven accesses for a set read.
    machine().ClearTrace();
    ASSERT_EQ(VEK_GPIO_Read(1, &v), VEK_OK);
    EXPECT_EQ(ConfigOps().size(), 8u * 9u - 8u * 2u);
    ExpectChipIdle("set read");

    // Entries without a pin (board 19 maps six) read 0 and never reach the chip.
    InitBoard(19);
    EXPECT_EQ(ctx().gpioSets[0], 1u);
    EXPECT_EQ(ctx().gpioSets[1], 6u);
    ASSERT_EQ(VEK_GPIO_ReadPin(1, 8, &v), VEK_OK);
    EXPECT_EQ(v, 0);
    ASSERT_EQ(VEK_GPIO_WritePin(1, 7, 1), VEK_OK);
    EXPECT_TRUE(ConfigOps().empty());
    EXPECT_EQ(VEK_GPIO_Read(2, &v), VEK_ERR_ARGUMENT); // one set only
}

// ---- watchdog ----

TEST_F(Sio1OpsTest, WatchdogWritesUnitBeforeCountAndFires) {
    struct Case {
        uint32_t boardId;
        uint8_t modeReg, countReg;
        uint32_t unit;
        uint8_t count;
        int64_t timeoutNs;
    };
    const Case cases[] = {
        {58, 0xF0, 0xF1, 1, 5, 5 * 60 * kSec}, // newer layout, minutes
        {25, 0xF5, 0xF6, 0, 30, 30 * kSec},    // original layout, seconds
        {4, 0xF5, 0xF6, 0, 7, 7 * kSec},       // device enabled by the firmware, not the library
    };
    for (const Case& c : cases) {
        InitBoard(c.boardId);
        chip->SetDeviceReg(0x08, c.modeReg, c.unit ? 0x00 : 0x08 | 0x40);
        ASSERT_EQ(VEK_WDT_SetConfig(c.unit, c.count), VEK_OK);
        ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
        const uint8_t before = c.unit ? 0x00 : 0x48;
        const uint8_t after = c.unit ? 0x08 : 0x40;
        CfgSeq s(chip->config_port());
        s.Enter().Select(0x08).Modify(c.modeReg, before, after).Write(c.countReg, c.count).Exit();
        EXPECT_EQ(ConfigOps(), s.ops()) << c.boardId;
        EXPECT_EQ(VEK_WDT_Available(), VEK_OK);

        // The timer starts with the count write.
        int64_t started = -1;
        for (const sim::TraceEntry& e : machine().trace())
            if (e.kind == sim::Access::PortWrite && e.address == chip->config_port() + 1u && e.value == c.count)
                started = e.time_ns;
        ASSERT_GE(started, 0);
        machine().Advance(started + c.timeoutNs - 1 - machine().now_ns());
        EXPECT_EQ(chip->watchdog().expiries, 0) << c.boardId;
        machine().Advance(1);
        EXPECT_EQ(chip->watchdog().expiries, 1) << c.boardId;

        // Trigger again, then disable before the time is up.
        ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
        machine().ClearTrace();
        ASSERT_EQ(VEK_WDT_Disable(), VEK_OK);
        CfgSeq d(chip->config_port());
        d.Enter().Select(0x08).Write(c.countReg, 0).Exit();
        EXPECT_EQ(ConfigOps(), d.ops()) << c.boardId;
        machine().Advance(2 * c.timeoutNs);
        EXPECT_EQ(chip->watchdog().expiries, 1) << c.boardId;
        EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
        ExpectChipIdle("watchdog");
    }
    InitBoard(69); // no watchdog fitted
    EXPECT_EQ(VEK_WDT_Trigger(), VEK_ERR_UNSUPPORTED);
}

// ---- monitor conversions ----

TEST_F(Sio1OpsTest, VoltageConversions) {
    struct Case {
        uint32_t boardId;
        uint32_t channel;
        uint8_t bank, reg, raw;
        uint32_t result;
        double volts;
    };
    const Case cases[] = {
        {58, 4, 3, 0x01, 100, 0, 100 * 0.008 * 12.0},      // (110 + 10) / 10
        {58, 2, 3, 0x03, 200, 0, 200 * 0.008 * 2.0},
        {58, 3, 3, 0x04, 200, 0, 200 * 0.008 * 4.92},      // 39.2 / 10
        {58, 0, 3, 0x00, 100, 0, 0.8},                     // register 0 is read on the newer parts
        {58, 6, 0, 0x05, 100, 0, 100 * 0.008 * 3.005},     // battery straight through channel 5's divider
        {58, 1, 0, 0, 0, 10, 0},
        {58, 5, 0, 0, 0, 10, 0},
        {58, 7, 0, 0, 0, 10, 0},
        {58, 11, 0, 0, 0, 10, 0},
        {58, 17, 0, 0, 0, 10, 0},
        {58, 18, 0, 0, 0, 7, 0},                           // past the chip's channels
        {72, 8, 3, 0x07, 200, 0, 200 * 0.008 * 4.28},      // no divider: the 5 V scale
        {72, 9, 3, 0x08, 200, 0, 200 * 0.008},             // no divider: straight
        {72, 10, 3, 0x09, 50, 0, 50 * 0.008 * 3.0},
        {25, 3, 0, 0x23, 200, 0, 6.848},                   // default 5 V input, no divider
        {25, 1, 0, 0x22, 150, 0, 150 * 0.008},
        {4, 0, 0, 0, 0, 10, 0},                            // no core input on the older parts
        {4, 2, 0, 0x25, 100, 0, 100 * 0.008 * 3.0},
        {30, 0, 0, 0x18, 0x81, 0, 0x81 * 0.00488 + 0.69},  // dual range, high
        {30, 0, 0, 0x18, 0x80, 0, 0x80 * 0.016},           // dual range, low (16 mV steps)
    };
    for (const Case& c : cases) {
        InitBoard(c.boardId);
        if (c.result == 0) chip->SetHwm(c.bank, c.reg, c.raw);
        if (c.channel == 6) chip->SetBattery(c.raw);
        double v = -1;
        EXPECT_EQ(VEK_HWM_Voltage(c.channel, &v), c.result) << c.boardId << " ch " << c.channel;
        if (c.result == 0) {
            EXPECT_NEAR(v, c.volts, 1e-9) << c.boardId << " ch " << c.channel;
        }
        ExpectChipIdle("voltage");
    }
}

TEST_F(Sio1OpsTest, BatteryIsMeasuredOnAPulseOfTheMonitorBit) {
    struct Case {
        uint32_t boardId;
        uint8_t raw;
        double scale;
    };
    for (const Case c : {Case{43, 190, 2.0}, Case{25, 80, 4.25}, Case{35, 190, 2.0}}) {
        InitBoard(c.boardId);
        chip->SetBattery(c.raw);
        const int before = chip->battery_measurements();
        double v = 0;
        ASSERT_EQ(VEK_HWM_Voltage(6, &v), VEK_OK);
        EXPECT_EQ(chip->battery_measurements(), before + 1) << c.boardId;
        EXPECT_NEAR(v, c.raw * 0.008 * c.scale, 1e-9) << c.boardId;
        // Bit low for a millisecond, then high for another before the reading.
        const auto& t = machine().trace();
        int64_t cleared = -1, set = -1, read = -1;
        for (size_t i = 1; i < t.size(); ++i) {
            if (t[i].kind == sim::Access::PortWrite && t[i - 1].value == 0x5D) {
                (cleared < 0 ? cleared : set) = t[i].time_ns;
            }
        }
        read = t.back().time_ns;
        EXPECT_GE(set - cleared, 1'000'000) << c.boardId;
        EXPECT_GE(read - set, 1'000'000) << c.boardId;
        ExpectChipIdle("battery");
    }
}

TEST_F(Sio1OpsTest, Temperatures) {
    double v = 0;
    // Newer parts report both sensors in 2 °C steps; the CPU reading above 100
    // is refused and the frame falls back to the processor (TjMax 100 - 55).
    InitBoard(72);
    chip->SetTemperatures(58.0, 36.0);
    ASSERT_EQ(VEK_HWM_CPUTemperature(0, &v), VEK_OK);
    EXPECT_DOUBLE_EQ(v, 58.0);
    ASSERT_EQ(VEK_HWM_SysTemperature(&v), VEK_OK);
    EXPECT_DOUBLE_EQ(v, 36.0);
    chip->SetTemperatures(110.0, 36.0);
    ASSERT_EQ(sio1::Ops().cpuTemperature(ctx(), &v), VEK_ERR_UNSUPPORTED);
    EXPECT_DOUBLE_EQ(v, 110.0);
    ASSERT_EQ(VEK_HWM_CPUTemperature(0, &v), VEK_OK);
    EXPECT_DOUBLE_EQ(v, 45.0);
    EXPECT_EQ(VEK_HWM_Temperature(1, &v), VEK_ERR_UNSUPPORTED);
    ExpectChipIdle("temperatures");

    // Older parts: whole degrees plus a half bit, the fraction read first.
    InitBoard(25);
    chip->SetTemperatures(42.5, 30.0);
    ASSERT_EQ(VEK_HWM_CPUTemperature(0, &v), VEK_OK);
    EXPECT_DOUBLE_EQ(v, 42.5);
    const std::vector<PortOp> ops = HwmOps();
    ASSERT_GE(ops.size(), 4u);
    EXPECT_EQ(ops[2], W(0x295, 0x51));
    EXPECT_EQ(ops[4], W(0x295, 0x50));

    // Absent sources.
    InitBoard(4);
    EXPECT_EQ(VEK_HWM_SysTemperature(&v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(v, 0.0);
    InitBoard(109);
    v = 1;
    EXPECT_EQ(sio1::Ops().cpuTemperature(ctx(), &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(v, 0.0);
}

// ---- fans ----

TEST_F(Sio1OpsTest, FanSpeedOnBothCounterLayouts) {
    uint32_t rpm = 1;
    // 13-bit counters: board 58's fan 0 is the chip's second tachometer.
    InitBoard(58);
    chip->SetFanFullSpeed(1, 4500);
    chip->SetHwm(1, 0x29, 0xFF); // its output at full duty
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    EXPECT_EQ(rpm, 4500u);
    struct Stuck {
        sim::Sio1Model::Tach state;
        uint32_t rpm;
    };
    for (const Stuck s : {Stuck{sim::Sio1Model::Tach::kStuckFull, 0}, Stuck{sim::Sio1Model::Tach::kStuckZero, 0}}) {
        chip->SetTach(1, s.state);
        rpm = 1;
        ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
        EXPECT_EQ(rpm, s.rpm); // 8191 gives 164, reported as 0; a count of 0 is a stopped fan
    }
    EXPECT_EQ(VEK_HWM_GetFanSpeed(3, &rpm), VEK_ERR_UNSUPPORTED); // not fitted
    EXPECT_EQ(VEK_HWM_GetFanSpeed(6, &rpm), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_GetFanSpeed(13, &rpm), VEK_ERR_ARGUMENT);

    // 8-bit counters with a divisor: count 100 at divisor 2 is 6750 rpm.
    InitBoard(25);
    chip->SetFanFullSpeed(1, 6750);
    chip->SetHwm(0, 0x47, 0x40); // fan 0: divisor bits 1..0 = 01
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    EXPECT_EQ(rpm, 6750u);
    chip->SetHwm(0, 0x5D, 0x40); // divisor bit 2: 2^5
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    EXPECT_EQ(rpm, 1'350'000u / (6 * 32));
    chip->SetTach(1, sim::Sio1Model::Tach::kStuckFull);
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    EXPECT_EQ(rpm, 0u);
    chip->SetTach(1, sim::Sio1Model::Tach::kStuckZero);
    rpm = 1;
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    EXPECT_EQ(rpm, 0u);
    EXPECT_EQ(VEK_HWM_GetFanSpeed(3, &rpm), VEK_ERR_UNSUPPORTED);
    ExpectChipIdle("fans");

    // The divisor's low bits (0x47) are read before its third bit (0x5D), then the count.
    machine().ClearTrace();
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    const std::vector<uint8_t> regs = RegistersRead(HwmOps(), area().hwmIndexPort);
    const auto low = std::find(regs.begin(), regs.end(), 0x47), third = std::find(regs.begin(), regs.end(), 0x5D);
    ASSERT_NE(third, regs.end());
    EXPECT_LT(low, third);
}

TEST_F(Sio1OpsTest, DutyRoundsAndLeavesSmartMode) {
    InitBoard(58);
    chip->SetHwm(1, 0x23, 0x45); // fan 0 in smart mode, low nibble kept
    const struct { int32_t percent; uint8_t duty; } cases[] = {{50, 128}, {100, 255}, {0, 0}, {1, 3}, {99, 252}};
    for (const auto& c : cases) {
        ASSERT_EQ(VEK_HWM_SetFanSpeed(0, c.percent), VEK_OK);
        EXPECT_EQ(chip->Hwm(1, 0x29), c.duty) << c.percent;
        EXPECT_EQ(chip->Hwm(1, 0x23), 0x05);
    }
    // The tachometer follows the duty.
    chip->SetFanFullSpeed(1, 5100);
    ASSERT_EQ(VEK_HWM_SetFanSpeed(0, 50), VEK_OK);
    uint32_t rpm = 0;
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    EXPECT_NEAR(rpm, 2560, 5);
    EXPECT_EQ(VEK_HWM_SetFanSpeed(101, 50), VEK_ERR_ARGUMENT);
    ExpectChipIdle("duty");

    InitBoard(130); // fan 5 counts but has no output
    EXPECT_EQ(VEK_HWM_SetFanSpeed(5, 50), VEK_ERR_UNSUPPORTED);
    ASSERT_EQ(VEK_HWM_SetFanSpeed(3, 40), VEK_OK);
    EXPECT_EQ(chip->Hwm(1, 0x89), 102);
    InitBoard(25); // no fan control on the older parts
    EXPECT_EQ(VEK_HWM_SetFanSpeed(0, 50), VEK_ERR_UNSUPPORTED);
}

TEST_F(Sio1OpsTest, SmartFanCurves) {
    InitBoard(58);
    // Fan 1: mode 0x13, temperatures from 0x60, duties from 0x64 (bank 1).
    ASSERT_EQ(VEK_HWM_Smartfan_Enable(1), VEK_OK);
    EXPECT_EQ(chip->Hwm(1, 0x13) >> 4, 4);
    uint8_t temps[4] = {30, 40, 0x32, 60}; // one byte a point
    int32_t duties[4] = {20, 40, 60, 100};
    ASSERT_EQ(VEK_HWM_SetSmartfan(1, 7, temps, duties, 0), VEK_OK);
    const uint8_t wantTemps[4] = {30, 40, 0x32, 60}, wantDuties[4] = {51, 102, 153, 255};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(chip->Hwm(1, uint8_t(0x60 + i)), wantTemps[i]);
        EXPECT_EQ(chip->Hwm(1, uint8_t(0x64 + i)), wantDuties[i]);
    }
    uint32_t mode = 0, outTemps[4] = {}, outDuties[4] = {}, unused = 77;
    ASSERT_EQ(VEK_HWM_GetSmartfan(1, &mode, outTemps, outDuties, &unused), VEK_OK);
    EXPECT_EQ(mode, 7u);
    EXPECT_EQ(outTemps[2], 0x32u);
    EXPECT_EQ(outDuties[0], 20u);
    EXPECT_EQ(outDuties[3], 100u);
    EXPECT_EQ(unused, 77u);

    // The fan follows the curve against the temperature.
    chip->SetFanFullSpeed(0, 5100);
    uint32_t cool = 0, warm = 0;
    chip->SetTemperatures(25.0, 30.0);
    ASSERT_EQ(VEK_HWM_GetFanSpeed(1, &cool), VEK_OK);
    chip->SetTemperatures(70.0, 30.0);
    ASSERT_EQ(VEK_HWM_GetFanSpeed(1, &warm), VEK_OK);
    EXPECT_NEAR(cool, 1020, 20); // counts are whole clock periods
    EXPECT_NEAR(warm, 5100, 60);

    // Result codes.
    EXPECT_EQ(VEK_HWM_SetSmartfan(1, 0, temps, duties, 0), VEK_ERR_UNSUPPORTED);
    duties[1] = 101;
    EXPECT_EQ(VEK_HWM_SetSmartfan(1, 7, temps, duties, 0), VEK_ERR_ARGUMENT);
    ASSERT_EQ(VEK_HWM_Smartfan_Disable(1), VEK_OK);
    EXPECT_EQ(chip->Hwm(1, 0x13) >> 4, 0);
    EXPECT_EQ(VEK_HWM_SetSmartfan(1, 7, temps, duties, 0), VEK_ERR_STATE);
    chip->SetHwm(1, 0x13, 0x20); // a hardware mode the library does not set
    EXPECT_EQ(VEK_HWM_GetSmartfan(1, &mode, outTemps, outDuties, &unused), VEK_ERR_STATE);
    EXPECT_EQ(mode, 3u);
    chip->SetHwm(1, 0x13, 0x50);
    EXPECT_EQ(VEK_HWM_GetSmartfan(1, &mode, outTemps, outDuties, &unused), VEK_ERR_READ);
    EXPECT_EQ(VEK_HWM_Smartfan_Enable(3), VEK_ERR_UNSUPPORTED); // no fan 3 on subtype 0
    EXPECT_EQ(VEK_HWM_Smartfan_Enable(13), VEK_ERR_ARGUMENT);
    ExpectChipIdle("curves");

    InitBoard(132); // fan 3's curve on the larger part
    ASSERT_EQ(VEK_HWM_Smartfan_Enable(3), VEK_OK);
    EXPECT_EQ(chip->Hwm(1, 0x93) >> 4, 4);
    duties[1] = 40;
    ASSERT_EQ(VEK_HWM_SetSmartfan(3, 7, temps, duties, 0), VEK_OK);
    EXPECT_EQ(chip->Hwm(1, 0xD0), 30);
    EXPECT_EQ(chip->Hwm(1, 0xD7), 255);
    InitBoard(29);
    EXPECT_EQ(VEK_HWM_Smartfan_Enable(0), VEK_ERR_UNSUPPORTED);
}

// ---- backlight ----

TEST_F(Sio1OpsTest, BacklightStepIsOneTimedPulse) {
    InitBoard(43);
    const int level = chip->backlight_level();
    const int64_t t0 = machine().now_ns();
    ASSERT_EQ(VEK_BLC_Change_Brightness(1), VEK_OK);
    EXPECT_EQ(chip->backlight_level(), level + 10);
    EXPECT_GE(machine().now_ns() - t0, 100'000'000); // the 100 ms pulse
    ASSERT_EQ(VEK_BLC_Change_Brightness(0), VEK_OK);
    ASSERT_EQ(VEK_BLC_Change_Brightness(0), VEK_OK);
    EXPECT_EQ(chip->backlight_level(), level - 10);
    EXPECT_EQ(chip->backlight_steps(), 3);
    EXPECT_EQ(chip->DeviceReg(0x07, 0xF8), 0xFF); // pins released to inputs
    EXPECT_EQ(VEK_BLC_Change_Brightness(2), VEK_ERR_ARGUMENT);
    ExpectChipIdle("backlight");

    // Other boards: the word says no, and the routine itself refuses without a port access.
    InitBoard(58);
    EXPECT_EQ(VEK_BLC_Change_Brightness(1), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(sio1::Ops().backlightChange(ctx(), 1), VEK_ERR_UNSUPPORTED);
    EXPECT_TRUE(machine().trace().empty());
}

// ---- every operation leaves the chip locked on bank 0 ----

TEST_F(Sio1OpsTest, EveryOperationLeavesTheChipIdle) {
    uint8_t b = 0;
    double d = 0;
    uint32_t u = 0, four[4] = {}, four2[4] = {};
    int32_t duties[4] = {10, 20, 30, 40};
    const std::pair<const char*, std::function<uint32_t()>> calls[] = {
        {"SetDirection", [&] { return VEK_GPIO_SetDirection(1, 0x0F); }},
        {"ReadDirection", [&] { return VEK_GPIO_ReadDirection(1, &b); }},
        {"Write", [&] { return VEK_GPIO_Write(1, 0x55); }},
        {"Read", [&] { return VEK_GPIO_Read(1, &b); }},
        {"SetPinDirection", [&] { return VEK_GPIO_SetPinDirection(1, 2, 1); }},
        {"ReadPinDirection", [&] { return VEK_GPIO_ReadPinDirection(1, 2, &b); }},
        {"WritePin", [&] { return VEK_GPIO_WritePin(1, 3, 1); }},
        {"ReadPin", [&] { return VEK_GPIO_ReadPin(1, 3, &b); }},
        {"Trigger", [&] { return VEK_WDT_Trigger(); }},
        {"Disable", [&] { return VEK_WDT_Disable(); }},
        {"CPUTemperature", [&] { return VEK_HWM_CPUTemperature(0, &d); }},
        {"SysTemperature", [&] { return VEK_HWM_SysTemperature(&d); }},
        {"Voltage 6", [&] { return VEK_HWM_Voltage(6, &d); }},
        {"Voltage 4", [&] { return VEK_HWM_Voltage(4, &d); }},
        {"GetFanSpeed", [&] { return VEK_HWM_GetFanSpeed(1, &u); }},
        {"SetFanSpeed", [&] { return VEK_HWM_SetFanSpeed(1, 30); }},
        {"Enable", [&] { return VEK_HWM_Smartfan_Enable(2); }},
        {"SetSmartfan", [&] { return VEK_HWM_SetSmartfan(2, 7, reinterpret_cast<uint8_t*>(four), duties, 0); }},
        {"GetSmartfan", [&] { return VEK_HWM_GetSmartfan(2, &u, four, four2, &u); }},
        {"Disable fan", [&] { return VEK_HWM_Smartfan_Disable(2); }},
        {"GetSmartfan manual", [&] { return VEK_HWM_GetSmartfan(2, &u, four, four2, &u); }},
        {"Backlight", [&] { return VEK_BLC_Change_Brightness(1); }},
    };
    for (uint32_t boardId : {43u, 30u}) {
        InitBoard(boardId);
        for (const auto& [name, call] : calls) {
            const uint32_t r = call();
            EXPECT_NE(r, VEK_ERR_NOT_INITIALISED) << name;
            ExpectChipIdle(std::to_string(boardId) + " " + name);
        }
    }
}

} // namespace
