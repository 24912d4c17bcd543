// The driver's request decoding and access rules, against the fake kernel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fake_hw.h"

namespace zk::test {
namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& b, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
Bytes U16(uint32_t v) {
    Bytes b;
    Put(b, v, 2);
    return b;
}
Bytes U32(uint32_t v) {
    Bytes b;
    Put(b, v, 4);
    return b;
}
Bytes PortWrite(uint32_t port, uint32_t value, int width) {
    Bytes b = U32(port);
    Put(b, value, width);
    return b;
}
Bytes MemoryHeader(uint64_t address, uint32_t unit, uint32_t count) {
    Bytes b;
    Put(b, address, 8);
    Put(b, unit, 4);
    Put(b, count, 4);
    return b;
}
Bytes Pci(uint32_t pci, uint32_t offset) {
    Bytes b = U32(pci);
    Put(b, offset, 4);
    return b;
}
constexpr uint32_t PciAt(uint32_t bus, uint32_t dev, uint32_t fn) { return (bus << 8) | (dev << 3) | fn; }

struct Reply {
    int32_t status;
    uint32_t returned;
    Bytes out;
};

constexpr size_t kGuard = 32;
constexpr uint8_t kGuardByte = 0xA5;

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetKernel();
        std::memset(&bars, 0, sizeof bars);
        // RAM as firmware reports it on a 4 GiB machine with the usual hole.
        Kernel().ram = std::vector<zk_phys_range>{
            {0x1000, 0x9E000}, {0x100000, 0xBFF00000}, {0x100000000, 0x40000000}};
    }

    // One request with a system buffer of max(in, out) bytes; bytes past it must stay untouched.
    Reply Call(uint32_t code, const Bytes& in, uint32_t outSize) {
        const size_t n = std::max<size_t>(in.size(), outSize);
        Bytes buffer(n + kGuard, kGuardByte);
        std::copy(in.begin(), in.end(), buffer.begin());
        Reply r{};
        r.status = zk_dispatch(code, n ? buffer.data() : nullptr, uint32_t(in.size()), outSize, &r.returned,
                               handles, &bars);
        for (size_t i = n; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kGuardByte) << "written past at " << i;
        EXPECT_LE(r.returned, outSize);
        r.out.assign(buffer.begin(), buffer.begin() + r.returned);
        EXPECT_EQ(Kernel().maps, Kernel().unmaps) << "a mapping outlived its request";
        EXPECT_EQ(Kernel().rangeLists, Kernel().rangeFrees) << "a RAM range list was not freed";
        return r;
    }

    uint32_t handles = 1;
    zk_port_ranges bars;
};

uint32_t Le(const Bytes& b) {
    uint32_t v = 0;
    for (size_t i = 0; i < b.size() && i < 4; ++i) v |= uint32_t(b[i]) << (8 * i);
    return v;
}

// ------------------------------------------------------------ buffer sizes

struct Shape {
    const char* name;
    uint32_t code;
    Bytes content; // valid input for the request, repeated as far as a size reaches
    std::vector<std::pair<uint32_t, uint32_t>> valid; // (in, out) sizes the request accepts
};

// Every size of input and output from 0 to 24 on every request: only the
// documented sizes get past the size check, and none touches a byte beyond
// its buffer (the sanitizer build sees every stray read, the guard every write).
TEST_F(DriverTest, OnlyTheDocumentedBufferSizesAreServed) {
    Kernel().msrs[0x19C] = 0x88420000;
    Kernel().Function(0, 31, 4)[0x40] = 0x01;
    Kernel().memory.push_back({0xFED81500, Bytes(0x300)});
    Bytes memWrite = MemoryHeader(0xFED81500, 1, 2);
    memWrite.insert(memWrite.end(), {1, 2});
    const std::vector<Shape> shapes = {
        {"version", VEK_IOCTL_DRIVER_VERSION, {}, {{0, 4}}},
        {"handles", VEK_IOCTL_HANDLE_COUNT, {}, {{0, 4}}},
        {"msr", VEK_IOCTL_READ_MSR, U32(0x19C), {{4, 8}}},
        {"in byte", VEK_IOCTL_READ_PORT_BYTE, U32(0x2E), {{2, 2}}},
        {"in word", VEK_IOCTL_READ_PORT_WORD, U32(0x2E), {{2, 2}}},
        {"in dword", VEK_IOCTL_READ_PORT_DWORD, U32(0xE300), {{4, 4}}},
        {"out byte", VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0xE300, 0, 4), {{5, 0}}},
        {"out word", VEK_IOCTL_WRITE_PORT_WORD, PortWrite(0xE300, 0, 4), {{6, 0}}},
        {"out dword", VEK_IOCTL_WRITE_PORT_DWORD, PortWrite(0xE300, 0, 4), {{8, 0}}},
        {"memory read", VEK_IOCTL_READ_MEMORY, MemoryHeader(0xFED81500, 1, 2), {{16, 2}}},
        {"memory write", VEK_IOCTL_WRITE_MEMORY, memWrite, {{18, 0}}},
        {"pci read", VEK_IOCTL_READ_PCI, Pci(PciAt(0, 31, 4), 0x40), {{8, 1}, {8, 2}, {8, 4}}},
        {"pci write", VEK_IOCTL_WRITE_PCI, Pci(PciAt(0, 31, 4), 0x40), {{9, 0}, {10, 0}, {12, 0}}},
    };
    for (const Shape& s : shapes) {
        for (uint32_t in = 0; in <= 24; ++in) {
            for (uint32_t out = 0; out <= 24; ++out) {
                const size_t n = std::max(in, out);
                // Exactly sized, so a read or write past it is a heap overflow.
                Bytes buffer(n);
                for (size_t i = 0; i < in; ++i) buffer[i] = s.content.empty() ? 0 : s.content[i % s.content.size()];
                uint32_t returned = 0xDEAD;
                const int32_t status =
                    zk_dispatch(s.code, n ? buffer.data() : nullptr, in, out, &returned, handles, &bars);
                const bool valid = std::find(s.valid.begin(), s.valid.end(), std::make_pair(in, out)) != s.valid.end();
                if (valid) {
                    EXPECT_NE(status, ZK_STATUS_INVALID_BUFFER_SIZE) << s.name << " in " << in << " out " << out;
                } else {
                    EXPECT_EQ(status, ZK_STATUS_INVALID_BUFFER_SIZE) << s.name << " in " << in << " out " << out;
                    EXPECT_EQ(returned, 0u);
                }
                EXPECT_LE(returned, out);
            }
        }
    }
}

