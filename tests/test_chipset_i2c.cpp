// The numbered I2C buses 2 and 3 on the platform I2C controllers, and the EC_IIC
// family on a chipset main chip: routing through the owner lists, the transfers
// on the wire and every result code.
#include <array>
#include <functional>
#include <iterator>

#include "chipset_test_util.h"
#include "sim/chipset/chipset_models.h"
#include "sim/chipset/platform_i2c.h"
#include "sim/smbus/smbus_model.h"

using namespace vek;
using namespace vek::test;
using sim::PlatformI2cBus;

namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------- routing

struct BusRouting {
    const char* row;
    VEK_RESULT bus2, bus3;
};

// Bus 2 reads the EEPROM on "I2C0", bus 3 the sensor on "I2C1", wherever the
// owner list sends them to a chipset context that has the controller.
void PrintTo(const BusRouting& r, std::ostream* os) { *os << r.row; }

const BusRouting kRouting[] = {
    {"PXC-59", VEK_ERR_UNSUPPORTED, VEK_ERR_UNSUPPORTED},   // no owner
    {"PXC-60", VEK_ERR_UNSUPPORTED, VEK_ERR_UNSUPPORTED},   // the chipset owns them but has no controllers
    {"GTB-495", VEK_ERR_UNSUPPORTED, VEK_ERR_UNSUPPORTED},  // owner: the EC, which has no platform buses
    {"YCB-117", VEK_ERR_UNSUPPORTED, VEK_ERR_UNSUPPORTED},
    {"WSR-949", VEK_OK, VEK_OK},                            // split: EC, chipset, chipset
    {"WSR-950", VEK_OK, VEK_ERR_UNSUPPORTED},
    {"WSR-952", VEK_ERR_UNSUPPORTED, VEK_ERR_UNSUPPORTED},
    {"WSR-A56", VEK_OK, VEK_ERR_UNSUPPORTED},               // split: EC, chipset, none
    {"VXA-16A", VEK_OK, VEK_ERR_UNSUPPORTED},
    {"VXA-16E", VEK_OK, VEK_ERR_UNSUPPORTED},
    {"VXA-17-L", VEK_ERR_UNSUPPORTED, VEK_ERR_UNSUPPORTED}, // the controller is there, no owner names it
    {"VXA-17", VEK_ERR_UNSUPPORTED, VEK_ERR_UNSUPPORTED},
    {"FMQ-333-T", VEK_ERR_UNSUPPORTED, VEK_ERR_UNSUPPORTED},
    {"FMQ-333", VEK_ERR_UNSUPPORTED, VEK_ERR_UNSUPPORTED},
    {"FMQ-345", VEK_OK, VEK_ERR_UNSUPPORTED},
};

class BusRoutingTest : public ChipsetTest, public ::testing::WithParamInterface<BusRouting> {};

