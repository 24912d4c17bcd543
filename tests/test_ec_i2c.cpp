// The EC's I2C master through the exports: mailbox write order, slaves that
// answer, refuse or hang, result codes and time budgets in virtual time.
#include <algorithm>
#include <cstring>
#include <vector>

#include "backends/ec/i2c_master.h"
#include "sim/ec/ec_mailbox.h"
#include "sim/ec/ec_model.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

constexpr uint8_t kEeprom16 = 0x51; // 7-bit addresses
constexpr uint8_t kEeprom8 = 0x52;
constexpr uint8_t kNak = 0x53;
constexpr uint8_t kHung = 0x54;
constexpr uint8_t kAbsent = 0x5F;

// A mailbox register write (index, value) or a command on port 0x66 (index 0xFFFF).
struct Step {
    uint16_t index;
    uint8_t value;
    bool operator==(const Step&) const = default;
};
constexpr uint16_t kCommand = 0xFFFF;

class EcI2cTest : public SimBoardTest {
protected:
    void SetUp() override {
        Use(RowWhere([](const PlatformEntry& r) { return r.chipKind == KIND_EC && r.i2cOwners[0] == KIND_EC; }));
        ASSERT_EQ(Init(), VEK_OK);
        mailbox = board->Find<sim::EcMailbox>();
        ASSERT_NE(mailbox, nullptr);
        e16 = &mailbox->Attach<sim::I2cEeprom>(kEeprom16, 4096, 2);
        e8 = &mailbox->Attach<sim::I2cEeprom>(kEeprom8, 256, 1);
        mailbox->Attach<sim::NakSlave>(kNak);
        mailbox->Attach<sim::HungSlave>(kHung);
        machine().ClearTrace();
    }

    // Mailbox register writes and EC commands, in the order the library made them.
    std::vector<Step> Steps() const {
        std::vector<Step> steps;
        int index = -1;
        for (const sim::TraceEntry& e : board->machine().trace()) {
            if (e.kind != sim::Access::PortWrite) continue;
            if (e.address == 0x200) index = int(e.value);
            if (e.address == 0x201 && index >= 0) steps.push_back({uint16_t(index), uint8_t(e.value)});
            if (e.address == 0x66) steps.push_back({kCommand, uint8_t(e.value)});
        }
        return steps;
    }
    size_t PortAccesses() const { return board->machine().trace().size(); }
    double ElapsedS(int64_t since) { return double(machine().now_ns() - since) / 1e9; }

    sim::EcMailbox* mailbox = nullptr;
    sim::I2cEeprom* e16 = nullptr;
    sim::I2cEeprom* e8 = nullptr;
};

TEST_F(EcI2cTest, WordAddressWriteFillsTheMailboxInOrder) {
    uint8_t data[3] = {0xDE, 0xAD, 0x01};
    ASSERT_EQ(VEK_EC_IIC_Word_Addr_Write(kEeprom16 << 1 | 1, 0x0123, data, 3), VEK_OK);
    const std::vector<Step> expected = {
        {0x30, 0}, {0x32, 0xA2}, {0x37, 3}, {0x3A, 0x23}, {0x38, 0x01},
        {0x10, 0xDE}, {0x11, 0xAD}, {0x12, 0x01}, {kCommand, 0xA3},
    };
    EXPECT_EQ(Steps(), expected);
    EXPECT_EQ(e16->bytes()[0x123], 0xDE);
    EXPECT_EQ(e16->bytes()[0x125], 0x01);

    machine().ClearTrace();
    uint8_t back[3] = {};
    ASSERT_EQ(VEK_EC_IIC_Word_Addr_Read(kEeprom16 << 1, 0x0123, back, 3), VEK_OK);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 3), std::vector<uint8_t>(data, data + 3));
    const std::vector<Step> readSteps = {
        {0x32, 0xA2}, {0x30, 0}, {0x10, 0}, {0x11, 0}, {0x12, 0}, {0x37, 3}, {0x3A, 0x23}, {0x38, 0x01},
        {kCommand, 0xA2},
    };
    EXPECT_EQ(Steps(), readSteps);
}

