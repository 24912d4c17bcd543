// SMBus transactions on the three controller flavours, through the exports,
// against the simulated host controllers and their slaves.
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "hal/hal.h"
#include "sim/smbus/smbus_model.h"
#include "sim_fixture.h"
#include "smbus/transactions.h"

using namespace vek;
using namespace vek::test;
using Flavour = sim::SmbusController::Flavour;

namespace {

constexpr uint8_t kSpd = sim::kSpdAddress << 1;        // 0xA0
constexpr uint8_t kEeprom = sim::kBoardEepromAddress << 1; // 0xAE
constexpr uint8_t kBlockDev = sim::kBlockDeviceAddress << 1;
constexpr uint8_t kAbsent = 0x33 << 1;
constexpr int64_t kMs = 1'000'000;

const PlatformEntry& RowFor(Flavour f) {
    switch (f) {
    case Flavour::Sch: return RowWhere([](const PlatformEntry& r) { return r.chipsetId <= 1 && r.chipKind == KIND_EC; });
    case Flavour::Ich: return RowWhere([](const PlatformEntry& r) { return r.chipsetId == 21 && r.chipKind == KIND_EC; });
    case Flavour::Fch: return RowWhere([](const PlatformEntry& r) { return r.chipsetId == CHIPSET_FCH; });
    }
    throw std::logic_error("flavour");
}

const char* Name(Flavour f) { return f == Flavour::Sch ? "SCH" : f == Flavour::Ich ? "ICH" : "FCH"; }

class SmbusTest : public SimBoardTest {
protected:
    void UseFlavour(Flavour f) {
        if (board) TearDown();
        Use(RowFor(f));
        ASSERT_EQ(Init(), VEK_OK);
        Lib().primary.caps[CAP_SMBUS] = 1;
        host = board->Find<sim::SmbusController>();
        ASSERT_NE(host, nullptr);
        ASSERT_EQ(host->flavour(), f);
        machine().ClearTrace();
    }
    // Values written to one controller register, in order.
    std::vector<uint8_t> Writes(uint8_t offset) const {
        std::vector<uint8_t> v;
        for (const sim::TraceEntry& e : board->machine().trace())
            if (e.kind == sim::Access::PortWrite && e.address == uint64_t(host->base() + offset)) v.push_back(uint8_t(e.value));
        return v;
    }
    size_t PortAccesses() const {
        size_t n = 0;
        for (const sim::TraceEntry& e : board->machine().trace())
            n += e.kind == sim::Access::PortRead || e.kind == sim::Access::PortWrite;
        return n;
    }
    template <class T>
    T& Slave(uint8_t address7) {
        return *dynamic_cast<T*>(host->SlaveAt(address7));
    }
    int64_t Elapsed(const std::function<void()>& fn) {
        const int64_t t0 = machine().now_ns();
        fn();
        return machine().now_ns() - t0;
    }
    sim::SmbusController* host = nullptr;
};

constexpr Flavour kFlavours[] = {Flavour::Sch, Flavour::Ich, Flavour::Fch};

// The transactions every flavour offers move the right bytes both ways.
TEST_F(SmbusTest, CommonTransactionsOnEveryFlavour) {
    for (Flavour f : kFlavours) {
        SCOPED_TRACE(Name(f));
        UseFlavour(f);
        auto& dev = Slave<sim::BlockDevice>(sim::kBlockDeviceAddress);

        uint8_t b = 0;
        ASSERT_EQ(VEK_SMBus_ByteData(1, kSpd, 2, &b), VEK_OK);
        EXPECT_EQ(b, 0x0C); // SPD memory type byte
        b = 0x5C;
        ASSERT_EQ(VEK_SMBus_ByteData(0, kBlockDev, 0x10, &b), VEK_OK);
        EXPECT_EQ(dev.registers()[0x10], 0x5C);

        uint32_t w = 0x1234;
        ASSERT_EQ(VEK_SMBus_WordData(0, kBlockDev, 0x20, &w), VEK_OK);
        EXPECT_EQ(dev.registers()[0x20], 0x34); // low byte first on the wire
        EXPECT_EQ(dev.registers()[0x21], 0x12);
        w = 0xFFFFFFFF;
        ASSERT_EQ(VEK_SMBus_WordData(1, kBlockDev, 0x30, &w), VEK_OK);
        EXPECT_EQ(w, uint32_t(dev.registers()[0x31] << 8 | dev.registers()[0x30]));

        b = 0x42;
        ASSERT_EQ(VEK_SMBus_SendReceive(0, kBlockDev, &b), VEK_OK); // selects register 0x42
        ASSERT_EQ(VEK_SMBus_SendReceive(1, kBlockDev, &b), VEK_OK);
        EXPECT_EQ(b, dev.registers()[0x42]);

        uint8_t buf[33] = {};
        ASSERT_EQ(VEK_SMBus_Block(1, kBlockDev, 0x80, 0, buf), VEK_OK);
        EXPECT_EQ(buf[0], 5);
        EXPECT_EQ(std::vector<uint8_t>(buf + 1, buf + 6), dev.block(0x80));

        // Block writes short enough to be on the wire less than the pause
        // after the start, and one that is not.
        for (size_t length : {1u, 3u, 12u, 32u}) {
            SCOPED_TRACE(length);
            std::vector<uint8_t> out(length);
            for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(0x70 + i);
            ASSERT_EQ(VEK_SMBus_Block(0, kBlockDev, 0x90, int32_t(out.size()), out.data()), VEK_OK);
            EXPECT_EQ(dev.block(0x90), out);
        }
    }
}

// Transactions a flavour cannot run are refused with 10 before any port access.
TEST_F(SmbusTest, PerFlavourRefusals) {
    const SmbusOps& ops = smbus::Ops();
    struct Case {
        const char* what;
        std::function<uint32_t()> call;
        bool sch, ich, fch; // offered
    };
    uint8_t data[32] = {};
    uint32_t word = 0;
    const Case cases[] = {
        {"quick", [&] { return ops.quick(Lib().primary, kSpd, 0); }, false, true, true},
        {"process call", [&] { return ops.processCall(Lib().primary, kBlockDev, 0x10, 0x1234, &word); }, true, true, false},
        {"eeprom", [&] { return ops.eeprom(Lib().primary, 0, kEeprom, 0, 1, data); }, true, true, false},
        {"i2c block read", [&] { return ops.i2cBlockRead(Lib().primary, kBlockDev, 0x10, 2, data); }, false, true, false},
        {"i2c block write", [&] { return ops.i2cBlockWrite(Lib().primary, kBlockDev, 0x10, 2, data); }, false, true, false},
    };
    for (Flavour f : kFlavours) {
        UseFlavour(f);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(Name(f)) + " " + c.what);
            const bool offered = f == Flavour::Sch ? c.sch : f == Flavour::Ich ? c.ich : c.fch;
            machine().ClearTrace();
            const uint32_t r = c.call();
            if (offered) {
                EXPECT_NE(r, VEK_ERR_UNSUPPORTED);
            } else {
                EXPECT_EQ(r, VEK_ERR_UNSUPPORTED);
                EXPECT_EQ(PortAccesses(), 0u);
            }
        }
    }
}