TEST_P(BusRoutingTest, OwnerListsReachThePlatformControllers) {
    const BusRouting& r = GetParam();
    InitRow(r.row);
    uint8_t v = 0;
    EXPECT_EQ(VEK_I2C_ByteData(1, 2, sim::kPlatformEepromAddress, 0x03, &v), r.bus2);
    if (r.bus2 == VEK_OK) {
        EXPECT_EQ(v, 0x03 ^ 0x5A);
    }
    EXPECT_EQ(VEK_I2C_ByteData(1, 3, sim::kPlatformSensorAddress, 0x00, &v), r.bus3);
    if (r.bus3 == VEK_OK) {
        EXPECT_EQ(v, 41);
    }
    EXPECT_EQ(machine().i2c_open_handles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, BusRoutingTest, ::testing::ValuesIn(kRouting),
                         [](const auto& info) { return TestNameOf(info.param.row); });

// ---------------------------------------------------------------- transfers

class PlatformI2cTest : public ChipsetTest {
protected:
    void SetUp() override {
        InitRow("WSR-949");
        for (auto& d : board->devices())
            if (auto* b = dynamic_cast<PlatformI2cBus*>(d.get()); b && std::string(b->name()) == "I2C0") i2c0 = b;
        ASSERT_NE(i2c0, nullptr);
        block = dynamic_cast<sim::BlockDevice*>(i2c0->SlaveAt(sim::kPlatformBlockAddress));
        ASSERT_NE(block, nullptr);
    }
    const PlatformI2cBus::Message& Last() { return i2c0->messages().back(); }
    PlatformI2cBus* i2c0 = nullptr;
    sim::BlockDevice* block = nullptr;
};

constexpr uint8_t kBlock = sim::kPlatformBlockAddress;

TEST_F(PlatformI2cTest, RegisterTransfersOnTheWire) {
    uint8_t b = 0;
    const int64_t before = machine().now_ns();
    ASSERT_EQ(VEK_I2C_ByteData(1, 2, kBlock, 0x05, &b), VEK_OK);
    EXPECT_EQ(b, 0x35);
    EXPECT_EQ(Last().address7, kBlock);
    EXPECT_EQ(Last().written, Bytes{0x05});
    EXPECT_EQ(Last().readRequested, 1u);
    EXPECT_GE(machine().now_ns() - before, 4 * PlatformI2cBus::kByteNs); // two address phases, two bytes

    b = 0x99;
    ASSERT_EQ(VEK_I2C_ByteData(0, 2, kBlock, 0x05, &b), VEK_OK);
    EXPECT_EQ(Last().written, (Bytes{0x05, 0x99}));
    EXPECT_EQ(block->registers()[5], 0x99);

    uint32_t w = 0xA5A50000; // a read stores all 32 bits
    ASSERT_EQ(VEK_I2C_WordData(1, 2, kBlock, 0x06, &w), VEK_OK);
    EXPECT_EQ(w, 0x3736u);
    w = 0xBEEF;
    ASSERT_EQ(VEK_I2C_WordData(0, 2, kBlock, 0x06, &w), VEK_OK);
    EXPECT_EQ(Last().written, (Bytes{0x06, 0xEF, 0xBE}));

    uint8_t eeprom[4] = {};
    ASSERT_EQ(VEK_I2C_SMBusI2CBlock(1, 2, sim::kPlatformEepromAddress, 0x10, 4, eeprom), VEK_OK);
    EXPECT_EQ(Bytes(eeprom, eeprom + 4), (Bytes{0x10 ^ 0x5A, 0x11 ^ 0x5A, 0x12 ^ 0x5A, 0x13 ^ 0x5A}));

    b = 0x07;
    ASSERT_EQ(VEK_I2C_SendReceive(0, 2, kBlock, &b), VEK_OK);
    EXPECT_EQ(Last().written, Bytes{0x07});
    ASSERT_EQ(VEK_I2C_SendReceive(1, 2, kBlock, &b), VEK_OK);
    EXPECT_EQ(Last().written, Bytes{});
    EXPECT_EQ(Last().readRequested, 1u);
    EXPECT_EQ(b, 0xBE); // register 7, written by the word write above

    EXPECT_EQ(VEK_I2C_Quick(0, 2, kBlock), VEK_ERR_UNSUPPORTED); // the platform has no quick command
    EXPECT_EQ(machine().i2c_open_handles(), 0);
    EXPECT_EQ(i2c0->open_slaves(), 0);
}

TEST_F(PlatformI2cTest, RegisterLengthsAreCutTo32) {
    std::array<uint8_t, 41> buffer{};
    buffer[32] = 0xA5;
    ASSERT_EQ(VEK_I2C_SMBusI2CBlock(1, 2, sim::kPlatformEepromAddress, 0x00, 40, buffer.data()), VEK_OK);
    EXPECT_EQ(Last().readRequested, 32u);
    EXPECT_EQ(buffer[31], 31 ^ 0x5A);
    EXPECT_EQ(buffer[32], 0xA5); // untouched
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = uint8_t(i);
    ASSERT_EQ(VEK_I2C_SMBusI2CBlock(0, 2, sim::kPlatformEepromAddress, 0x40, 40, buffer.data()), VEK_OK);
    EXPECT_EQ(Last().written.size(), 33u);

    const size_t sent = i2c0->messages().size();
    EXPECT_EQ(VEK_I2C_SMBusI2CBlock(1, 2, sim::kPlatformEepromAddress, 0x00, 0, buffer.data()), VEK_ERR_WRITE);
    EXPECT_EQ(i2c0->messages().size(), sent); // a read of nothing never reaches the wire
}

TEST_F(PlatformI2cTest, SmbusBlocksCarryTheirCount) {
    std::array<uint8_t, 40> data{};
    int32_t count = -1;
    ASSERT_EQ(VEK_I2C_SMBusBlock(1, 2, kBlock, 0x80, &count, data.data()), VEK_OK);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 5), (Bytes{'V', 'E', 'K', '-', '4'}));
    EXPECT_EQ(Last().written, Bytes{0x80});
    EXPECT_EQ(Last().readRequested, 33u);

    // A count byte above 32 keeps 32 bytes and answers 8; a count of 0 answers 8.
    ASSERT_EQ(VEK_I2C_SMBusBlock(1, 2, kBlock, 0x82, &count, data.data()), VEK_ERR_READ);
    EXPECT_EQ(count, 32);
    EXPECT_EQ(data[31], 0xEE);
    EXPECT_EQ(VEK_I2C_SMBusBlock(1, 2, kBlock, 0x83, &count, data.data()), VEK_ERR_READ);

    const uint8_t payload[] = {1, 2, 3, 4};
    std::copy(std::begin(payload), std::end(payload), data.begin());
    count = 4;
    ASSERT_EQ(VEK_I2C_SMBusBlock(0, 2, kBlock, 0x84, &count, data.data()), VEK_OK);
    EXPECT_EQ(Last().written, (Bytes{0x84, 4, 1, 2, 3, 4}));
    EXPECT_EQ(block->block(0x84), (Bytes{1, 2, 3, 4}));
    count = 0;
    EXPECT_EQ(VEK_I2C_SMBusBlock(0, 2, kBlock, 0x84, &count, data.data()), VEK_ERR_ARGUMENT);
}