TEST_F(DriverTest, UnknownCodesAndMissingBuffersAreRefused) {
    for (uint32_t code : {0u, VEK_IOCTL_DRIVER_VERSION + 1, VEK_IOCTL_DRIVER_VERSION | 3 /* direct I/O */,
                          VEK_IOCTL_WRITE_PCI + 4, VEK_ZKEC_BEGIN, VEK_ZKEC_READ_REGISTER, 0xEA60A458u /* 0x916 as write */})
        EXPECT_EQ(Call(code, {}, 4).status, ZK_STATUS_INVALID_DEVICE_REQUEST) << std::hex << code;
    uint32_t returned = 0;
    EXPECT_EQ(zk_dispatch(VEK_IOCTL_DRIVER_VERSION, nullptr, 0, 4, &returned, 1, &bars), ZK_STATUS_INVALID_PARAMETER);
}

TEST_F(DriverTest, VersionAndHandleCount) {
    const Reply v = Call(VEK_IOCTL_DRIVER_VERSION, {}, 4);
    ASSERT_EQ(v.status, ZK_STATUS_SUCCESS);
    EXPECT_EQ(v.returned, 4u);
    EXPECT_EQ(Le(v.out), ZK_DRIVER_VERSION);
    EXPECT_NE(Le(v.out), 0u); // 0 means "no driver" to the library
    for (uint32_t n : {1u, 2u, 7u}) {
        handles = n;
        const Reply h = Call(VEK_IOCTL_HANDLE_COUNT, {}, 4);
        ASSERT_EQ(h.status, ZK_STATUS_SUCCESS);
        EXPECT_EQ(Le(h.out), n);
    }
}

// ------------------------------------------------------------ MSRs

TEST_F(DriverTest, OnlyTheThermalAndPerformanceMsrsAreRead) {
    struct Case {
        uint32_t index;
        bool present;
        int32_t status;
    } cases[] = {
        {0x198, true, ZK_STATUS_SUCCESS},         // performance status
        {0x19C, true, ZK_STATUS_SUCCESS},         // thermal status
        {0x1A2, true, ZK_STATUS_SUCCESS},         // temperature target
        {0x1A2, false, ZK_STATUS_NOT_SUPPORTED},  // allowed, but this processor faults on it
        {0x10, true, ZK_STATUS_ACCESS_DENIED},    // time-stamp counter
        {0x199, true, ZK_STATUS_ACCESS_DENIED},   // performance control, next to status
        {0x19B, true, ZK_STATUS_ACCESS_DENIED},   // thermal interrupt
        {0x1A0, true, ZK_STATUS_ACCESS_DENIED},   // miscellaneous enables
        {0x1A1, true, ZK_STATUS_ACCESS_DENIED},
        {0x1A3, true, ZK_STATUS_ACCESS_DENIED},
        {0xC0000082, true, ZK_STATUS_ACCESS_DENIED}, // system-call entry
        {0x1019C, true, ZK_STATUS_ACCESS_DENIED},    // high bits are part of the index
    };
    for (const Case& c : cases) {
        ResetKernel();
        Kernel().ram = std::vector<zk_phys_range>{};
        if (c.present) Kernel().msrs[c.index] = 0x1122334455667788ull;
        const Reply r = Call(VEK_IOCTL_READ_MSR, U32(c.index), 8);
        EXPECT_EQ(r.status, c.status) << std::hex << c.index;
        if (c.status == ZK_STATUS_SUCCESS) {
            EXPECT_EQ(r.out, (Bytes{0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}));
        } else {
            EXPECT_EQ(r.returned, 0u);
        }
    }
}

