// Which context and routine kind serve a call: driven through the exports
// with recording backends on the platform table's telling boards.
#include <cstring>
#include <string>
#include <vector>

#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

struct Seen {
    std::string routine;
    uint32_t kind;
    bool secondary;
    int64_t arg;
};
std::vector<Seen> g_seen;
uint32_t g_answer = VEK_OK; // what recorded routines return

void Note(const char* routine, uint32_t kind, const DeviceContext& ctx, int64_t arg) {
    g_seen.push_back({routine, kind, ctx.isSecondary != 0, arg});
}

// Each fake chip serves two GPIO sets (one on a second chip), fans and sensors.
template <uint32_t K>
void Configure(DeviceContext& c) {
    c.gpioSets[0] = c.isSecondary ? 1 : 2;
    for (int s = 1; s <= 2; ++s) c.gpioSets[s] = 8;
    c.caps[CAP_FAN] = 1;
    c.caps[CAP_CURRENT] = 1;
    c.wdtEc.minCount[0] = 1;
    c.wdtEc.maxCount[0] = 255;
}
template <uint32_t K>
uint32_t GpioRead(DeviceContext& c, int32_t set, uint8_t* v) {
    Note("gpioRead", K, c, set);
    *v = uint8_t(K);
    return g_answer;
}
template <uint32_t K>
uint32_t Trigger(DeviceContext& c) {
    Note("wdtTrigger", K, c, 0);
    return g_answer;
}
template <uint32_t K>
uint32_t Disable(DeviceContext& c) {
    Note("wdtDisable", K, c, 0);
    return g_answer;
}
template <uint32_t K>
uint32_t Temperature(DeviceContext& c, uint32_t sensor, double* v) {
    Note("temperature", K, c, sensor);
    *v = 40;
    return g_answer;
}
template <uint32_t K>
uint32_t CpuTemperature(DeviceContext& c, double* v) {
    Note("cpuTemperature", K, c, 0);
    *v = 61;
    return g_answer;
}
template <uint32_t K>
uint32_t Voltage(DeviceContext& c, uint32_t index, double* v) {
    Note("voltage", K, c, index);
    *v = 12;
    return g_answer;
}
template <uint32_t K>
uint32_t Current(DeviceContext& c, uint32_t index, double* v) {
    Note("current", K, c, index);
    *v = 1;
    return g_answer;
}
template <uint32_t K>
uint32_t FanSpeed(DeviceContext& c, uint32_t fan, uint32_t* rpm) {
    Note("fanSpeed", K, c, fan);
    *rpm = 1000;
    return g_answer;
}
template <uint32_t K>
uint32_t I2cRead(DeviceContext& c, uint32_t, uint32_t protocol, uint32_t bus, uint8_t addressByte, uint32_t,
                 uint32_t length, uint8_t* buffer) {
    Note("i2cRead", K, c, (int64_t(bus) << 16) | (int64_t(protocol) << 8) | addressByte);
    std::memset(buffer, 0x42, length);
    return g_answer;
}
std::vector<uint8_t> g_written;
template <uint32_t K>
uint32_t I2cWrite(DeviceContext& c, uint32_t, uint32_t protocol, uint32_t bus, uint8_t addressByte, uint32_t,
                  uint32_t length, uint8_t* buffer) {
    Note("i2cWrite", K, c, (int64_t(bus) << 16) | (int64_t(protocol) << 8) | addressByte);
    g_written.assign(buffer, buffer + length);
    return g_answer;
}

template <uint32_t K>
BackendOps MakeOps() {
    BackendOps o{};
    o.configure = &Configure<K>;
    o.gpioRead = &GpioRead<K>;
    o.wdtTrigger = &Trigger<K>;
    o.wdtDisable = &Disable<K>;
    o.temperature = &Temperature<K>;
    o.cpuTemperature = &CpuTemperature<K>;
    o.voltage = &Voltage<K>;
    o.current = &Current<K>;
    o.fanSpeed = &FanSpeed<K>;
    o.i2cReadRegister = &I2cRead<K>;
    o.i2cWriteRegister = &I2cWrite<K>;
    return o;
}