// Slaves that refuse, stall or give up part-way.
TEST_F(PlatformI2cTest, FailuresMapToTheirResults) {
    constexpr uint8_t kAbsent = 0x33, kHung = 0x34, kCutAfter2 = 0x35, kBlockShortOne = 0x36, kBlockShortTwo = 0x37,
                      kBlockWhole = 0x38;
    i2c0->Attach<sim::HungSlave>(kHung);
    i2c0->Attach<sim::CutOffSlave>(kCutAfter2, 2u, uint8_t(0x10));
    i2c0->Attach<sim::CutOffSlave>(kBlockShortOne, 3u, uint8_t(3)); // count 3, then 4, 5 and a stall
    i2c0->Attach<sim::CutOffSlave>(kBlockShortTwo, 2u, uint8_t(3)); // count 3, then 4 and a stall
    i2c0->Attach<sim::CutOffSlave>(kBlockWhole, 4u, uint8_t(3));    // count 3, then 4, 5, 6 and a stall
    uint8_t b = 0;
    uint32_t w = 0;
    int32_t count = 0;
    std::array<uint8_t, 40> data{};
    struct Case {
        const char* what;
        std::function<VEK_RESULT()> call;
        VEK_RESULT result;
    };
    const Case cases[] = {
        {"register read, no slave", [&] { return VEK_I2C_ByteData(1, 2, kAbsent, 0, &b); }, VEK_ERR_WRITE},
        {"register write, no slave", [&] { return VEK_I2C_ByteData(0, 2, kAbsent, 0, &b); }, VEK_ERR_WRITE},
        {"word read, no slave", [&] { return VEK_I2C_WordData(1, 2, kAbsent, 0, &w); }, VEK_ERR_WRITE},
        {"receive, no slave", [&] { return VEK_I2C_SendReceive(1, 2, kAbsent, &b); }, VEK_ERR_READ},
        {"send, no slave", [&] { return VEK_I2C_SendReceive(0, 2, kAbsent, &b); }, VEK_ERR_WRITE},
        {"block read, no slave", [&] { return VEK_I2C_SMBusBlock(1, 2, kAbsent, 0x80, &count, data.data()); },
         VEK_ERR_READ},
        {"block write, no slave", [&] { count = 2; return VEK_I2C_SMBusBlock(0, 2, kAbsent, 0x80, &count, data.data()); },
         VEK_ERR_WRITE},
        {"receive, clock held", [&] { return VEK_I2C_SendReceive(1, 2, kHung, &b); }, VEK_ERR_READ},
        {"register read, clock held", [&] { return VEK_I2C_ByteData(1, 2, kHung, 0, &b); }, VEK_ERR_WRITE},
        {"read stalls after 2 of 4", [&] { return VEK_I2C_SMBusI2CBlock(1, 2, kCutAfter2, 0, 4, data.data()); },
         VEK_ERR_WRITE},
        {"write NAKed after 2 of 6", [&] { count = 4; return VEK_I2C_SMBusBlock(0, 2, kCutAfter2, 0x80, &count, data.data()); },
         VEK_ERR_WRITE},
        {"two-byte write fits", [&] { return VEK_I2C_ByteData(0, 2, kCutAfter2, 0, &b); }, VEK_OK},
        // The block read judges the bytes moved (command, count byte, data), not the status.
        {"block whole, then a stall", [&] { return VEK_I2C_SMBusBlock(1, 2, kBlockWhole, 0x80, &count, data.data()); },
         VEK_OK},
        {"block one short of its count", [&] { return VEK_I2C_SMBusBlock(1, 2, kBlockShortOne, 0x80, &count, data.data()); },
         VEK_ERR_READ},
        {"block two short of its count", [&] { return VEK_I2C_SMBusBlock(1, 2, kBlockShortTwo, 0x80, &count, data.data()); },
         VEK_ERR_READ},
    };
    for (const Case& c : cases) {
        const int64_t before = machine().now_ns();
        EXPECT_EQ(c.call(), c.result) << c.what;
        if (std::string(c.what).find("clock held") != std::string::npos) {
            EXPECT_GE(machine().now_ns() - before, PlatformI2cBus::kClockStretchTimeoutNs) << c.what;
        }
    }
    EXPECT_EQ(machine().i2c_open_handles(), 0);
}

