// Power-supply readings the EC mirrors from PMBus: model detection, register
// columns per supply, LINEAR11 and the second model's exponent register.
#include <cmath>
#include <cstring>

#include "sim/ec/ec_mailbox.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;
using sim::PsuItem;

namespace {

class PmbusTest : public SimBoardTest {
protected:
    void SetUp() override {
        Use(RowWithBoard(122));
        ASSERT_EQ(Init(), VEK_OK);
        psu = board->Find<sim::PowerSupplies>();
        ASSERT_NE(psu, nullptr);
    }
    // A float item's value; NaN when the call fails.
    float Float(uint32_t supply, int32_t item, uint32_t* result = nullptr) {
        uint32_t cell = 0;
        const uint32_t r = VEK_PMBus_Get(supply, item, &cell);
        if (result) *result = r;
        float f;
        std::memcpy(&f, &cell, sizeof f);
        return r == VEK_OK ? f : std::nanf("");
    }
    sim::PowerSupplies* psu = nullptr;
};

TEST_F(PmbusTest, Linear11Decoding) {
    const struct {
        uint8_t lo, hi;
        float value;
    } cases[] = {
        {0x40, 0xD3, 13.0f},   // exponent -6, mantissa 832
        {0x10, 0x08, 32.0f},   // exponent 1, mantissa 16
        {0xFF, 0x07, 2047.0f}, // largest mantissa; not a signed -1
        {0x01, 0x80, 1.0f / 65536}, // exponent -16
        {0x00, 0x00, 0.0f},
        {0xFF, 0x7F, 2047.0f * 32768}, // exponent 15
    };
    for (const auto& c : cases) {
        psu->SetLinear11(1, PsuItem::InputVoltage, c.lo, c.hi); // supply 0 of the first model
        EXPECT_FLOAT_EQ(Float(0, 0), c.value) << int(c.lo) << " " << int(c.hi);
    }
}

TEST_F(PmbusTest, FirstModelSwapsTheColumns) {
    psu->SetLinear11(1, PsuItem::InputVoltage, 0x10, 0x08); // 0x95: 32
    psu->SetLinear11(0, PsuItem::InputVoltage, 0x40, 0xD3); // 0x75: 13
    EXPECT_FLOAT_EQ(Float(0, 0), 32.0f);
    EXPECT_FLOAT_EQ(Float(1, 0), 13.0f);
    EXPECT_TRUE(std::isnan(Float(2, 0)));
    uint32_t r;
    Float(0, 8, &r);
    EXPECT_EQ(r, VEK_ERR_UNSUPPORTED); // the first model reports no input power
}

TEST_F(PmbusTest, RawItemsAndTheNameKeepTheirBytes) {
    const uint8_t status[1] = {0x5A}, word[2] = {0x34, 0x12}, rev[3] = {1, 2, 3};
    psu->SetRaw(1, PsuItem::Status, status);
    psu->SetRaw(1, PsuItem::StatusWord, word);
    psu->SetRaw(1, PsuItem::Revision, rev);
    uint32_t cell = 0xEEEEEEEE;
    ASSERT_EQ(VEK_PMBus_Get(0, 2, &cell), VEK_OK);
    EXPECT_EQ(cell, 0xEEEEEE5Au); // one byte written
    cell = 0xEEEEEEEE;
    ASSERT_EQ(VEK_PMBus_Get(0, 5, &cell), VEK_OK);
    EXPECT_EQ(cell, 0xEEEE1234u);
    cell = 0xEEEEEEEE;
    ASSERT_EQ(VEK_PMBus_Get(0, 13, &cell), VEK_OK);
    EXPECT_EQ(cell, 0xEE030201u);
    psu->SetLinear11(1, PsuItem::FanSpeed, 0x0B, 0xF0); // 11 / 4 = 2.75: truncated
    ASSERT_EQ(VEK_PMBus_Get(0, 12, &cell), VEK_OK);
    EXPECT_EQ(cell, 2u);

    uint32_t name[4] = {};
    ASSERT_EQ(VEK_PMBus_Get(1, 14, name), VEK_OK);
    EXPECT_EQ(std::memcmp(name, "YSED0300A-12", 12), 0);
}

TEST_F(PmbusTest, SecondModelOutputUsesItsExponentRegister) {
    psu->SetModel(sim::PowerSupplies::kSecondModel);
    psu->SetOutputLinear16(0, 0xC000, -12); // 49152 / 4096 = 12.0: the full 16-bit mantissa
    EXPECT_FLOAT_EQ(Float(0, 1), 12.0f);
    psu->SetOutputLinear16(0, 3, 2);
    EXPECT_FLOAT_EQ(Float(0, 1), 12.0f);
    psu->SetLinear11(0, PsuItem::InputPower, 0x10, 0x08);
    EXPECT_FLOAT_EQ(Float(0, 8), 32.0f);
    uint32_t r;
    Float(1, 0, &r);
    EXPECT_EQ(r, VEK_ERR_UNSUPPORTED); // one supply only
}

TEST_F(PmbusTest, ResultCodes) {
    psu->SetLinear11(1, PsuItem::OutputCurrent, 0xFF, 0xFF);
    const uint8_t none[3] = {0xFF, 0xFF, 0xFF};
    psu->SetRaw(1, PsuItem::FirmwareId, none);
    uint32_t cell = 0;
    EXPECT_EQ(VEK_PMBus_Get(0, 6, &cell), VEK_ERR_DEVICE);
    EXPECT_EQ(VEK_PMBus_Get(0, 15, &cell), VEK_ERR_DEVICE);
    // The status word has no "no value" pattern: 0xFFFF is stored as read.
    const uint8_t allFaults[2] = {0xFF, 0xFF};
    psu->SetRaw(1, PsuItem::StatusWord, allFaults);
    cell = 0xEEEEEEEE;
    EXPECT_EQ(VEK_PMBus_Get(0, 5, &cell), VEK_OK);
    EXPECT_EQ(cell, 0xEEEEFFFFu);
    EXPECT_EQ(VEK_PMBus_Get(0, 16, &cell), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_PMBus_Get(0, -1, &cell), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_PMBus_Get(0, 0, nullptr), VEK_ERR_ARGUMENT);

    // An empty name means no supply: every item, the name included.
    for (uint8_t fill : {0x00, 0xFF}) {
        std::array<uint8_t, 12> name;
        name.fill(fill);
        psu->SetNameBytes(name);
        for (int32_t item = 0; item <= 16; ++item) EXPECT_EQ(VEK_PMBus_Get(0, item, &cell), VEK_ERR_READ) << item;
    }
    const char* unknown[] = {"YSED0300", "FSP300-50RF", "XSED0300A-12"};
    for (const char* n : unknown) {
        psu->SetModel(n);
        EXPECT_EQ(VEK_PMBus_Get(0, 0, &cell), VEK_ERR_DRIVER_PLATFORM) << n;
        uint32_t text[4] = {};
        EXPECT_EQ(VEK_PMBus_Get(0, 14, text), VEK_OK) << n; // the name needs no model
    }
}

using PmbusOtherBoard = SimBoardTest;

TEST_F(PmbusOtherBoard, OnlyTheSupplyBoardAnswers) {
    Use(RowWhere([](const PlatformEntry& r) { return r.chipKind == KIND_EC && r.boardId != 122; }));
    ASSERT_EQ(Init(), VEK_OK);
    uint32_t cell;
    EXPECT_EQ(VEK_PMBus_Get(0, 0, &cell), VEK_ERR_UNSUPPORTED);
}

} // namespace