const BackendOps kOps1 = MakeOps<1>(), kOps2 = MakeOps<2>(), kOps3 = MakeOps<3>(), kOps4 = MakeOps<4>(),
                 kOps5 = MakeOps<5>(), kOps6 = MakeOps<6>(), kOps100 = MakeOps<100>();

uint32_t SmbusByte(DeviceContext& c, uint32_t read, uint8_t addressByte, uint8_t command, uint8_t* data) {
    Note(read ? "smbusRead" : "smbusWrite", 0, c, (int64_t(addressByte) << 8) | command);
    if (read) *data = command == 0x29 ? 0xC0 : 47; // external sensor: 47.75 degrees
    return g_answer;
}
const SmbusOps kSmbus = [] {
    SmbusOps s{};
    s.byteData = &SmbusByte;
    return s;
}();

// The three boards whose owner data tell the routing rules apart.
const PlatformEntry& ZkecRow() {
    return RowWhere([](const PlatformEntry& r) { return r.boardId == 70 && r.secondaryKind == KIND_ZKEC; });
}
const PlatformEntry& Kind100Row() {
    return RowWhere([](const PlatformEntry& r) { return r.boardId == 151 && r.wdtOwner == KIND_EC100; });
}
const PlatformEntry& SplitSuperIoRow() {
    return RowWhere([](const PlatformEntry& r) { return r.boardId == 89 && r.gpioOwner == OWNER_SPLIT; });
}

class RoutingTest : public SimBoardTest {
protected:
    void SetUp() override {
        g_seen.clear();
        g_answer = VEK_OK;
        for (auto [kind, ops] : {std::pair{1u, &kOps1}, {2u, &kOps2}, {3u, &kOps3}, {4u, &kOps4}, {5u, &kOps5},
                                 {6u, &kOps6}, {11u, &kOps3}, {100u, &kOps100}})
            OverrideBackend(kind, ops);
        OverrideSmbus(&kSmbus);
    }
    void UseBoard(const PlatformEntry& row) {
        Use(row);
        ASSERT_EQ(Init(), VEK_OK);
        g_seen.clear();
    }
    // The routine, kind and chip the last call reached.
    std::tuple<std::string, uint32_t, bool> Last() {
        if (g_seen.empty()) return {"none", 0, false};
        return {g_seen.back().routine, g_seen.back().kind, g_seen.back().secondary};
    }
};