TEST_F(SmbusTest, ReadsSetAddressBitZeroWritesSendTheByteUnchanged) {
    UseFlavour(Flavour::Ich);
    constexpr uint8_t kAddress = 0x04;
    uint8_t b = 0;
    ASSERT_EQ(VEK_I2C_ByteData(1, 0, 0x50, 0x00, &b), VEK_OK);
    ASSERT_EQ(VEK_I2C_ByteData(0, 0, 0x50, 0x00, &b), VEK_OK);
    EXPECT_EQ(Writes(kAddress), std::vector<uint8_t>({0xA1, 0xA0}));

    machine().ClearTrace();
    const SmbusOps& ops = smbus::Ops();
    for (uint32_t direction : {1u, 0u, 2u}) ops.quick(Lib().primary, 0xA0, direction);
    EXPECT_EQ(Writes(kAddress), std::vector<uint8_t>({0xA1, 0xA0, 0xA0}));
}

TEST_F(SmbusTest, BlockLengthsAreCutAndChecked) {
    for (Flavour f : kFlavours) {
        SCOPED_TRACE(Name(f));
        UseFlavour(f);
        // Slave reports 40: 32 come back, the count byte says 32.
        uint8_t buf[33] = {};
        ASSERT_EQ(VEK_SMBus_Block(1, kBlockDev, 0x81, 0, buf), VEK_OK);
        EXPECT_EQ(buf[0], 32);
        EXPECT_EQ(buf[32], 32);
        int32_t count = 0;
        uint8_t data[32] = {};
        ASSERT_EQ(VEK_I2C_SMBusBlock(1, 0, sim::kBlockDeviceAddress, 0x81, &count, data), VEK_OK);
        EXPECT_EQ(count, 32);
        EXPECT_EQ(data[0], 1);

        machine().ClearTrace();
        uint8_t big[33] = {};
        EXPECT_EQ(VEK_SMBus_Block(0, kBlockDev, 0x90, 33, big), VEK_ERR_ARGUMENT);
        EXPECT_EQ(VEK_SMBus_Block(0, kBlockDev, 0x90, -1, big), VEK_ERR_ARGUMENT);
        EXPECT_EQ(PortAccesses(), 0u);
    }
}

