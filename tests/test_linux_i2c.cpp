// Platform I2C on Linux against a fake i2c-dev: a sysfs tree of adapters, files
// standing in for the device nodes, and an ioctl that answers as the kernel's
// i2c-dev does for one register-file slave.
#include <gtest/gtest.h>

#include <errno.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "os/linux/i2c_dev.h"
#include "os/os.h"

namespace fs = std::filesystem;
using namespace vek;

namespace {

constexpr uint8_t kSlave = 0x50;
constexpr uint32_t kOpenFailed = 6, kNothingSent = 0xFFFFFFFFu;

// One register-file slave (pointer set by the first written byte) behind every adapter.
struct FakeI2cDev {
    unsigned long functions = I2C_FUNC_I2C;
    int failWith = 0;           // errno every transfer fails with
    int messagesDone = -1;      // I2C_RDWR reports this many messages done (-1: all)
    bool addressBusy = false;   // a kernel driver holds the slave address
    uint16_t selected = 0;      // I2C_SLAVE
    std::array<uint8_t, 256> registers{};
    uint8_t pointer = 0;
    uint8_t blockCount = 32;    // what the slave answers to an SMBus block read

    struct Message {
        uint16_t addr, flags;
        std::vector<uint8_t> bytes; // written bytes, or the bytes handed back
    };
    struct Request {
        unsigned long code;
        std::vector<Message> messages; // I2C_RDWR
        i2c_smbus_ioctl_data smbus{};  // I2C_SMBUS (data pointer not kept)
    };
    std::vector<Request> requests;

    int Transfer(i2c_rdwr_ioctl_data* rdwr) {
        Request r{I2C_RDWR, {}, {}};
        for (uint32_t i = 0; i < rdwr->nmsgs; ++i) {
            i2c_msg& m = rdwr->msgs[i];
            Message logged{m.addr, m.flags, {}};
            if (!failWith && m.addr == kSlave) {
                if (m.flags & I2C_M_RD) {
                    for (uint16_t b = 0; b < m.len; ++b) m.buf[b] = registers[pointer++];
                    logged.bytes.assign(m.buf, m.buf + m.len);
                } else {
                    logged.bytes.assign(m.buf, m.buf + m.len);
                    if (m.len) pointer = m.buf[0];
                    for (uint16_t b = 1; b < m.len; ++b) registers[pointer++] = m.buf[b];
                }
            }
            r.messages.push_back(logged);
        }
        requests.push_back(r);
        if (failWith) return errno = failWith, -1;
        for (const Message& m : r.messages)
            if (m.addr != kSlave) return errno = ENXIO, -1;
        return messagesDone >= 0 ? messagesDone : int(rdwr->nmsgs);
    }