// ------------------------------------------------------------ ports

struct PortCase {
    uint32_t port;
    int width;
    bool write;
    uint32_t value;
    bool allowed;
    const char* why;
};

const PortCase kPortCases[] = {
    {0x2E, 1, true, 0x87, true, "Super I/O index"},
    {0x2F, 1, false, 0, true, "Super I/O data"},
    {0x2E, 2, false, 0, true, "index and data as one word"},
    {0x2E, 4, false, 0, false, "a dword reaches 0x30, 0x31"},
    {0x4E, 1, true, 0x55, true, "second Super I/O or EC index"},
    {0x4F, 1, false, 0, true, "its data port"},
    {0x62, 1, false, 0, true, "EC data"},
    {0x66, 1, true, 0x80, true, "EC command"},
    {0x61, 1, true, 0x03, true, "speaker gate"},
    {0x42, 1, true, 0xA9, true, "timer 2 divisor"},
    {0x43, 1, true, 0xB6, true, "timer command for counter 2"},
    {0x43, 1, true, 0x36, false, "timer command for counter 0 (system tick)"},
    {0x43, 1, true, 0x76, false, "timer command for counter 1"},
    {0x43, 1, true, 0xC2, false, "timer read-back command"},
    {0x42, 2, true, 0xB600, false, "a word write reaching the command port"},
    {0x00, 1, true, 0, false, "DMA controller"},
    {0x20, 1, true, 0x11, false, "interrupt controller"},
    {0x40, 1, true, 0, false, "timer 0"},
    {0x60, 1, false, 0, false, "keyboard data"},
    {0x64, 1, true, 0xFE, false, "keyboard controller reset command"},
    {0x70, 1, true, 0x80, false, "RTC index and NMI mask"},
    {0x71, 1, true, 0, false, "CMOS data"},
    {0x80, 1, true, 0, false, "POST / DMA page"},
    {0x92, 1, true, 1, false, "fast reset and A20"},
    {0xB2, 1, true, 0, false, "SMI command"},
    {0xC0, 1, true, 0, false, "second DMA controller"},
    {0xF0, 1, true, 0, false, "FPU"},
    {0xFF, 2, false, 0, false, "a word from 0xFF reaches into the legacy block's last byte"},
    {0x100, 1, false, 0, true, "first port above the legacy block"},
    {0x1EF, 1, false, 0, true, "below the primary ATA block"},
    {0x1F0, 1, false, 0, false, "primary ATA data"},
    {0x1F7, 1, true, 0x30, false, "primary ATA command"},
    {0x1F8, 1, false, 0, true, "above the primary ATA block"},
    {0x1EE, 4, false, 0, false, "a dword reaching into the ATA block"},
    {0x177, 1, true, 0, false, "secondary ATA command"},
    {0x3F6, 1, true, 4, false, "ATA control: software reset"},
    {0x3F2, 1, true, 0, false, "floppy controller"},
    {0x3F8, 1, true, 0x41, true, "first serial port"},
    {0x200, 1, false, 0, true, "EC auxiliary channel"},
    {0x25C, 1, true, 0, true, "EC auxiliary channel"},
    {0x290, 1, true, 0x40, true, "Super I/O hardware monitor"},
    {0x480, 1, true, 0, false, "DMA high page"},
    {0x4D0, 1, true, 0, false, "interrupt edge/level control"},
    {0x4D6, 1, true, 0, false, "DMA extended mode"},
    {0xCF7, 1, false, 0, true, "below the PCI configuration ports"},
    {0xCF6, 2, false, 0, true, "a word ending at 0xCF7"},
    {0xCF7, 2, false, 0, false, "a word reaching 0xCF8"},
    {0xCF8, 4, true, 0x8000F840, false, "PCI configuration address"},
    {0xCF9, 1, true, 0x06, false, "reset control"},
    {0xCFC, 4, false, 0, false, "PCI configuration data"},
    {0xCFF, 1, false, 0, false, "last PCI configuration data byte"},
    {0xD00, 1, false, 0, true, "above the PCI configuration ports"},
    {0xE300, 1, false, 0, true, "EC register window"},
    {0xE3FF, 1, true, 0, true, "EC register window end"},
    {0xFFFF, 1, false, 0, true, "last port"},
    {0xFFFE, 4, false, 0, false, "a dword past the last port"},
};

