// Locating the chipset's SMBus controller for every chipset generation.
#include <set>

#include "fake_platform.h"
#include "hal/hal.h"
#include "hal/platform_slot.h"
#include "sim_fixture.h"
#include "smbus/locate.h"

using namespace vek;
using namespace vek::test;

namespace {

class LocateTest : public SimBoardTest {};

// Every chipset the table carries: the base init computes is where the
// simulated controller decodes, and a gated controller has been switched on.
TEST_F(LocateTest, EveryChipsetOfTheTableIsFound) {
    std::set<std::pair<uint32_t, uint32_t>> seen; // chipset, FCH-offset board or not
    for (const PlatformEntry& row : kPlatformTable) {
        const bool offsetBoard = row.boardId == 121 || row.boardId == 156;
        if (!seen.insert({row.chipsetId, offsetBoard}).second) continue;
        SCOPED_TRACE(row.name);
        TearDown();
        Use(row);
        ASSERT_EQ(Init(), VEK_OK);
        EXPECT_EQ(Lib().primary.smbus.located, 1u);
        EXPECT_EQ(Lib().primary.smbus.ioBase, board->smbus().ioBase);
        EXPECT_TRUE(board->SmbusDecodes());
        EXPECT_EQ(VEK_SMBus_Available(), VEK_OK);
    }
    EXPECT_GE(seen.size(), 30u); // 0..28 and the FCH
}

TEST_F(LocateTest, Chipset26EnablesDecodeOnBus0x80BeforeReadingTheBase) {
    Use(RowWhere([](const PlatformEntry& r) { return r.chipsetId == 26; }));
    machine().ClearTrace();
    DeviceContext ctx{};
    ctx.chipsetId = 26;
    ASSERT_TRUE(hal::DriverStart());
    machine().ClearTrace();
    smbus::LocateSmbusController(ctx);
    const uint32_t address = sim::PciAddress(0x80, 31, 4);
    std::vector<std::tuple<sim::Access, uint16_t, uint8_t>> pci;
    for (const sim::TraceEntry& e : machine().trace()) {
        EXPECT_EQ(e.address, address);
        pci.emplace_back(e.kind, e.offset, e.width);
    }
    const std::vector<std::tuple<sim::Access, uint16_t, uint8_t>> want = {
        {sim::Access::PciRead, 0x04, 1}, {sim::Access::PciWrite, 0x04, 1}, {sim::Access::PciRead, 0x20, 2}};
    EXPECT_EQ(pci, want);
    EXPECT_EQ(machine().trace()[1].value & 1, 1u);
    EXPECT_EQ(ctx.smbus.ioBase & 0xF, 0);
}

TEST_F(LocateTest, FchBaseComesFromPmRegisterOneWithOffsetOnTwoBoards) {
    for (uint32_t boardId : {121u, 156u, 0u}) {
        SCOPED_TRACE(boardId);
        TearDown();
        Use(RowWhere([](const PlatformEntry& r) { return r.chipsetId == CHIPSET_FCH; }));
        ASSERT_TRUE(hal::DriverStart());
        uint8_t pm[2] = {0x00, 0x0B};
        ASSERT_EQ(hal::WritePhysical(smbus::kFchMmioBase, smbus::kFchPmOffset, pm, 2, 1), 2u);
        DeviceContext ctx{};
        ctx.chipsetId = CHIPSET_FCH;
        ctx.boardId = boardId;
        smbus::LocateSmbusController(ctx);
        EXPECT_EQ(ctx.smbus.ioBase, boardId == 0 ? 0x0B00 : 0x0B20);
        EXPECT_EQ(ctx.smbus.located, 1u);
    }
}

TEST(LocateUnknown, ChipsetsOutsideTheTableStayUnlocatedWithDefaults) {
    FakePlatform fake;
    hal::SetPlatform(&fake.platform());
    hal::DriverReset();
    ASSERT_TRUE(hal::DriverStart());
    for (uint32_t id : {29u, 1000u, 1002u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(id);
        fake.requests.clear();
        DeviceContext ctx{};
        ctx.chipsetId = id;
        smbus::LocateSmbusController(ctx);
        EXPECT_EQ(ctx.smbus.located, 0u);
        EXPECT_EQ(ctx.smbus.pciDevice, 31);
        EXPECT_EQ(ctx.smbus.pciFunction, 4);
        EXPECT_EQ(ctx.smbus.baseReg, 0x20);
        EXPECT_EQ(ctx.smbus.protoBlock, 0x54);
        EXPECT_TRUE(fake.requests.empty());
    }
    hal::SetPlatform(nullptr);
}

TEST(LocateLayout, SchMapForChipsets0And1) {
    FakePlatform fake;
    fake.fill = 0x47; // base register reads 0x4847: low nibble must go
    hal::SetPlatform(&fake.platform());
    hal::DriverReset();
    ASSERT_TRUE(hal::DriverStart());
    for (uint32_t id : {0u, 1u}) {
        fake.requests.clear();
        DeviceContext ctx{};
        ctx.chipsetId = id;
        smbus::LocateSmbusController(ctx);
        ASSERT_EQ(fake.requests.size(), 1u);
        EXPECT_EQ(fake.requests[0].in, (std::vector<uint8_t>{0xF8, 0, 0, 0, 0x40, 0, 0, 0})); // 0:31.0, offset 0x40
        EXPECT_EQ(ctx.smbus.ioBase, 0x4840);
        EXPECT_EQ(ctx.smbus.regStatus, 0x01);
        EXPECT_EQ(ctx.smbus.regBlockData, 0x20);
        EXPECT_EQ(ctx.smbus.protoByteData, 0x12);
    }
    hal::SetPlatform(nullptr);
}

} // namespace