    int Smbus(i2c_smbus_ioctl_data* s) {
        requests.push_back({I2C_SMBUS, {}, *s});
        if (failWith) return errno = failWith, -1;
        if (selected != kSlave) return errno = ENXIO, -1;
        const bool read = s->read_write == I2C_SMBUS_READ;
        switch (s->size) {
        case I2C_SMBUS_BYTE:
            if (read) s->data->byte = registers[pointer++];
            else pointer = s->command;
            return 0;
        case I2C_SMBUS_BYTE_DATA:
            if (read) s->data->byte = registers[s->command];
            else registers[s->command] = s->data->byte;
            return 0;
        case I2C_SMBUS_WORD_DATA:
            if (read) s->data->word = uint16_t(registers[s->command] | registers[uint8_t(s->command + 1)] << 8);
            else registers[s->command] = uint8_t(s->data->word), registers[uint8_t(s->command + 1)] = uint8_t(s->data->word >> 8);
            return 0;
        case I2C_SMBUS_BLOCK_DATA: // the slave sends its count, then that many bytes
            if (read) s->data->block[0] = blockCount;
            else if (s->data->block[0] == 0 || s->data->block[0] > I2C_SMBUS_BLOCK_MAX) return errno = EINVAL, -1;
            [[fallthrough]];
        case I2C_SMBUS_I2C_BLOCK_DATA:
            for (int i = 0; i < s->data->block[0]; ++i) {
                if (read) s->data->block[1 + i] = registers[uint8_t(s->command + i)];
                else registers[uint8_t(s->command + i)] = s->data->block[1 + i];
            }
            return 0;
        default:
            return errno = EOPNOTSUPP, -1;
        }
    }
};
FakeI2cDev* g_fake = nullptr;

int FakeIoctl(int, unsigned long request, void* arg) {
    switch (request) {
    case I2C_FUNCS:
        *static_cast<unsigned long*>(arg) = g_fake->functions;
        return 0;
    case I2C_SLAVE:
        g_fake->requests.push_back({I2C_SLAVE, {}, {}});
        if (g_fake->addressBusy) return errno = EBUSY, -1;
        g_fake->selected = uint16_t(reinterpret_cast<uintptr_t>(arg));
        return 0;
    case I2C_RDWR:
        return g_fake->Transfer(static_cast<i2c_rdwr_ioctl_data*>(arg));
    case I2C_SMBUS:
        return g_fake->Smbus(static_cast<i2c_smbus_ioctl_data*>(arg));
    default:
        return errno = ENOTTY, -1;
    }
}

class LinuxI2c : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("vek_i2c_" + std::to_string(::getpid()));
        fs::create_directories(root / "sys");
        fs::create_directories(root / "dev");
        os::SetI2cRoots((root / "sys").string(), (root / "dev").string());
        os::SetI2cConfigFile((root / "i2c.conf").string());
        unsetenv("VEK_I2C_MAP");
        g_fake = &fake;
        os::SetI2cIoctl(&FakeIoctl);
    }
    void TearDown() override {
        os::SetI2cIoctl(nullptr);
        os::SetI2cRoots("", "/dev");
        os::SetI2cConfigFile("/etc/vek/i2c.conf");
        unsetenv("VEK_I2C_MAP");
        g_fake = nullptr;
        fs::remove_all(root);
    }
    void AddAdapter(int bus, const std::string& name, const std::string& acpiPath = "", bool onParent = false) {
        const fs::path dir = root / "sys" / ("i2c-" + std::to_string(bus));
        fs::create_directories(dir);
        std::ofstream(dir / "name") << name << "\n";
        if (!acpiPath.empty()) {
            const fs::path node = onParent ? dir / "device" / "firmware_node" : dir / "firmware_node";
            fs::create_directories(node);
            std::ofstream(node / "path") << acpiPath << "\n";
        }
        std::ofstream(root / "dev" / ("i2c-" + std::to_string(bus)));
    }
    // Opens I2C0 at the slave on bus 3.
    void* OpenSlave() {
        AddAdapter(3, "I2C0");
        void* h = nullptr;
        EXPECT_EQ(os::I2cOpen(0, kSlave, &h), 0u);
        fake.requests.clear();
        return h;
    }

    fs::path root;
    FakeI2cDev fake;
};

// ---- which adapter a controller name picks ----

TEST_F(LinuxI2c, ControllerNamesResolveByOverrideNameThenAcpiNode) {
    AddAdapter(0, "SMBus I801 adapter at efa0");
    AddAdapter(1, "Synopsys DesignWare I2C adapter", "\\_SB_.PCI0.I2C1");
    AddAdapter(2, "Synopsys DesignWare I2C adapter", "\\_SB_.PCI0.I2C0", true);
    AddAdapter(7, "I2C0");
    AddAdapter(12, "I2C0");
    const struct {
        const char* what;
        const char* env;
        const char* config;
        int i2c0, i2c1;
    } cases[] = {
        {"adapter name first, lowest bus; ACPI node of the adapter", nullptr, nullptr, 7, 1},
        {"environment by number and by name", "I2C1=i2c-0; I2C0 = SMBus I801 adapter at efa0", nullptr, 0, 0},
        {"configuration file", nullptr, "# platform buses\nI2C0 = 12\n\nI2C1=i2c-2\n", 12, 2},
        {"environment wins over the file, entry by entry", "I2C0=3", "I2C0 = 12\nI2C1 = 0\n", 3, 0},
        {"an override naming nothing picks nothing", nullptr, "I2C0 = no such adapter\n", -1, 1},
        {"malformed entries are skipped", "junk;I2C1", "=5\nI2C1\n", 7, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.env) setenv("VEK_I2C_MAP", c.env, 1);
        else unsetenv("VEK_I2C_MAP");
        fs::remove(root / "i2c.conf");
        if (c.config) std::ofstream(root / "i2c.conf") << c.config;
        EXPECT_EQ(os::ResolveI2cController(0), c.i2c0);
        EXPECT_EQ(os::ResolveI2cController(1), c.i2c1);
        EXPECT_EQ(os::ResolveI2cController(2), -1);
    }
}