TEST_F(DriverTest, PortRules) {
    for (const PortCase& c : kPortCases) {
        ResetKernel();
        Kernel().ram = std::vector<zk_phys_range>{};
        for (uint32_t p = c.port; p < c.port + 4 && p <= 0xFFFF; ++p) Kernel().ports[p] = uint8_t(0x10 + (p - c.port));
        Reply r;
        if (c.write) {
            const uint32_t code = c.width == 1 ? VEK_IOCTL_WRITE_PORT_BYTE
                                  : c.width == 2 ? VEK_IOCTL_WRITE_PORT_WORD
                                                 : VEK_IOCTL_WRITE_PORT_DWORD;
            r = Call(code, PortWrite(c.port, c.value, c.width), 0);
        } else if (c.width == 4) {
            r = Call(VEK_IOCTL_READ_PORT_DWORD, U32(c.port), 4);
        } else {
            r = Call(c.width == 1 ? VEK_IOCTL_READ_PORT_BYTE : VEK_IOCTL_READ_PORT_WORD, U16(c.port), 2);
        }
        EXPECT_EQ(r.status, c.allowed ? ZK_STATUS_SUCCESS : ZK_STATUS_ACCESS_DENIED) << c.why;
        // A refused access never reaches the hardware.
        EXPECT_EQ(Kernel().portIns + Kernel().portOuts, c.allowed ? 1 : 0) << c.why;
        if (c.allowed && c.write) {
            for (int i = 0; i < c.width; ++i) EXPECT_EQ(Kernel().ports[c.port + i], uint8_t(c.value >> (8 * i))) << c.why;
        }
        if (c.allowed && !c.write) {
            ASSERT_EQ(r.out.size(), c.width == 4 ? 4u : 2u) << c.why;
            EXPECT_EQ(r.out[0], 0x10) << c.why;
            EXPECT_EQ(r.out[1], c.width == 1 ? 0 : 0x11) << c.why; // a byte read answers 2 bytes, the second 0
        }
    }
}

TEST_F(DriverTest, PortDwordReadTakesA32BitPortAndRejectsHighBits) {
    Kernel().ports[0xE300] = 0x5A;
    EXPECT_EQ(Call(VEK_IOCTL_READ_PORT_DWORD, U32(0x1E300), 4).status, ZK_STATUS_ACCESS_DENIED);
    EXPECT_EQ(Call(VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0x1E300, 1, 1), 0).status, ZK_STATUS_ACCESS_DENIED);
    const Reply ok = Call(VEK_IOCTL_READ_PORT_DWORD, U32(0xE300), 4);
    ASSERT_EQ(ok.status, ZK_STATUS_SUCCESS);
    EXPECT_EQ(ok.out[0], 0x5A);
}

TEST_F(DriverTest, PortsOfOtherPciFunctionsAreRefused) {
    bars.count = 2;
    bars.range[0] = {0xF000, 0xF01F};
    bars.range[1] = {0xF090, 0xF097};
    struct {
        uint32_t port;
        int width;
        bool allowed;
    } cases[] = {{0xEFFF, 1, true}, {0xF000, 1, false}, {0xF01F, 1, false}, {0xF020, 1, true},
                 {0xEFFE, 4, false}, {0xF08F, 1, true},  {0xF097, 1, false}, {0xF098, 1, true}};
    for (const auto& c : cases) {
        const Reply r = c.width == 4 ? Call(VEK_IOCTL_READ_PORT_DWORD, U32(c.port), 4)
                                     : Call(VEK_IOCTL_READ_PORT_BYTE, U16(c.port), 2);
        EXPECT_EQ(r.status, c.allowed ? ZK_STATUS_SUCCESS : ZK_STATUS_ACCESS_DENIED) << std::hex << c.port;
    }
    // More BARs than the table holds: nothing above the legacy block is trusted.
    bars.overflow = 1;
    EXPECT_EQ(Call(VEK_IOCTL_READ_PORT_BYTE, U16(0x290), 2).status, ZK_STATUS_ACCESS_DENIED);
    EXPECT_EQ(Call(VEK_IOCTL_READ_PORT_BYTE, U16(0x2E), 2).status, ZK_STATUS_SUCCESS);
}

TEST_F(DriverTest, AHostThatTrapsPortIoGetsAPrivilegedInstructionStatus) {
    Kernel().portsTrap = true;
    EXPECT_EQ(Call(VEK_IOCTL_READ_PORT_BYTE, U16(0x62), 2).status, ZK_STATUS_PRIVILEGED_INSTRUCTION);
    EXPECT_EQ(Call(VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0x66, 0x80, 1), 0).status, ZK_STATUS_PRIVILEGED_INSTRUCTION);
    // The rules still come first.
    EXPECT_EQ(Call(VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0xCF9, 6, 1), 0).status, ZK_STATUS_ACCESS_DENIED);
}

// ------------------------------------------------------------ PCI configuration

