// The EC hardware-monitor routines against a plain register file: conversions,
// absent items, the smart-fan register protocol and the result codes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "backends/ec/ec.h"
#include "backends/ec/monitor.h"
#include "backends/ec/ops.h"
#include "vek/vek.h"

using namespace vek;
using namespace vek::ec;

namespace {

// EC RAM behind the context's register pair, with a log of the accesses.
struct RegisterFile {
    static inline std::array<uint8_t, 256> ram{};
    static inline std::vector<std::pair<char, uint8_t>> log; // ('r' | 'w', register)
    static uint8_t Read(uint32_t reg) {
        log.push_back({'r', uint8_t(reg)});
        return ram[reg & 0xFF];
    }
    static void Write(uint32_t reg, uint32_t value) {
        log.push_back({'w', uint8_t(reg)});
        ram[reg & 0xFF] = uint8_t(value);
    }
};

class EcMonitorUnit : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterFile::ram.fill(0);
        RegisterFile::log.clear();
        ctx.caps[CAP_EC_SMARTFAN] = 1;
        EcArea& a = area();
        a.readRegister = &RegisterFile::Read;
        a.writeRegister = &RegisterFile::Write;
        // The standard layout.
        a.voltage = {.ch4Low = 0x30, .ch4High = 0x31, .ch1Low = 0x32, .ch1High = 0x33,
                     .ch2Low = 0x22, .ch2High = 0x23, .ch3Low = 0x24, .ch3High = 0x25,
                     .ch0Low = 0x20, .ch0High = 0x21,
                     .ch6Low = SLOT_ABSENT, .ch6High = SLOT_ABSENT, .ch6Trigger = SLOT_ABSENT,
                     .ch13Low = SLOT_ABSENT, .ch13High = SLOT_ABSENT,
                     .ch5 = 0x44, .ch9 = SLOT_ABSENT, .ch10 = SLOT_ABSENT, .ch11 = 0x40};
        a.dividers = {.ch4 = {56.0, 10.0}, .ch2 = {10.0, 10.0}, .ch1 = {6.49, 10.0}, .ch3 = {22.0, 10.0},
                      .ch13 = {0, 0}, .ch6 = {0, 0}, .ch5 = {30.0, 10.0}, .ch9 = {0, 0}, .ch10 = {0, 0}};
        a.current0Low = 0x26; a.current0High = 0x27;
        a.current1Low = SLOT_ABSENT; a.current1High = SLOT_ABSENT;
        a.sysTempLow = 0x02; a.sysTempMain = 0x03;
        a.temp1 = SLOT_ABSENT; a.temp6 = 0x05; a.temp6Offset = -64;
        a.cpuTemp = 0x00;
        for (int f = 0; f < EC_FANS; ++f) {
            a.fanTachHigh[f] = SLOT_ABSENT;
            a.smartFanControl[f] = SLOT_ABSENT;
            a.smartFanParam[3][f] = SLOT_ABSENT;
        }
        a.fanTachHigh[0] = 0x10; a.fanTachLow[0] = 0x11;
        a.fanTachHigh[1] = 0x12; a.fanTachLow[1] = 0x13;
        a.smartFanControl[0] = 0x16;
        for (int p = 0; p < 4; ++p) a.smartFanParam[p][0] = Slot(0x17 + p);
        // Fan 1 has a curve without a duty register.
        a.smartFanControl[1] = 0x26;
        for (int p = 0; p < 3; ++p) a.smartFanParam[p][1] = Slot(0x27 + p);
    }
    EcArea& area() { return Area(ctx); }
    static void Set16(uint8_t high, uint8_t low, uint16_t value) {
        RegisterFile::ram[high] = uint8_t(value >> 8);
        RegisterFile::ram[low] = uint8_t(value);
    }
    const BackendOps& ops = Ops();
    DeviceContext ctx{};
};

TEST_F(EcMonitorUnit, VoltagesScaleByConverterAndDivider) {
    Set16(0x31, 0x30, 416);  // channel 4: 56k/10k divider
    Set16(0x33, 0x32, 1023); // channel 1: no divider on the register paths
    Set16(0x23, 0x22, 512);  // channel 2: 10k/10k
    Set16(0x25, 0x24, 1023); // channel 3: 22k/10k → 9.6 V full scale
    Set16(0x21, 0x20, 409);  // channel 0
    Set16(0x41, 0x40, 800);  // channel 11: 1.25 mV per count, one slot, high byte next
    Set16(0x45, 0x44, 341);  // channel 5: 30k/10k
    const std::pair<uint32_t, double> cases[] = {
        {4, 8.0516}, {1, 3.0}, {2, 3.0029}, {3, 9.6}, {0, 1.1994}, {11, 1.0}, {5, 4.0},
    };
    for (auto [channel, volts] : cases) {
        double v = -1;
        ASSERT_EQ(ops.voltage(ctx, channel, &v), VEK_OK) << channel;
        EXPECT_NEAR(v, volts, 1e-4) << channel;
    }
}