TEST_F(LinuxI2c, AcpiNodeOfTheControllerDeviceCounts) {
    AddAdapter(4, "Synopsys DesignWare I2C adapter", "\\_SB_.PCI0.I2C0", true);
    EXPECT_EQ(os::ResolveI2cController(0), 4);
    EXPECT_EQ(os::ResolveI2cController(1), -1);
    os::SetI2cRoots((root / "missing").string(), (root / "dev").string());
    EXPECT_EQ(os::ResolveI2cController(0), -1);
}

// The bus listing as the kernel lays it out: i2c-N links into the device tree,
// client entries beside them, ACPI companions on the controller devices.
TEST_F(LinuxI2c, BusListingMatchesFirmwareIdentity) {
    struct Controller {
        int bus;
        const char* device; // below /sys/devices; the adapter sits in it
        const char* acpi;   // companion of the device (nullptr: none)
        const char* hid;
        int acpiLevel;      // 1: on the device itself, 2: on its parent
    };
    const std::vector<Controller> intel{
        {0, "pci0000:00/0000:00:1f.3", "\\_SB_.PCI0.SBUS", "", 1},
        {7, "pci0000:00/0000:00:15.0/i2c_designware.0", "\\_SB_.PCI0.I2C0", "", 2},
        {8, "pci0000:00/0000:00:15.1/i2c_designware.1", "\\_SB_.PCI0.I2C1", "", 2},
    };
    const std::vector<Controller> amd{
        {0, "pci0000:00/0000:00:14.0", nullptr, "", 1},
        {2, "platform/AMDI0010:01", "\\_SB_.I2CB", "AMDI0010", 1},
        {1, "platform/AMDI0010:00", "\\_SB_.I2CA", "AMDI0010", 1},
    };
    const std::vector<Controller> lettersWithoutAmd{{4, "platform/ACPI0001:00", "\\_SB_.I2CA", "ACPI0001", 1}};
    const struct {
        const char* what;
        const std::vector<Controller>* tree;
        const char* env;
        int i2c0, i2c1;
    } cases[] = {
        {"Intel LPSS: the PCI function's ACPI node above the DesignWare child", &intel, nullptr, 7, 8},
        {"AMD: I2CA and I2CB by their HID", &amd, nullptr, 1, 2},
        {"letter names only for AMD's controllers", &lettersWithoutAmd, nullptr, -1, -1},
        {"override by ACPI path", &intel, "I2C0=\\_SB_.PCI0.I2C1;I2C1=\\_sb_.pci0.sbus", 8, 0},
        {"override by PCI address, with and without the domain", &intel, "I2C0=0000:00:15.1;I2C1=00:1f.3", 8, 0},
        {"override by a PCI address or ACPI path nothing sits at", &intel, "I2C0=00:16.0;I2C1=\\_SB_.PCI0.I2C9", -1,
         -1},
    };
    const fs::path listing = root / "sys" / "bus" / "i2c" / "devices";
    os::SetI2cRoots(listing.string(), (root / "dev").string());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root / "sys");
        fs::create_directories(listing);
        for (const Controller& ctl : *c.tree) {
            const fs::path device = root / "sys" / "devices" / ctl.device;
            const std::string adapter = "i2c-" + std::to_string(ctl.bus);
            fs::create_directories(device / adapter);
            std::ofstream(device / adapter / "name") << "Synopsys DesignWare I2C adapter\n";
            if (ctl.acpi) {
                const fs::path node = (ctl.acpiLevel == 2 ? device.parent_path() : device) / "firmware_node";
                fs::create_directories(node);
                std::ofstream(node / "path") << ctl.acpi << "\n";
                std::ofstream(node / "hid") << ctl.hid << "\n";
            }
            fs::create_directory_symlink(device / adapter, listing / adapter);
            fs::create_directory_symlink(device, listing / (std::to_string(ctl.bus) + "-0050")); // a client
        }
        if (c.env) setenv("VEK_I2C_MAP", c.env, 1);
        else unsetenv("VEK_I2C_MAP");
        EXPECT_EQ(os::ResolveI2cController(0), c.i2c0);
        EXPECT_EQ(os::ResolveI2cController(1), c.i2c1);
    }
}