TEST_F(DriverTest, PciReadsReachAnyFunctionWithinItsConfigurationSpace) {
    auto& f = Kernel().Function(5, 3, 1);
    f[0x10] = 0x01, f[0x11] = 0xE0, f[0xFE] = 0x34, f[0xFF] = 0x12;
    struct {
        uint32_t pci, offset, width;
        int32_t status;
        uint32_t value;
    } cases[] = {
        {PciAt(5, 3, 1), 0x10, 4, ZK_STATUS_SUCCESS, 0xE001},
        {PciAt(5, 3, 1), 0x11, 1, ZK_STATUS_SUCCESS, 0xE0},
        {PciAt(5, 3, 1), 0xFE, 2, ZK_STATUS_SUCCESS, 0x1234},
        {PciAt(5, 3, 1), 0xFF, 1, ZK_STATUS_SUCCESS, 0x12},
        {PciAt(5, 3, 1), 0x41, 2, ZK_STATUS_INVALID_PARAMETER, 0}, // misaligned word
        {PciAt(5, 3, 1), 0x42, 4, ZK_STATUS_INVALID_PARAMETER, 0}, // misaligned dword
        {PciAt(5, 3, 1), 0x100, 1, ZK_STATUS_INVALID_PARAMETER, 0}, // past the 256-byte space
        {PciAt(5, 3, 1), 0xFFFFFFFC, 4, ZK_STATUS_INVALID_PARAMETER, 0},
        {0x10000 | PciAt(5, 3, 1), 0x10, 4, ZK_STATUS_INVALID_PARAMETER, 0}, // bits above the bus
        {PciAt(5, 3, 2), 0x10, 4, ZK_STATUS_NO_SUCH_DEVICE, 0},
    };
    for (const auto& c : cases) {
        const Reply r = Call(VEK_IOCTL_READ_PCI, Pci(c.pci, c.offset), c.width);
        EXPECT_EQ(r.status, c.status) << std::hex << c.pci << " " << c.offset;
        if (c.status == ZK_STATUS_SUCCESS) {
            EXPECT_EQ(r.returned, c.width);
            EXPECT_EQ(Le(r.out), c.value);
        }
    }
}

// The configuration writes the library makes, and nothing beside them.
TEST_F(DriverTest, PciWritesOnlyFlipTheSmbusControllerBits) {
    struct {
        uint32_t pci, offset;
        int width;
        uint8_t before, value;
        bool allowed;
        const char* why;
    } cases[] = {
        {PciAt(0, 31, 4), 0x04, 1, 0x02, 0x03, true, "I/O decode on, chipset SMBus at 0:31.4"},
        {PciAt(0x80, 31, 4), 0x04, 1, 0x00, 0x01, true, "I/O decode on, SMBus on bus 0x80"},
        {PciAt(0, 31, 4), 0x40, 1, 0x01, 0x05, true, "I2C framing on"},
        {PciAt(0, 31, 4), 0x40, 1, 0x05, 0x01, true, "I2C framing off"},
        {PciAt(0, 31, 3), 0x40, 1, 0x01, 0x05, true, "SMBus at 0:31.3"},
        {PciAt(0, 31, 1), 0x40, 1, 0x01, 0x05, true, "SMBus at 0:31.1"},
        {PciAt(0, 21, 0), 0x40, 1, 0x01, 0x05, true, "SMBus at 0:21.0"},
        {PciAt(0x80, 31, 4), 0x40, 1, 0x01, 0x05, true, "SMBus on bus 0x80"},
        {PciAt(0, 31, 4), 0x40, 1, 0x05, 0x05, true, "rewriting the same value"},
        {PciAt(0, 31, 4), 0x04, 1, 0x02, 0x07, false, "bus mastering is not the library's bit"},
        {PciAt(0, 31, 4), 0x04, 1, 0x03, 0x01, false, "memory decode off"},
        {PciAt(0, 31, 4), 0x40, 1, 0x01, 0x00, false, "host enable off"},
        {PciAt(0, 31, 4), 0x40, 1, 0x01, 0x11, false, "SPD write disable"},
        {PciAt(0, 31, 3), 0x04, 1, 0x00, 0x01, false, "command register of a function the library never enables"},
        {PciAt(0, 31, 0), 0x40, 1, 0x00, 0x04, false, "the LPC bridge"},
        {PciAt(0, 31, 4), 0x20, 1, 0x00, 0x01, false, "the SMBus base register"},
        {PciAt(0, 0, 0), 0x04, 1, 0x00, 0x01, false, "host bridge"},
        {PciAt(1, 31, 4), 0x40, 1, 0x01, 0x05, false, "same slot on another bus"},
    };
    for (const auto& c : cases) {
        ResetKernel();
        Kernel().ram = std::vector<zk_phys_range>{};
        auto& f = Kernel().Function(c.pci >> 8, (c.pci >> 3) & 31, c.pci & 7);
        f[c.offset] = c.before;
        Bytes in = Pci(c.pci, c.offset);
        Put(in, c.value, c.width);
        EXPECT_EQ(Call(VEK_IOCTL_WRITE_PCI, in, 0).status, c.allowed ? ZK_STATUS_SUCCESS : ZK_STATUS_ACCESS_DENIED)
            << c.why;
        EXPECT_EQ(f[c.offset], c.allowed ? c.value : c.before) << c.why;
        EXPECT_EQ(Kernel().pciWrites, c.allowed ? 1 : 0) << c.why;
    }
}

