// The EC hardware monitor through the exports on simulated boards: every EC
// board's sensors, the indirect and triggered paths with their access order and
// device time, fans that follow their duty, the kind-100 fans and sensor, and
// the CPU-temperature rule.
#include <algorithm>
#include <array>
#include <set>

#include "backends/ec/ec.h"
#include "backends/ec/ops.h"
#include "api/registry_override.h"
#include "ec_test_util.h"
#include "sim/ec/ec_fans.h"

using namespace vek;
using namespace vek::test;

namespace {

constexpr uint32_t kTjMaxMinusReadout = sim::kBoardTjMax - sim::kBoardThermReadout;

// Every EC board comes up and reads what its firmware reports: each result is
// one the routine may give, every reading is physically plausible, and each
// board shows at least one temperature and one voltage.
TEST_F(EcBoardTest, EveryEcBoardShowsPlausibleSensors) {
    std::set<uint32_t> seen;
    for (const PlatformEntry& row : kPlatformTable) {
        if (row.chipKind != KIND_EC || !seen.insert(row.boardId).second) continue;
        Use(row);
        ASSERT_EQ(Init(), VEK_OK) << row.name;
        int temps = 0, volts = 0;
        for (uint32_t sensor : {0u, 1u, 6u}) {
            double t = -1;
            const VEK_RESULT r = VEK_HWM_Temperature(sensor, &t);
            // A ChipKind 2 second chip knows six sensors: 6 is out of its range.
            const bool sio2Range = OwnerMode(row.tempOwners) == KIND_SIO2 && sensor > 5 && r == VEK_ERR_ARGUMENT;
            ASSERT_TRUE(r == VEK_OK || r == VEK_ERR_UNSUPPORTED || sio2Range)
                << row.name << " sensor " << sensor << ": " << r;
            if (r == VEK_OK) {
                EXPECT_TRUE(t > 0 && t < 110) << row.name << " sensor " << sensor << ": " << t;
                ++temps;
            }
        }
        double cpu = -1;
        ASSERT_EQ(VEK_HWM_CPUTemperature(0, &cpu), VEK_OK) << row.name;
        EXPECT_TRUE(cpu > 0 && cpu < 110) << row.name << ": " << cpu;
        for (uint32_t ch = 0; ch <= 18; ++ch) {
            double v = -1;
            const VEK_RESULT r = VEK_HWM_Voltage(ch, &v);
            ASSERT_TRUE(r == VEK_OK || r == VEK_ERR_UNSUPPORTED || (ch >= 18 && r == VEK_ERR_ARGUMENT))
                << row.name << " channel " << ch << ": " << r;
            if (r == VEK_OK) {
                EXPECT_TRUE(v > 0.5 && v < 20) << row.name << " channel " << ch << ": " << v;
                ++volts;
            }
        }
        for (uint32_t fan = 0; fan <= 13; ++fan) {
            uint32_t rpm = 0;
            const VEK_RESULT r = VEK_HWM_GetFanSpeed(fan, &rpm);
            ASSERT_TRUE(r == VEK_OK || r == VEK_ERR_UNSUPPORTED || r == VEK_ERR_ARGUMENT)
                << row.name << " fan " << fan << ": " << r;
            if (r == VEK_OK) {
                EXPECT_LE(rpm, 10000u) << row.name << " fan " << fan;
            }
        }
        if (OwnerMode(row.tempOwners) == 0) {
            EXPECT_GT(temps, 0) << row.name;
        }
        if (OwnerMode(row.voltageOwners) == 0) {
            EXPECT_GT(volts, 0) << row.name;
        }
    }
    EXPECT_EQ(seen.size(), 84u);
}

// ---- indirect path ----

// Data bytes written to port 0x4F: the bridge's register selections and addresses.
std::vector<uint8_t> BridgeBytes(const sim::Machine& m) {
    std::vector<uint8_t> bytes;
    for (const PortOp& op : PortOpsOn(m, {sim::EcModel::kIndexData}))
        if (op.write) bytes.push_back(op.value);
    return bytes;
}

// The indirect boards reach EC memory through the bridge alone: no access to
// the ACPI interface or the register window, and one data read per byte.
void ExpectOnlyTheBridge(const sim::Machine& m, int bytes) {
    EXPECT_TRUE(PortOps(m, sim::EcModel::kData, sim::EcModel::kCommand, true).empty());
    EXPECT_TRUE(PortOps(m, sim::EcModel::kWindowBase, sim::EcModel::kWindowBase + 0xFF).empty());
    int dataReads = 0;
    for (const PortOp& op : PortOpsOn(m, {sim::EcModel::kIndexData})) dataReads += !op.write;
    EXPECT_EQ(dataReads, bytes);
}

TEST_F(EcBoardTest, ThermistorReadsMainThenLowFromEcMemory) {
    InitBoard(6);
    ec->PokeMemory(0x032D, 0x02);
    ec->PokeMemory(0x032E, 0xB8); // 696: about 35 °C
    double t = 0;
    ASSERT_EQ(VEK_HWM_SysTemperature(&t), VEK_OK);
    EXPECT_NEAR(t, 34.99, 0.01);
    const std::vector<uint8_t> expected = {0x11, 0x03, 0x10, 0x2D, 0x12, 0x11, 0x03, 0x10, 0x2E, 0x12};
    EXPECT_EQ(BridgeBytes(machine()), expected);
    ExpectOnlyTheBridge(machine(), 2);

    // A board far hotter than the table (thermistor near 0 Ω) holds at its end.
    ec->PokeMemory(0x032D, 0x00);
    ec->PokeMemory(0x032E, 0x01);
    ASSERT_EQ(VEK_HWM_Temperature(0, &t), VEK_OK);
    EXPECT_DOUBLE_EQ(t, 93.6);
}

TEST_F(EcBoardTest, IndirectVoltagesUseMemoryAndDividers) {
    InitBoard(6);
    ec->PokeMemory(0x0320, 0x02); // channel 4 high, low: 683 through 49.9k/10k
    ec->PokeMemory(0x0321, 0xAB);
    ec->PokeMemory(0x0322, 0x02); // channel 1: 682 through 6.49k/10k
    ec->PokeMemory(0x0323, 0xAA);
    const struct {
        uint32_t channel;
        VEK_RESULT result;
        double volts;
    } cases[] = {
        {4, VEK_OK, 683 / 1023.0 * 3.0 * 5.99},
        {1, VEK_OK, 682 / 1023.0 * 3.0 * 1.649},
        {2, VEK_ERR_UNSUPPORTED, 0}, // not wired to the bridge
    };
    for (const auto& c : cases) {
        machine().ClearTrace();
        double v = 0;
        ASSERT_EQ(VEK_HWM_Voltage(c.channel, &v), c.result) << c.channel;
        if (c.result == VEK_OK) {
            EXPECT_NEAR(v, c.volts, 1e-9) << c.channel;
            ExpectOnlyTheBridge(machine(), 2);
        }
    }
}

// Board 6's CPU temperature sits in EC memory 0x030C: only the bridge is used.
TEST_F(EcBoardTest, IndirectCpuTemperatureReadsThroughTheBridge) {
    InitBoard(6);
    ec->PokeMemory(0x030C, 61);
    machine().ClearTrace();
    double t = 0;
    ASSERT_EQ(VEK_HWM_CPUTemperature(0, &t), VEK_OK);
    EXPECT_EQ(t, 61.0);
    EXPECT_EQ(BridgeBytes(machine()), (std::vector<uint8_t>{0x11, 0x03, 0x10, 0x0C, 0x12}));
    ExpectOnlyTheBridge(machine(), 1);
}

TEST_F(EcBoardTest, CoreVoltageComesFromTheProcessor) {
    InitBoard(6);
    machine().SetMsr(0x198, uint64_t(0x2666) << 32 | 0x1234);
    double v = 0;
    ASSERT_EQ(VEK_HWM_Voltage(0, &v), VEK_OK);
    EXPECT_DOUBLE_EQ(v, 0x2666 / 8192.0);
    machine().RemoveMsr(0x198);
    EXPECT_EQ(VEK_HWM_Voltage(0, &v), VEK_ERR_UNSUPPORTED);
}

// ---- channel 6: conversion on demand ----

class TriggeredVoltageTest : public EcBoardTest {
protected:
    void SetUp() override {
        InitBoard(135);
        converter = board->Find<sim::EcTriggeredConverter>();
        ASSERT_NE(converter, nullptr);
    }
    std::vector<PortOp> TriggerWrites() { return PortOpsOn(machine(), {0xE335}); }
    int PairReads() {
        int n = 0;
        for (const PortOp& op : PortOpsOn(machine(), {0xE333}))
            if (!op.write) ++n;
        return n;
    }
    sim::EcTriggeredConverter* converter = nullptr;
};

TEST_F(TriggeredVoltageTest, StartsAConversionAndPollsUntilItCompletes) {
    const int64_t start = machine().now_ns();
    double v = 0;
    ASSERT_EQ(VEK_HWM_Voltage(6, &v), VEK_OK);
    EXPECT_NEAR(v, 0x200 / 1023.0 * 3.0 * 2.0, 1e-9);
    EXPECT_EQ(TriggerWrites(), (std::vector<PortOp>{W(0xE335, 8), W(0xE335, 0)}));
    EXPECT_EQ(converter->conversions(), 1);
    EXPECT_GT(PairReads(), 1);
    EXPECT_GE(machine().now_ns() - start, 300'000);
}

TEST_F(TriggeredVoltageTest, GivesUpAfter32768Polls) {
    converter->SetConversionTime(int64_t(1) << 50);
    const int64_t start = machine().now_ns();
    double v = -1;
    ASSERT_EQ(VEK_HWM_Voltage(6, &v), VEK_OK);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(PairReads(), 32768);
    EXPECT_EQ(TriggerWrites().back(), W(0xE335, 0));
    EXPECT_GE(machine().now_ns() - start, 32768LL * 20'000); // one EC pause a poll
}

TEST_F(TriggeredVoltageTest, WithoutTriggerPollsOnce) {
    ec::Area(ctx()).voltage.ch6Trigger = ec::SLOT_ABSENT;
    double v = -1;
    ASSERT_EQ(VEK_HWM_Voltage(6, &v), VEK_OK);
    EXPECT_EQ(PairReads(), 1);
    EXPECT_TRUE(TriggerWrites().empty());
}

// ---- fans ----

TEST_F(EcBoardTest, FanFollowsFixedDuty) {
    InitBoard(11);
    auto* fans = board->Find<sim::EcFans>();
    ASSERT_NE(fans, nullptr);
    for (int32_t duty : {50, 0, 100}) {
        ASSERT_EQ(VEK_HWM_SetFanSpeed(0, duty), VEK_OK);
        uint32_t rpm = 1;
        ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
        EXPECT_EQ(rpm, 4800u * duty / 100) << duty;
    }
    fans->SetStalled(0, true);
    uint32_t rpm = 1;
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    EXPECT_EQ(rpm, 0u);
}

TEST_F(EcBoardTest, SmartFanCurveThroughTheExports) {
    InitBoard(12); // ACPI-style interface, curve exposed
    ec->Poke(0x03, 55); // board temperature the curve follows
    uint8_t temps[2] = {30, 80};
    int32_t duties[2] = {30, 100};
    ASSERT_EQ(VEK_HWM_SetSmartfan(0, 1, temps, duties, 4), VEK_OK);
    uint32_t rpm = 0;
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    EXPECT_EQ(rpm, 4800u * 65 / 100); // halfway up the curve from 30 %

    uint32_t mode = 0, t[2] = {}, d[2] = {}, third = 0;
    ASSERT_EQ(VEK_HWM_GetSmartfan(0, &mode, t, d, &third), VEK_OK);
    EXPECT_EQ((std::array<uint32_t, 6>{mode, t[0], t[1], d[0], d[1], third}),
              (std::array<uint32_t, 6>{1, 30, 80, 30, 100, 4}));

    duties[1] = 90; // the EC's curve always ends at 100 %
    EXPECT_EQ(VEK_HWM_SetSmartfan(0, 1, temps, duties, 4), VEK_ERR_ARGUMENT);
    EXPECT_TRUE(LockIsFree());

    // The fan-0 family keeps the lower duty.
    ASSERT_EQ(VEK_EC_SMF_Config(40, 60, 2), VEK_OK);
    uint32_t a = 0, b = 0, c = 0, e = 0;
    ASSERT_EQ(VEK_EC_SMF_GetConfig(&a, &b, &c, &e), VEK_OK);
    EXPECT_EQ((std::array<uint32_t, 4>{a, b, c, e}), (std::array<uint32_t, 4>{1, 40, 60, 2}));
    EXPECT_EQ(ec->Peek(0x1A), 30);

    ASSERT_EQ(VEK_EC_SMF_Disable(), VEK_OK);
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    EXPECT_EQ(rpm, 0u);
    ASSERT_EQ(VEK_EC_SMF_Enable(), VEK_OK);
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    EXPECT_EQ(rpm, 4800u * (30 + 70 * 15 / 20) / 100);
}

TEST_F(EcBoardTest, CurrentMonitors) {
    InitBoard(140);
    const struct {
        uint32_t index;
        VEK_RESULT result;
        double amperes;
    } cases[] = {{0, VEK_OK, 1.5}, {1, VEK_OK, -0.25}, {2, VEK_ERR_ARGUMENT, 0}, {3, VEK_ERR_ARGUMENT, 0}};
    for (const auto& c : cases) {
        double v = 0;
        ASSERT_EQ(VEK_HWM_Current(c.index, &v), c.result) << c.index;
        if (c.result == VEK_OK) {
            EXPECT_DOUBLE_EQ(v, c.amperes) << c.index;
        }
    }
}

// ---- kind 100 ----

class Kind100Test : public EcBoardTest {
protected:
    void Boot(uint32_t boardId) {
        UseBoard(boardId);
        ASSERT_EQ(Init(), VEK_OK);
        fans = board->Find<sim::Kind100Fans>();
        ASSERT_NE(fans, nullptr);
        machine().ClearTrace();
    }
    sim::Kind100Fans* fans = nullptr;
};

// The EC model fits the second firmware's fan headers from its own board
// description; the platform rows must route exactly those fans to it, and a
// fan the rows route elsewhere must not be one of its headers.
TEST(Kind100Wiring, RowsRouteExactlyTheFittedHeaders) {
    for (const PlatformEntry& row : kPlatformTable) {
        if (row.name[0] == '\0') continue;
        std::vector<uint32_t> routed;
        for (uint32_t fan = 0; fan + 1 < FAN_OWNER_WORDS; ++fan)
            if (row.fanOwners[0] == OWNER_SPLIT && row.fanOwners[fan + 1] == KIND_EC100) routed.push_back(fan);
        EXPECT_EQ(routed, sim::Kind100FanHeaders(row.boardId)) << row.name;
    }
}

TEST_F(Kind100Test, FanSpeedsFromBankZero) {
    Boot(144);
    for (int i = 0; i < 3; ++i) {
        uint32_t rpm = 0;
        ASSERT_EQ(VEK_HWM_GetFanSpeed(uint32_t(2 * i), &rpm), VEK_OK) << i;
        EXPECT_EQ(rpm, fans->rpm(i)) << i;
        EXPECT_GT(rpm, 0u) << i;
    }
    uint32_t rpm = 1;
    ASSERT_EQ(VEK_HWM_GetFanSpeed(6, &rpm), VEK_OK); // tachometer not settled
    EXPECT_EQ(rpm, 0u);

    machine().ClearTrace();
    ASSERT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    const std::vector<PortOp> expected = {
        W(0x66, 0x81), W(0x62, 0xFF), W(0x62, 0x00),           // bank 0
        W(0x66, 0x80), W(0x62, 0x59), R(0x62, 0x07),           // status
        W(0x66, 0x80), W(0x62, 0x43), R(0x62, uint8_t(rpm >> 8)), // speed high, low
        W(0x66, 0x80), W(0x62, 0x42), R(0x62, uint8_t(rpm)),
    };
    EXPECT_EQ(PortOpsOn(machine(), {0x62, 0x66}), expected);
}

TEST_F(Kind100Test, CurveInBankTwo) {
    Boot(144);
    uint32_t mode = 0, temps[8] = {}, duties[8] = {}, unused = 0;
    ASSERT_EQ(VEK_HWM_GetSmartfan(2, &mode, temps, duties, &unused), VEK_OK);
    EXPECT_EQ(mode, 9u);
    EXPECT_EQ(temps[7], 100u);
    EXPECT_EQ(duties[0], 20u);
    EXPECT_EQ(duties[1], 30u); // not the EC's fixed top duty: this firmware has eight points

    uint8_t newTemps[8] = {20, 30, 40, 50, 60, 70, 80, 90};
    int32_t newDuties[8] = {0, 10, 20, 40, 60, 80, 90, 100};
    ASSERT_EQ(VEK_HWM_SetSmartfan(4, 9, newTemps, newDuties, 0), VEK_OK);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(ec->Peek(uint8_t(0xA0 + 4 * k), 2), newTemps[k]) << k;
        EXPECT_EQ(ec->Peek(uint8_t(0xA1 + 4 * k), 2), newTemps[k]) << k;
        EXPECT_EQ(ec->Peek(uint8_t(0xA2 + 4 * k), 2), newDuties[k]) << k;
    }
    EXPECT_EQ(ec->bank(), 0); // the EC is left in its resting bank

    newDuties[3] = 101;
    EXPECT_EQ(VEK_HWM_SetSmartfan(4, 9, newTemps, newDuties, 0), VEK_ERR_ARGUMENT);
    newDuties[3] = 40;
    EXPECT_EQ(VEK_HWM_SetSmartfan(4, 8, newTemps, newDuties, 0), VEK_ERR_UNSUPPORTED);

    machine().ClearTrace();
    EXPECT_EQ(VEK_HWM_Smartfan_Enable(0), VEK_OK);
    EXPECT_TRUE(PortOpsOn(machine(), {0x62, 0x66}).empty());
    EXPECT_EQ(VEK_HWM_Smartfan_Disable(0), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_SetFanSpeed(0, 50), VEK_ERR_UNSUPPORTED);
}

TEST_F(Kind100Test, RoutinesRejectFansTheFirmwareDoesNotHave) {
    Boot(144);
    const BackendOps& ops = ec::Kind100Ops();
    uint32_t rpm, w[8];
    uint8_t t[8] = {};
    int32_t d[8] = {};
    for (uint32_t fan : {1u, 3u, 7u, 8u, 0xFFFFFFFFu}) {
        EXPECT_EQ(ops.fanSpeed(ctx(), fan, &rpm), VEK_ERR_ARGUMENT) << fan;
        EXPECT_EQ(ops.setFanSpeed(ctx(), fan, 50), VEK_ERR_ARGUMENT) << fan;
        w[0] = 0;
        EXPECT_EQ(ops.getSmartfan(ctx(), fan, w, w, w, w), VEK_ERR_ARGUMENT) << fan;
        EXPECT_EQ(w[0], 9u);
        EXPECT_EQ(ops.setSmartfan(ctx(), fan, 9, t, d, 0), VEK_ERR_ARGUMENT) << fan;
    }
    EXPECT_TRUE(PortOpsOn(machine(), {0x62, 0x66}).empty());
}

TEST_F(Kind100Test, TemperatureOverTheAuxiliaryChannel) {
    Boot(151);
    fans->SetTemperature(0x0123);
    double t = 0;
    ASSERT_EQ(VEK_HWM_Temperature(0, &t), VEK_OK);
    EXPECT_EQ(t, 291.0);
    const std::vector<PortOp> expected = {
        W(0x25D, 0xDD), W(0x25C, 2), W(0x25C, 4), W(0x25C, 0), R(0x25C, 0x23),
        W(0x25D, 0xDD), W(0x25C, 2), W(0x25C, 5), W(0x25C, 0), R(0x25C, 0x01),
    };
    EXPECT_EQ(PortOpsOn(machine(), {0x25C, 0x25D}), expected);
    ASSERT_EQ(VEK_HWM_SysTemperature(&t), VEK_OK);
    EXPECT_EQ(t, 291.0);
    EXPECT_EQ(ec::Kind100Ops().temperature(ctx(), 1, &t), VEK_ERR_UNSUPPORTED);
}

// ---- CPU temperature on EC boards ----

TEST_F(EcBoardTest, CpuTemperatureRule) {
    struct Case {
        uint32_t boardId;
        bool clearSlot;
        double expected;
        VEK_RESULT result;
    };
    const Case cases[] = {
        {11, false, 52, VEK_OK},                        // the EC's sensor
        {80, false, kTjMaxMinusReadout, VEK_OK},        // chipset 12: the processor's own sensor
        {7, false, kTjMaxMinusReadout, VEK_OK},         // no EC sensor: falls back to the processor
        {121, true, 0, VEK_ERR_UNSUPPORTED},            // FCH chipset: no fallback
    };
    for (const Case& c : cases) {
        InitBoard(c.boardId);
        if (c.clearSlot) ec::Area(ctx()).cpuTemp = ec::SLOT_ABSENT;
        double t = 0;
        ASSERT_EQ(VEK_HWM_CPUTemperature(0, &t), c.result) << c.boardId;
        if (c.result == VEK_OK) {
            EXPECT_EQ(t, c.expected) << c.boardId;
        }
    }
}

// ---- which kinds serve the fan-control family ----

int g_fanCalls = 0;
uint32_t CountedSetFan(DeviceContext&, uint32_t, int32_t) { return ++g_fanCalls, VEK_OK; }
uint32_t CountedEnable(DeviceContext&, uint32_t) { return ++g_fanCalls, VEK_OK; }
uint32_t CountedFanSpeed(DeviceContext&, uint32_t, uint32_t* rpm) { return ++g_fanCalls, *rpm = 1, VEK_OK; }
void FanCapable(DeviceContext& c) { c.caps[CAP_FAN] = 1; }

// The ZKEC controller reads its fans but has no duty control, and the
// ChipKind 2 Super I/O has no curves: such calls answer 10 without reaching them.
TEST_F(EcBoardTest, FanControlOnlyOnKindsThatHaveIt) {
    static const BackendOps kRecording = [] {
        BackendOps o{};
        o.configure = &FanCapable;
        o.fanSpeed = &CountedFanSpeed;
        o.setFanSpeed = &CountedSetFan;
        o.smartfanEnable = &CountedEnable;
        return o;
    }();
    OverrideBackend(KIND_ZKEC, &kRecording);
    OverrideBackend(KIND_SIO2, &kRecording);
    const struct {
        uint32_t boardId, fan;
    } cases[] = {{70, 7}, {89, 0}};
    for (const auto& c : cases) {
        InitBoard(c.boardId);
        g_fanCalls = 0;
        uint32_t rpm = 0;
        EXPECT_EQ(VEK_HWM_GetFanSpeed(c.fan, &rpm), VEK_OK) << c.boardId;
        EXPECT_EQ(g_fanCalls, 1) << c.boardId;
        EXPECT_EQ(VEK_HWM_Smartfan_Enable(c.fan), VEK_ERR_UNSUPPORTED) << c.boardId;
        if (c.boardId == 70) {
            EXPECT_EQ(VEK_HWM_SetFanSpeed(c.fan, 50), VEK_ERR_UNSUPPORTED);
        }
        else EXPECT_EQ(VEK_HWM_SetFanSpeed(c.fan, 50), VEK_OK);
        EXPECT_EQ(g_fanCalls, c.boardId == 70 ? 1 : 2) << c.boardId;
    }
}

} // namespace
