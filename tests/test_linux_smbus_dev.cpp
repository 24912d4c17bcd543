// The chipset SMBus through i2c-dev: adapter found on a fake sysfs tree, the
// ioctls answered by a fake kernel that keeps one client-owned address.
#include <gtest/gtest.h>

#include <errno.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdlib.h>

#include <cstring>
#include <vector>

#include "linux_fake_tree.h"
#include "os/linux/ownership.h"
#include "os/linux/smbus_dev.h"

using namespace vek;
using vek::test::FakeTree;

namespace {

constexpr uint32_t kIch = (31 << 3) | 3;
constexpr uint8_t kOwned = 0x57; // bound to a kernel EEPROM driver

struct Call {
    unsigned long request;
    long slave;                  // I2C_SLAVE(_FORCE) argument
    i2c_smbus_ioctl_data args;   // I2C_SMBUS
    i2c_smbus_data data;
};

struct FakeKernel {
    unsigned long funcs = I2C_FUNC_SMBUS_EMUL | I2C_FUNC_SMBUS_READ_BLOCK_DATA;
    int smbusErrno = 0;          // the next I2C_SMBUS fails with this
    uint8_t blockLength = 4;     // what a block read reports
    std::vector<Call> calls;
};
FakeKernel* g_kernel = nullptr;

int FakeIoctl(int, unsigned long request, void* arg) {
    Call c{};
    c.request = request;
    FakeKernel& k = *g_kernel;
    switch (request) {
    case I2C_FUNCS: *static_cast<unsigned long*>(arg) = k.funcs; return 0;
    case I2C_SLAVE:
    case I2C_SLAVE_FORCE:
        c.slave = long(reinterpret_cast<uintptr_t>(arg));
        k.calls.push_back(c);
        if (request == I2C_SLAVE && c.slave == kOwned) {
            errno = EBUSY;
            return -1;
        }
        return 0;
    case I2C_SMBUS: {
        auto* a = static_cast<i2c_smbus_ioctl_data*>(arg);
        c.args = *a;
        if (a->data) c.data = *a->data;
        k.calls.push_back(c);
        if (k.smbusErrno) {
            errno = k.smbusErrno;
            return -1;
        }
        if (a->read_write == I2C_SMBUS_READ && a->size == I2C_SMBUS_BYTE_DATA) a->data->byte = 0x5A;
        if (a->size == I2C_SMBUS_PROC_CALL) a->data->word = uint16_t(a->data->word ^ 0xFFFF);
        if (a->read_write == I2C_SMBUS_READ && a->size == I2C_SMBUS_BLOCK_DATA) {
            a->data->block[0] = k.blockLength;
            for (int i = 1; i <= 32; ++i) a->data->block[i] = uint8_t(0xB0 + i);
        }
        return 0;
    }
    default: errno = ENOTTY; return -1;
    }
}

class SmbusDev : public ::testing::Test {
protected:
    void SetUp() override {
        g_kernel = &kernel;
        os::SetSmbusIoctl(FakeIoctl);
        tree.Adapter(0, "i915 gmbus dpb");
        tree.Adapter(6, "SMBus I801 adapter at efa0", "0000:00:1f.3");
        tree.File("dev/i2c-6", "");
        unsetenv("VEK_SMBUS_SHARED_READS");
    }
    void TearDown() override {
        if (handle) os::SmbusDevClose(handle);
        os::SetSmbusIoctl(nullptr);
        unsetenv("VEK_SMBUS_SHARED_READS");
        g_kernel = nullptr;
    }
    void Open() { ASSERT_EQ(os::SmbusDevOpen(os::OwnershipProbe(tree.root()), kIch, 0xefa0, &handle), 0u); }
    uint32_t Run(uint8_t address, vek_host_smbus_transfer& t) { return os::SmbusDevTransfer(handle, address, &t); }
    int SmbusCalls() const {
        int n = 0;
        for (const Call& c : kernel.calls) n += c.request == I2C_SMBUS;
        return n;
    }
    static vek_host_smbus_transfer T(uint8_t read, uint8_t kind, uint8_t command = 0, uint16_t word = 0) {
        vek_host_smbus_transfer t{};
        t.read = read;
        t.kind = kind;
        t.command = command;
        t.word = word;
        return t;
    }