TEST_F(DriverTest, PciWritesOfOtherWidthsOrToAbsentFunctionsFail) {
    Kernel().Function(0, 31, 4)[0x40] = 1;
    Bytes word = Pci(PciAt(0, 31, 4), 0x40);
    Put(word, 0x0005, 2);
    EXPECT_EQ(Call(VEK_IOCTL_WRITE_PCI, word, 0).status, ZK_STATUS_ACCESS_DENIED);
    Bytes misaligned = Pci(PciAt(0, 31, 4), 0x41);
    Put(misaligned, 0x0005, 2);
    EXPECT_EQ(Call(VEK_IOCTL_WRITE_PCI, misaligned, 0).status, ZK_STATUS_INVALID_PARAMETER);
    Bytes absent = Pci(PciAt(0, 31, 3), 0x40);
    Put(absent, 0x05, 1);
    EXPECT_EQ(Call(VEK_IOCTL_WRITE_PCI, absent, 0).status, ZK_STATUS_NO_SUCH_DEVICE);
    EXPECT_EQ(Kernel().pciWrites, 0);
}

// ------------------------------------------------------------ physical memory

struct MemoryCase {
    uint64_t address;
    uint32_t unit, count;
    bool write;
    int32_t status;
    const char* why;
};

const MemoryCase kMemoryCases[] = {
    {0xFED80300, 1, 2, false, ZK_STATUS_SUCCESS, "FCH power-management registers"},
    {0xFED80300, 1, 1, true, ZK_STATUS_ACCESS_DENIED, "they are read-only here"},
    {0xFED802FF, 1, 2, false, ZK_STATUS_ACCESS_DENIED, "starts before the window"},
    {0xFED803FF, 1, 2, false, ZK_STATUS_ACCESS_DENIED, "ends past the window"},
    {0xFED8171E, 1, 1, true, ZK_STATUS_SUCCESS, "FCH GPIO control byte"},
    {0xFED817FC, 4, 1, true, ZK_STATUS_SUCCESS, "last dword of the GPIO bank"},
    {0xFED81800, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "past the GPIO bank"},
    {0xD0C506D3, 1, 1, true, ZK_STATUS_SUCCESS, "GPIO pad configuration"},
    {0xFD690740, 1, 2, false, ZK_STATUS_SUCCESS, "LED pad"},
    {0xFD6D010C, 1, 1, true, ZK_STATUS_SUCCESS, "button pad"},
    {0xFD6E0000, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "past the button community"},
    {0xFEE00000, 4, 1, true, ZK_STATUS_ACCESS_DENIED, "local APIC"},
    {0xE0000000, 4, 1, true, ZK_STATUS_ACCESS_DENIED, "memory-mapped PCI configuration"},
    {0x00000000, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "page 0"},
    {0x000F0000, 1, 16, false, ZK_STATUS_ACCESS_DENIED, "BIOS area"},
    {0x00100000, 4, 1, false, ZK_STATUS_ACCESS_DENIED, "RAM"},
    {0x1000000000, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "above RAM, no device of ours"},
    {0xFED81500, 1, 256, false, ZK_STATUS_SUCCESS, "the largest request"},
    {0xFED81500, 1, 257, false, ZK_STATUS_ACCESS_DENIED, "one byte over the limit"},
    {0xFED81500, 4, 64, false, ZK_STATUS_SUCCESS, "largest request in dwords"},
    {0xFED81500, 4, 65, false, ZK_STATUS_ACCESS_DENIED, "one dword over"},
    {0xFED81500, 4, 0x40000001, false, ZK_STATUS_ACCESS_DENIED, "unit x count wraps 32 bits"},
    {0xFED81500, 3, 1, false, ZK_STATUS_INVALID_PARAMETER, "unit 3"},
    {0xFED81500, 8, 1, false, ZK_STATUS_INVALID_PARAMETER, "unit 8"},
    {0xFED81500, 1, 0, false, ZK_STATUS_INVALID_PARAMETER, "count 0"},
    {0xFED81501, 2, 1, false, ZK_STATUS_INVALID_PARAMETER, "misaligned word"},
    {0xFED81502, 4, 1, false, ZK_STATUS_INVALID_PARAMETER, "misaligned dword"},
    {0xFFFFFFFFFFFFFFFF, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "the last address"},
};

