// The controller behind the ZKEC driver (second chip of the SBX-870): its
// configuration, readings, version text and the driver's begin/end bracket,
// through the exports against the simulated controller.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "backends/zkec/zkec.h"
#include "sim/ec/ec_model.h"
#include "sim/zkec/zkec_model.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;
using sim::ZkecModel;

namespace {

constexpr uint32_t kBoard = 70;
constexpr uint8_t kEcHwRevision = 0x0D;

uint16_t L11(int exponent, int mantissa) { return uint16_t(((exponent & 0x1F) << 11) | (mantissa & 0x7FF)); }

class ZkecBoard : public SimBoardTest {
protected:
    void SetUp() override {
        Use(RowWhere([](const PlatformEntry& r) { return r.boardId == kBoard && r.secondaryKind == KIND_ZKEC; }));
        zkec = board->Find<ZkecModel>();
        ASSERT_NE(zkec, nullptr);
    }
    void InitOk() {
        ASSERT_EQ(Init(), VEK_OK);
        machine().ClearTrace();
    }
    DeviceContext& second() { return Lib().secondary; }
    const zkec::ZkecArea& area() { return AreaOf<zkec::ZkecArea>(second()); }

    // The driver requests of the last call: 'B' begin, 'E' end, the register of each read.
    std::vector<std::string> Requests() {
        std::vector<std::string> out;
        for (const sim::TraceEntry& e : machine().trace()) {
            if (e.kind == sim::Access::ZkecBegin) out.push_back("B");
            if (e.kind == sim::Access::ZkecEnd) out.push_back("E");
            if (e.kind == sim::Access::ZkecRead) {
                char reg[8];
                std::snprintf(reg, sizeof reg, "%02X", unsigned(e.address));
                out.push_back(reg);
            }
        }
        return out;
    }
    using Strings = std::vector<std::string>;