// Board 89: GPIO split between the EC (2 sets) and the Super I/O (1 set).
TEST_F(RoutingTest, SplitGpioSendsUpperSetsToTheSecondChip) {
    UseBoard(SplitSuperIoRow());
    uint8_t v;
    uint32_t count;
    ASSERT_EQ(VEK_GPIO_TotalSet(&count), VEK_OK);
    EXPECT_EQ(count, 3u);
    ASSERT_EQ(VEK_GPIO_TotalNumber(0, &count), VEK_OK);
    EXPECT_EQ(count, 3u);
    ASSERT_EQ(VEK_GPIO_TotalNumber(3, &count), VEK_OK);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(VEK_GPIO_TotalNumber(4, &count), VEK_ERR_ARGUMENT);

    const struct { int32_t set; VEK_RESULT result; uint32_t kind; bool secondary; int64_t setSeen; } cases[] = {
        {1, VEK_OK, 3, false, 1}, {2, VEK_OK, 3, false, 2}, {3, VEK_OK, 2, true, 1},
        {4, VEK_ERR_ARGUMENT, 0, false, 0}, {0, VEK_ERR_ARGUMENT, 0, false, 0}, {-1, VEK_ERR_ARGUMENT, 0, false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        g_seen.clear();
        EXPECT_EQ(VEK_GPIO_Read(c.set, &v), c.result);
        if (c.result != VEK_OK) {
            EXPECT_TRUE(g_seen.empty());
            continue;
        }
        ASSERT_EQ(g_seen.size(), 1u);
        EXPECT_EQ(g_seen[0].kind, c.kind);
        EXPECT_EQ(g_seen[0].secondary, c.secondary);
        EXPECT_EQ(g_seen[0].arg, c.setSeen);
    }
}

// Set 0 of TotalNumber and TotalSet answer from the same chip: the owner's.
// (Fake chips: the primary serves 2 sets, a second chip 1.)
TEST_F(RoutingTest, GpioCountsFollowTheOwner) {
    const struct {
        const char* what;
        uint32_t boardId;
        uint32_t gpioOwner;
        VEK_RESULT result;
        uint32_t sets;
    } cases[] = {
        {"main chip", 71, 0, VEK_OK, 2},
        {"split", 89, OWNER_SPLIT, VEK_OK, 3},
        {"second chip", 93, KIND_SIO5, VEK_OK, 1},
        {"owner without a chip", 155, OWNER_LED_GPIO, VEK_ERR_UNSUPPORTED, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (board) {
            TearDown();
            SetUp();
        }
        UseBoard(RowWhere([&](const PlatformEntry& r) { return r.boardId == c.boardId; }));
        ASSERT_EQ(Lib().primary.gpioOwner, c.gpioOwner);
        uint32_t total = 0xFFFF, number = 0xFFFF;
        EXPECT_EQ(VEK_GPIO_TotalSet(&total), c.result);
        EXPECT_EQ(VEK_GPIO_TotalNumber(0, &number), c.result);
        if (c.result == VEK_OK) {
            EXPECT_EQ(total, c.sets);
            EXPECT_EQ(number, c.sets);
        }
    }
}

TEST_F(RoutingTest, GpioArgumentOrder) {
    UseBoard(SplitSuperIoRow());
    EXPECT_EQ(VEK_GPIO_WritePin(1, 0, 0), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_GPIO_WritePin(1, 9, 0), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_GPIO_WritePin(1, 1, 2), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_GPIO_SetPinDirection(1, 1, 2), VEK_ERR_ARGUMENT);
    Lib().primary.caps[CAP_GPIO] = 0;
    EXPECT_EQ(VEK_GPIO_TotalNumber(9, nullptr), VEK_ERR_ARGUMENT); // set before capability
    EXPECT_EQ(VEK_GPIO_TotalNumber(1, nullptr), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_GPIO_Read(99, nullptr), VEK_ERR_UNSUPPORTED);    // capability before set
}

// Board 89: fans and temperatures on the Super I/O; voltages split by entry.
TEST_F(RoutingTest, OwnerListsOnTheSplitSuperIoBoard) {
    UseBoard(SplitSuperIoRow());
    double d;
    uint32_t rpm;
    const struct { const char* what; std::function<VEK_RESULT()> call; uint32_t kind; bool secondary; } cases[] = {
        {"fan 0", [&] { return VEK_HWM_GetFanSpeed(0, &rpm); }, 2, true},
        {"fan 13 (past the list)", [&] { return VEK_HWM_GetFanSpeed(13, &rpm); }, 2, true},
        {"sensor 3", [&] { return VEK_HWM_Temperature(3, &d); }, 2, true},
        {"voltage 0 (entry 3)", [&] { return VEK_HWM_Voltage(0, &d); }, 3, false},
        {"voltage 2 (entry 2)", [&] { return VEK_HWM_Voltage(2, &d); }, 2, true},
        {"voltage 5 (no entry)", [&] { return VEK_HWM_Voltage(5, &d); }, 3, false},
        {"voltage 6 (entry 2)", [&] { return VEK_HWM_Voltage(6, &d); }, 2, true},
        {"cpu temperature (EC routine)", [&] { return VEK_HWM_CPUTemperature(0, &d); }, 3, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_seen.clear();
        EXPECT_EQ(c.call(), VEK_OK);
        auto [routine, kind, secondary] = Last();
        EXPECT_EQ(kind, c.kind) << routine;
        EXPECT_EQ(secondary, c.secondary);
    }
}

// Board 70: the ZKEC second chip serves fans 7 and 8 and sensors 4 and 5.
TEST_F(RoutingTest, ZkecSecondChipServesItsEntries) {
    UseBoard(ZkecRow());
    double d;
    uint32_t rpm;
    const struct { const char* what; std::function<VEK_RESULT()> call; uint32_t kind; bool secondary; } cases[] = {
        {"fan 0", [&] { return VEK_HWM_GetFanSpeed(0, &rpm); }, 3, false},
        {"fan 1", [&] { return VEK_HWM_GetFanSpeed(1, &rpm); }, 3, false},
        {"fan 7", [&] { return VEK_HWM_GetFanSpeed(7, &rpm); }, 6, true},
        {"fan 8", [&] { return VEK_HWM_GetFanSpeed(8, &rpm); }, 6, true},
        {"fan 14 (at the split limit)", [&] { return VEK_HWM_GetFanSpeed(14, &rpm); }, 6, true},
        {"sensor 4", [&] { return VEK_HWM_Temperature(4, &d); }, 6, true},
        {"sensor 6", [&] { return VEK_HWM_Temperature(6, &d); }, 3, false},
        {"sensor 8 (past the list)", [&] { return VEK_HWM_Temperature(8, &d); }, 6, true},
        {"voltage 11", [&] { return VEK_HWM_Voltage(11, &d); }, 6, true},
        {"voltage 10", [&] { return VEK_HWM_Voltage(10, &d); }, 3, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_seen.clear();
        EXPECT_EQ(c.call(), VEK_OK);
        auto [routine, kind, secondary] = Last();
        EXPECT_EQ(kind, c.kind) << routine;
        EXPECT_EQ(secondary, c.secondary);
    }
    g_seen.clear();
    EXPECT_EQ(VEK_HWM_SysTemperature(&d), VEK_OK); // sensor 0 entry 3: the EC
    EXPECT_EQ(std::get<1>(Last()), 3u);
}

// Board 151: the kind-100 routines serve the watchdog, fans 0 and 2 and sensor 0.
TEST_F(RoutingTest, Kind100EntriesOnTheSuperIoBoard) {
    UseBoard(Kind100Row());
    double d;
    uint32_t rpm;
    EXPECT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_OK);
    EXPECT_EQ(Last(), std::make_tuple(std::string("fanSpeed"), 100u, false));
    EXPECT_EQ(VEK_HWM_GetFanSpeed(1, &rpm), VEK_OK);
    EXPECT_EQ(Last(), std::make_tuple(std::string("fanSpeed"), 1u, false));
    EXPECT_EQ(VEK_HWM_GetFanSpeed(2, &rpm), VEK_OK);
    EXPECT_EQ(std::get<1>(Last()), 100u);
    EXPECT_EQ(VEK_HWM_Temperature(0, &d), VEK_OK);
    EXPECT_EQ(std::get<1>(Last()), 100u);
    EXPECT_EQ(VEK_HWM_Temperature(1, &d), VEK_OK);
    EXPECT_EQ(std::get<1>(Last()), 1u);
    ASSERT_EQ(VEK_WDT_SetConfig(0, 10), VEK_OK);
    EXPECT_EQ(VEK_WDT_Trigger(), VEK_OK);
    EXPECT_EQ(Last(), std::make_tuple(std::string("wdtTrigger"), 100u, false));
}

TEST_F(RoutingTest, WatchdogRunningFlagFollowsTriggerAndDisable) {
    UseBoard(Kind100Row());
    EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
    uint8_t lo = 0, hi = 0;
    ASSERT_EQ(VEK_WDT_GetRange(0, &lo, &hi), VEK_OK);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(uint8_t(1), uint8_t(255)));
    EXPECT_EQ(VEK_WDT_GetRange(2, &lo, &hi), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_WDT_SetConfig(1, 30), VEK_OK);
    uint32_t unit = 9;
    uint8_t count = 0;
    ASSERT_EQ(VEK_WDT_GetConfig(&unit, &count), VEK_OK);
    EXPECT_EQ(unit, 1u);
    EXPECT_EQ(count, 30);
    EXPECT_EQ(VEK_WDT_Trigger(), VEK_OK);
    EXPECT_EQ(VEK_WDT_Available(), VEK_OK);
    EXPECT_EQ(VEK_WDT_Disable(), VEK_OK);
    EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
    Lib().primary.caps[CAP_WDT] = 0;
    EXPECT_EQ(VEK_WDT_SetConfig(2, 10), VEK_ERR_ARGUMENT); // arguments before the capability
    EXPECT_EQ(VEK_WDT_SetConfig(0, 0), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_WDT_SetConfig(0, 10), VEK_ERR_UNSUPPORTED);
}

TEST_F(RoutingTest, CpuTemperatureRule) {
    double d = 0;
    // An EC board on a chipset that reads the processor sensor directly.
    UseBoard(RowWhere([](const PlatformEntry& r) {
              return r.chipKind == KIND_EC && (r.chipsetId == 9 || r.chipsetId == 12 || r.chipsetId == 18) &&
                     r.cpuTempOwner != 2;
          }));
    EXPECT_EQ(VEK_HWM_CPUTemperature(0, &d), VEK_OK);
    EXPECT_TRUE(g_seen.empty());
    EXPECT_EQ(d, double(sim::kBoardTjMax - sim::kBoardThermReadout));
    EXPECT_EQ(VEK_HWM_CPUTemperature(1, &d), VEK_OK);
    EXPECT_EQ(VEK_HWM_CPUTemperature(2, &d), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_CPUTemperature(4, &d), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_CPUTemperature(5, &d), VEK_ERR_ARGUMENT);
    EXPECT_TRUE(LockIsFree());
}

TEST_F(RoutingTest, CpuTemperatureFallsBackToTheProcessorWhenTheChipHasNone) {
    UseBoard(SplitSuperIoRow()); // EC main chip on chipset 16
    g_answer = VEK_ERR_UNSUPPORTED;
    double d = 0;
    EXPECT_EQ(VEK_HWM_CPUTemperature(0, &d), VEK_OK);
    EXPECT_EQ(std::get<0>(Last()), "cpuTemperature");
    EXPECT_EQ(d, double(sim::kBoardTjMax - sim::kBoardThermReadout));
}

TEST_F(RoutingTest, CpuTemperatureFromTheExternalSmbusSensor) {
    UseBoard(RowWhere([](const PlatformEntry& r) { return r.cpuTempOwner == 2; }));
    double d = 0;
    EXPECT_EQ(VEK_HWM_CPUTemperature(0, &d), VEK_OK);
    EXPECT_DOUBLE_EQ(d, 47.75);
    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0].arg, 0x9800);
    EXPECT_EQ(g_seen[1].arg, 0x9829);
}

