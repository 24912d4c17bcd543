// EC configuration: every EC board has a sound row and comes up in the
// simulator; path choice, reads made while configuring, boards without a row.
#include <map>
#include <set>

#include "backends/ec/config.h"
#include "backends/ec/ec.h"
#include "ec_test_util.h"

using namespace vek;
using namespace vek::test;

namespace {

std::set<uint32_t> EcBoardIds() {
    std::set<uint32_t> ids;
    for (const PlatformEntry& r : kPlatformTable)
        if (r.chipKind == KIND_EC || r.chipKind == KIND_EC_ALT) ids.insert(r.boardId);
    return ids;
}

TEST(EcConfigRows, CoverExactlyTheEcBoardsOnce) {
    std::map<uint32_t, int> seen;
    for (const ec::EcRow& row : ec::EcRows())
        for (uint8_t id : row.ids)
            if (id != 0) ++seen[id];
    std::set<uint32_t> configured;
    for (auto [id, n] : seen) {
        EXPECT_EQ(n, 1) << "board " << id << " in more than one row";
        configured.insert(id);
    }
    EXPECT_EQ(configured, EcBoardIds());
    EXPECT_EQ(configured.size(), 84u);
}

TEST(EcConfigRows, EveryEnabledVoltageHasBothResistors) {
    using ec::SLOT_ABSENT;
    for (const ec::EcRow& row : ec::EcRows()) {
        const ec::VoltageSlots& v = row.voltage;
        const ec::Dividers& d = row.dividers;
        const struct { const char* name; bool enabled; ec::Divider divider; } channels[] = {
            {"4", v.ch4Low != SLOT_ABSENT && v.ch4High != SLOT_ABSENT, d.ch4},
            {"2", v.ch2Low != SLOT_ABSENT && v.ch2High != SLOT_ABSENT, d.ch2},
            {"1", v.ch1Low != SLOT_ABSENT && v.ch1High != SLOT_ABSENT, d.ch1},
            {"3", v.ch3Low != SLOT_ABSENT && v.ch3High != SLOT_ABSENT, d.ch3},
            {"13", v.ch13Low != SLOT_ABSENT && v.ch13High != SLOT_ABSENT, d.ch13},
            {"6", v.ch6Low != SLOT_ABSENT && v.ch6High != SLOT_ABSENT, d.ch6},
            {"5", v.ch5 != SLOT_ABSENT, d.ch5},
            {"9", v.ch9 != SLOT_ABSENT, d.ch9},
            {"10", v.ch10 != SLOT_ABSENT, d.ch10},
        };
        for (const auto& c : channels) {
            if (!c.enabled) continue;
            EXPECT_GT(c.divider.upper, 0) << "board " << int(row.ids[0]) << " channel " << c.name;
            EXPECT_GT(c.divider.lower, 0) << "board " << int(row.ids[0]) << " channel " << c.name;
        }
        // Layout consistency: per-set boards have their set registers, per-pin boards their pins.
        if (row.gpioSets > 0 && !(row.flags & ec::EC_GPIO_PER_PIN)) {
            EXPECT_NE(row.setData[0], 255);
        }
        if (row.flags & ec::EC_GPIO_PER_PIN) {
            EXPECT_NE(row.pins[0].data, SLOT_ABSENT);
        }
    }
}

TEST(EcConfigRows, BoardWithoutARowKeepsTheInitialArea) {
    DeviceContext ctx{};
    ctx.chipKind = KIND_EC;
    ctx.boardId = 200;
    ctx.caps[CAP_EC_SMARTFAN] = 1;
    ctx.gpioSets[0] = 3;
    ec::Configure(ctx); // touches no hardware without a row
    const ec::EcArea& a = ec::Area(ctx);
    EXPECT_EQ(a.flags, 0u);
    EXPECT_EQ(a.readRegister, &ec::WindowReadSlot);
    EXPECT_EQ(a.writeRegister, &ec::WindowWriteSlot);
    EXPECT_EQ(ctx.gpioSets[0], 0u);
    EXPECT_EQ(ctx.caps[CAP_EC_SMARTFAN], 0u);
    EXPECT_EQ(ctx.ioDelay, 5);
    EXPECT_EQ(a.wdtControl, 0x0306u);
    EXPECT_EQ(a.cpuTemp, 0x030Cu);
    EXPECT_EQ(a.voltage.ch4Low, 0x0321u);
    EXPECT_EQ(a.fanTachLow[1], 0u);
    EXPECT_EQ(a.smartFanParam[3][1], ec::SLOT_ABSENT);
    EXPECT_EQ(a.dividers.ch2.upper, 6.49);
    EXPECT_EQ(ctx.wdtEc.maxCount[1], 255);
}

// ---- in the simulator ----

class EcConfigTest : public EcBoardTest {};

TEST_F(EcConfigTest, EveryEcPlatformRowInitialisesAndItsEcAnswers) {
    int rows = 0;
    for (const PlatformEntry& r : kPlatformTable) {
        if (r.chipKind != KIND_EC) continue;
        ++rows;
        Use(r);
        ec = board->Find<sim::EcModel>();
        ASSERT_NE(ec, nullptr) << r.name;
        ASSERT_EQ(Init(), VEK_OK) << r.name;
        ec->Poke(0x77, 0x3C);
        const int64_t t0 = machine().now_ns();
        EXPECT_EQ(ec::ReadEcRegister(ctx(), 0x77), 0x3C) << r.name;
        EXPECT_LT(machine().now_ns() - t0, 5'000'000) << r.name; // no poll gave up
        uint8_t lo = 0, hi = 0;
        EXPECT_EQ(VEK_WDT_GetRange(0, &lo, &hi), VEK_OK) << r.name;
        EXPECT_EQ(ctx().caps[CAP_GPIO] != 0, ctx().gpioSets[0] != 0) << r.name;
        TearDown();
    }
    EXPECT_EQ(rows, 145);
}

TEST_F(EcConfigTest, FlagsChooseTheRegisterPath) {
    const struct { uint32_t board; bool acpi; } cases[] = {{11, false}, {12, true}, {86, true}, {135, false}, {5, false}};
    for (const auto& c : cases) {
        InitBoard(c.board);
        ec->Poke(0x2C, 0xA5);
        EXPECT_EQ(ec::ReadEcRegister(ctx(), 0x2C), 0xA5);
        const auto acpi = PortOps(machine(), 0x62, 0x66);
        const auto window = PortOps(machine(), 0xE300, 0xE3FF);
        if (c.acpi) {
            EXPECT_EQ(acpi, (std::vector<PortOp>{W(0x66, 0x80), W(0x62, 0x2C), R(0x62, 0xA5)})) << c.board;
            EXPECT_TRUE(window.empty()) << c.board;
        } else {
            EXPECT_EQ(window, (std::vector<PortOp>{R(0xE32C, 0xA5)})) << c.board;
            EXPECT_TRUE(acpi.empty()) << c.board;
        }
        TearDown();
    }
}

TEST_F(EcConfigTest, LanBypassProbeAndTimerAreReadThroughTheWindow) {
    const struct { uint32_t board; uint8_t probe; uint8_t segments; } cases[] = {
        {104, 2, 1}, {104, 0, 0}, {104, 3, 0}, {124, 0, 2}, {129, 7, 2}};
    for (const auto& c : cases) {
        UseBoard(c.board);
        ec->Poke(0xB0, c.probe);
        ec->Poke(0x51, 62);
        ec->Poke(0x52, 5);
        ASSERT_EQ(Init(), VEK_OK);
        const ec::EcArea& a = ec::Area(ctx());
        EXPECT_EQ(a.lanSegments, c.segments) << c.board << "/" << int(c.probe);
        EXPECT_EQ(a.lanTimerSeconds, c.segments ? 5 : 0);
        EXPECT_EQ(a.lanTimerMinutes, c.segments ? 62 : 0);
        TearDown();
    }
}

TEST_F(EcConfigTest, Board70HandsItsRevisionToTheSecondChip) {
    const struct { uint8_t reg; uint32_t stored; } cases[] = {{1, 1}, {4, 4}, {0, 5}, {9, 5}};
    for (const auto& c : cases) {
        UseBoard(70);
        ec->Poke(0x0D, c.reg);
        ASSERT_EQ(Init(), VEK_OK);
        EXPECT_EQ(ctx().secondarySubtype, c.stored) << int(c.reg);
        EXPECT_EQ(Lib().secondary.subtype, c.stored) << int(c.reg);
        TearDown();
    }
}

TEST_F(EcConfigTest, TellingRows) {
    InitBoard(6);
    EXPECT_EQ(ec::Area(ctx()).flags, 0x0Fu);
    EXPECT_EQ(ec::Area(ctx()).pinControl[0][4], 0x1637u);
    EXPECT_EQ(ec::Area(ctx()).pinMask[0][7], 0x04u);
    EXPECT_EQ(ec::Area(ctx()).cpuTemp, 0x030Cu);
    TearDown();
    InitBoard(9);
    EXPECT_EQ(ec::Area(ctx()).cpuTemp, 0u);
    TearDown();
    InitBoard(135);
    EXPECT_EQ(ctx().gpioSets[1], 4u);
    EXPECT_EQ(ec::Area(ctx()).voltage.ch1Low, ec::SLOT_ABSENT);
    EXPECT_EQ(ec::Area(ctx()).voltage.ch6Trigger, 0x35u);
    EXPECT_EQ(ctx().caps[CAP_BACKLIGHT], 1u);
    EXPECT_EQ(ctx().caps[CAP_FAN], 0u);
    TearDown();
    InitBoard(86);
    EXPECT_EQ(ctx().caps[CAP_EC_SMARTFAN], 1u);
    EXPECT_EQ(ec::Area(ctx()).smartFanParam[3][0], 0x1Au);
    TearDown();
    InitBoard(5);
    EXPECT_EQ(ctx().caps[CAP_GPIO], 0u);
    EXPECT_EQ(ec::Area(ctx()).voltage.ch1High, 0x20u);
    EXPECT_EQ(ec::Area(ctx()).fanTachHigh[0], ec::SLOT_ABSENT);
    uint32_t sets = 9;
    EXPECT_EQ(VEK_GPIO_TotalSet(&sets), VEK_ERR_UNSUPPORTED);
}

} // namespace
