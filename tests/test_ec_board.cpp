// EC board functions: version texts, counters, storage area, LAN bypass, LEDs,
// button, smart-battery mirror and the beeper. Routines run on a context whose
// register pair points at a recording register file; a few paths run end to
// end on simulated boards.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "backends/ec/board_functions.h"
#include "backends/ec/ec.h"
#include "sim/ec/ec_model.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;
using vek::ec::Area;

namespace {

// ---- a register file that records the writes ----

struct Write {
    uint8_t reg;
    uint8_t value;
    bool operator==(const Write&) const = default;
};

std::array<uint8_t, 256> g_ram;
std::vector<Write> g_writes;
std::function<uint8_t(uint8_t reg, uint8_t stored)> g_readHook;

uint8_t FakeRead(uint32_t reg) {
    const uint8_t v = g_ram[reg & 0xFF];
    return g_readHook ? g_readHook(uint8_t(reg), v) : v;
}
void FakeWrite(uint32_t reg, uint32_t value) {
    g_ram[reg & 0xFF] = uint8_t(value);
    g_writes.push_back({uint8_t(reg), uint8_t(value)});
}

class EcBoardRoutines : public ::testing::Test {
protected:
    void SetUp() override {
        g_ram.fill(0);
        g_writes.clear();
        g_readHook = nullptr;
        ctx = std::make_unique<DeviceContext>();
        ec::EcArea& a = Area(*ctx);
        a.readRegister = &FakeRead;
        a.writeRegister = &FakeWrite;
        std::fill(std::begin(a.ledRegister), std::end(a.ledRegister), uint16_t(255));
        a.buttonRegister = 255;
    }
    void TearDown() override { g_readHook = nullptr; }

    // Two relay segments on the network appliances' registers.
    void LanBoard() {
        ec::EcArea& a = Area(*ctx);
        a.lanSegments = 2;
        const uint8_t regs[9] = {0x40, 0x41, 0x42, 0x43, 0x50, 0x51, 0x52, 0x53, 0x54};
        std::memcpy(a.lanRegister, regs, sizeof regs);
    }
    void Firmware(uint8_t build) {
        g_ram[0x1D] = 0x01, g_ram[0x1E] = 0x05;
        g_ram[0x2D] = 0x25, g_ram[0x2E] = 0x06, g_ram[0x2F] = 0x12;
        g_ram[0x1F] = build;
    }