// Every transfer of the bus, run against a device that cannot be opened.
std::vector<std::pair<const char*, std::function<VEK_RESULT()>>> EveryTransfer(uint8_t bus) {
    static uint8_t b;
    static uint32_t w;
    static int32_t count;
    static uint8_t data[40];
    const uint8_t a = kBlock;
    return {
        {"byte read", [=] { return VEK_I2C_ByteData(1, bus, a, 0, &b); }},
        {"byte write", [=] { return VEK_I2C_ByteData(0, bus, a, 0, &b); }},
        {"word read", [=] { return VEK_I2C_WordData(1, bus, a, 0, &w); }},
        {"word write", [=] { return VEK_I2C_WordData(0, bus, a, 0, &w); }},
        {"receive", [=] { return VEK_I2C_SendReceive(1, bus, a, &b); }},
        {"send", [=] { return VEK_I2C_SendReceive(0, bus, a, &b); }},
        {"block read", [=] { return VEK_I2C_SMBusBlock(1, bus, a, 0x80, &count, data); }},
        {"block write", [=] { count = 3; return VEK_I2C_SMBusBlock(0, bus, a, 0x80, &count, data); }},
        {"i2c block read", [=] { return VEK_I2C_SMBusI2CBlock(1, bus, a, 0, 8, data); }},
        {"i2c block write", [=] { return VEK_I2C_SMBusI2CBlock(0, bus, a, 0, 8, data); }},
    };
}

TEST_F(PlatformI2cTest, ADeviceThatCannotBeOpenedAnswers6) {
    i2c0->SetInUse(kBlock, true);
    for (const auto& [what, call] : EveryTransfer(2)) EXPECT_EQ(call(), VEK_ERR_NOT_INITIALISED) << what;
    EXPECT_TRUE(i2c0->messages().empty());
    i2c0->SetInUse(kBlock, false);
    // No controller answers to "I2C0" at all.
    machine().SetPlatformI2c(0, nullptr);
    for (const auto& [what, call] : EveryTransfer(2)) EXPECT_EQ(call(), VEK_ERR_NOT_INITIALISED) << what;
    EXPECT_EQ(VEK_I2C_Quick(0, 2, kBlock), VEK_ERR_UNSUPPORTED);
    machine().SetPlatformI2c(0, i2c0);
    EXPECT_EQ(machine().i2c_open_handles(), 0);
}

