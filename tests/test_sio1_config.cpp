// ChipKind 1 configuration: every kind-1 row comes up and offers what its
// capability words say; the exact key and configuration writes at init; the
// subtypes no row uses; the chip's key state machine and its faults; the pause.
#include <algorithm>
#include <set>

#include "backends/sio1/config.h"
#include "hal/hal.h"
#include "sio1_test_util.h"

using namespace vek;
using namespace vek::test;

namespace {

// Families whose answer on a board is 10 by its data, not by missing code.
struct Expected10 {
    uint32_t boardId;
    const char* family;
};
constexpr Expected10 kExpected10[] = {
    {4, "temperature"}, // the board has no board sensor wired, and its word stays as the family default
    {2, "fan"},         // no data of its own: the defaults fit no fan
};
bool Expects10(uint32_t boardId, const std::string& family) {
    return std::any_of(std::begin(kExpected10), std::end(kExpected10),
                       [&](const Expected10& e) { return e.boardId == boardId && family == e.family; });
}

// Board 2 has no data of its own and runs on the defaults.
constexpr uint32_t kBoardOnDefaults = 2;

TEST(Sio1Rows, FortyFourRowsAndEveryOtherBoardHasData) {
    std::set<uint32_t> ids;
    for (const PlatformEntry* r : Sio1Rows()) {
        ids.insert(r->boardId);
        EXPECT_EQ(sio1::BoardOf(r->boardId) != nullptr, r->boardId != kBoardOnDefaults) << NameOf(*r);
    }
    EXPECT_EQ(Sio1Rows().size(), 44u);
    EXPECT_EQ(ids.size(), sio1::BoardRows().size() + 1);
}

class Sio1ConfigTest : public Sio1Test {};

// A board without its own row keeps the defaults: no pins (not sixteen phantom
// pins of group 0), no fans fitted, the 5 V input on its default register.
TEST_F(Sio1ConfigTest, ABoardWithoutDataKeepsTheDefaults) {
    InitBoard(kBoardOnDefaults);
    EXPECT_EQ(ctx().gpioSets[0], 0u);
    EXPECT_EQ(ctx().gpioSets[1] + ctx().gpioSets[2], 0u);
    for (uint8_t code : area().pinCode) EXPECT_EQ(code, sio1::PIN_NONE);
    uint32_t rpm = 0;
    for (uint32_t fan = 0; fan < 3; ++fan) EXPECT_FALSE(area().fan[fan].present) << fan;
    EXPECT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(area().voltReg[3], 0x23);
    EXPECT_EQ(area().voltReg[0] | area().voltReg[1] | area().voltReg[2] | area().voltReg[4], 0);
}

TEST_F(Sio1ConfigTest, EveryRowInitialisesAndOffersItsFamilies) {
    for (const PlatformEntry* row : Sio1Rows()) {
        const std::string name = NameOf(*row);
        UseRow(*row);
        ASSERT_EQ(Init(), VEK_OK) << name;
        ExpectChipIdle(name + " after init");
        EXPECT_EQ(area().hwmIndexPort, 0x295) << name;
        EXPECT_EQ(ctx().ioDelay, 5) << name;

        // Pins counted from the board's entries.
        if (row->gpioOwner == 0 && ctx().caps[CAP_GPIO] != 0) {
            const sio1::BoardRow* b = sio1::BoardOf(row->boardId);
            uint32_t counted[2] = {0, 0};
            for (size_t i = 0; b != nullptr && i < b->pins.size(); ++i)
                if ((b->pins[i] >> 4) != sio1::GROUP_NONE) ++counted[i / 8];
            EXPECT_EQ(ctx().gpioSets[1], counted[0]) << name;
            EXPECT_EQ(ctx().gpioSets[2], counted[1]) << name;
            EXPECT_EQ(ctx().gpioSets[0], counted[1] ? 2u : counted[0] ? 1u : 0u) << name;
        }

        // Each family the words offer answers something other than 10.
        auto offered = [&](Capability c) { return ctx().caps[c] != 0; };
        auto check = [&](const char* family, bool anyNot10) {
            if (Expects10(row->boardId, family))
                EXPECT_FALSE(anyNot10) << name << " " << family;
            else
                EXPECT_TRUE(anyNot10) << name << " " << family;
        };
        uint8_t byte = 0;
        double value = 0;
        uint32_t u = 0;
        if (offered(CAP_GPIO)) {
            uint32_t sets = 0;
            ASSERT_EQ(VEK_GPIO_TotalSet(&sets), VEK_OK);
            if (sets > 0) check("gpio", VEK_GPIO_Read(1, &byte) != VEK_ERR_UNSUPPORTED);
            // Every mapped pin drives what it is told: its group is on and
            // the pin routed to GPIO.
            if (row->gpioOwner == 0)
                for (int32_t set = 1; set <= int32_t(ctx().gpioSets[0]); ++set)
                    for (int32_t pin = 1; pin <= 8; ++pin) {
                        if (area().pinLdn[(set == 1 ? 0 : 8) + pin - 1] == sio1::LDN_NONE) continue;
                        ASSERT_EQ(VEK_GPIO_SetPinDirection(set, pin, 0), VEK_OK);
                        for (uint8_t level : {1, 0}) {
                            ASSERT_EQ(VEK_GPIO_WritePin(set, pin, level), VEK_OK);
                            ASSERT_EQ(VEK_GPIO_ReadPin(set, pin, &byte), VEK_OK);
                            EXPECT_EQ(byte, level) << name << " set " << set << " pin " << pin;
                        }
                    }
        }
        if (offered(CAP_WDT)) {
            check("watchdog", VEK_WDT_Trigger() != VEK_ERR_UNSUPPORTED);
            EXPECT_EQ(VEK_WDT_Disable(), VEK_OK) << name;
        }
        // Armed for 5 s, the chip resets the board after 5 s and not before
        // (where the chip serves the watchdog; kind-100 routines serve some).
        if (offered(CAP_WDT) && row->wdtOwner == 0) {
            const int before = chip->watchdog().expiries;
            ASSERT_EQ(VEK_WDT_SetConfig(0, 5), VEK_OK);
            ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
            machine().Advance(4'900'000'000);
            EXPECT_EQ(chip->watchdog().expiries, before) << name;
            machine().Advance(200'000'000);
            EXPECT_EQ(chip->watchdog().expiries, before + 1) << name << " watchdog";
        }
        if (offered(CAP_FAN)) {
            bool any = false;
            for (uint32_t fan = 0; fan <= 12; ++fan) any |= VEK_HWM_GetFanSpeed(fan, &u) != VEK_ERR_UNSUPPORTED;
            check("fan", any);
        }
        if (offered(CAP_VOLTAGE)) {
            bool any = false;
            for (uint32_t ch = 0; ch <= 18; ++ch) any |= VEK_HWM_Voltage(ch, &value) != VEK_ERR_UNSUPPORTED;
            check("voltage", any);
        }
        if (offered(CAP_TEMPERATURE)) check("temperature", VEK_HWM_Temperature(0, &value) != VEK_ERR_UNSUPPORTED);
        if (offered(CAP_CPU_TEMPERATURE))
            check("cpu temperature", VEK_HWM_CPUTemperature(0, &value) != VEK_ERR_UNSUPPORTED);
        if (offered(CAP_SMBUS)) check("smbus", VEK_SMBus_Available() != VEK_ERR_UNSUPPORTED);
        if (offered(CAP_BACKLIGHT)) check("backlight", VEK_BLC_Change_Brightness(1) != VEK_ERR_UNSUPPORTED);
        ExpectChipIdle(name + " after the families");
    }
}

// The chip model fits each board's fan headers from its own description of
// the board; the library's rows say the same thing in their terms. A fan the
// library thinks present must turn on a fitted tachometer channel (counter,
// and on the 13-bit parts its low half and duty output, as the part wires
// them), and every fitted channel must be one the library reads.
TEST_F(Sio1ConfigTest, FanWiringAgreesWithTheChipModelsBoards) {
    for (const PlatformEntry* row : Sio1Rows()) {
        const std::string name = NameOf(*row);
        UseRow(*row);
        ASSERT_EQ(Init(), VEK_OK) << name;
        const auto& channels = chip->variant().fans;
        std::vector<bool> claimed(channels.size(), false);
        for (int f = 0; f < sio1::FANS; ++f) {
            const sio1::FanRegs& fan = area().fan[f];
            if (!fan.present || (f >= 3 && !sio1::HasExtraFans(ctx().subtype))) continue;
            size_t ch = 0;
            while (ch < channels.size() && channels[ch].countReg != fan.count) ++ch;
            ASSERT_LT(ch, channels.size()) << name << " fan " << f << " counter " << int(fan.count);
            EXPECT_TRUE(chip->FanFitted(int(ch))) << name << " fan " << f << " has no fan on its header";
            EXPECT_EQ(fan.bank, 0) << name << " fan " << f;
            if (sio1::Has13BitMonitor(ctx().subtype)) {
                EXPECT_EQ(fan.countLow, channels[ch].countLowReg) << name << " fan " << f;
                EXPECT_EQ(fan.duty, channels[ch].dutyReg) << name << " fan " << f;
            }
            claimed[ch] = true;
        }
        for (size_t ch = 0; ch < channels.size(); ++ch)
            if (chip->FanFitted(int(ch))) {
                EXPECT_TRUE(claimed[ch]) << name << " fitted channel " << ch << " unread";
            }
    }
}

// The whole configuration conversation of two boards, byte by byte.
TEST_F(Sio1ConfigTest, InitWritesExactlyTheBoardsConfiguration) {
    // Board 58: strapped to 0x4E; group 4 of device 7 for pins 1..8; watchdog
    // device enabled; monitor base read from device 0x0B.
    UseRow(RowWithBoard(58));
    ASSERT_EQ(chip->config_port(), 0x4E);
    ASSERT_EQ(Init(), VEK_OK);
    CfgSeq s58(0x4E);
    s58.Enter();
    for (int pin = 0; pin < 8; ++pin) s58.Select(0x07).Modify(0x30, pin == 0 ? 0x00 : 0x10, 0x10);
    s58.Select(0x08).Modify(0x30, 0x00, 0x01).Exit();
    s58.Enter().Select(0x0B).Read(0x60, 0x02).Read(0x61, 0x90).Exit();
    EXPECT_EQ(ConfigOps(), s58.ops());
    EXPECT_TRUE(PortOps(machine(), 0x2E, 0x2F).empty()); // nothing went to the default port

    // Board 4 (subtype 1): 0x2D bit 0 first, group 3 of device 9 with the mux
    // bits of pins 3..5 in 0x2C and the inversion register cleared; then the
    // watchdog device, which this subtype's list leaves out but reset leaves off.
    UseRow(RowWithBoard(4));
    chip->SetGlobal(0x2C, 0xFF);
    chip->SetGlobal(0x2D, 0x03);
    ASSERT_EQ(Init(), VEK_OK);
    CfgSeq s4(0x2E);
    s4.Enter().Modify(0x2D, 0x03, 0x02);
    const uint8_t mux[8][2] = {{0, 0}, {0, 0}, {0xFF, 0xDF}, {0xDF, 0x9F}, {0x9F, 0x1F}, {0, 0}, {0, 0}, {0, 0}};
    for (int bit = 0; bit < 8; ++bit) {
        if (mux[bit][0] != mux[bit][1]) s4.Modify(0x2C, mux[bit][0], mux[bit][1]);
        s4.Select(0x09).Modify(0x30, bit == 0 ? 0x00 : 0x02, 0x02).Write(0xF2, 0x00);
    }
    s4.Select(0x08).Modify(0x30, 0x00, 0x01);
    s4.Exit().Enter().Select(0x0B).Read(0x60, 0x02).Read(0x61, 0x90).Exit();
    EXPECT_EQ(ConfigOps(), s4.ops());

    // Board 43: fixed monitor port, so one session; the backlight pins' group
    // is enabled before the watchdog.
    UseRow(RowWithBoard(43));
    ASSERT_EQ(Init(), VEK_OK);
    EXPECT_EQ(chip->DeviceReg(0x07, 0x30), 0x04 | 0x40);
    EXPECT_EQ(chip->DeviceReg(0x08, 0x30), 0x01);
    const std::vector<PortOp> ops = ConfigOps();
    EXPECT_EQ(std::count(ops.begin(), ops.end(), W(0x2E, 0xAA)), 1);
}

// Per-subtype effects of the configuration on the chip.
TEST_F(Sio1ConfigTest, SubtypeRegistersAfterInit) {
    struct Case {
        uint32_t boardId;
        uint8_t ldn, actBits;  // groups enabled on that device
        uint8_t global, globalValue;
        uint8_t wdtActive;     // watchdog device enable bit after init
    };
    const Case cases[] = {
        {72, 0x07, 0x0C, 0x2D, 0x00, 1},  // subtype 0: groups 2 and 3
        {35, 0x09, 0x0C, 0x2C, 0xE2, 1},  // subtype 1: groups 4 and 5 (0x2C bits 1..0 to 10, reset's 0xE0 kept)
        {35, 0x09, 0x0C, 0x29, 0xFF, 1},  // group 5 sets each pin's own bit in 0x29
        {28, 0x07, 0x03, 0x29, 0x90, 1},  // subtype 2: groups 3 and 4 set 0x29 bits 7 and 4
        {29, 0x07, 0x01, 0x2B, 0x47, 1},  // subtype 3: 0x2B bit 3 off and bit 2 on before anything (reset 0x4F)
        {30, 0x08, 0x01, 0x2A, 0x40, 1},  // group 2's per-pin mux bits in 0x2A
        {30, 0x08, 0x01, 0x29, 0x01, 1},
        {30, 0x09, 0x01, 0x2B, 0x10, 1},  // group 3's per-pin bits in 0x2B after the early write
        {30, 0x09, 0x01, 0x2C, 0x04, 1},
        {33, 0x09, 0x01, 0x2B, 0xF7, 1},  // subtype 4: group 3 on device 9; 0x2B bit 3 cleared after the pins
        {110, 0x07, 0x08, 0x2D, 0x00, 1}, // subtype 5: group 3
        {151, 0x07, 0x03, 0x2D, 0x00, 1}, // subtype 8: groups 0 and 1
    };
    for (const Case& c : cases) {
        UseRow(RowWithBoard(c.boardId));
        if (c.boardId == 33) chip->SetGlobal(0x2B, 0xFF);
        ASSERT_EQ(Init(), VEK_OK) << c.boardId;
        EXPECT_EQ(chip->DeviceReg(c.ldn, 0x30), c.actBits) << c.boardId;
        EXPECT_EQ(chip->Global(c.global), c.globalValue) << c.boardId;
        EXPECT_EQ(chip->DeviceReg(0x08, 0x30) & 0x01, c.wdtActive) << c.boardId;
    }
}

// Subtypes no row uses, configured directly on a simulated part of their own.
TEST_F(Sio1ConfigTest, SubtypesSixAndSevenWithoutGpio) {
    struct Case {
        uint32_t subtype;
        uint32_t capGpio;
        uint32_t sets;
    };
    for (const Case c : {Case{7, 0, 0}, Case{6, 1, 0}, Case{7, 1, 0}}) {
        attached.reset();
        board.reset();
        sio1::ResetProcessState();
        PlatformEntry row{};
        row.boardId = 200; // no board data: no pins mapped
        row.chipsetId = 10;
        row.chipKind = KIND_SIO1;
        row.subtype = c.subtype;
        board = std::make_unique<sim::Board>(row);
        attached = std::make_unique<sim::Attached>(*board);
        ASSERT_TRUE(hal::DriverStart());
        chip = board->Find<sim::Sio1Model>();
        DeviceContext context{};
        context.chipKind = KIND_SIO1;
        context.subtype = c.subtype;
        context.boardId = row.boardId;
        context.caps[CAP_GPIO] = c.capGpio;
        sio1::Configure(context);
        EXPECT_EQ(context.gpioSets[0], c.sets) << c.subtype;
        EXPECT_EQ(sio1::Area(context).hwmIndexPort, 0x295) << c.subtype;
        EXPECT_TRUE(chip->locked());
        // Nothing to map, whatever the GPIO word says: no group is touched; the
        // watchdog device is switched on all the same.
        CfgSeq s(0x2E);
        s.Enter().Select(0x08).Modify(0x30, 0x00, 0x01).Exit();
        s.Enter().Select(0x0B).Read(0x60, 0x02).Read(0x61, 0x90).Exit();
        EXPECT_EQ(PortOps(machine(), 0x2E, 0x2F), s.ops()) << c.subtype;
        if (c.subtype == 7) {
            EXPECT_EQ(sio1::Area(context).wdtModeReg, 0xF5) << "back on the defaults";
        }
        hal::DriverStop();
    }
}

// ---- the chip's side: key, exit and faults ----

TEST_F(Sio1ConfigTest, OnlyTheExactKeyOpensTheChip) {
    UseRow(RowWithBoard(72));
    struct Case {
        std::vector<uint8_t> bytes;
        bool open;
    };
    const Case cases[] = {
        {{0x87}, false},             // partial key
        {{0x87, 0x55, 0x87}, false}, // interrupted key
        {{0x55, 0x87, 0x87}, true},  // a stray byte first, then the key
        {{0x87, 0x87}, true},
        {{0x87, 0x87, 0xAA}, false}, // exit
        {{0x86, 0x86}, false},
    };
    for (const Case& c : cases) {
        sim::Machine& m = machine();
        m.PortWrite(0x2E, 1, 0xAA);
        m.PortWrite(0x2E, 1, 0x00); // forget any key progress
        for (uint8_t b : c.bytes) m.PortWrite(0x2E, 1, b);
        EXPECT_EQ(!chip->locked(), c.open) << c.bytes.size();
        m.PortWrite(0x2E, 1, 0x20);
        EXPECT_EQ(m.PortRead(0x2F, 1), c.open ? 0xC3u : 0xFFu); // chip id, or a deaf chip
    }
}

TEST_F(Sio1ConfigTest, FaultsAtInitialisation) {
    // Chip left in configuration mode by another process: the key goes to the
    // index register harmlessly, the pins are mapped, and the chip ends locked.
    UseRow(RowWithBoard(72));
    chip->LeaveUnlocked();
    ASSERT_EQ(Init(), VEK_OK);
    EXPECT_EQ(chip->DeviceReg(0x07, 0x30), 0x0C);
    ExpectChipIdle("left unlocked");

    // A chip that never answers: the monitor base reads 0xFFFF and the port wraps.
    UseRow(RowWithBoard(72));
    chip->SetSilent(true);
    ASSERT_EQ(Init(), VEK_OK);
    machine().ClearTrace();
    EXPECT_EQ(area().hwmIndexPort, 0x0004);
    uint8_t v = 0xAA;
    double volts = 0;
    EXPECT_EQ(VEK_GPIO_Read(1, &v), VEK_OK);
    EXPECT_EQ(v, 0xFF); // every pin floats high
    EXPECT_EQ(VEK_HWM_Voltage(3, &volts), VEK_OK);
    EXPECT_DOUBLE_EQ(volts, 255 * 0.008 * 4.92);
    // ...without touching the DMA controller's ports the wrapped index points at.
    EXPECT_TRUE(PortOps(machine(), 0x04, 0x05).empty());
}

// Every port access is followed by the backend's pause, which the sleep-time
// export sets and the next initialisation copies into the context.
TEST_F(Sio1ConfigTest, PauseAfterEveryPortAccess) {
    InitBoard(72);
    ASSERT_EQ(VEK_API_SetIOSleepTime(40), VEK_OK);
    machine().ClearTrace();
    uint8_t v = 0;
    double t = 0;
    ASSERT_EQ(VEK_GPIO_ReadPin(1, 3, &v), VEK_OK);
    ASSERT_EQ(VEK_HWM_SysTemperature(&t), VEK_OK);
    const auto& trace = machine().trace();
    ASSERT_GE(trace.size(), 10u);
    for (size_t i = 1; i < trace.size(); ++i)
        EXPECT_EQ(trace[i].time_ns - trace[i - 1].time_ns, 41'000) << i; // 40 µs pause + the request itself

    ASSERT_EQ(VEK_API_Uninit(), VEK_OK);
    ASSERT_EQ(VEK_API_Init(), VEK_OK);
    EXPECT_EQ(ctx().ioDelay, 40);
    ASSERT_EQ(VEK_API_SetIOSleepTime(5), VEK_OK);
}

} // namespace