    DeviceContext& C() { return *ctx; }
    std::unique_ptr<DeviceContext> ctx;
};

TEST_F(EcBoardRoutines, VersionTexts) {
    const struct {
        uint8_t build;
        uint32_t subtype;
        bool byFormat;
        uint32_t result;
        const char* text;
    } cases[] = {
        {0x00, 0, false, VEK_OK, "R01.E05 (06/12/2025)"},
        {0x00, 2, false, VEK_OK, "1.5 (06/12/2025)"},
        {0x7F, 3, false, VEK_OK, "1.5 (06/12/2025)"},        // bit 7 alone picks the build form
        {0x83, 0, false, VEK_OK, "50612T03 (06/12/2025)"},
        {0x8F, 9, false, VEK_OK, "50612T0F (06/12/2025)"},  // build form ignores the subtype
        {0x00, 4, false, VEK_ERR_DRIVER_NOT_STARTED, ""},
        {0x83, 0, true, VEK_OK, "R01.E05 (06/12/2025)"},    // second-chip path skips the build form
        {0x83, 4, true, VEK_ERR_DRIVER_NOT_STARTED, ""},
    };
    for (const auto& c : cases) {
        Firmware(c.build);
        C().subtype = c.subtype;
        char out[ec::EC_TEXT_BYTES] = {};
        const uint32_t r = c.byFormat ? ec::EcVersionTextByFormat(C(), out) : ec::EcVersionText(C(), out);
        EXPECT_EQ(r, c.result) << int(c.build) << " " << c.subtype;
        EXPECT_STREQ(out, c.text) << int(c.build) << " " << c.subtype;
    }
}

TEST_F(EcBoardRoutines, RevisionLetterOnlyOnItsBoard) {
    char out[ec::EC_TEXT_BYTES] = {};
    C().boardId = 71;
    g_ram[0x0D] = 1;
    EXPECT_EQ(ec::EcRevisionLetter(C(), out), VEK_ERR_UNSUPPORTED);
    C().boardId = 70;
    const std::pair<uint8_t, const char*> cases[] = {{0, "Err"}, {1, "A"}, {4, "D"}, {5, "Err"}, {0xFF, "Err"}};
    for (auto [reg, text] : cases) {
        g_ram[0x0D] = reg;
        EXPECT_EQ(ec::EcRevisionLetter(C(), out), std::string(text) == "Err" ? VEK_ERR_READ : VEK_OK);
        EXPECT_STREQ(out, text);
    }
}

TEST_F(EcBoardRoutines, CountersAreLittleEndianAndZeroMeansAbsent) {
    const struct {
        uint8_t first;
        uint8_t bytes[4];
        uint32_t value;
        uint32_t result;
    } cases[] = {
        {0x48, {0x01, 0, 0, 0}, 1, VEK_OK},
        {0x48, {0, 0, 0, 0}, 0, VEK_ERR_UNSUPPORTED},
        {0x48, {0x78, 0x56, 0x34, 0x12}, 0x12345678, VEK_OK},
        {0x44, {0x34, 0x12, 0x02, 0x01}, 0x01020000, VEK_OK},
        {0x44, {0x34, 0x12, 0, 0}, 0, VEK_ERR_UNSUPPORTED}, // only the EC build half set
    };
    for (const auto& c : cases) {
        g_ram.fill(0);
        std::memcpy(&g_ram[c.first], c.bytes, 4);
        uint32_t v = 0xFFFFFFFF;
        const uint32_t r = c.first == 0x48 ? ec::BootCounterRead(C(), &v) : ec::PlatformVersionRead(C(), &v);
        EXPECT_EQ(r, c.result);
        if (r == VEK_OK) {
            EXPECT_EQ(v, c.value);
        }
    }
}

TEST_F(EcBoardRoutines, StorageArea) {
    uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint32_t size = 0;
    C().boardId = 121;
    EXPECT_EQ(ec::StorageCapacity(C(), 0, &size), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(ec::StorageWrite(C(), 0, 0, data, 1), VEK_ERR_UNSUPPORTED);
    C().boardId = 122;
    EXPECT_EQ(ec::StorageCapacity(C(), 0, &size), VEK_OK);
    EXPECT_EQ(size, 8u);

    const struct {
        uint32_t area, offset;
        int32_t length;
    } rejected[] = {{1, 0, 1}, {0, 5, 4}, {0, 0, 0}, {0, 0, -1}, {0, 8, 1}, {0, 0xFFFFFFFF, 2}, {0, 0, 9}};
    for (const auto& r : rejected) {
        EXPECT_EQ(ec::StorageWrite(C(), r.area, r.offset, data, r.length), VEK_ERR_ARGUMENT) << r.offset;
        EXPECT_EQ(ec::StorageRead(C(), r.area, r.offset, data, r.length), VEK_ERR_ARGUMENT) << r.offset;
    }
    EXPECT_TRUE(g_writes.empty());

    ASSERT_EQ(ec::StorageWrite(C(), 0, 4, data, 4), VEK_OK);
    EXPECT_EQ(g_writes, (std::vector<Write>{{0x95, 1}, {0x96, 2}, {0x97, 3}, {0x98, 4}, {0x90, 0}}));
    uint8_t back[3] = {};
    ASSERT_EQ(ec::StorageRead(C(), 0, 5, back, 3), VEK_OK);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 3), (std::vector<uint8_t>{2, 3, 4}));
}