// ---- open ----

TEST_F(LinuxI2c, OpenFailuresAnswerSix) {
    void* h = reinterpret_cast<void*>(1);
    EXPECT_EQ(os::I2cOpen(0, kSlave, &h), kOpenFailed) << "no adapter";
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(os::I2cOpen(0, kSlave, nullptr), kOpenFailed);

    AddAdapter(3, "I2C0");
    fs::remove(root / "dev" / "i2c-3");
    EXPECT_EQ(os::I2cOpen(0, kSlave, &h), kOpenFailed) << "no device node (i2c-dev not loaded)";

    std::ofstream(root / "dev" / "i2c-3");
    fake.addressBusy = true;
    EXPECT_EQ(os::I2cOpen(0, kSlave, &h), kOpenFailed) << "address bound by a kernel driver";
    EXPECT_EQ(os::I2cOpen(0, 0x80, &h), kOpenFailed) << "not a 7-bit address";

    fake.addressBusy = false;
    ASSERT_EQ(os::I2cOpen(0, kSlave, &h), 0u);
    EXPECT_EQ(fake.selected, kSlave);
    os::I2cClose(h);
}

// ---- transfers ----

TEST_F(LinuxI2c, WriteThenReadIsOneCombinedRequest) {
    void* h = OpenSlave();
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < 8; ++i) fake.registers[0x20 + i] = uint8_t(0xA0 + i);

    const uint8_t reg = 0x22;
    uint8_t in[3] = {};
    uint32_t moved = 99;
    EXPECT_EQ(os::I2cTransfer(h, &reg, 1, in, 3, &moved), 0u);
    EXPECT_EQ(moved, 4u);
    EXPECT_EQ(std::vector<uint8_t>(in, in + 3), (std::vector<uint8_t>{0xA2, 0xA3, 0xA4}));
    ASSERT_EQ(fake.requests.size(), 1u);
    const auto& msgs = fake.requests[0].messages;
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].addr, kSlave);
    EXPECT_EQ(msgs[0].flags, 0);
    EXPECT_EQ(msgs[0].bytes, std::vector<uint8_t>{0x22});
    EXPECT_EQ(msgs[1].flags, I2C_M_RD);
    EXPECT_EQ(msgs[1].bytes.size(), 3u);

    const uint8_t out[] = {0x30, 1, 2};
    EXPECT_EQ(os::I2cTransfer(h, out, 3, nullptr, 0, &moved), 0u);
    EXPECT_EQ(moved, 3u);
    EXPECT_EQ(fake.registers[0x31], 2);
    EXPECT_EQ(fake.requests.back().messages.size(), 1u);

    uint8_t one = 0;
    EXPECT_EQ(os::I2cTransfer(h, nullptr, 0, &one, 1, &moved), 0u);
    EXPECT_EQ(one, 0) << "the pointer left after the write";
    EXPECT_EQ(fake.requests.back().messages[0].flags, I2C_M_RD);
    os::I2cClose(h);
}