TEST_F(DriverTest, MemoryRules) {
    for (const MemoryCase& c : kMemoryCases) {
        ResetKernel();
        Kernel().ram = std::vector<zk_phys_range>{{0x1000, 0x9E000}, {0x100000, 0xBFF00000}};
        // Every address answers, so only a rule can refuse.
        const uint64_t bytes = uint64_t(c.unit) * c.count;
        if (bytes > 0 && bytes < 0x10000 && c.address < 0xFFFFFFFFFFFF0000ull)
            Kernel().memory.push_back({c.address, Bytes(bytes, 0x5A)});
        Reply r;
        if (c.write) {
            Bytes in = MemoryHeader(c.address, c.unit, c.count);
            in.resize(16 + (bytes < 0x10000 ? bytes : 0), 0xC3);
            r = Call(VEK_IOCTL_WRITE_MEMORY, in, 0);
        } else {
            r = Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(c.address, c.unit, c.count),
                     uint32_t(bytes < 0x10000 ? bytes : 16));
        }
        EXPECT_EQ(r.status, c.status) << c.why;
        EXPECT_EQ(Kernel().maps, c.status == ZK_STATUS_SUCCESS ? 1 : 0) << c.why;
        if (c.status == ZK_STATUS_INVALID_PARAMETER) {
            EXPECT_EQ(Kernel().rangeLists, 0) << c.why;
        }
        if (c.status == ZK_STATUS_SUCCESS && !c.write) {
            EXPECT_EQ(r.out, Bytes(bytes, 0x5A)) << c.why;
        }
        if (c.status == ZK_STATUS_SUCCESS && c.write) {
            EXPECT_EQ(Kernel().memory.back().bytes, Bytes(bytes, 0xC3)) << c.why;
        }
    }
}

TEST_F(DriverTest, MemoryOverlappingRamIsRefusedToTheByte) {
    Kernel().ram = std::vector<zk_phys_range>{{0xFED81600, 0x10}}; // RAM reported inside a window
    Kernel().memory.push_back({0xFED81500, Bytes(0x300)});
    struct {
        uint64_t address;
        uint32_t count;
        bool allowed;
    } cases[] = {{0xFED815F0, 16, true}, {0xFED815F0, 17, false}, {0xFED81608, 4, false},
                 {0xFED8160F, 1, false}, {0xFED81610, 4, true},   {0xFED815FF, 2, false}};
    for (const auto& c : cases)
        EXPECT_EQ(Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(c.address, 1, c.count), c.count).status,
                  c.allowed ? ZK_STATUS_SUCCESS : ZK_STATUS_ACCESS_DENIED)
            << std::hex << c.address << " +" << c.count;
}

TEST_F(DriverTest, UnknownRamRefusesAllMemory) {
    Kernel().ram.reset();
    Kernel().memory.push_back({0xFED80300, Bytes(2)});
    EXPECT_EQ(Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(0xFED80300, 1, 2), 2).status, ZK_STATUS_ACCESS_DENIED);
}

// An address outside every window is refused before the memory manager is
// asked for its RAM list (a host without that list still refuses it cleanly).
TEST_F(DriverTest, AddressesOutsideTheWindowsNeedNoRamList) {
    Kernel().ram.reset();
    EXPECT_EQ(Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(0x100000, 1, 1), 1).status, ZK_STATUS_ACCESS_DENIED);
    Kernel().ram = std::vector<zk_phys_range>{};
    EXPECT_EQ(Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(0x100000, 1, 1), 1).status, ZK_STATUS_ACCESS_DENIED);
    EXPECT_EQ(Kernel().rangeLists, 0);
}

TEST_F(DriverTest, MappingFailureIsReported) {
    Kernel().mapFails = true;
    EXPECT_EQ(Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(0xFED80300, 1, 2), 2).status,
              ZK_STATUS_INSUFFICIENT_RESOURCES);
}

TEST_F(DriverTest, UnitsAreReadLittleEndianAtTheirWidth) {
    Kernel().memory.push_back({0xFED81500, Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}});
    const Reply words = Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(0xFED81500, 2, 4), 8);
    ASSERT_EQ(words.status, ZK_STATUS_SUCCESS);
    EXPECT_EQ(words.out, (Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    Bytes in = MemoryHeader(0xFED81504, 4, 1);
    Put(in, 0xDDCCBBAA, 4);
    ASSERT_EQ(Call(VEK_IOCTL_WRITE_MEMORY, in, 0).status, ZK_STATUS_SUCCESS);
    EXPECT_EQ(Kernel().memory[0].bytes, (Bytes{0x11, 0x22, 0x33, 0x44, 0xAA, 0xBB, 0xCC, 0xDD}));
}

// The chipset GPIO block sits where bus 2, device 0, function 2 points its BAR.
TEST_F(DriverTest, GpioBlockFollowsItsBar) {
    struct {
        uint32_t bar;
        uint64_t address;
        bool allowed;
    } cases[] = {
        {0xC0300000, 0xC0300020, true},  {0xC0300000, 0xC03000FF, true}, {0xC0300000, 0xC0300100, false},
        {0xC0300008, 0xC0300020, true},  // prefetchable flag bits are not part of the base
        {0x0000E001, 0x0000E020, false}, // an I/O BAR names no memory
        {0xFFFFFFFF, 0xFFFFFFF0, false}, // function absent
        {0x00000000, 0x00000020, false},
    };
    for (const auto& c : cases) {
        ResetKernel();
        Kernel().ram = std::vector<zk_phys_range>{{0x1000, 0x9E000}};
        auto& f = Kernel().Function(2, 0, 2);
        for (int i = 0; i < 4; ++i) f[0x14 + i] = uint8_t(c.bar >> (8 * i));
        Kernel().memory.push_back({c.address, Bytes(1)});
        Bytes in = MemoryHeader(c.address, 1, 1);
        in.push_back(0x01);
        EXPECT_EQ(Call(VEK_IOCTL_WRITE_MEMORY, in, 0).status, c.allowed ? ZK_STATUS_SUCCESS : ZK_STATUS_ACCESS_DENIED)
            << std::hex << c.bar << " " << c.address;
    }
    // Without the function at all.
    ResetKernel();
    Kernel().memory.push_back({0xC0300020, Bytes(1)});
    EXPECT_EQ(Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(0xC0300020, 1, 1), 1).status, ZK_STATUS_ACCESS_DENIED);
}