TEST_F(EcBoardRoutines, SmartBatteryMirror) {
    for (int r = 0; r < 256; ++r) g_ram[r] = uint8_t(r);
    uint8_t out[16];
    const struct {
        uint8_t device, command;
        uint32_t result;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {0x16, 0x04, VEK_OK, {0xD0, 0xD1}},
        {0x16, 0x22, VEK_OK, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}},
        {0x16, 0x21, VEK_OK, {0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D}},
        {0x12, 0x13, VEK_OK, {0xC4, 0xC5}},
        {0x14, 0x3C, VEK_OK, {0xC0, 0xC1}},
        {0x16, 0x01, VEK_ERR_ARGUMENT, {}},
        {0x18, 0x04, VEK_OK, {}}, // not a mirrored device: nothing copied
    };
    for (const auto& c : cases) {
        std::memset(out, 0xEE, sizeof out);
        EXPECT_EQ(ec::SmartBatteryRead(C(), c.device, c.command, out), c.result);
        EXPECT_EQ(std::vector<uint8_t>(out, out + c.bytes.size()), c.bytes);
        EXPECT_EQ(out[c.bytes.size()], 0xEE) << "copied past the entry";
    }
}

TEST_F(EcBoardRoutines, LedsAndButton) {
    ec::EcArea& a = Area(C());
    a.ledRegister[2] = 0x5C;
    a.ledBit[2] = 5;
    g_ram[0x5C] = 0x81;
    uint32_t v = 9;
    ASSERT_EQ(ec::LedSet(C(), 2, 1), VEK_OK);
    EXPECT_EQ(g_ram[0x5C], 0xA1);
    ASSERT_EQ(ec::LedGet(C(), 2, &v), VEK_OK);
    EXPECT_EQ(v, 1u);
    ASSERT_EQ(ec::LedSet(C(), 2, 0), VEK_OK);
    EXPECT_EQ(g_ram[0x5C], 0x81);
    EXPECT_EQ(ec::LedSet(C(), 2, 2), VEK_ERR_ARGUMENT);
    EXPECT_EQ(ec::LedSet(C(), 12, 1), VEK_ERR_ARGUMENT);
    EXPECT_EQ(ec::LedGet(C(), 3, &v), VEK_ERR_UNSUPPORTED);

    EXPECT_EQ(ec::ButtonGet(C(), 0, &v), VEK_ERR_UNSUPPORTED);
    a.buttonRegister = 0x47;
    a.buttonMask = 0x03;
    const std::pair<uint8_t, uint32_t> presses[] = {{0x00, 0}, {0x01, 0}, {0x03, 1}, {0xFF, 1}};
    for (auto [reg, state] : presses) {
        g_ram[0x47] = reg;
        ASSERT_EQ(ec::ButtonGet(C(), 0, &v), VEK_OK);
        EXPECT_EQ(v, state) << int(reg);
    }
    EXPECT_EQ(ec::ButtonGet(C(), 1, &v), VEK_ERR_ARGUMENT);
}

// ---- LAN bypass ----