TEST_F(EcI2cTest, ByteAddressTransfersPickByteOrBlock) {
    uint8_t one = 0x5A;
    ASSERT_EQ(VEK_EC_IIC_Byte_Addr_Write(kEeprom8 << 1, 0x40, &one, 1), VEK_OK);
    EXPECT_EQ(Steps(), (std::vector<Step>{{0x30, 0}, {0x32, 0xA4}, {0x3A, 0x40}, {0x10, 0x5A}, {kCommand, 0xA1}}));
    uint8_t many[4] = {1, 2, 3, 4};
    ASSERT_EQ(VEK_EC_IIC_Byte_Addr_Write(kEeprom8 << 1, 0x41, many, 4), VEK_OK);
    EXPECT_EQ(mailbox->transactions().back().command, 0xA5);

    uint8_t got[5] = {};
    ASSERT_EQ(VEK_EC_IIC_Byte_Addr_Read(kEeprom8 << 1, 0x40, got, 1), VEK_OK);
    EXPECT_EQ(mailbox->transactions().back().command, 0xA0);
    EXPECT_EQ(got[0], 0x5A);
    ASSERT_EQ(VEK_EC_IIC_Byte_Addr_Read(kEeprom8 << 1, 0x40, got, 5), VEK_OK);
    EXPECT_EQ(mailbox->transactions().back().command, 0xA4);
    EXPECT_EQ(std::vector<uint8_t>(got, got + 5), (std::vector<uint8_t>{0x5A, 1, 2, 3, 4}));
}

// Sixteen-bit addressing sends the high byte first: an 8-bit part takes it as
// its address and the low byte as data.
TEST_F(EcI2cTest, SixteenBitAddressOnAnEightBitPartLandsWhereTheWireSaysIt) {
    uint8_t data[1] = {0x77};
    ASSERT_EQ(VEK_EC_IIC_Word_Addr_Write(kEeprom8 << 1, 0x0310, data, 1), VEK_OK);
    EXPECT_EQ(e8->bytes()[0x03], 0x10);
    EXPECT_EQ(e8->bytes()[0x04], 0x77);
}

TEST_F(EcI2cTest, Bus1UsesTheMasterWithTheDoubledAddress) {
    uint8_t byte = 0x99;
    ASSERT_EQ(VEK_I2C_ByteData(0, 1, kEeprom8, 0x10, &byte), VEK_OK);
    EXPECT_EQ(mailbox->transactions().back().address, kEeprom8 << 1);
    uint32_t word = 0xBEEF;
    ASSERT_EQ(VEK_I2C_WordData(0, 1, kEeprom8, 0x20, &word), VEK_OK);
    EXPECT_EQ(e8->bytes()[0x20], 0xEF);
    EXPECT_EQ(e8->bytes()[0x21], 0xBE);
    word = 0xA5A50000; // a read stores all 32 bits
    ASSERT_EQ(VEK_I2C_WordData(1, 1, kEeprom8, 0x20, &word), VEK_OK);
    EXPECT_EQ(word, 0xBEEFu);

    uint8_t block[5] = {0xA, 0xB, 0xC, 0xD};
    int32_t count = 4;
    ASSERT_EQ(VEK_I2C_SMBusBlock(0, 1, kEeprom8, 0x30, &count, block), VEK_OK);
    EXPECT_EQ(mailbox->transactions().back().written, (std::vector<uint8_t>{0x30, 4, 0xA, 0xB, 0xC, 0xD}));

    ASSERT_EQ(VEK_I2C_SendReceive(0, 1, kEeprom8, &byte), VEK_OK); // sets the pointer to 0x99
    e8->bytes()[0x99] = 0x42;
    ASSERT_EQ(VEK_I2C_SendReceive(1, 1, kEeprom8, &byte), VEK_OK);
    EXPECT_EQ(byte, 0x42);
    EXPECT_EQ(VEK_I2C_Quick(0, 1, kEeprom8), VEK_OK);
    EXPECT_EQ(mailbox->transactions().back().command, 0xA7);
}