// ---------------------------------------------------------------- EC_IIC on a chipset main chip

// The EC_IIC family on a chipset main chip runs on its bus 2. The board's own
// row binds no controller there, so the test binds "I2C0" as other boards do.
class ChipsetEcIicTest : public ChipsetTest {
protected:
    void SetUp() override {
        InitRow("PXC-60");
        bus = &board->Add<PlatformI2cBus>(0u, "I2C0");
        slave = &bus->Attach<sim::BlockDevice>(kBlock);
        for (size_t i = 0; i < slave->registers().size(); ++i) slave->registers()[i] = uint8_t(0x60 + i);
    }
    PlatformI2cBus* bus = nullptr;
    sim::BlockDevice* slave = nullptr;
};

TEST_F(ChipsetEcIicTest, WithoutABoundBusEveryCallAnswers10) {
    uint8_t data[4] = {};
    const VEK_RESULT results[] = {
        VEK_EC_IIC_Byte_Addr_Read(kBlock << 1, 0, data, 1), VEK_EC_IIC_Byte_Addr_Write(kBlock << 1, 0, data, 1),
        VEK_EC_IIC_Receive_Byte(kBlock << 1, data),          VEK_EC_IIC_Send_Byte(kBlock << 1, 1),
        VEK_EC_IIC_Quick_Read(kBlock << 1, 0),               VEK_EC_IIC_Set_Frequency(1),
    };
    for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], VEK_ERR_UNSUPPORTED) << i;
    EXPECT_TRUE(bus->messages().empty());
}

TEST_F(ChipsetEcIicTest, RunsOnBus2) {
    area().busController[2] = chipset::I2C0;
    const uint8_t address = kBlock << 1; // the EC_IIC family takes the address byte
    uint8_t data[4] = {};
    ASSERT_EQ(VEK_EC_IIC_Byte_Addr_Read(address, 0x02, data, 1), VEK_OK);
    EXPECT_EQ(data[0], 0x62);
    ASSERT_EQ(VEK_EC_IIC_Byte_Addr_Read(address, 0x04, data, 3), VEK_OK);
    EXPECT_EQ(Bytes(data, data + 3), (Bytes{0x64, 0x65, 0x66}));
    EXPECT_EQ(bus->messages().back().address7, kBlock);
    const uint8_t out[] = {9, 8};
    ASSERT_EQ(VEK_EC_IIC_Byte_Addr_Write(address, 0x10, const_cast<uint8_t*>(out), 2), VEK_OK);
    EXPECT_EQ(bus->messages().back().written, (Bytes{0x10, 9, 8}));
    ASSERT_EQ(VEK_EC_IIC_Send_Byte(address, 0x03), VEK_OK);
    ASSERT_EQ(VEK_EC_IIC_Receive_Byte(address, data), VEK_OK);
    EXPECT_EQ(data[0], 0x63);

    const struct { VEK_RESULT got, want; } refused[] = {
        {VEK_EC_IIC_Quick_Read(address, 0), VEK_ERR_UNSUPPORTED},
        {VEK_EC_IIC_Quick_Write(address, 0), VEK_ERR_UNSUPPORTED},
        {VEK_EC_IIC_Set_Frequency(2), VEK_ERR_UNSUPPORTED},
        {VEK_EC_IIC_Word_Addr_Read(address, 0x100, data, 1), VEK_ERR_UNSUPPORTED},
        {VEK_EC_IIC_Word_Addr_Write(address, 0x100, data, 1), VEK_ERR_UNSUPPORTED},
        {VEK_EC_IIC_Send_Byte(address, 0x100), VEK_ERR_ARGUMENT},
        {VEK_EC_IIC_Byte_Addr_Read(address, 0, data, 33), VEK_ERR_ARGUMENT},
    };
    for (size_t i = 0; i < std::size(refused); ++i) EXPECT_EQ(refused[i].got, refused[i].want) << i;
    bus->SetInUse(kBlock, true);
    EXPECT_EQ(VEK_EC_IIC_Receive_Byte(address, data), VEK_ERR_NOT_INITIALISED);
}

} // namespace