    FakeTree tree;
    FakeKernel kernel;
    void* handle = nullptr;
};

TEST_F(SmbusDev, OpenNeedsTheControllersAdapterAndItsNode) {
    void* h = nullptr;
    FakeTree none;
    none.Adapter(0, "i915 gmbus dpb");
    EXPECT_EQ(os::SmbusDevOpen(os::OwnershipProbe(none.root()), kIch, 0xefa0, &h), 1u);
    FakeTree noNode;
    noNode.Adapter(3, "SMBus I801 adapter at efa0", "0000:00:1f.3");
    EXPECT_EQ(os::SmbusDevOpen(os::OwnershipProbe(noNode.root()), kIch, 0xefa0, &h), 2u);
    EXPECT_EQ(h, nullptr);
    Open();
}

TEST_F(SmbusDev, KernelErrorsMapToStatuses) {
    Open();
    const struct { int err; uint32_t status; } cases[] = {
        {ENXIO, VEK_HOST_SMBUS_NO_ACK},       {ETIMEDOUT, VEK_HOST_SMBUS_TIMEOUT},
        {EBUSY, VEK_HOST_SMBUS_TIMEOUT},      {EAGAIN, VEK_HOST_SMBUS_TIMEOUT},
        {EIO, VEK_HOST_SMBUS_FAILED},         {EPROTO, VEK_HOST_SMBUS_FAILED},
        {EOPNOTSUPP, VEK_HOST_SMBUS_UNSUPPORTED},
    };
    for (const auto& c : cases) {
        kernel.smbusErrno = c.err;
        auto t = T(1, VEK_HOST_SMBUS_BYTE_DATA, 0x10);
        EXPECT_EQ(Run(0x50, t), c.status) << strerror(c.err);
    }
}

TEST_F(SmbusDev, TransfersTheAdapterLacksAreRefusedWithoutAsking) {
    kernel.funcs = I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_QUICK;
    Open();
    const struct { uint8_t read, kind; } cases[] = {
        {0, VEK_HOST_SMBUS_I2C_BLOCK}, {1, VEK_HOST_SMBUS_BLOCK_DATA}, {0, VEK_HOST_SMBUS_PROC_CALL},
        {1, VEK_HOST_SMBUS_WORD_DATA}, {0, 9 /* no such kind */},
    };
    for (const auto& c : cases) {
        auto t = T(c.read, c.kind);
        t.length = 4;
        EXPECT_EQ(Run(0x50, t), VEK_HOST_SMBUS_UNSUPPORTED) << int(c.kind);
    }
    EXPECT_EQ(SmbusCalls(), 0);
    auto t = T(1, VEK_HOST_SMBUS_BYTE_DATA);
    EXPECT_EQ(Run(0x50, t), VEK_HOST_SMBUS_OK);
    EXPECT_EQ(t.word, 0x5A);
}

TEST_F(SmbusDev, KernelClientAddressRefusesWritesAndReadsUnlessOptedIn) {
    Open();
    auto write = T(0, VEK_HOST_SMBUS_BYTE_DATA, 0x00, 0x77);
    auto read = T(1, VEK_HOST_SMBUS_BYTE_DATA, 0x00);
    auto call = T(0, VEK_HOST_SMBUS_PROC_CALL, 0x00, 0x1234);
    call.read = 1; // a process call writes whatever its direction says
    EXPECT_EQ(Run(kOwned, write), VEK_HOST_SMBUS_REFUSED);
    EXPECT_EQ(Run(kOwned, read), VEK_HOST_SMBUS_REFUSED);
    EXPECT_EQ(Run(kOwned, call), VEK_HOST_SMBUS_REFUSED);
    EXPECT_EQ(SmbusCalls(), 0);

    // Opted in (read at open): reads are forced through, writes still refused,
    // also right after a forced read left the client on that address.
    os::SmbusDevClose(handle);
    handle = nullptr;
    setenv("VEK_SMBUS_SHARED_READS", "1", 1);
    Open();
    EXPECT_EQ(Run(kOwned, read), VEK_HOST_SMBUS_OK);
    EXPECT_EQ(kernel.calls[kernel.calls.size() - 2].request, static_cast<unsigned long>(I2C_SLAVE_FORCE));
    EXPECT_EQ(Run(kOwned, write), VEK_HOST_SMBUS_REFUSED);
    EXPECT_EQ(SmbusCalls(), 1);
    // A free address after the forced one is set normally.
    EXPECT_EQ(Run(0x50, write), VEK_HOST_SMBUS_OK);
    EXPECT_EQ(SmbusCalls(), 2);
}

TEST_F(SmbusDev, SlaveAddressIsSetOnlyWhenItChanges) {
    Open();
    auto t = T(1, VEK_HOST_SMBUS_BYTE);
    for (uint8_t a : {0x50, 0x50, 0x51, 0x50}) ASSERT_EQ(Run(a, t), VEK_HOST_SMBUS_OK);
    std::vector<long> slaves;
    for (const Call& c : kernel.calls)
        if (c.request == I2C_SLAVE) slaves.push_back(c.slave);
    EXPECT_EQ(slaves, (std::vector<long>{0x50, 0x51, 0x50}));
}

TEST_F(SmbusDev, WireLayoutOfEachKind) {
    Open();
    auto send = T(0, VEK_HOST_SMBUS_BYTE, 0x3C);
    ASSERT_EQ(Run(0x50, send), VEK_HOST_SMBUS_OK);
    EXPECT_EQ(kernel.calls.back().args.command, 0x3C); // send byte: the byte is the command
    EXPECT_EQ(kernel.calls.back().args.data, nullptr);

    auto word = T(0, VEK_HOST_SMBUS_WORD_DATA, 0x20, 0xBEEF);
    ASSERT_EQ(Run(0x50, word), VEK_HOST_SMBUS_OK);
    EXPECT_EQ(kernel.calls.back().data.word, 0xBEEF);

    auto call = T(1, VEK_HOST_SMBUS_PROC_CALL, 0x01, 0x1234);
    ASSERT_EQ(Run(0x50, call), VEK_HOST_SMBUS_OK);
    EXPECT_EQ(kernel.calls.back().args.read_write, I2C_SMBUS_WRITE);
    EXPECT_EQ(call.word, 0xEDCB);

    auto quick = T(1, VEK_HOST_SMBUS_QUICK);
    ASSERT_EQ(Run(0x50, quick), VEK_HOST_SMBUS_OK);
    EXPECT_EQ(kernel.calls.back().args.read_write, I2C_SMBUS_READ);

    auto block = T(0, VEK_HOST_SMBUS_BLOCK_DATA, 0x40);
    block.length = 3;
    std::memcpy(block.block, "\x01\x02\x03", 3);
    ASSERT_EQ(Run(0x50, block), VEK_HOST_SMBUS_OK);
    EXPECT_EQ(kernel.calls.back().data.block[0], 3);
    EXPECT_EQ(kernel.calls.back().data.block[3], 3);

    auto i2c = T(1, VEK_HOST_SMBUS_I2C_BLOCK, 0x80);
    i2c.length = 6;
    ASSERT_EQ(Run(0x50, i2c), VEK_HOST_SMBUS_OK);
    EXPECT_EQ(kernel.calls.back().args.size, uint32_t(I2C_SMBUS_I2C_BLOCK_DATA));
    EXPECT_EQ(kernel.calls.back().data.block[0], 6); // how many bytes to read
}

TEST_F(SmbusDev, BlockLengthsOutOfRange) {
    Open();
    auto read = T(1, VEK_HOST_SMBUS_BLOCK_DATA);
    ASSERT_EQ(Run(0x50, read), VEK_HOST_SMBUS_OK);
    EXPECT_EQ(read.length, 4);
    EXPECT_EQ(read.block[3], 0xB4);
    kernel.blockLength = 33; // a driver must never pass this on; do not copy past the block
    EXPECT_EQ(Run(0x50, read), VEK_HOST_SMBUS_FAILED);
    const int before = SmbusCalls();
    auto tooLong = T(0, VEK_HOST_SMBUS_I2C_BLOCK);
    tooLong.length = 33;
    EXPECT_EQ(Run(0x50, tooLong), VEK_HOST_SMBUS_FAILED);
    auto empty = T(0, VEK_HOST_SMBUS_BLOCK_DATA);
    EXPECT_EQ(Run(0x50, empty), VEK_HOST_SMBUS_FAILED);
    EXPECT_EQ(SmbusCalls(), before);
    EXPECT_EQ(os::SmbusDevTransfer(nullptr, 0x50, &read), VEK_HOST_SMBUS_FAILED);
    EXPECT_EQ(os::SmbusDevTransfer(handle, 0x50, nullptr), VEK_HOST_SMBUS_FAILED);
    EXPECT_EQ(Run(0x80, read), VEK_HOST_SMBUS_FAILED);
}

} // namespace