TEST_F(RoutingTest, HwmArgumentChecks) {
    UseBoard(SplitSuperIoRow());
    double d;
    Lib().primary.caps[CAP_CURRENT] = 1;
    EXPECT_EQ(VEK_HWM_Voltage(19, &d), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_HWM_Current(3, &d), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_HWM_SetFanSpeed(0, 101), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_HWM_SetFanSpeed(0, -1), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_HWM_SetFanSpeed(0, 100), VEK_ERR_UNSUPPORTED); // passed on: the fake has no duty routine
}

// ---- buses ----

TEST_F(RoutingTest, I2cBusesReachTheirMasters) {
    UseBoard(RowWhere([](const PlatformEntry& r) { return r.chipKind == KIND_EC && r.i2cOwners[0] == KIND_EC; }));
    uint8_t v = 0;
    EXPECT_EQ(VEK_I2C_ByteData(1, 0, 0x50, 0x10, &v), VEK_OK);
    EXPECT_EQ(Last(), std::make_tuple(std::string("smbusRead"), 0u, false));
    EXPECT_EQ(g_seen.back().arg, 0xA010); // 7-bit 0x50 doubled
    EXPECT_EQ(VEK_I2C_ByteData(0, 0, 0x50, 0x10, &v), VEK_OK);
    EXPECT_EQ(std::get<0>(Last()), "smbusWrite");
    EXPECT_EQ(VEK_I2C_ByteData(1, 1, 0x50, 0x10, &v), VEK_OK);
    EXPECT_EQ(Last(), std::make_tuple(std::string("i2cRead"), 3u, false));
    EXPECT_EQ(g_seen.back().arg, (1 << 16) | 0xA0);
    g_seen.clear();
    // Owner 3 is the EC context, which has no platform buses: no routine runs.
    EXPECT_EQ(VEK_I2C_ByteData(1, 2, 0x50, 0x10, &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_I2C_Quick(0, 3, 0x50), VEK_ERR_UNSUPPORTED);
    EXPECT_TRUE(g_seen.empty());
    const std::pair<const char*, std::function<VEK_RESULT()>> bad[] = {
        {"address 128", [&] { return VEK_I2C_ByteData(1, 0, 128, 0, &v); }},
        {"bus 4", [&] { return VEK_I2C_ByteData(1, 4, 0x50, 0, &v); }},
        {"direction 2", [&] { return VEK_I2C_ByteData(2, 0, 0x50, 0, &v); }},
    };
    for (const auto& [name, call] : bad) EXPECT_EQ(call(), VEK_ERR_ARGUMENT) << name;
    EXPECT_EQ(VEK_I2C_Quick(1, 9, 0x50), VEK_ERR_UNSUPPORTED); // quick read refused before the bus check
    EXPECT_EQ(VEK_I2C_Quick(0, 9, 0x50), VEK_ERR_ARGUMENT);
}

TEST_F(RoutingTest, SmbusBlockWriteOverTheEcMasterSendsTheCountFirst) {
    UseBoard(RowWhere([](const PlatformEntry& r) { return r.chipKind == KIND_EC && r.i2cOwners[0] == KIND_EC; }));
    uint8_t buffer[8] = {1, 2, 3, 4};
    int32_t count = 4;
    EXPECT_EQ(VEK_I2C_SMBusBlock(0, 1, 0x50, 0x20, &count, buffer), VEK_OK);
    EXPECT_EQ(g_written, (std::vector<uint8_t>{4, 1, 2, 3, 4}));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 5), (std::vector<uint8_t>{4, 1, 2, 3, 4}));
    EXPECT_EQ(g_seen.back().arg, (1 << 16) | (2 << 8) | 0xA0);
}