TEST_F(EcMonitorUnit, VoltageReadsHighByteThenLow) {
    double v;
    ASSERT_EQ(ops.voltage(ctx, 4, &v), VEK_OK);
    const std::vector<std::pair<char, uint8_t>> expected = {{'r', 0x31}, {'r', 0x30}};
    EXPECT_EQ(RegisterFile::log, expected);
}

TEST_F(EcMonitorUnit, VoltageChannelsWithoutInput) {
    area().voltage.ch2High = SLOT_ABSENT; // either byte absent silences the channel
    const std::pair<uint32_t, uint32_t> cases[] = {
        {2, VEK_ERR_UNSUPPORTED}, {6, VEK_ERR_UNSUPPORTED}, {7, VEK_ERR_UNSUPPORTED},
        {8, VEK_ERR_UNSUPPORTED}, {9, VEK_ERR_UNSUPPORTED}, {12, VEK_ERR_UNSUPPORTED},
        {13, VEK_ERR_UNSUPPORTED}, {17, VEK_ERR_UNSUPPORTED}, {18, VEK_ERR_ARGUMENT},
        {0xFFFFFFFF, VEK_ERR_ARGUMENT},
    };
    for (auto [channel, result] : cases) {
        double v = -1;
        EXPECT_EQ(ops.voltage(ctx, channel, &v), result) << channel;
        EXPECT_EQ(v, -1) << channel;
    }
    EXPECT_TRUE(RegisterFile::log.empty());
}

TEST_F(EcMonitorUnit, Temperatures) {
    struct Case {
        uint32_t sensor;
        uint8_t reg, raw;
        int32_t sysOffset;
        uint32_t result;
        double value;
    };
    const Case cases[] = {
        {0, 0x03, 0, 0, VEK_ERR_UNSUPPORTED, 0},    // nothing connected
        {0, 0x03, 200, 0, VEK_OK, 200},             // unsigned byte
        {0, 0x03, 100, -64, VEK_OK, 36},            // offset applied
        {0, 0x03, 64, -64, VEK_ERR_UNSUPPORTED, 0}, // exactly 0 after the offset
        {6, 0x05, 100, 0, VEK_OK, 36},              // sensor 6 has its own offset
        {1, 0x01, 50, 0, VEK_ERR_UNSUPPORTED, 0},   // absent slot
        {2, 0x00, 50, 0, VEK_ERR_UNSUPPORTED, 0},   // no such sensor
    };
    for (const Case& c : cases) {
        SetUp();
        area().sysTempOffset = c.sysOffset;
        RegisterFile::ram[c.reg] = c.raw;
        double v = -1;
        EXPECT_EQ(ops.temperature(ctx, c.sensor, &v), c.result) << c.sensor << " raw " << int(c.raw);
        if (c.result == VEK_OK) {
            EXPECT_EQ(v, c.value);
        }
    }
}

TEST_F(EcMonitorUnit, CpuTemperatureAbsentSlot) {
    RegisterFile::ram[0x00] = 0xC8;
    double v = 0;
    ASSERT_EQ(ops.cpuTemperature(ctx, &v), VEK_OK);
    EXPECT_EQ(v, 200); // unsigned
    area().cpuTemp = SLOT_ABSENT;
    EXPECT_EQ(ops.cpuTemperature(ctx, &v), VEK_ERR_UNSUPPORTED);
}