TEST_F(LinuxI2c, KernelFailuresBecomeTransferStatuses) {
    void* h = OpenSlave();
    ASSERT_NE(h, nullptr);
    const struct { const char* what; int error; int done; uint32_t status; uint32_t moved; } cases[] = {
        {"address not acknowledged", ENXIO, -1, 2, 0},
        {"aborted on a NAK", EREMOTEIO, -1, 2, 0},
        {"nothing at the address", ENODEV, -1, 2, 0},
        {"clock held too long", ETIMEDOUT, -1, 3, 0},
        {"bus error", EIO, -1, 4, 0},
        {"lost arbitration", EAGAIN, -1, 4, 0},
        {"only the write went out", 0, 1, 1, 1},
    };
    const uint8_t reg = 0x10;
    uint8_t in[2];
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake.failWith = c.error;
        fake.messagesDone = c.done;
        uint32_t moved = 99;
        EXPECT_EQ(os::I2cTransfer(h, &reg, 1, in, 2, &moved), c.status);
        EXPECT_EQ(moved, c.moved);
    }
    fake.failWith = 0;
    fake.messagesDone = -1;
    fake.requests.clear();
    uint32_t moved = 99;
    EXPECT_EQ(os::I2cTransfer(h, nullptr, 0, nullptr, 0, &moved), kNothingSent);
    EXPECT_EQ(os::I2cTransfer(h, &reg, 0, in, 0, &moved), kNothingSent);
    EXPECT_EQ(os::I2cTransfer(nullptr, &reg, 1, in, 1, &moved), kNothingSent);
    EXPECT_EQ(moved, 0u);
    EXPECT_TRUE(fake.requests.empty());
    os::I2cClose(h);
    os::I2cClose(nullptr);
}

