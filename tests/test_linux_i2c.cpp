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
        os::SetI2cRoots("/sys/class/i2c-adapter", "/dev");
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

// An adapter without plain I2C transfers gets the SMBus commands that carry
// the same bytes; anything else fails without reaching the bus.
TEST_F(LinuxI2c, SmbusOnlyAdaptersCarryWhatSmbusCanExpress) {
    fake.functions = I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_I2C_BLOCK;
    void* h = OpenSlave();
    ASSERT_NE(h, nullptr);
    const struct {
        const char* what;
        std::vector<uint8_t> write;
        uint32_t rlen;
        uint32_t size;   // SMBus transaction, 0 = none sent
        uint8_t readWrite;
        uint32_t status;
        std::vector<uint8_t> read;
    } cases[] = {
        {"byte-data write", {0x40, 0x5A}, 0, I2C_SMBUS_BYTE_DATA, I2C_SMBUS_WRITE, 0, {}},
        {"byte-data read", {0x40}, 1, I2C_SMBUS_BYTE_DATA, I2C_SMBUS_READ, 0, {0x5A}},
        {"block write", {0x41, 1, 2, 3}, 0, I2C_SMBUS_I2C_BLOCK_DATA, I2C_SMBUS_WRITE, 0, {}},
        {"block read", {0x40}, 4, I2C_SMBUS_I2C_BLOCK_DATA, I2C_SMBUS_READ, 0, {0x5A, 1, 2, 3}},
        {"send byte", {0x42}, 0, I2C_SMBUS_BYTE, I2C_SMBUS_WRITE, 0, {}},
        {"receive byte", {}, 1, I2C_SMBUS_BYTE, I2C_SMBUS_READ, 0, {2}},
        {"33-byte read", {0x40}, 33, 0, 0, 4, {}},
        {"multi-byte plain read", {}, 2, 0, 0, 4, {}},
        {"two-byte register", {0x00, 0x40}, 1, 0, 0, 4, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake.requests.clear();
        std::vector<uint8_t> in(c.rlen);
        uint32_t moved = 99;
        EXPECT_EQ(os::I2cTransfer(h, c.write.data(), uint32_t(c.write.size()), in.data(), c.rlen, &moved), c.status);
        if (c.size == 0) {
            EXPECT_TRUE(fake.requests.empty());
            EXPECT_EQ(moved, 0u);
            continue;
        }
        ASSERT_EQ(fake.requests.size(), 1u);
        EXPECT_EQ(fake.requests[0].code, static_cast<unsigned long>(I2C_SMBUS));
        EXPECT_EQ(fake.requests[0].smbus.size, c.size);
        EXPECT_EQ(fake.requests[0].smbus.read_write, c.readWrite);
        EXPECT_EQ(moved, c.write.size() + c.rlen);
        EXPECT_EQ(in, c.read);
    }
    fake.failWith = ENXIO;
    const uint8_t reg = 0x40;
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