// Both maps run the EEPROM routine, each with its own control values (the SCH
// map's protocol values carry its own start bit).
TEST_F(SmbusTest, EepromOffsetCarriesIntoTheHighByte) {
    struct Case {
        Flavour flavour;
        uint8_t command, control, setOffset, readByte;
    };
    const Case cases[] = {
        {Flavour::Ich, 0x03, 0x02, smbus::kCtlEepromSetOffset, smbus::kCtlEepromReadByte},
        {Flavour::Sch, 0x05, 0x00, 0x12, 0x11},
    };
    for (const Case& c : cases) {
        const Flavour f = c.flavour;
        SCOPED_TRACE(Name(f));
        UseFlavour(f);
        auto& rom = Slave<sim::Eeprom24c>(sim::kBoardEepromAddress);
        uint8_t buf[3] = {};
        ASSERT_EQ(VEK_SMBus_Read_EEPROM(kEeprom, 0x01FF, 3, buf), VEK_OK);
        EXPECT_EQ(buf[0], rom.bytes()[0x1FF]);
        EXPECT_EQ(buf[1], rom.bytes()[0x200]);
        EXPECT_EQ(buf[2], rom.bytes()[0x201]);
        EXPECT_EQ(Writes(c.command), std::vector<uint8_t>({0x01, 0x02, 0x02})); // offset high as the command
        EXPECT_EQ(Writes(c.control), std::vector<uint8_t>({0, c.setOffset, 0, c.readByte, 0, c.setOffset, 0,
                                                           c.readByte, 0, c.setOffset, 0, c.readByte}));

        // Writes: one byte per write cycle, across the same carry.
        uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
        const int64_t t = Elapsed([&] { ASSERT_EQ(VEK_SMBus_Write_EEPROM(kEeprom, 0x01FE, 4, data), VEK_OK); });
        EXPECT_EQ(std::vector<uint8_t>(rom.bytes().begin() + 0x1FE, rom.bytes().begin() + 0x202),
                  std::vector<uint8_t>(data, data + 4));
        EXPECT_EQ(rom.writeCycles(), 4);
        EXPECT_GE(t, 4 * 10 * kMs); // ten paced register writes a byte
    }
}

