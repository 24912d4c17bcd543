// The GPIO expander on the SMBus and the LEDs on chipset GPIO pads, through
// the GPIO and LED exports.
#include <functional>

#include "backends/handlers/handlers.h"
#include "sim/smbus/smbus_model.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

class ExpanderTest : public SimBoardTest {
protected:
    void SetUp() override {
        Use(RowWhere([](const PlatformEntry& r) { return r.gpioOwner == OWNER_GPIO_EXPANDER && r.boardId == 79; }));
        ASSERT_EQ(Init(), VEK_OK);
        auto* host = board->Find<sim::SmbusController>();
        ASSERT_NE(host, nullptr);
        host_ = host;
        chip = dynamic_cast<sim::GpioExpanderChip*>(host->SlaveAt(sim::kGpioExpanderAddress));
        ASSERT_NE(chip, nullptr);
    }
    sim::SmbusController* host_ = nullptr;
    sim::GpioExpanderChip* chip = nullptr;
};

TEST_F(ExpanderTest, StartGivesOneSetOfEightPinsOnItsBoardsOnly) {
    uint32_t n = 0;
    ASSERT_EQ(VEK_GPIO_TotalSet(&n), VEK_OK);
    EXPECT_EQ(n, 1u);
    ASSERT_EQ(VEK_GPIO_TotalNumber(1, &n), VEK_OK);
    EXPECT_EQ(n, 8u);

    DeviceContext other{};
    other.boardId = 5;
    other.gpioSets[0] = 3;
    EXPECT_EQ(special::Ops().gpioStart(other), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(other.gpioSets[0], 3u);
    EXPECT_EQ(other.caps[CAP_GPIO], 0u);
}

// Output pins read their latch, input pins their level: an overdriven output
// shows the difference.
TEST_F(ExpanderTest, ReadMergesPortAndLatch) {
    chip->SetRegisters(0x0F, 0xC2);
    chip->SetExternal(0x35, 0xF0); // port register reads 0x35
    uint8_t v = 0;
    ASSERT_EQ(VEK_GPIO_Read(1, &v), VEK_OK);
    EXPECT_EQ(v, 0xC5);
    const struct { int32_t pin; uint8_t level; } pins[] = {{1, 1}, {2, 0}, {3, 1}, {5, 0}, {6, 0}, {7, 1}, {8, 1}};
    for (const auto& p : pins) {
        ASSERT_EQ(VEK_GPIO_ReadPin(1, p.pin, &v), VEK_OK);
        EXPECT_EQ(v, p.level) << p.pin;
    }
}

TEST_F(ExpanderTest, WritesTouchOutputPinsOnly) {
    chip->SetRegisters(0x0F, 0x05);
    ASSERT_EQ(VEK_GPIO_Write(1, 0xAA), VEK_OK);
    EXPECT_EQ(chip->latch(), 0xA5);
    ASSERT_EQ(VEK_GPIO_WritePin(1, 8, 0), VEK_OK);
    EXPECT_EQ(chip->latch(), 0x25);
    EXPECT_EQ(VEK_GPIO_WritePin(1, 1, 1), VEK_ERR_STATE); // input pin
    chip->SetRegisters(0xFF, 0x05);
    const int writes = chip->writes();
    EXPECT_EQ(VEK_GPIO_Write(1, 0x00), VEK_ERR_STATE);
    EXPECT_EQ(chip->writes(), writes);
    EXPECT_EQ(chip->latch(), 0x05);
}

TEST_F(ExpanderTest, DirectionsByMaskAndByPin) {
    ASSERT_EQ(VEK_GPIO_SetDirection(1, 0xF0), VEK_OK);
    EXPECT_EQ(chip->direction(), 0xF0);
    ASSERT_EQ(VEK_GPIO_SetPinDirection(1, 1, 1), VEK_OK);
    ASSERT_EQ(VEK_GPIO_SetPinDirection(1, 8, 0), VEK_OK);
    EXPECT_EQ(chip->direction(), 0x71);
    uint8_t v = 0;
    ASSERT_EQ(VEK_GPIO_ReadDirection(1, &v), VEK_OK);
    EXPECT_EQ(v, 0x71);
    ASSERT_EQ(VEK_GPIO_ReadPinDirection(1, 5, &v), VEK_OK);
    EXPECT_EQ(v, 1);
}

// Argument rules of the handler itself (the frame checks most of them first)
// and a missing expander: a read fails with 8, nothing is left half done.
TEST_F(ExpanderTest, RangeChecksAndAMissingExpander) {
    const BackendOps& g = special::Ops().gpio;
    DeviceContext& p = Lib().primary;
    uint8_t v = 0;
    const std::pair<const char*, std::function<uint32_t()>> bad[] = {
        {"set 0", [&] { return g.gpioRead(p, 0, &v); }},
        {"set 2", [&] { return g.gpioWrite(p, 2, 0); }},
        {"pin 9", [&] { return g.gpioReadPin(p, 1, 9, &v); }},
        {"pin 0", [&] { return g.gpioSetPinDirection(p, 1, 0, 1); }},
        {"direction 2", [&] { return g.gpioSetPinDirection(p, 1, 1, 2); }},
        {"null", [&] { return g.gpioReadDirection(p, 1, nullptr); }},
    };
    for (const auto& [what, call] : bad) EXPECT_EQ(call(), VEK_ERR_ARGUMENT) << what;
    chip->SetRegisters(0x00, 0x00);
    EXPECT_EQ(g.gpioWritePin(p, 1, 1, 2), VEK_ERR_ARGUMENT); // value checked after the two reads
    EXPECT_EQ(chip->latch(), 0);

    host_->Detach(sim::kGpioExpanderAddress);
    EXPECT_EQ(VEK_GPIO_Read(1, &v), VEK_ERR_READ);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(VEK_GPIO_SetDirection(1, 0), VEK_ERR_WRITE);
    EXPECT_TRUE(LockIsFree());
}

class LedTest : public SimBoardTest {
protected:
    void SetUp() override {
        Use(RowWhere([](const PlatformEntry& r) { return r.ledOwner == OWNER_LED_GPIO; }));
        ASSERT_EQ(Init(), VEK_OK);
        pads = board->Find<sim::ChipsetGpioPads>();
        ASSERT_NE(pads, nullptr);
    }
    sim::ChipsetGpioPads* pads = nullptr;
};

TEST_F(LedTest, EachLedDrivesItsPad) {
    constexpr uint32_t kPad[] = {135, 136, 137, 138, 140, 141, 142, 143, 153, 154, 155, 156};
    for (uint32_t led = 0; led < 12; ++led) {
        SCOPED_TRACE(led);
        machine().ClearTrace();
        ASSERT_EQ(VEK_LED_Set(led, 1), VEK_OK);
        EXPECT_EQ(pads->control(kPad[led]) & 0xC0, 0xC0);
        uint32_t v = 0;
        ASSERT_EQ(VEK_LED_Get(led, &v), VEK_OK);
        EXPECT_EQ(v, 1u);
        ASSERT_EQ(VEK_LED_Set(led, 0), VEK_OK);
        EXPECT_EQ(pads->control(kPad[led]) & 0xC0, 0x80); // still driven, now low
        ASSERT_EQ(VEK_LED_Get(led, &v), VEK_OK);
        EXPECT_EQ(v, 0u);
        for (const sim::TraceEntry& e : machine().trace()) {
            if (e.kind == sim::Access::MemRead || e.kind == sim::Access::MemWrite) {
                EXPECT_EQ(e.address, 0xFED81000u + 0x500 + 4 * kPad[led] + 2);
            }
        }
    }
    // Two control bytes by absolute address.
    machine().ClearTrace();
    VEK_LED_Set(4, 1);
    EXPECT_EQ(machine().trace().front().address, 0xFED81732u);
    machine().ClearTrace();
    VEK_LED_Set(0, 0);
    EXPECT_EQ(machine().trace().back().address, 0xFED8171Eu);
}

TEST_F(LedTest, GetReadsTheLevelOfAnUndrivenPad) {
    pads->SetInputLevel(153, true);
    uint32_t v = 0;
    ASSERT_EQ(VEK_LED_Get(8, &v), VEK_OK);
    EXPECT_EQ(v, 1u);
}

TEST_F(LedTest, OutOfRangeArguments) {
    uint32_t v = 0;
    EXPECT_EQ(VEK_LED_Set(12, 0), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_LED_Set(0, 2), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_LED_Get(12, &v), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_LED_Get(0, nullptr), VEK_ERR_ARGUMENT);
    EXPECT_TRUE(LockIsFree());
}

} // namespace