// ------------------------------------------------------------ I/O BAR scan

void SetHeader(std::array<uint8_t, 256>& f, uint16_t vendor, uint16_t cls, uint8_t header) {
    f[0] = uint8_t(vendor), f[1] = uint8_t(vendor >> 8);
    f[0x0A] = uint8_t(cls), f[0x0B] = uint8_t(cls >> 8);
    f[0x0E] = header;
}
void SetBar(std::array<uint8_t, 256>& f, int index, uint32_t value) {
    for (int i = 0; i < 4; ++i) f[0x10 + 4 * index + i] = uint8_t(value >> (8 * i));
}

TEST_F(DriverTest, BarScanKeepsBusMastersPortsAndLeavesTheSmbusController) {
    auto& sata = Kernel().Function(0, 23, 0);
    SetHeader(sata, 0x8086, 0x0106, 0x00);
    SetBar(sata, 0, 0xF099); // 8-byte-aligned I/O BAR
    SetBar(sata, 4, 0xF061); // 32-byte-aligned
    SetBar(sata, 5, 0xFE000000);
    auto& smbus = Kernel().Function(0, 31, 4);
    SetHeader(smbus, 0x8086, 0x0C05, 0x00);
    SetBar(smbus, 4, 0xEFA1);
    auto& lpc = Kernel().Function(0, 31, 0);
    SetHeader(lpc, 0x8086, 0x0601, 0x80); // multi-function: 31.4 is scanned too
    auto& nic = Kernel().Function(3, 0, 0);
    SetHeader(nic, 0x10EC, 0x0200, 0x00);
    SetBar(nic, 0, 0xE000 | 0x4); // 64-bit memory BAR...
    SetBar(nic, 1, 0xD001);       // ...whose high half looks like an I/O BAR
    SetBar(nic, 2, 0xD101);       // 256-byte-aligned: capped at 256
    auto& hidden = Kernel().Function(4, 0, 1); // function 1 of a single-function device
    SetHeader(hidden, 0x1234, 0x0C03, 0x00);
    SetHeader(Kernel().Function(4, 0, 0), 0x1234, 0x0C03, 0x00);
    SetBar(hidden, 0, 0xC001);
    auto& bridge = Kernel().Function(0, 28, 0);
    SetHeader(bridge, 0x8086, 0x0604, 0x01);
    SetBar(bridge, 1, 0xB001);
    SetBar(bridge, 2, 0xB101); // past a bridge's two BARs: its bus numbers, not a BAR

    zk_port_ranges got;
    zk_collect_bar_ranges(&got);
    std::vector<std::pair<uint16_t, uint16_t>> ranges;
    for (uint32_t i = 0; i < got.count; ++i) ranges.emplace_back(got.range[i].first, got.range[i].last);
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ(ranges, (std::vector<std::pair<uint16_t, uint16_t>>{
                          {0xB000, 0xB0FF}, {0xD100, 0xD1FF}, {0xF060, 0xF07F}, {0xF098, 0xF09F}}));
    EXPECT_EQ(got.overflow, 0);
}

TEST_F(DriverTest, BarScanOverflowIsRemembered) {
    for (uint32_t dev = 0; dev < 32; ++dev) {
        for (uint32_t bus = 1; bus <= 3; ++bus) {
            auto& f = Kernel().Function(bus, dev, 0);
            SetHeader(f, 0x1234, 0x0C03, 0x00);
            SetBar(f, 0, 0x8001 + ((bus * 32 + dev) << 5));
        }
    }
    zk_port_ranges got;
    zk_collect_bar_ranges(&got);
    EXPECT_EQ(got.count, uint32_t(ZK_MAX_BAR_RANGES));
    EXPECT_EQ(got.overflow, 1);
}

} // namespace
} // namespace zk::test