    ZkecModel* zkec = nullptr;
};

// ---- configuration ----

TEST_F(ZkecBoard, RevisionAConfiguresTheControllerAndOpensTheDevice) {
    InitOk();
    EXPECT_TRUE(machine().zkec_open());
    EXPECT_EQ(second().subtype, 1u);
    EXPECT_EQ(second().ioDelay, 5);
    EXPECT_EQ(second().gpioSets[0], 0u);
    for (uint32_t c = 0; c < CAP_COUNT; ++c) {
        const bool served = c == CAP_FAN || c == CAP_VOLTAGE || c == CAP_TEMPERATURE;
        EXPECT_EQ(second().caps[c], served ? 1u : 0u) << "word " << c;
    }
    // The main chip's words carry the second chip in bit 1.
    for (Capability c : {CAP_FAN, CAP_VOLTAGE, CAP_TEMPERATURE}) EXPECT_EQ(Lib().primary.caps[c] & 2, 2u) << c;

    // Which registers each item reads is in the access-sequence test below.
    EXPECT_EQ(area().map.enabled, 1);
}

// Without the controller's layout (other revisions) or without its driver the
// second chip offers nothing, and what still reaches it cannot begin.
TEST_F(ZkecBoard, OtherRevisionsAndAMissingDriverOfferNothing) {
    const struct { const char* what; uint8_t revision; bool driver; const char* printed; } cases[] = {
        {"revision B", 2, true, ""},
        {"unknown revision", 9, true, ""},
        {"driver missing", 1, false, "Load ZKEC driver failed - 2\nVEK will not support ZKEC related function\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rebuild();
        zkec = board->Find<ZkecModel>();
        board->machine().SetZkecPresent(c.driver);
        // The EC hands its hardware revision to the second chip.
        board->Find<sim::EcModel>()->Poke(kEcHwRevision, c.revision);
        testing::internal::CaptureStdout();
        ASSERT_EQ(Init(), VEK_OK);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
        EXPECT_FALSE(machine().zkec_open());
        EXPECT_EQ(area().map.enabled, 0);
        for (Capability cap : {CAP_FAN, CAP_VOLTAGE, CAP_TEMPERATURE}) {
            EXPECT_EQ(second().caps[cap], 0u) << cap;
            EXPECT_EQ(Lib().primary.caps[cap] & 2, 0u) << cap;
        }
        uint32_t rpm = 0;
        double v = 0;
        char text[32];
        EXPECT_EQ(VEK_HWM_GetFanSpeed(7, &rpm), VEK_ERR_UNSUPPORTED); // the serving chip's own word is 0
        EXPECT_EQ(VEK_HWM_Temperature(4, &v), VEK_ERR_DRIVER_START);  // the EC's word lets it through
        EXPECT_EQ(VEK_HWM_Voltage(12, &v), VEK_ERR_DRIVER_START);
        EXPECT_EQ(VEK_Board_GetECInfo(128, text), c.revision == 1 ? VEK_ERR_DRIVER_START : VEK_ERR_UNSUPPORTED);
        EXPECT_EQ(zkec->sessions(), 0);
        VEK_API_Uninit();
    }
}

// ---- readings ----

// Fans and sensors are LINEAR11 (0 = no reading), rail 11 LINEAR11, rail 12
// LINEAR16 with its exponent register.
TEST_F(ZkecBoard, ReadingsDecodePmbusWords) {
    InitOk();
    enum Family { Fan, Sensor, Rail };
    const struct {
        Family family;
        uint32_t index;
        uint8_t low;
        uint16_t raw;
        VEK_RESULT result;
        double value;
        uint8_t mode = 0;
    } cases[] = {
        {Fan, 7, ZkecModel::kFan1Low, 0x0801, VEK_OK, 2},       // mantissa 1, exponent 1
        {Fan, 8, ZkecModel::kFan2Low, L11(1, 1200), VEK_OK, 2400},
        {Fan, 7, ZkecModel::kFan1Low, L11(0, 2047), VEK_OK, 2047}, // bit 10 set is still a speed
        {Fan, 8, ZkecModel::kFan2Low, L11(15, 2047), VEK_OK, 2047.0 * 32768},
        {Fan, 7, ZkecModel::kFan1Low, L11(-1, 3), VEK_OK, 1},   // 1.5 rpm: the fraction is dropped
        {Fan, 8, ZkecModel::kFan2Low, 0x0000, VEK_ERR_DEVICE, 0},
        {Sensor, 4, ZkecModel::kTemp1Low, 0xE8C8, VEK_OK, 25.0}, // exponent -3, mantissa 200
        {Sensor, 320, ZkecModel::kTemp1Low, L11(-1, 83), VEK_OK, 41.5},
        {Sensor, 5, ZkecModel::kTemp2Low, L11(-2, -40), VEK_OK, -10.0}, // below freezing
        {Sensor, 321, ZkecModel::kTemp2Low, L11(1, 50), VEK_OK, 100.0},  // a positive exponent multiplies
        {Sensor, 320, ZkecModel::kTemp1Low, 0x0000, VEK_ERR_DEVICE, 0},
        {Rail, 11, ZkecModel::kRailALow, L11(-2, 48), VEK_OK, 12.0},
        {Rail, 11, ZkecModel::kRailALow, 0x0000, VEK_OK, 0.0},  // zero is a reading here
        {Rail, 12, ZkecModel::kRailBLow, 2560, VEK_OK, 5.0, 0x17},
        {Rail, 12, ZkecModel::kRailBLow, 2560, VEK_OK, 5.0, 0xE0 | 0x17}, // mode bits above ignored
        {Rail, 12, ZkecModel::kRailBLow, 13517, VEK_OK, 13517.0 / 4096, 0x14},
        {Rail, 12, ZkecModel::kRailBLow, 3, VEK_OK, 12.0, 0x02},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "item " << c.index << " raw " << std::hex << c.raw);
        zkec->SetWord(c.low, uint8_t(c.low + 1), c.raw);
        zkec->Poke(ZkecModel::kRailBMode, c.mode);
        uint32_t rpm = 0;
        double v = -999;
        const VEK_RESULT r = c.family == Fan      ? VEK_HWM_GetFanSpeed(c.index, &rpm)
                             : c.family == Sensor ? VEK_HWM_Temperature(c.index, &v)
                                                  : VEK_HWM_Voltage(c.index, &v);
        EXPECT_EQ(r, c.result);
        if (r == VEK_OK) {
            EXPECT_DOUBLE_EQ(c.family == Fan ? double(rpm) : v, c.value);
        }
    }
}

// The access sequence: one bracket per call, the high byte before the low one.
TEST_F(ZkecBoard, EachReadingIsOneBracketHighByteFirst) {
    InitOk();
    uint32_t rpm;
    double v;
    char text[32];
    const struct { const char* what; std::function<VEK_RESULT()> call; Strings requests; } cases[] = {
        {"fan 7", [&] { return VEK_HWM_GetFanSpeed(7, &rpm); }, {"B", "91", "90", "E"}},
        {"fan 8", [&] { return VEK_HWM_GetFanSpeed(8, &rpm); }, {"B", "A1", "A0", "E"}},
        {"sensor 321", [&] { return VEK_HWM_Temperature(321, &v); }, {"B", "A3", "A2", "E"}},
        {"rail 11", [&] { return VEK_HWM_Voltage(11, &v); }, {"B", "95", "94", "E"}},
        {"rail 12", [&] { return VEK_HWM_Voltage(12, &v); }, {"B", "97", "96", "98", "E"}},
        {"version", [&] { return VEK_Board_GetECInfo(128, text); }, {"B", "1D", "1E", "2E", "2F", "2D", "E"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        machine().ClearTrace();
        EXPECT_EQ(c.call(), VEK_OK);
        EXPECT_EQ(Requests(), c.requests);
        EXPECT_FALSE(zkec->access());
    }
}

// Items the owner lists send to the second chip that it does not serve, and
// index checks inside the bracket: the bracket is closed on every path.
TEST_F(ZkecBoard, IndexResultsAndTheBracketClosedOnEveryPath) {
    InitOk();
    const BackendOps& ops = zkec::Ops();
    uint32_t rpm;
    double v;
    const struct { const char* what; std::function<uint32_t()> call; uint32_t result; } cases[] = {
        {"fan 6", [&] { return ops.fanSpeed(second(), 6, &rpm); }, VEK_ERR_UNSUPPORTED},
        {"fan 9", [&] { return ops.fanSpeed(second(), 9, &rpm); }, VEK_ERR_ARGUMENT},
        {"fan 14 (export)", [&] { return VEK_HWM_GetFanSpeed(14, &rpm); }, VEK_ERR_ARGUMENT},
        {"sensor 3", [&] { return ops.temperature(second(), 3, &v); }, VEK_ERR_UNSUPPORTED},
        {"sensor 6", [&] { return ops.temperature(second(), 6, &v); }, VEK_ERR_ARGUMENT},
        {"sensor 322 (export)", [&] { return VEK_HWM_Temperature(322, &v); }, VEK_ERR_ARGUMENT},
        {"rail 10", [&] { return ops.voltage(second(), 10, &v); }, VEK_ERR_UNSUPPORTED},
        {"rail 17", [&] { return ops.voltage(second(), 17, &v); }, VEK_ERR_UNSUPPORTED},
        {"rail 18", [&] { return ops.voltage(second(), 18, &v); }, VEK_ERR_ARGUMENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        machine().ClearTrace();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(Requests(), (Strings{"B", "E"}));
        EXPECT_FALSE(zkec->access());
    }
    EXPECT_EQ(zkec->refused(), 0);
}

TEST_F(ZkecBoard, AnAbsentRegisterAnswersTen) {
    InitOk();
    AreaOf<zkec::ZkecArea>(second()).map.fan8.high = zkec::REG_ABSENT;
    AreaOf<zkec::ZkecArea>(second()).map.voltage12Exponent = zkec::REG_ABSENT;
    uint32_t rpm;
    double v;
    EXPECT_EQ(VEK_HWM_GetFanSpeed(8, &rpm), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_Voltage(12, &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_GetFanSpeed(7, &rpm), VEK_OK);
    EXPECT_EQ(Requests(), (Strings{"B", "E", "B", "E", "B", "91", "90", "E"}));
}

// ---- version ----

TEST_F(ZkecBoard, VersionTextOfItem128) {
    InitOk();
    const struct { uint8_t release, revision, month, day, year; const char* text; } cases[] = {
        {0x01, 0x02, 0x12, 0x31, 0x23, "R01.E02 (12/31/2023)"},
        {0xAB, 0x00, 0x01, 0x09, 0x99, "RAB.E00 (01/09/2099)"},
    };
    for (const auto& c : cases) {
        zkec->Poke(ZkecModel::kFwRelease, c.release);
        zkec->Poke(ZkecModel::kFwRevision, c.revision);
        zkec->Poke(ZkecModel::kFwMonth, c.month);
        zkec->Poke(ZkecModel::kFwDay, c.day);
        zkec->Poke(ZkecModel::kFwYear, c.year);
        char out[80];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(VEK_Board_GetECInfo(128, out), VEK_OK);
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(out[21], '#') << "nothing past the terminator";
    }
}

// ---- the driver's bracket failing ----

// A refused begin is 3 with nothing else sent; a controller that stops
// answering mid-bracket fails the version (8, text still written) and leaves
// readings without data (17), while the bracket is still closed.
TEST_F(ZkecBoard, BeginAndReadFailures) {
    InitOk();
    uint32_t rpm = 0;
    double v = 0;
    char text[32];
    using Setup = std::function<void()>;
    const Setup refuseBegin = [&] { zkec->SetHeldElsewhere(true); };
    const Setup pending = [&] { machine().SetZkecPending(true); };
    const Setup stopAfterTwo = [&] { zkec->StopAnsweringAfter(2); };
    const struct {
        const char* what;
        Setup fault;
        std::function<VEK_RESULT()> call;
        VEK_RESULT result;
        Strings requests;
    } cases[] = {
        {"fan, begin refused", refuseBegin, [&] { return VEK_HWM_GetFanSpeed(7, &rpm); }, VEK_ERR_DRIVER_START, {"B"}},
        {"sensor, begin refused", refuseBegin, [&] { return VEK_HWM_Temperature(4, &v); }, VEK_ERR_DRIVER_START, {"B"}},
        {"rail, begin refused", refuseBegin, [&] { return VEK_HWM_Voltage(11, &v); }, VEK_ERR_DRIVER_START, {"B"}},
        {"version, begin refused", refuseBegin, [&] { return VEK_Board_GetECInfo(128, text); }, VEK_ERR_DRIVER_START,
         {"B"}},
        {"fan, request pending", pending, [&] { return VEK_HWM_GetFanSpeed(8, &rpm); }, VEK_ERR_DRIVER_START, {}},
        {"version, request pending", pending, [&] { return VEK_Board_GetECInfo(128, text); }, VEK_ERR_DRIVER_START, {}},
        {"version, stops mid-bracket", stopAfterTwo, [&] { return VEK_Board_GetECInfo(128, text); }, VEK_ERR_READ,
         {"B", "1D", "1E", "2E", "2F", "2D", "E"}},
        {"fan, stops at once", [&] { zkec->StopAnsweringAfter(0); }, [&] { return VEK_HWM_GetFanSpeed(7, &rpm); },
         VEK_ERR_DEVICE, {"B", "91", "90", "E"}},
        {"sensor, stops at once", [&] { zkec->StopAnsweringAfter(0); }, [&] { return VEK_HWM_Temperature(5, &v); },
         VEK_ERR_DEVICE, {"B", "A3", "A2", "E"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        machine().ClearTrace();
        c.fault();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(Requests(), c.requests);
        EXPECT_FALSE(zkec->access());
        zkec->Recover();
        machine().SetZkecPending(false);
        EXPECT_EQ(VEK_HWM_GetFanSpeed(7, &rpm), VEK_OK) << "the next call begins afresh";
    }
    zkec->StopAnsweringAfter(2);
    EXPECT_EQ(VEK_Board_GetECInfo(128, text), VEK_ERR_READ);
    EXPECT_STREQ(text, "R01.E07 (00/00/2000)");
}

// ---- lifetime and routing ----

TEST_F(ZkecBoard, UninitClosesTheDeviceAndInitOpensItAgain) {
    InitOk();
    EXPECT_TRUE(machine().zkec_open());
    EXPECT_EQ(VEK_API_Uninit(), VEK_OK);
    EXPECT_FALSE(machine().zkec_open());
    uint32_t rpm;
    EXPECT_EQ(VEK_HWM_GetFanSpeed(7, &rpm), VEK_ERR_NOT_INITIALISED);
    InitOk();
    EXPECT_TRUE(machine().zkec_open());
    EXPECT_EQ(VEK_HWM_GetFanSpeed(7, &rpm), VEK_OK);
}

// Through the owner lists: which chip answers each item of the three families,
// read from the seeded controller and the EC. Every item the board's words
// offer answers something other than 10.
TEST_F(ZkecBoard, OwnerListsSendTheSecondChipsItemsToIt) {
    InitOk();
    uint32_t rpm = 0;
    double v = 0;
    const struct { const char* what; std::function<VEK_RESULT()> call; bool zkec; double value; } cases[] = {
        {"fan 7", [&] { return VEK_HWM_GetFanSpeed(7, &rpm); }, true, 2400},
        {"fan 8", [&] { return VEK_HWM_GetFanSpeed(8, &rpm); }, true, 1800},
        {"fan 0", [&] { return VEK_HWM_GetFanSpeed(0, &rpm); }, false, -1},
        {"sensor 4", [&] { return VEK_HWM_Temperature(4, &v); }, true, 37.5},
        {"sensor 5", [&] { return VEK_HWM_Temperature(5, &v); }, true, 41.5},
        {"sensor 0", [&] { return VEK_HWM_Temperature(0, &v); }, false, -1},
        {"system sensor", [&] { return VEK_HWM_SysTemperature(&v); }, false, -1},
        {"rail 11", [&] { return VEK_HWM_Voltage(11, &v); }, true, 12.0},
        {"rail 12", [&] { return VEK_HWM_Voltage(12, &v); }, true, 5.0},
        {"rail 0", [&] { return VEK_HWM_Voltage(0, &v); }, false, -1},
        {"rail 4", [&] { return VEK_HWM_Voltage(4, &v); }, false, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int before = zkec->sessions();
        rpm = 0;
        v = -1;
        const VEK_RESULT r = c.call();
        EXPECT_NE(r, VEK_ERR_UNSUPPORTED);
        EXPECT_EQ(zkec->sessions() - before, c.zkec ? 1 : 0);
        if (c.zkec) {
            EXPECT_EQ(r, VEK_OK);
            EXPECT_DOUBLE_EQ(std::string(c.what).starts_with("fan") ? double(rpm) : v, c.value);
        }
    }
    char text[32];
    EXPECT_EQ(VEK_Board_GetECInfo(128, text), VEK_OK);
    EXPECT_STREQ(text, "R01.E07 (03/15/2024)");
}

} // namespace