// The master reads 32 bytes: the count and up to 31 data bytes. The data land
// from buffer byte 0; nothing beyond the caller's 32 bytes is read or written.
TEST_F(EcI2cTest, Bus1BlockReadStaysInsideTheCallersBuffer) {
    const struct {
        uint8_t count;
        uint32_t result;
    } cases[] = {{5, VEK_OK}, {31, VEK_OK}, {32, VEK_OK}, {33, VEK_ERR_READ}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.count));
        e8->bytes()[0x60] = c.count;
        for (int i = 1; i < 32; ++i) e8->bytes()[size_t(0x60 + i)] = uint8_t(0x80 + i);
        uint8_t buffer[33];
        std::memset(buffer, 0xEE, sizeof buffer);
        int32_t count = 0;
        ASSERT_EQ(VEK_I2C_SMBusBlock(1, 1, kEeprom8, 0x60, &count, buffer), c.result);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(buffer[32], 0xEE); // one past the caller's 32 bytes
        if (c.result != VEK_OK) continue;
        for (int i = 0; i < std::min<int>(c.count, 31); ++i) EXPECT_EQ(buffer[i], 0x81 + i) << i;
        // The 32nd data byte of a count of 32 was never on the wire.
        if (c.count == 32) {
            EXPECT_EQ(buffer[31], 0);
        }
    }
}