TEST_F(EcBoardRoutines, LanBypassWithoutRelaysOrOutsideTheSegments) {
    uint32_t v;
    EXPECT_EQ(ec::LanBypassSet(C(), 0, 0, 1), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(ec::LanBypassGet(C(), 0, 0, &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(ec::LanBypassTimerTrigger(C(), 0), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(ec::LanBypassTimerDisable(C(), 0), VEK_ERR_UNSUPPORTED);
    LanBoard();
    Area(C()).lanSegments = 1;
    EXPECT_EQ(ec::LanBypassSet(C(), 1, 0, 1), VEK_ERR_ARGUMENT);
    EXPECT_EQ(ec::LanBypassSet(C(), -1, 0, 1), VEK_ERR_ARGUMENT);
    EXPECT_EQ(ec::LanBypassGet(C(), 1, 0, &v), VEK_ERR_ARGUMENT);
    EXPECT_EQ(ec::LanBypassTimerTrigger(C(), 1), VEK_ERR_ARGUMENT);
    EXPECT_EQ(ec::LanBypassTimerDisable(C(), 2), VEK_ERR_ARGUMENT);
    EXPECT_TRUE(g_writes.empty());
}

TEST_F(EcBoardRoutines, LanBypassModesKeepTheOtherSegment) {
    LanBoard();
    const struct {
        int32_t segment;
        uint32_t item;
        uint8_t reg, before;
        int32_t value;
        uint8_t after;
    } cases[] = {
        {1, 2, 0x42, 0x01, 3, 0x31}, {0, 2, 0x42, 0x30, 1, 0x31}, {0, 3, 0x43, 0xFF, 0, 0x30},
        {1, 4, 0x53, 0xFF, 1, 0x13}, {1, 5, 0x54, 0x00, 3, 0x30}, {0, 1, 0x41, 0x12, 3, 0x13},
    };
    for (const auto& c : cases) {
        g_ram[c.reg] = c.before;
        ASSERT_EQ(ec::LanBypassSet(C(), c.segment, c.item, c.value), VEK_OK);
        EXPECT_EQ(g_ram[c.reg], c.after) << c.item;
        uint32_t got = 99;
        ASSERT_EQ(ec::LanBypassGet(C(), uint32_t(c.segment), c.item, &got), VEK_OK);
        EXPECT_EQ(got, uint32_t(c.value));
    }
    // Field value 2 has no mode of its own: it reads as 0.
    g_ram[0x42] = 0x22;
    uint32_t got = 99;
    ASSERT_EQ(ec::LanBypassGet(C(), 1, 2, &got), VEK_OK);
    EXPECT_EQ(got, 0u);
}

TEST_F(EcBoardRoutines, LanBypassArgumentsAndRunningTimer) {
    LanBoard();
    const struct {
        uint32_t item;
        int32_t value;
    } bad[] = {{0, 2}, {0, -1}, {2, 2}, {3, 4}, {6, 2}, {6, 15360}, {7, 0}, {99, 0}};
    for (const auto& b : bad) EXPECT_EQ(ec::LanBypassSet(C(), 0, b.item, b.value), VEK_ERR_ARGUMENT) << b.item;
    uint32_t v;
    EXPECT_EQ(ec::LanBypassGet(C(), 0, 7, &v), VEK_ERR_ARGUMENT);

    // The running timer blocks the items it drives, not the others.
    g_ram[0x50] = 0x01;
    for (uint32_t item : {1u, 4u, 5u}) EXPECT_EQ(ec::LanBypassSet(C(), 0, item, 1), VEK_ERR_STATE) << item;
    EXPECT_EQ(ec::LanBypassSet(C(), 0, 6, 60), VEK_ERR_STATE);
    EXPECT_EQ(ec::LanBypassSet(C(), 0, 2, 1), VEK_OK);
    EXPECT_EQ(ec::LanBypassSet(C(), 0, 0, 1), VEK_OK);

    // Item 1 stops the (stopped) timer before it changes the mode.
    g_ram[0x50] = 0x02;
    g_writes.clear();
    ASSERT_EQ(ec::LanBypassSet(C(), 1, 1, 1), VEK_OK);
    EXPECT_EQ(g_writes, (std::vector<Write>{{0x50, 0}, {0x41, 0x10}}));
}

TEST_F(EcBoardRoutines, LanBypassTimeoutSplitsIntoMinutesAndSeconds) {
    LanBoard();
    ASSERT_EQ(ec::LanBypassSet(C(), 0, 6, 3725), VEK_OK);
    EXPECT_EQ(Area(C()).lanTimerSeconds, 5);
    EXPECT_EQ(Area(C()).lanTimerMinutes, 62);
    EXPECT_EQ(g_writes, (std::vector<Write>{{0x52, 5}, {0x51, 62}}));
    uint32_t v = 0;
    ASSERT_EQ(ec::LanBypassGet(C(), 1, 6, &v), VEK_OK);
    EXPECT_EQ(v, 3725u);
    for (int32_t edge : {3, 15359}) {
        ASSERT_EQ(ec::LanBypassSet(C(), 0, 6, edge), VEK_OK);
        ASSERT_EQ(ec::LanBypassGet(C(), 0, 6, &v), VEK_OK);
        EXPECT_EQ(v, uint32_t(edge));
    }
}

TEST_F(EcBoardRoutines, LanBypassTriggerReadsTheTimeoutBack) {
    LanBoard();
    EXPECT_EQ(ec::LanBypassTimerTrigger(C(), 0), 6u); // nothing programmed
    Area(C()).lanTimerSeconds = 30;
    Area(C()).lanTimerMinutes = 1;

    // The EC keeps the old seconds until the third start.
    int reads = 0;
    g_readHook = [&](uint8_t reg, uint8_t stored) -> uint8_t {
        if (reg != 0x52) return stored;
        return ++reads >= 3 ? stored : uint8_t(stored + 1);
    };
    g_writes.clear();
    ASSERT_EQ(ec::LanBypassTimerTrigger(C(), 1), VEK_OK);
    const Write attempt[] = {{0x52, 30}, {0x51, 1}, {0x50, 1}};
    ASSERT_EQ(g_writes.size(), 9u);
    for (size_t k = 0; k < g_writes.size(); ++k) EXPECT_EQ(g_writes[k], attempt[k % 3]) << k;

    reads = -100; // never matches within the attempts
    g_writes.clear();
    EXPECT_EQ(ec::LanBypassTimerTrigger(C(), 0), VEK_ERR_WRITE);
    EXPECT_EQ(g_writes.size(), 30u);

    g_writes.clear();
    ASSERT_EQ(ec::LanBypassTimerDisable(C(), 0), VEK_OK);
    EXPECT_EQ(g_writes, (std::vector<Write>{{0x50, 0}, {0x52, 30}, {0x51, 1}}));
}

// ---- end to end on simulated boards ----

class EcBoardSim : public SimBoardTest {
protected:
    void Board(uint32_t id) {
        Use(RowWithBoard(id));
        ASSERT_EQ(Init(), VEK_OK);
        ec = board->Find<sim::EcModel>();
        ASSERT_NE(ec, nullptr);
    }
    sim::EcModel* ec = nullptr;
};

TEST_F(EcBoardSim, VersionAndRevisionThroughTheExports) {
    Board(70);
    const uint8_t fw[][2] = {{0x1D, 0x01}, {0x1E, 0x05}, {0x1F, 0x83}, {0x2D, 0x25}, {0x2E, 0x06}, {0x2F, 0x12}};
    for (auto [reg, v] : fw) ec->Poke(reg, v);
    char out[80] = {};
    ASSERT_EQ(VEK_Board_GetECVersion(out), VEK_OK);
    EXPECT_STREQ(out, "50612T03 (06/12/2025)");
    ASSERT_EQ(VEK_Board_GetECInfo(0, out), VEK_OK);
    EXPECT_STREQ(out, "50612T03 (06/12/2025)");
    ASSERT_EQ(VEK_Board_GetECInfo(16, out), VEK_OK);
    EXPECT_STREQ(out, "A"); // the board's EC reports revision 1
    EXPECT_EQ(VEK_Board_GetECInfo(1, out), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_Board_GetECInfo(128, out), VEK_OK); // the second chip's version
    EXPECT_EQ(VEK_Board_GetECVersion(nullptr), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_Board_GetECInfo(0, nullptr), VEK_ERR_ARGUMENT);
}

TEST_F(EcBoardSim, LanBypassTimerRunsInTheEc) {
    Board(124);
    ASSERT_EQ(VEK_LANBYPASS_Mode_Set(0, 6, 90), VEK_OK);
    ASSERT_EQ(VEK_LANBYPASS_WDT_Trigger(1), VEK_OK);
    EXPECT_TRUE(ec->lan_timer().running);
    EXPECT_EQ(VEK_LANBYPASS_Mode_Set(0, 1, 1), VEK_ERR_STATE);
    machine().Advance(91'000'000'000);
    EXPECT_FALSE(ec->lan_timer().running);
    EXPECT_EQ(ec->lan_timer().expiries, 1);
    EXPECT_EQ(VEK_LANBYPASS_Mode_Set(0, 1, 1), VEK_OK);
    uint32_t v = 0;
    EXPECT_EQ(VEK_LANBYPASS_Mode_Get(0, 6, nullptr), VEK_ERR_ARGUMENT);
    ASSERT_EQ(VEK_LANBYPASS_Mode_Get(0, 6, &v), VEK_OK);
    EXPECT_EQ(v, 90u);
    EXPECT_TRUE(LockIsFree());
}

TEST_F(EcBoardSim, StorageAreaOnlyOnItsBoard) {
    Board(122);
    uint8_t data[2] = {0xC0, 0xDE};
    ASSERT_EQ(VEK_StorageArea_Write(0, 6, data, 2), VEK_OK);
    EXPECT_EQ(ec->Peek(0x97), 0xC0);
    EXPECT_EQ(ec->Peek(0x98), 0xDE);
    EXPECT_EQ(VEK_StorageArea_Write(0, 6, nullptr, 2), VEK_ERR_ARGUMENT);
    Board(124); // a board without the area
    uint32_t size = 0;
    EXPECT_EQ(VEK_StorageArea_Capacity(0, &size), VEK_ERR_UNSUPPORTED);
}

TEST_F(EcBoardSim, LedsAndButtonOnTheApplianceFrontPanel) {
    Board(125);
    ASSERT_EQ(VEK_LED_Set(6, 1), VEK_OK);
    EXPECT_EQ(ec->Peek(0x5C), 0x40);
    uint32_t v = 0;
    ASSERT_EQ(VEK_LED_Get(6, &v), VEK_OK);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(VEK_LED_Get(8, &v), VEK_ERR_UNSUPPORTED);
    ec->Poke(0x5B, 0x01);
    ASSERT_EQ(VEK_Button_Get(0, &v), VEK_OK);
    EXPECT_EQ(v, 1u);
}

TEST_F(EcBoardSim, EcBeeperSoundsTwentyTimesASecond) {
    Board(140);
    ASSERT_EQ(Lib().primary.caps[CAP_SPEAKER], 2u);
    machine().ClearTrace();
    const int64_t t0 = machine().now_ns();
    ASSERT_EQ(VEK_HWM_SetBeep(0, 2), VEK_OK); // the frequency is the beeper's own
    int beeps = 0;
    for (const sim::TraceEntry& e : machine().trace())
        beeps += e.kind == sim::Access::PortWrite && e.address == 0xE300 + 0x39 && e.value == 1;
    EXPECT_EQ(beeps, 40);
    EXPECT_NEAR(double(machine().now_ns() - t0) / 1e9, 2.0, 0.01);
}

// No shipped row enables the mirror; a build that does gets the EC's copy.
TEST_F(EcBoardSim, SmartBatteryNeedsItsCapability) {
    Board(124);
    uint8_t out[2] = {};
    EXPECT_EQ(VEK_EC_SmartBattery(0x16, 0x0D, out), VEK_ERR_UNSUPPORTED);
    Lib().primary.caps[CAP_SMART_BATTERY] = 1;
    ec->Poke(0x5E, 0x55);
    ec->Poke(0x5F, 0x00);
    ASSERT_EQ(VEK_EC_SmartBattery(0x16, 0x0D, out), VEK_OK); // relative state of charge
    EXPECT_EQ(out[0], 0x55);
    EXPECT_EQ(VEK_EC_SmartBattery(0x16, 0x0D, nullptr), VEK_ERR_ARGUMENT);
}

// The counter's top byte is read first; the platform version keeps its board half.
TEST_F(EcBoardSim, CountersThroughTheExports) {
    Board(124);
    const uint8_t boot[4] = {0x02, 0x01, 0, 0}, version[4] = {0x34, 0x12, 0x02, 0x01};
    for (int k = 0; k < 4; ++k) {
        ec->Poke(uint8_t(0x48 + k), boot[k]);
        ec->Poke(uint8_t(0x44 + k), version[k]);
    }
    machine().ClearTrace();
    uint32_t v = 0;
    ASSERT_EQ(VEK_Get_Boot_Counter(&v), VEK_OK);
    EXPECT_EQ(v, 0x0102u);
    std::vector<uint64_t> reads;
    for (const sim::TraceEntry& e : machine().trace())
        if (e.kind == sim::Access::PortRead) reads.push_back(e.address);
    EXPECT_EQ(reads, (std::vector<uint64_t>{0xE34B, 0xE34A, 0xE349, 0xE348}));
    ASSERT_EQ(VEK_Get_Platform_Version(&v), VEK_OK);
    EXPECT_EQ(v, 0x01020000u);
    EXPECT_EQ(VEK_Get_Boot_Counter(nullptr), VEK_ERR_ARGUMENT);
}

} // namespace