// The last-byte bit goes out before the final byte is clocked: in the first
// control write for one byte, while releasing the second-to-last otherwise.
TEST_F(SmbusTest, I2cBlockReadNaksExactlyTheLastByte) {
    UseFlavour(Flavour::Ich);
    auto& dev = Slave<sim::BlockDevice>(sim::kBlockDeviceAddress);
    for (int k = 0; k < 8; ++k) {
        const uint8_t n = std::array<uint8_t, 4>{1, 2, 5, 32}[size_t(k % 4)];
        const bool completesOnly = k >= 4; // the last byte without byte-done
        SCOPED_TRACE(std::to_string(n) + (completesOnly ? " complete alone" : " byte-done and complete"));
        host->SetLastByteCompletesOnly(completesOnly);
        machine().ClearTrace();
        const int before = host->transactions();
        uint8_t buf[32] = {};
        ASSERT_EQ(VEK_I2C_SMBusI2CBlock(1, 0, sim::kBlockDeviceAddress, 0x08, n, buf), VEK_OK);
        EXPECT_EQ(host->i2cReadBytesClocked(), n);
        EXPECT_EQ(std::vector<uint8_t>(buf, buf + n),
                  std::vector<uint8_t>(dev.registers().begin() + 8, dev.registers().begin() + 8 + n));
        // Reset, start (with the last-byte bit for a single byte), then for
        // longer reads the last-byte bit alone: a second start would restart
        // the read and the last byte would be the first one again.
        const std::vector<uint8_t> control = Writes(0x02);
        EXPECT_EQ(control, n == 1 ? std::vector<uint8_t>({0x00, 0x78}) : std::vector<uint8_t>({0x00, 0x58, 0x38}));
        EXPECT_EQ(Writes(0x06).back(), 0x08); // the command goes in data 1
        EXPECT_EQ(host->transactions(), before + 1) << "one command per read";
    }
    uint8_t buf[32] = {};
    ASSERT_EQ(VEK_I2C_SMBusI2CBlock(1, 0, sim::kBlockDeviceAddress, 0x08, 0x128, buf), VEK_OK); // low byte 0x28 = 40
    EXPECT_EQ(host->i2cReadBytesClocked(), 32);

    // A count whose low byte is 0 starts nothing and leaves the controller usable.
    machine().ClearTrace();
    EXPECT_EQ(VEK_I2C_SMBusI2CBlock(1, 0, sim::kBlockDeviceAddress, 0x08, 0x100, buf), VEK_ERR_ARGUMENT);
    EXPECT_EQ(PortAccesses(), 0u);
    uint8_t b = 0;
    EXPECT_EQ(VEK_SMBus_ByteData(1, kBlockDev, 0x08, &b), VEK_OK);
    EXPECT_EQ(b, dev.registers()[0x08]);
}

TEST_F(SmbusTest, I2cBlockWriteSendsNoCountAndDropsI2cModeAfterwards) {
    UseFlavour(Flavour::Ich);
    auto& dev = Slave<sim::BlockDevice>(sim::kBlockDeviceAddress);
    const uint32_t pci = sim::PciAddress(board->smbus().bus, board->smbus().device, board->smbus().function);
    uint8_t data[4] = {0x11, 0x22, 0x33, 0x44};
    ASSERT_EQ(VEK_I2C_SMBusI2CBlock(0, 0, sim::kBlockDeviceAddress, 0x40, 4, data), VEK_OK);
    EXPECT_EQ(dev.lastWrite(), std::vector<uint8_t>(data, data + 4));
    EXPECT_EQ(dev.registers()[0x43], 0x44);
    EXPECT_EQ(machine().FindPciFunction(pci)->Load(smbus::kCfgHostConfig, 1) & smbus::kHostConfigI2cEnable, 0u);

    // A NAK fails the write with 9 and still leaves I2C mode off.
    EXPECT_EQ(VEK_I2C_SMBusI2CBlock(0, 0, 0x33, 0x40, 4, data), VEK_ERR_WRITE);
    EXPECT_EQ(machine().FindPciFunction(pci)->Load(smbus::kCfgHostConfig, 1) & smbus::kHostConfigI2cEnable, 0u);
    EXPECT_EQ(VEK_I2C_SMBusI2CBlock(0, 0, sim::kBlockDeviceAddress, 0x40, 33, data), VEK_ERR_ARGUMENT);

    // Nothing to write starts nothing, like the read, and leaves the host usable.
    machine().ClearTrace();
    EXPECT_EQ(VEK_I2C_SMBusI2CBlock(0, 0, sim::kBlockDeviceAddress, 0x40, 0, data), VEK_ERR_ARGUMENT);
    EXPECT_EQ(PortAccesses(), 0u);
    uint8_t b = 0;
    EXPECT_EQ(VEK_SMBus_ByteData(1, kBlockDev, 0x43, &b), VEK_OK);
    EXPECT_EQ(b, 0x44);
}