TEST_F(EcI2cTest, RefusedTransfersAnswerTheirKindsCode) {
    uint8_t buf[4] = {};
    const struct {
        const char* what;
        uint32_t result;
        uint32_t expected;
    } cases[] = {
        {"byte read", VEK_EC_IIC_Byte_Addr_Read(kNak << 1, 0, buf, 1), 0x804},
        {"block read", VEK_EC_IIC_Byte_Addr_Read(kNak << 1, 0, buf, 4), VEK_ERR_READ},
        {"word read", VEK_EC_IIC_Word_Addr_Read(kAbsent << 1, 0, buf, 4), VEK_ERR_READ},
        {"byte write", VEK_EC_IIC_Byte_Addr_Write(kNak << 1, 0, buf, 1), VEK_ERR_WRITE},
        {"word write", VEK_EC_IIC_Word_Addr_Write(kNak << 1, 0, buf, 2), VEK_ERR_WRITE},
        {"quick read", VEK_EC_IIC_Quick_Read(kNak << 1, 0), VEK_ERR_READ},
        {"quick write", VEK_EC_IIC_Quick_Write(kAbsent << 1, 0), VEK_ERR_READ},
        {"receive", VEK_EC_IIC_Receive_Byte(kNak << 1, buf), VEK_ERR_READ},
        {"send", VEK_EC_IIC_Send_Byte(kNak << 1, 1), VEK_ERR_READ},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_TRUE(LockIsFree());
}

TEST_F(EcI2cTest, ByteReadErrorCarriesTheStatus) {
    uint8_t b = 0;
    for (uint8_t status : {0x04, 0x40, 0x7C}) {
        mailbox->FailWith(status);
        EXPECT_EQ(VEK_EC_IIC_Byte_Addr_Read(kEeprom8 << 1, 0, &b, 1), 0x800u | status);
    }
}

TEST_F(EcI2cTest, BadArgumentsStartNothing) {
    uint8_t buf[40] = {};
    EXPECT_EQ(VEK_EC_IIC_Byte_Addr_Read(kEeprom8 << 1, 0, buf, 33), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_EC_IIC_Word_Addr_Write(kEeprom8 << 1, 0, buf, 0), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_EC_IIC_Set_Frequency(3), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_EC_IIC_Set_Frequency(-1), VEK_ERR_ARGUMENT);
    EXPECT_EQ(PortAccesses(), 0u);

    // The routines themselves, below the exports' length check.
    EXPECT_EQ(ec::EcI2cRead(ec::I2C_REG8, ec::I2C_KIND_BLOCK, 0xA4, 0, 33, buf), VEK_ERR_ARGUMENT);
    EXPECT_EQ(PortAccesses(), 0u);
    EXPECT_EQ(ec::EcI2cRead(ec::I2C_REG8, ec::I2C_KIND_WORD, 0xA4, 0, 3, buf), VEK_ERR_ARGUMENT);
    EXPECT_EQ(ec::EcI2cWrite(ec::I2C_REG8, ec::I2C_KIND_WORD, 0xA4, 0, 3, buf), VEK_ERR_ARGUMENT);
    EXPECT_EQ(ec::EcI2cRead(ec::I2C_REG16, ec::I2C_KIND_BYTE, 0xA4, 0, 1, buf), VEK_ERR_ARGUMENT);
    EXPECT_EQ(ec::EcI2cWrite(ec::I2C_REG16, ec::I2C_KIND_WORD, 0xA4, 0, 2, buf), VEK_ERR_ARGUMENT);
    EXPECT_EQ(ec::EcI2cRead(ec::I2C_REG8, 7, 0xA4, 0, 1, buf), VEK_ERR_READ);
    EXPECT_EQ(ec::EcI2cWrite(ec::I2C_REG8, 7, 0xA4, 0, 1, buf), VEK_ERR_WRITE);
    EXPECT_TRUE(mailbox->transactions().empty());
}

TEST_F(EcI2cTest, SpeedSelectorsAndSettleTime) {
    for (int32_t selector : {0, 1, 2}) {
        const int64_t t0 = machine().now_ns();
        ASSERT_EQ(VEK_EC_IIC_Set_Frequency(selector), VEK_OK);
        EXPECT_EQ(mailbox->speed(), selector + 1);
        EXPECT_NEAR(ElapsedS(t0), 0.55, 0.001);
    }
}

// A slave that stretches the clock for good costs the full budget of its kind.
TEST_F(EcI2cTest, HungSlaveExhaustsTheBudget) {
    uint8_t buf[4] = {};
    const struct {
        const char* what;
        std::function<uint32_t()> call;
        uint32_t result;
        double seconds;
    } cases[] = {
        {"block write", [&] { return VEK_EC_IIC_Byte_Addr_Write(kHung << 1, 0, buf, 4); }, VEK_ERR_WRITE, 100.01},
        {"byte write", [&] { return VEK_EC_IIC_Byte_Addr_Write(kHung << 1, 0, buf, 1); }, VEK_ERR_WRITE, 30.003},
        {"byte read", [&] { return VEK_EC_IIC_Byte_Addr_Read(kHung << 1, 0, buf, 1); }, 0x800u, 10.001},
        {"quick", [&] { return VEK_EC_IIC_Quick_Write(kHung << 1, 0); }, VEK_ERR_READ, 10.001},
    };
    for (const auto& c : cases) {
        const int64_t t0 = machine().now_ns();
        EXPECT_EQ(c.call(), c.result) << c.what;
        EXPECT_GE(ElapsedS(t0), c.seconds) << c.what;
        EXPECT_LT(ElapsedS(t0), c.seconds * 1.01) << c.what;
    }
}

// The command byte goes out even when the EC never takes it; the mailbox then
// never finishes and the transaction fails on its budget.
TEST_F(EcI2cTest, EcThatNeverTakesTheCommand) {
    board->Find<sim::EcModel>()->acpi_faults().stuckIbf = true;
    uint8_t b = 0;
    EXPECT_EQ(VEK_EC_IIC_Byte_Addr_Read(kEeprom8 << 1, 0, &b, 1), 0x800u);
    EXPECT_EQ(Steps().back(), (Step{kCommand, 0xA0}));
    EXPECT_TRUE(mailbox->transactions().empty());
}

} // namespace