TEST_F(RoutingTest, BusWithoutAnOwnerAnswers10) {
    UseBoard(RowWhere([](const PlatformEntry& r) { return r.i2cOwners[0] == I2C_NO_OWNER; }));
    uint8_t v;
    EXPECT_EQ(VEK_I2C_ByteData(1, 1, 0x50, 0, &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_I2C_ByteData(1, 2, 0x50, 0, &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_I2C_ByteData(1, 3, 0x50, 0, &v), VEK_ERR_UNSUPPORTED);
}

TEST_F(RoutingTest, SmbusDirectionIsCheckedUnderTheLockAndReleasesIt) {
    UseBoard(SplitSuperIoRow());
    uint8_t v;
    EXPECT_EQ(VEK_SMBus_ByteData(2, 0xA0, 0, &v), VEK_ERR_ARGUMENT);
    EXPECT_TRUE(LockIsFree());
    Lib().primary.smbus.located = 0;
    EXPECT_EQ(VEK_SMBus_Available(), VEK_ERR_STATE);
    Lib().primary.caps[CAP_SMBUS] = 0;
    EXPECT_EQ(VEK_SMBus_ByteData(2, 0xA0, 0, &v), VEK_ERR_UNSUPPORTED); // capability first
    EXPECT_EQ(VEK_I2C_ByteData(1, 0, 0x50, 0, &v), VEK_ERR_UNSUPPORTED);
}

} // namespace