TEST_F(SmbusTest, ProcessCallSendsLowByteFirstAndReadsTheAnswer) {
    for (Flavour f : {Flavour::Sch, Flavour::Ich}) {
        SCOPED_TRACE(Name(f));
        UseFlavour(f);
        auto& dev = Slave<sim::BlockDevice>(sim::kBlockDeviceAddress);
        uint32_t sent = 0xABCD1234, received = 0;
        ASSERT_EQ(VEK_SMBus_ProcessCall(kBlockDev, 0x10, &sent, &received), VEK_OK);
        EXPECT_EQ(dev.registers()[0x10], 0x34);
        EXPECT_EQ(dev.registers()[0x11], 0x12);
        EXPECT_EQ(received, 0x1234u); // the device answers from the registers just written
    }
}

// Failures and their budgets, in device time: an error bit ends the poll at
// once where the routine tests it; otherwise the budget runs out (2,001 pauses,
// 20,001 for an EEPROM's first byte).
TEST_F(SmbusTest, NakAndTimeOutResultsWithTheirBudgets) {
    struct Case {
        const char* what;
        Flavour flavour;
        bool hung;
        std::function<uint32_t()> call;
        uint32_t result;
        int64_t minMs, maxMs;
        int collisions = 0;
    };
    uint8_t b = 0;
    uint8_t buf[4] = {};
    uint32_t word = 0, sent = 0x1234;
    const Case cases[] = {
        // The SCH map's own device-error and collision bits end its polls.
        {"SCH block write NAK", Flavour::Sch, false, [&] { return VEK_SMBus_Block(0, kAbsent, 0x90, 2, buf); },
         VEK_ERR_WRITE, 9, 13},
        {"SCH process call NAK", Flavour::Sch, false,
         [&] { return VEK_SMBus_ProcessCall(kAbsent, 0, &sent, &word); }, VEK_ERR_READ, 11, 14},
        {"SCH EEPROM NAK", Flavour::Sch, false, [&] { return VEK_SMBus_Read_EEPROM(kAbsent, 0, 1, buf); },
         VEK_ERR_READ, 9, 13},
        {"SCH read collision", Flavour::Sch, false, [&] { return VEK_SMBus_ByteData(1, kSpd, 0, &b); },
         VEK_ERR_READ, 9, 12, 1},
        {"FCH write collision", Flavour::Fch, false, [&] { return VEK_SMBus_ByteData(0, kSpd, 0, &b); },
         VEK_ERR_WRITE, 10, 13, 1},
        // The ICH block read waits for complete alone, which a collision never raises.
        {"ICH block read collision", Flavour::Ich, false,
         [&] { uint8_t blk[33]; return VEK_SMBus_Block(1, kBlockDev, 0x80, 0, blk); }, VEK_ERR_READ, 2001 + 10,
         2001 + 25, 1},
        {"ICH I2C block read collision", Flavour::Ich, false,
         [&] { return VEK_I2C_SMBusI2CBlock(1, 0, sim::kBlockDeviceAddress, 0, 4, buf); }, VEK_ERR_READ, 8, 12, 1},
        {"ICH read NAK waits for completion", Flavour::Ich, false,
         [&] { return VEK_SMBus_ByteData(1, kAbsent, 0, &b); }, VEK_ERR_READ, 2001 + 9, 2001 + 25},
        {"ICH write NAK", Flavour::Ich, false, [&] { return VEK_SMBus_ByteData(0, kAbsent, 0, &b); }, VEK_ERR_WRITE,
         2001 + 10, 2001 + 25},
        {"FCH read NAK: error bit", Flavour::Fch, false, [&] { return VEK_SMBus_ByteData(1, kAbsent, 0, &b); },
         VEK_ERR_READ, 9, 12},
        {"SCH read NAK: error bit", Flavour::Sch, false, [&] { return VEK_SMBus_ByteData(1, kAbsent, 0, &b); },
         VEK_ERR_READ, 9, 12},
        {"FCH word read NAK", Flavour::Fch, false, [&] { uint32_t w; return VEK_SMBus_WordData(1, kAbsent, 0, &w); },
         VEK_ERR_READ, 9, 12},
        {"FCH hung write", Flavour::Fch, true, [&] { return VEK_SMBus_ByteData(0, kSpd, 0, &b); }, VEK_ERR_WRITE,
         2001 + 10, 2001 + 25},
        {"ICH quick NAK: device error", Flavour::Ich, false, [&] { return VEK_I2C_Quick(0, 0, 0x33); },
         VEK_ERR_WRITE, 8, 11},
        {"ICH hung quick: 2,000 passes", Flavour::Ich, true, [&] { return VEK_I2C_Quick(0, 0, 0x50); },
         VEK_ERR_WRITE, 2000 + 8, 2000 + 25},
        {"ICH EEPROM first byte", Flavour::Ich, false,
         [&] { return VEK_SMBus_Read_EEPROM(kAbsent, 0, 2, buf); }, VEK_ERR_READ, 20001 + 10, 20001 + 45},
        {"ICH I2C block read NAK", Flavour::Ich, false,
         [&] { return VEK_I2C_SMBusI2CBlock(1, 0, 0x33, 0, 4, buf); }, VEK_ERR_READ, 9, 12},
        {"ICH hung I2C block read: 2,000 passes", Flavour::Ich, true,
         [&] { return VEK_I2C_SMBusI2CBlock(1, 0, sim::kSpdAddress, 0, 4, buf); }, VEK_ERR_READ, 2000 + 9,
         2000 + 25},
        {"ICH receive byte NAK", Flavour::Ich, false, [&] { return VEK_SMBus_SendReceive(1, kAbsent, &b); },
         VEK_ERR_READ, 2001 + 9, 2001 + 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UseFlavour(c.flavour);
        host->SetHung(c.hung);
        host->SetCollisions(c.collisions);
        uint32_t r = 0;
        const int64_t t = Elapsed([&] { r = c.call(); });
        EXPECT_EQ(r, c.result);
        EXPECT_GE(t, c.minMs * kMs);
        EXPECT_LE(t, c.maxMs * kMs);
        EXPECT_TRUE(LockIsFree());
    }
}

// The controller model from the register side: each map raises only its own
// status bits, a start while a command runs restarts it, kill ends it.
TEST_F(SmbusTest, ModelStatusBitsPerMap) {
    struct Case {
        const char* what;
        Flavour flavour;
        uint8_t address;  // 7-bit
        uint8_t protocol; // control value with the start bit
        int collisions;
        uint8_t status;   // after the command, busy clear
        bool onWire = true; // an unknown protocol ends before the address goes out
    };
    const Case cases[] = {
        {"SCH byte data done", Flavour::Sch, sim::kSpdAddress, 0x12, 0, 0x01},
        {"SCH byte data NAK", Flavour::Sch, 0x33, 0x12, 0, 0x02},
        {"SCH collision", Flavour::Sch, sim::kSpdAddress, 0x12, 1, 0x04},
        {"SCH unknown protocol", Flavour::Sch, sim::kSpdAddress, 0x17, 0, 0x02, false},
        {"ICH byte data complete", Flavour::Ich, sim::kSpdAddress, 0x48, 0, 0x02},
        {"ICH byte data NAK", Flavour::Ich, 0x33, 0x48, 0, 0x04},
        {"ICH collision", Flavour::Ich, sim::kSpdAddress, 0x48, 1, 0x08},
        {"ICH unknown protocol", Flavour::Ich, sim::kSpdAddress, 0x5C, 0, 0x10, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UseFlavour(c.flavour);
        const bool sch = c.flavour == Flavour::Sch;
        const uint16_t status = uint16_t(host->base() + (sch ? 0x01 : 0x00));
        const uint16_t control = uint16_t(host->base() + (sch ? 0x00 : 0x02));
        auto in = [&](uint16_t port) { uint8_t v = 0; hal::ReadPortByte(port, &v); return v; };
        host->SetCollisions(c.collisions);
        hal::WritePortByte(uint16_t(host->base() + 0x04), uint8_t(c.address << 1 | 1));
        hal::WritePortByte(control, c.protocol);
        const uint8_t busy = sch ? 0x08 : 0x01;
        if (c.onWire) {
            EXPECT_EQ(in(status) & busy, busy) << "busy while on the wire";
        }
        machine().Advance(5 * kMs);
        EXPECT_EQ(in(status), c.status);
    }

    // Kill ends a running command with failed; a start restarts one.
    UseFlavour(Flavour::Ich);
    const uint16_t base = host->base();
    auto in = [&](uint16_t port) { uint8_t v = 0; hal::ReadPortByte(port, &v); return v; };
    host->SetHung(true);
    hal::WritePortByte(uint16_t(base + 0x04), sim::kSpdAddress << 1 | 1);
    hal::WritePortByte(uint16_t(base + 0x02), 0x48);
    EXPECT_EQ(in(base), 0x01);
    hal::WritePortByte(uint16_t(base + 0x02), 0x02); // kill
    EXPECT_EQ(in(base), 0x10);
    host->SetHung(false);
    hal::WritePortByte(base, 0xFF);
    hal::WritePortByte(uint16_t(base + 0x03), 2);
    hal::WritePortByte(uint16_t(base + 0x02), 0x48);
    hal::WritePortByte(uint16_t(base + 0x03), 3);
    hal::WritePortByte(uint16_t(base + 0x02), 0x48); // at once: the first is abandoned
    machine().Advance(5 * kMs);
    EXPECT_EQ(in(base), 0x02);
    EXPECT_EQ(in(uint16_t(base + 0x05)), Slave<sim::SpdEeprom>(sim::kSpdAddress).bytes()[3]);
}

// A byte-data read spends nine paced writes before its first poll.
TEST_F(SmbusTest, ByteReadCostsNinePausesBeforePolling) {
    UseFlavour(Flavour::Ich);
    uint8_t b = 0;
    const int64_t t = Elapsed([&] { ASSERT_EQ(VEK_SMBus_ByteData(1, kSpd, 0, &b), VEK_OK); });
    EXPECT_GE(t, 9 * kMs);
    EXPECT_LT(t, 11 * kMs);
    // ResetHost: control 0, status written back, aux 0; then data 0 and 1 cleared.
    EXPECT_EQ(Writes(0x02).front(), 0);
    EXPECT_EQ(Writes(0x0D), std::vector<uint8_t>({0}));
    EXPECT_EQ(Writes(0x05), std::vector<uint8_t>({0}));
    EXPECT_EQ(Writes(0x06), std::vector<uint8_t>({0}));
}

TEST_F(SmbusTest, AvailabilityFollowsLocated) {
    UseFlavour(Flavour::Ich);
    const std::pair<uint32_t, uint32_t> cases[] = {{1, VEK_OK}, {0, VEK_ERR_STATE}, {2, VEK_ERR_UNSUPPORTED}};
    for (auto [located, result] : cases) {
        Lib().primary.smbus.located = located;
        EXPECT_EQ(VEK_SMBus_Available(), result) << located;
    }
    Lib().primary.smbus.located = 1;
    Lib().primary.caps[CAP_SMBUS] = 0;
    EXPECT_EQ(VEK_SMBus_Available(), VEK_ERR_UNSUPPORTED);
}

// Every way out of the bus exports leaves ApiLock free, and a null pointer is 7.
TEST_F(SmbusTest, EarlyReturnsAndNullPointers) {
    UseFlavour(Flavour::Ich);
    uint8_t b = 0;
    int32_t count = 0;
    const std::pair<const char*, std::function<uint32_t()>> cases[] = {
        {"direction 2", [&] { return VEK_SMBus_ByteData(2, kSpd, 0, &b); }},
        {"null byte", [] { return VEK_SMBus_ByteData(1, kSpd, 0, nullptr); }},
        {"null word", [] { return VEK_SMBus_WordData(1, kSpd, 0, nullptr); }},
        {"null process", [] { return VEK_SMBus_ProcessCall(kSpd, 0, nullptr, nullptr); }},
        {"null block", [] { return VEK_SMBus_Block(1, kSpd, 0, 0, nullptr); }},
        {"null eeprom", [] { return VEK_SMBus_Read_EEPROM(kEeprom, 0, 1, nullptr); }},
        {"null send", [] { return VEK_SMBus_SendReceive(0, kSpd, nullptr); }},
        {"i2c address 128", [&] { return VEK_I2C_ByteData(1, 0, 128, 0, &b); }},
        {"i2c null count", [&] { return VEK_I2C_SMBusBlock(1, 0, 0x50, 0, nullptr, &b); }},
        {"i2c block write 33", [&] { count = 33; return VEK_I2C_SMBusBlock(0, 0, 0x50, 0, &count, &b); }},
        {"i2c null data", [] { return VEK_I2C_SMBusI2CBlock(1, 0, 0x50, 0, 1, nullptr); }},
    };
    for (const auto& [what, call] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(call(), VEK_ERR_ARGUMENT);
        EXPECT_TRUE(LockIsFree());
    }
}

TEST_F(SmbusTest, ExternalCpuSensorOnTheSmbus) {
    Use(RowWhere([](const PlatformEntry& r) { return r.cpuTempOwner == 2 && r.boardId == 128; }));
    ASSERT_EQ(Init(), VEK_OK);
    Lib().primary.caps[CAP_CPU_TEMPERATURE] = 1;
    double t = 0;
    ASSERT_EQ(VEK_HWM_CPUTemperature(0, &t), VEK_OK);
    EXPECT_DOUBLE_EQ(t, 47.75);
}

// Bus 0 reaches the chipset controller; the other buses never touch it.
TEST_F(SmbusTest, I2cBusRouting) {
    Use(RowWhere([](const PlatformEntry& r) {
        return r.chipKind == KIND_EC && r.secondaryKind == KIND_CHIPSET && r.i2cOwners[0] == KIND_CHIPSET;
    }));
    ASSERT_EQ(Init(), VEK_OK);
    Lib().primary.caps[CAP_SMBUS] = 1;
    host = board->Find<sim::SmbusController>();
    uint8_t b = 0;
    const int before = host->transactions();
    EXPECT_EQ(VEK_I2C_ByteData(1, 0, sim::kSpdAddress, 2, &b), VEK_OK);
    EXPECT_EQ(b, 0x0C);
    EXPECT_EQ(host->transactions(), before + 1);
    VEK_I2C_ByteData(1, 2, sim::kSpdAddress, 2, &b); // the platform controller "I2C0"
    EXPECT_EQ(VEK_I2C_ByteData(1, 3, sim::kSpdAddress, 2, &b), VEK_ERR_UNSUPPORTED); // no controller bound
    VEK_I2C_ByteData(1, 1, sim::kSpdAddress, 2, &b); // the EC's master, whatever it answers
    EXPECT_EQ(host->transactions(), before + 1);
    Lib().primary.caps[CAP_SMBUS] = 0;
    EXPECT_EQ(VEK_I2C_ByteData(1, 0, sim::kSpdAddress, 2, &b), VEK_ERR_UNSUPPORTED);
}

} // namespace