// An adapter without plain I2C transfers gets the SMBus transaction that puts
// the same bytes on the wire, as far as the adapter offers one; anything else
// fails without reaching the bus. i801 offers I2C block transfers, piix4 only
// word data and counted blocks.
TEST_F(LinuxI2c, SmbusOnlyAdaptersCarryWhatSmbusCanExpress) {
    constexpr unsigned long kI801 = I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA |
                                    I2C_FUNC_SMBUS_BLOCK_DATA | I2C_FUNC_SMBUS_I2C_BLOCK;
    constexpr unsigned long kPiix4 =
        I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA | I2C_FUNC_SMBUS_BLOCK_DATA;
    std::vector<uint8_t> block32{0x60, 32}, counted32{32};
    for (uint8_t i = 0; i < 32; ++i) block32.push_back(uint8_t(0xC0 + i)), counted32.push_back(uint8_t(0xC0 + i));
    const struct {
        const char* what;
        unsigned long functions;
        std::vector<uint8_t> write;
        uint32_t rlen;
        uint32_t size;   // SMBus transaction, 0 = none sent
        uint8_t readWrite;
        uint32_t status;
        std::vector<uint8_t> read;
        uint32_t moved;
    } cases[] = {
        {"byte-data write", kI801, {0x40, 0x5A}, 0, I2C_SMBUS_BYTE_DATA, I2C_SMBUS_WRITE, 0, {}, 2},
        {"byte-data read", kI801, {0x40}, 1, I2C_SMBUS_BYTE_DATA, I2C_SMBUS_READ, 0, {0x5A}, 2},
        {"I2C block write", kI801, {0x41, 1, 2, 3}, 0, I2C_SMBUS_I2C_BLOCK_DATA, I2C_SMBUS_WRITE, 0, {}, 4},
        {"I2C block read", kI801, {0x40}, 4, I2C_SMBUS_I2C_BLOCK_DATA, I2C_SMBUS_READ, 0, {0x5A, 1, 2, 3}, 5},
        {"send byte", kI801, {0x42}, 0, I2C_SMBUS_BYTE, I2C_SMBUS_WRITE, 0, {}, 1},
        {"receive byte", kI801, {}, 1, I2C_SMBUS_BYTE, I2C_SMBUS_READ, 0, {2}, 1},
        {"32-byte block write: command, count, 32 bytes", kI801, block32, 0, I2C_SMBUS_BLOCK_DATA, I2C_SMBUS_WRITE, 0,
         {}, 34},
        {"32-byte block read: count byte and 32 bytes", kI801, {0x60}, 33, I2C_SMBUS_BLOCK_DATA, I2C_SMBUS_READ, 0,
         counted32, 34},
        {"two bytes without I2C block: word data", kPiix4, {0x60}, 2, I2C_SMBUS_WORD_DATA, I2C_SMBUS_READ, 0,
         {0xC0, 0xC1}, 3},
        {"word write without I2C block", kPiix4, {0x44, 0x11, 0x22}, 0, I2C_SMBUS_WORD_DATA, I2C_SMBUS_WRITE, 0, {}, 3},
        {"short counted write without I2C block", kPiix4, {0x48, 2, 7, 8}, 0, I2C_SMBUS_BLOCK_DATA, I2C_SMBUS_WRITE,
         0, {}, 4},
        {"uncounted write without I2C block", kPiix4, {0x48, 9, 7, 8}, 0, 0, 0, 4, {}, 0},
        {"four bytes without I2C block", kPiix4, {0x40}, 4, 0, 0, 4, {}, 0},
        {"32 data bytes without a count", kI801, std::vector<uint8_t>(34, 1), 0, 0, 0, 4, {}, 0},
        {"34-byte read", kI801, {0x40}, 34, 0, 0, 4, {}, 0},
        {"multi-byte plain read", kI801, {}, 2, 0, 0, 4, {}, 0},
        {"two-byte register", kI801, {0x00, 0x40}, 1, 0, 0, 4, {}, 0},
    };
    AddAdapter(3, "I2C0");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake.functions = c.functions;
        void* h = nullptr;
        ASSERT_EQ(os::I2cOpen(0, kSlave, &h), 0u);
        fake.requests.clear();
        std::vector<uint8_t> in(c.rlen);
        uint32_t moved = 99;
        EXPECT_EQ(os::I2cTransfer(h, c.write.data(), uint32_t(c.write.size()), in.data(), c.rlen, &moved), c.status);
        EXPECT_EQ(moved, c.moved);
        os::I2cClose(h);
        if (c.size == 0) {
            EXPECT_TRUE(fake.requests.empty());
            continue;
        }
        ASSERT_EQ(fake.requests.size(), 1u);
        EXPECT_EQ(fake.requests[0].code, static_cast<unsigned long>(I2C_SMBUS));
        EXPECT_EQ(fake.requests[0].smbus.size, c.size);
        EXPECT_EQ(fake.requests[0].smbus.read_write, c.readWrite);
        EXPECT_EQ(fake.requests[0].smbus.command, c.write.empty() ? 0 : c.write[0]);
        EXPECT_EQ(in, c.read);
    }
    EXPECT_EQ(fake.registers[0x44], 0x11) << "word data goes low byte first";
    EXPECT_EQ(fake.registers[0x45], 0x22);
    EXPECT_EQ(fake.registers[0x49], 8);

    fake.functions = kI801;
    void* h = nullptr;
    ASSERT_EQ(os::I2cOpen(0, kSlave, &h), 0u);
    const uint8_t reg = 0x60;
    uint8_t reply[33] = {};
    uint32_t moved = 0;
    fake.blockCount = 5;
    EXPECT_EQ(os::I2cTransfer(h, &reg, 1, reply, 33, &moved), 1u) << "a short block is a partial transfer";
    EXPECT_EQ(moved, 7u) << "command, count byte and five data bytes";
    EXPECT_EQ(reply[0], 5);
    EXPECT_EQ(reply[5], 0xC4);
    fake.failWith = ENXIO;
    uint8_t b;
    EXPECT_EQ(os::I2cTransfer(h, &reg, 1, &b, 1, nullptr), 2u);
    os::I2cClose(h);
}

// The native platform hands the seam's I2C entries to these routines.
TEST_F(LinuxI2c, NativePlatformServesTheSeam) {
    const vek_host_platform& p = os::NativePlatform();
    ASSERT_TRUE(p.i2c_open && p.i2c_transfer && p.i2c_close);
    AddAdapter(5, "I2C1");
    void* h = nullptr;
    EXPECT_EQ(p.i2c_open(p.user, 0, kSlave, &h), kOpenFailed);
    ASSERT_EQ(p.i2c_open(p.user, 1, kSlave, &h), 0u);
    fake.registers[0x07] = 0x77;
    const uint8_t reg = 0x07;
    uint8_t v = 0;
    uint32_t moved = 0;
    EXPECT_EQ(p.i2c_transfer(p.user, h, &reg, 1, &v, 1, &moved), 0u);
    EXPECT_EQ(v, 0x77);
    p.i2c_close(p.user, h);
}

} // namespace