TEST_F(EcMonitorUnit, CurrentIsSignMagnitudeMilliamperes) {
    const struct {
        uint16_t raw;
        double amperes;
    } cases[] = {{0x05DC, 1.5}, {0x85DC, -1.5}, {0x8000, 0.0}, {0x7FFF, 32.767}, {0xFFFF, -32.767}};
    for (const auto& c : cases) {
        Set16(0x27, 0x26, c.raw);
        double v = 99;
        ASSERT_EQ(ops.current(ctx, 0, &v), VEK_OK);
        EXPECT_DOUBLE_EQ(v, c.amperes) << std::hex << c.raw;
    }
    const std::vector<std::pair<char, uint8_t>> highFirst = {{'r', 0x27}, {'r', 0x26}};
    RegisterFile::log.resize(2);
    EXPECT_EQ(RegisterFile::log, highFirst);
    double v;
    EXPECT_EQ(ops.current(ctx, 1, &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(ops.current(ctx, 2, &v), VEK_ERR_ARGUMENT);
}

TEST_F(EcMonitorUnit, FanSpeedModes) {
    struct Case {
        uint32_t mode;
        uint16_t registers; // high << 8 | low
        uint32_t result, rpm;
    };
    const Case cases[] = {
        {0, 0x1234, VEK_OK, 0x1234},
        {1, 0x7800, VEK_OK, 2048},   // period 120
        {1, 0x0100, VEK_OK, 245760}, // shortest period
        {1, 0xFE00, VEK_OK, 967},
        {1, 0x0055, VEK_OK, 0},      // stopped counter
        {1, 0xFF00, VEK_OK, 0},      // overflowed counter
        {2, 0x1234, 1, 0},           // unknown tachometer mode
    };
    for (const Case& c : cases) {
        area().fanTachMode[0] = c.mode;
        Set16(0x10, 0x11, c.registers);
        uint32_t rpm = 0;
        EXPECT_EQ(ops.fanSpeed(ctx, 0, &rpm), c.result) << c.mode << " " << std::hex << c.registers;
        EXPECT_EQ(rpm, c.rpm) << c.mode << " " << std::hex << c.registers;
    }
    uint32_t rpm;
    EXPECT_EQ(ops.fanSpeed(ctx, 2, &rpm), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(ops.fanSpeed(ctx, 13, &rpm), VEK_ERR_ARGUMENT);
    area().flags = EC_INDIRECT; // the tachometers are not wired to the memory bridge
    EXPECT_EQ(ops.fanSpeed(ctx, 0, &rpm), VEK_ERR_UNSUPPORTED);
}

// Duty, then the curve again: the duty took parameter 1's register, so the
// curve's lower temperature goes back to its default, while the upper one the
// caller chose stays. The EC's own bits 3..7 of the control register survive.
TEST_F(EcMonitorUnit, SmartFanRegisterProtocol) {
    auto& ram = RegisterFile::ram;
    ram[0x16] = 0xA8;
    uint8_t temps[2] = {40, 70};
    int32_t duties[2] = {25, 100};
    ASSERT_EQ(ops.setSmartfan(ctx, 0, 0, temps, duties, 5), VEK_OK);
    EXPECT_EQ(ram[0x16], 0xA9);
    EXPECT_EQ((std::array<uint8_t, 4>{ram[0x17], ram[0x18], ram[0x19], ram[0x1A]}),
              (std::array<uint8_t, 4>{40, 70, 5, 25}));

    ASSERT_EQ(ops.setFanSpeed(ctx, 0, 55), VEK_OK);
    EXPECT_EQ(ram[0x16], 0xAF);
    EXPECT_EQ(ram[0x17], 55);

    ASSERT_EQ(ops.smartfanEnable(ctx, 0), VEK_OK);
    EXPECT_EQ(ram[0x16], 0xA9);
    EXPECT_EQ(ram[0x17], 30);
    EXPECT_EQ(ram[0x18], 70);

    uint32_t mode = 9, t[2] = {}, d[2] = {}, third = 0;
    ASSERT_EQ(ops.getSmartfan(ctx, 0, &mode, t, d, &third), VEK_OK);
    EXPECT_EQ(mode, 1u);
    EXPECT_EQ(t[0], 30u);
    EXPECT_EQ(t[1], 70u);
    EXPECT_EQ(d[0], 25u);
    EXPECT_EQ(third, 5u);

    ASSERT_EQ(ops.smartfanDisable(ctx, 0), VEK_OK);
    EXPECT_EQ(ram[0x16], 0xA8);
    ASSERT_EQ(ops.getSmartfan(ctx, 0, &mode, t, d, &third), VEK_OK);
    EXPECT_EQ(mode, 0u);
}

TEST_F(EcMonitorUnit, EnableWithoutCallerValuesWritesBothDefaults) {
    ASSERT_EQ(ops.smartfanEnable(ctx, 0), VEK_OK);
    EXPECT_EQ(RegisterFile::ram[0x17], 30);
    EXPECT_EQ(RegisterFile::ram[0x18], 80);
    EXPECT_EQ(RegisterFile::ram[0x16] & 7, 1);
}

TEST_F(EcMonitorUnit, NegativeParametersAndMissingDutyRegisterAreKept) {
    auto& ram = RegisterFile::ram;
    ram[0x19] = 11;
    ram[0x1A] = 22;
    uint8_t temps[2] = {35, 75};
    int32_t duties[2] = {-1, 100};
    ASSERT_EQ(ops.setSmartfan(ctx, 0, 0, temps, duties, -1), VEK_OK);
    EXPECT_EQ(ram[0x19], 11);
    EXPECT_EQ(ram[0x1A], 22);

    // Fan 1 has no duty register: nothing is written to 0xFF (the bank register).
    duties[0] = 40;
    RegisterFile::log.clear();
    ASSERT_EQ(ops.setSmartfan(ctx, 1, 0, temps, duties, 3), VEK_OK);
    for (auto [op, reg] : RegisterFile::log) EXPECT_NE(reg, 0xFF);
    EXPECT_EQ(ram[0x29], 3);
}

TEST_F(EcMonitorUnit, SmartFanChecks) {
    uint32_t w[2];
    uint8_t temps[2] = {30, 80};
    int32_t duties[2] = {20, 100};
    const struct {
        uint32_t fan;
        bool cap;
        uint32_t result;
    } cases[] = {
        {0, false, VEK_ERR_UNSUPPORTED}, // this EC exposes no curve
        {13, true, VEK_ERR_ARGUMENT},
        {2, true, VEK_ERR_UNSUPPORTED},  // no control register
    };
    for (const auto& c : cases) {
        ctx.caps[CAP_EC_SMARTFAN] = c.cap ? 1 : 0;
        EXPECT_EQ(ops.getSmartfan(ctx, c.fan, w, w, w, w), c.result) << c.fan;
        EXPECT_EQ(ops.setSmartfan(ctx, c.fan, 0, temps, duties, 0), c.result) << c.fan;
        EXPECT_EQ(ops.smartfanEnable(ctx, c.fan), c.result) << c.fan;
        EXPECT_EQ(ops.smartfanDisable(ctx, c.fan), c.result) << c.fan;
    }
    EXPECT_TRUE(RegisterFile::log.empty());
    // A fixed duty needs a tachometer and a control register, not the curve capability.
    ctx.caps[CAP_EC_SMARTFAN] = 0;
    EXPECT_EQ(ops.setFanSpeed(ctx, 0, 50), VEK_OK);
    EXPECT_EQ(ops.setFanSpeed(ctx, 2, 50), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(ops.setFanSpeed(ctx, 13, 50), VEK_ERR_ARGUMENT);
}

TEST(EcThermistor, TableLookup) {
    const std::pair<double, double> cases[] = {
        {10.0, 25.0},   // row 10's nominal value
        {10.05, 25.2},  // between row 10's nominal and upper bound
        {9.95, 24.8},   // between row 10's lower bound and nominal
        {14.83, 15.0},  // first row
        {1.145, 93.0 - 0.4 * 0.030 / 0.037}, // rows overlap: the first match (row 78) wins
        {1.12, 94.0 - 0.4 * 0.025 / 0.036},  // last row
        {1.109, 93.6},  // last row's lower bound: hotter than the table
        {0.2, 93.6},    // held at the table's end, not extrapolated
        {0.0, 93.6},
    };
    for (auto [kOhm, celsius] : cases) EXPECT_NEAR(ThermistorCelsius(kOhm), celsius, 1e-9) << kOhm;
}

TEST(EcThermistor, DividerReading) {
    EXPECT_DOUBLE_EQ(ThermistorResistanceKohm(0), 0.0);
    EXPECT_NEAR(ThermistorResistanceKohm(1023), 15.0, 1e-12);
    // Counts above 1023 stay on the divider's curve: colder than the first row.
    const std::pair<uint32_t, double> cold[] = {{1100, 9.02}, {1200, -1.61}};
    for (auto [adc, celsius] : cold)
        EXPECT_NEAR(ThermistorCelsius(ThermistorResistanceKohm(adc)), celsius, 0.01) << adc;
    // Beyond the 10-bit converter (a floating bus) the equation must stay finite.
    for (uint32_t adc : {1705u, 1706u, 0xFFFFu}) {
        const double t = ThermistorCelsius(ThermistorResistanceKohm(adc));
        EXPECT_TRUE(std::isfinite(t)) << adc;
    }
}

} // namespace
