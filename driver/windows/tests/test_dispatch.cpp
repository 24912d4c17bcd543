// The driver's request decoding and access rules, against the fake kernel.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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
        std::memset(&handle, 0, sizeof handle);
        handle.can_read = handle.can_write = 1;
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
                               handles, &handle);
        for (size_t i = n; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kGuardByte) << "written past at " << i;
        EXPECT_LE(r.returned, outSize);
        r.out.assign(buffer.begin(), buffer.begin() + r.returned);
        EXPECT_EQ(Kernel().maps, Kernel().unmaps) << "a mapping outlived its request";
        EXPECT_EQ(Kernel().rangeLists, Kernel().rangeFrees) << "a RAM range list was not freed";
        return r;
    }

    uint32_t handles = 1;
    zk_handle handle;
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
    Kernel().memory.push_back({0xFED8171C, Bytes(0x58)});
    Kernel().Function(0, 31, 4)[0x0A] = 0x05, Kernel().Function(0, 31, 4)[0x0B] = 0x0C;
    Kernel().fadt = FakeKernel::TypicalFadt();
    handle.windows = ~0u;
    zk_ports_add(&handle.ports, 0xE300, 0xE3FF);
    Bytes memWrite = MemoryHeader(0xFED8171C, 1, 2);
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
        {"memory read", VEK_IOCTL_READ_MEMORY, MemoryHeader(0xFED8171C, 1, 2), {{16, 2}}},
        {"memory write", VEK_IOCTL_WRITE_MEMORY, memWrite, {{18, 0}}},
        {"pci read", VEK_IOCTL_READ_PCI, Pci(PciAt(0, 31, 4), 0x40), {{8, 1}, {8, 2}, {8, 4}}},
        {"pci write", VEK_IOCTL_WRITE_PCI, Pci(PciAt(0, 31, 4), 0x40), {{9, 0}, {10, 0}, {12, 0}}},
        {"port range", VEK_IOCTL_GRANT_PORTS, U32(0x00080290), {{4, 0}}},
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
                    zk_dispatch(s.code, n ? buffer.data() : nullptr, in, out, &returned, handles, &handle);
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
                          VEK_IOCTL_GRANT_PORTS + 4, VEK_ZKEC_BEGIN, VEK_ZKEC_READ_REGISTER, 0xEA60A458u /* 0x916 as write */})
        EXPECT_EQ(Call(code, {}, 4).status, ZK_STATUS_INVALID_DEVICE_REQUEST) << std::hex << code;
    uint32_t returned = 0;
    EXPECT_EQ(zk_dispatch(VEK_IOCTL_DRIVER_VERSION, nullptr, 0, 4, &returned, 1, &handle), ZK_STATUS_INVALID_PARAMETER);
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

// ------------------------------------------------------------ machines

void SetHeader(std::array<uint8_t, 256>& f, uint16_t vendor, uint16_t cls, uint8_t header = 0) {
    f[0] = uint8_t(vendor), f[1] = uint8_t(vendor >> 8);
    f[0x0A] = uint8_t(cls), f[0x0B] = uint8_t(cls >> 8);
    f[0x0E] = header;
}
void Set32(std::array<uint8_t, 256>& f, uint32_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) f[offset + i] = uint8_t(value >> (8 * i));
}
void SetBar(std::array<uint8_t, 256>& f, int index, uint32_t value) { Set32(f, 0x10 + 4 * index, value); }

// A bridge forwarding ports first..last (4 KiB granules) and memory to its secondary bus.
void SetBridge(std::array<uint8_t, 256>& f, uint16_t first, uint16_t last, uint32_t memFirst = 0xFFF00000,
               uint32_t memLast = 0) {
    SetHeader(f, 0x8086, 0x0604, 0x01);
    f[0x1C] = uint8_t(first >> 8), f[0x1D] = uint8_t(last >> 8);
    Set32(f, 0x20, (memFirst >> 16) | (memLast & 0xFFF00000u));
    Set32(f, 0x24, 0x0000FFF0); // prefetchable window closed
}

// An Intel desktop: PCH SMBus controller at 00:1F.4 (ports 0xF040..0xF05F), a
// NIC at 03:00.0 with an I/O BAR at 0xE000, a root port forwarding 0xD000..0xDFFF
// (where a hot-plugged card gets its ports), ACPI power management at 0x1800.
void IntelDesktop() {
    auto& k = Kernel();
    SetHeader(k.Function(0, 31, 0), 0x8086, 0x0601, 0x80);
    SetHeader(k.Function(0, 31, 4), 0x8086, 0x0C05);
    SetBar(k.Function(0, 31, 4), 4, 0xF041);
    SetBridge(k.Function(0, 28, 0), 0xD000, 0xDFFF);
    SetHeader(k.Function(3, 0, 0), 0x10EC, 0x0200);
    SetBar(k.Function(3, 0, 0), 0, 0xE001);
    k.fadt = FakeKernel::TypicalFadt(0x1800);
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

// The handle reaches the EC's ranges and one Super I/O range the library named.
const PortCase kPortCases[] = {
    {0x2E, 1, true, 0x87, true, "Super I/O index"},
    {0x2F, 1, false, 0, true, "Super I/O data"},
    {0x2E, 2, false, 0, true, "index and data as one word"},
    {0x2E, 4, false, 0, false, "a dword reaches 0x30, 0x31"},
    {0x4E, 1, true, 0x55, true, "second Super I/O or EC index"},
    {0x4F, 1, false, 0, true, "its data port"},
    {0x62, 1, false, 0, true, "EC data"},
    {0x66, 1, true, 0x80, true, "EC command"},
    {0x61, 1, false, 0, true, "port B read"},
    {0x42, 1, true, 0xA9, true, "timer 2 divisor"},
    {0x43, 1, true, 0xB6, true, "timer command for counter 2"},
    {0x43, 1, true, 0x36, false, "timer command for counter 0 (system tick)"},
    {0x43, 1, true, 0x76, false, "timer command for counter 1"},
    {0x43, 1, true, 0xC2, false, "timer read-back command"},
    {0x42, 2, true, 0xB600, false, "a word write reaching the command port"},
    {0x61, 2, true, 0x0003, false, "port B only as a byte"},
    {0x60, 2, true, 0x0300, false, "a word write reaching port B from the keyboard data port"},
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
    {0xFF, 2, false, 0, false, "a word from 0xFF reaches past the legacy block"},
    {0x100, 1, false, 0, false, "nothing above the legacy block unless named"},
    {0x1F0, 1, false, 0, false, "primary ATA data"},
    {0x3F8, 1, true, 0x41, false, "serial port: not the library's"},
    {0x200, 2, false, 0, true, "EC mailbox"},
    {0x202, 1, false, 0, false, "past the EC mailbox"},
    {0x25C, 1, true, 0, true, "EC auxiliary data"},
    {0x25D, 1, true, 0, true, "EC auxiliary command"},
    {0x25B, 2, false, 0, false, "a word starting before it"},
    {0x290, 1, true, 0x40, true, "the named Super I/O range"},
    {0x297, 1, false, 0, true, "its last port"},
    {0x296, 4, false, 0, false, "a dword running past it"},
    {0x298, 1, false, 0, false, "past the named range"},
    {0xCF9, 1, true, 0x06, false, "reset control"},
    {0xE300, 4, false, 0, true, "EC register window"},
    {0xE3FF, 1, true, 0, true, "EC register window end"},
    {0xE3FE, 4, false, 0, false, "a dword past the window"},
    {0xFFFF, 1, false, 0, false, "last port"},
    {0xFFFE, 4, false, 0, false, "a dword past the last port"},
};

TEST_F(DriverTest, PortRules) {
    for (const PortCase& c : kPortCases) {
        ResetKernel();
        Kernel().ram = std::vector<zk_phys_range>{};
        std::memset(&handle.ports, 0, sizeof handle.ports);
        zk_ports_add(&handle.ports, 0x200, 0x201);
        zk_ports_add(&handle.ports, 0x25C, 0x25D);
        zk_ports_add(&handle.ports, 0xE300, 0xE3FF);
        zk_ports_add(&handle.ports, 0x290, 0x297);
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

// Port B: bits 0-1 gate the speaker, bits 2-3 enable the SERR# and IOCHK# NMIs,
// bits 4-7 are read-only status (bit 4 the refresh toggle, flipping every 15 us).
TEST_F(DriverTest, PortBWritesChangeOnlyTheSpeakerBits) {
    struct {
        uint8_t current, value;
        bool allowed;
        uint8_t written;
    } cases[] = {
        {0x30, 0x33, true, 0x33},  // speaker on
        {0x33, 0x30, true, 0x30},  // and off
        {0x20, 0x13, true, 0x23},  // refresh toggle flipped since the caller read it: written as it is now
        {0x2C, 0x2D, true, 0x2D},  // NMIs disabled by firmware stay disabled
        {0x30, 0x34, false, 0x30}, // SERR# NMI enable
        {0x30, 0x38, false, 0x30}, // IOCHK# NMI enable
        {0x3C, 0x30, false, 0x3C}, // both, the other way
    };
    for (const auto& c : cases) {
        Kernel().ports[0x61] = c.current;
        EXPECT_EQ(Call(VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0x61, c.value, 1), 0).status,
                  c.allowed ? ZK_STATUS_SUCCESS : ZK_STATUS_ACCESS_DENIED)
            << std::hex << int(c.current) << " " << int(c.value);
        EXPECT_EQ(Kernel().ports[0x61], c.written) << std::hex << int(c.current) << " " << int(c.value);
    }
}

TEST_F(DriverTest, PortDwordReadTakesA32BitPortAndRejectsHighBits) {
    zk_ports_add(&handle.ports, 0xE300, 0xE3FF);
    Kernel().ports[0xE300] = 0x5A;
    EXPECT_EQ(Call(VEK_IOCTL_READ_PORT_DWORD, U32(0x1E300), 4).status, ZK_STATUS_ACCESS_DENIED);
    EXPECT_EQ(Call(VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0x1E300, 1, 1), 0).status, ZK_STATUS_ACCESS_DENIED);
    const Reply ok = Call(VEK_IOCTL_READ_PORT_DWORD, U32(0xE300), 4);
    ASSERT_EQ(ok.status, ZK_STATUS_SUCCESS);
    EXPECT_EQ(ok.out[0], 0x5A);
}

TEST_F(DriverTest, AHostThatTrapsPortIoGetsAPrivilegedInstructionStatus) {
    Kernel().portsTrap = true;
    EXPECT_EQ(Call(VEK_IOCTL_READ_PORT_BYTE, U16(0x62), 2).status, ZK_STATUS_PRIVILEGED_INSTRUCTION);
    EXPECT_EQ(Call(VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0x66, 0x80, 1), 0).status, ZK_STATUS_PRIVILEGED_INSTRUCTION);
    EXPECT_EQ(Call(VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0x61, 0x03, 1), 0).status, ZK_STATUS_PRIVILEGED_INSTRUCTION);
    // The rules still come first.
    EXPECT_EQ(Call(VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0xCF9, 6, 1), 0).status, ZK_STATUS_ACCESS_DENIED);
}

// ------------------------------------------------------------ what a handle reaches when it is opened

bool Reaches(const zk_handle& h, uint32_t first, uint32_t last) {
    for (uint32_t p = first; p <= last; ++p)
        if (!zk_port_allowed(p, 1, 0, 0, &h.ports)) return false;
    return true;
}

// The SMBus controller's block and the watchdog block are taken from the
// function the library locates, and only when it is what the library expects.
TEST_F(DriverTest, SmbusAndWatchdogBlocksComeFromTheRightFunction) {
    struct Case {
        const char* why;
        void (*machine)();
        uint32_t first, last; // the block; 0: nothing above 0xFF besides the EC ranges
    };
    const Case cases[] = {
        {"PCH SMBus controller, I/O BAR at 0x20", [] { IntelDesktop(); }, 0xF040, 0xF05F},
        {"ICH SMBus at 00:1F.3",
         [] {
             SetHeader(Kernel().Function(0, 31, 3), 0x8086, 0x0C05);
             SetBar(Kernel().Function(0, 31, 3), 4, 0xEFA1);
         },
         0xEFA0, 0xEFBF},
        {"SMBus at 00:15.0, BAR at 0x10",
         [] {
             SetHeader(Kernel().Function(0, 21, 0), 0x8086, 0x0C05);
             SetBar(Kernel().Function(0, 21, 0), 0, 0x4001);
         },
         0x4000, 0x401F},
        {"SMBus on bus 0x80",
         [] {
             SetHeader(Kernel().Function(0x80, 31, 4), 0x8086, 0x0C05);
             SetBar(Kernel().Function(0x80, 31, 4), 4, 0x3001);
         },
         0x3000, 0x301F},
        {"audio at 00:1F.3 with an I/O BAR",
         [] {
             SetHeader(Kernel().Function(0, 31, 3), 0x8086, 0x0403);
             SetBar(Kernel().Function(0, 31, 3), 4, 0xEFA1);
         },
         0, 0},
        {"I2C controller at 00:15.0",
         [] {
             SetHeader(Kernel().Function(0, 21, 0), 0x8086, 0x0C80);
             SetBar(Kernel().Function(0, 21, 0), 0, 0x4001);
         },
         0, 0},
        {"SMBus class, but a memory BAR at 0x20",
         [] {
             SetHeader(Kernel().Function(0, 31, 4), 0x8086, 0x0C05);
             SetBar(Kernel().Function(0, 31, 4), 4, 0xF0400000);
         },
         0, 0},
        {"SMBus I/O BAR in the legacy block",
         [] {
             SetHeader(Kernel().Function(0, 31, 4), 0x8086, 0x0C05);
             SetBar(Kernel().Function(0, 31, 4), 4, 0x0061);
         },
         0, 0},
        {"SCH LPC bridge: SMBus base at 0x40 with its enable bit",
         [] {
             SetHeader(Kernel().Function(0, 31, 0), 0x8086, 0x0601, 0x80);
             Set32(Kernel().Function(0, 31, 0), 0x40, 0x80001040);
         },
         0x1040, 0x107F},
        {"ICH LPC bridge: register 0x40 is the ACPI base, no enable bit",
         [] {
             SetHeader(Kernel().Function(0, 31, 0), 0x8086, 0x0601, 0x80);
             Set32(Kernel().Function(0, 31, 0), 0x40, 0x00001801);
         },
         0, 0},
        {"SCH watchdog: register 0x84 with its decode bit",
         [] {
             SetHeader(Kernel().Function(0, 31, 0), 0x8086, 0x0601, 0x80);
             Set32(Kernel().Function(0, 31, 0), 0x84, 0x80001100);
         },
         0x1100, 0x111F},
        {"watchdog base without its decode bit",
         [] {
             SetHeader(Kernel().Function(0, 31, 0), 0x8086, 0x0601, 0x80);
             Set32(Kernel().Function(0, 31, 0), 0x84, 0x00001100);
         },
         0, 0},
        {"register 0x84 of a function that is neither",
         [] {
             SetHeader(Kernel().Function(0, 31, 3), 0x8086, 0x0403);
             Set32(Kernel().Function(0, 31, 3), 0x84, 0x80001100);
         },
         0, 0},
        {"FCH: SMBus base from power-management register 1",
         [] {
             SetHeader(Kernel().Function(0, 20, 0), 0x1022, 0x0C05, 0x80);
             Kernel().memory.push_back({0xFED80300, Bytes{0x11, 0x0B}});
         },
         0x0B00, 0x0B3F},
        {"00:14.0 is not an AMD SMBus controller",
         [] {
             SetHeader(Kernel().Function(0, 20, 0), 0x8086, 0x0C03, 0x80);
             Kernel().memory.push_back({0xFED80300, Bytes{0x11, 0x0B}});
         },
         0, 0},
    };
    for (const Case& c : cases) {
        ResetKernel();
        Kernel().fadt = FakeKernel::TypicalFadt();
        c.machine();
        zk_handle h;
        zk_open_handle(&h, 1, 1);
        EXPECT_EQ(Kernel().maps, Kernel().unmaps) << c.why;
        // Nothing above the legacy block beyond the EC's fixed ranges and this block.
        uint32_t reachable = 0;
        for (uint32_t p = 0x100; p <= 0xFFFF; ++p) reachable += zk_port_allowed(p, 1, 0, 0, &h.ports);
        const uint32_t ec = 2 + 2 + 0x100;
        if (c.first == 0) {
            EXPECT_EQ(reachable, ec) << c.why;
        } else {
            EXPECT_TRUE(Reaches(h, c.first, c.last)) << c.why;
            EXPECT_EQ(reachable, ec + c.last - c.first + 1) << c.why;
        }
    }
}

// Looked up on every open, not once when the driver starts: a controller
// hidden or replaced since is seen by the next handle.
TEST_F(DriverTest, SmbusControllerIsLookedUpOnEveryOpen) {
    IntelDesktop();
    zk_handle before;
    zk_open_handle(&before, 1, 1);
    EXPECT_TRUE(Reaches(before, 0xF040, 0xF05F));
    SetHeader(Kernel().Function(0, 31, 4), 0x8086, 0x0403); // another function at that location now
    zk_handle after;
    zk_open_handle(&after, 1, 1);
    EXPECT_FALSE(Reaches(after, 0xF040, 0xF040));
}

TEST_F(DriverTest, EcRangesAreDroppedWhenSomethingElseClaimsThem) {
    ResetKernel();
    Kernel().fadt = FakeKernel::TypicalFadt();
    SetHeader(Kernel().Function(5, 0, 0), 0x10EC, 0x0200);
    SetBar(Kernel().Function(5, 0, 0), 0, 0xE301); // a NIC where the EC window would be
    zk_handle h;
    zk_open_handle(&h, 1, 1);
    EXPECT_FALSE(Reaches(h, 0xE300, 0xE300));
    EXPECT_TRUE(Reaches(h, 0x200, 0x201));
    Kernel().fadt.clear(); // firmware blocks unknown: nothing is vouched for
    zk_open_handle(&h, 1, 1);
    EXPECT_FALSE(Reaches(h, 0x200, 0x200));
}

// ------------------------------------------------------------ ranges the library names

Bytes Grant(uint32_t first, uint32_t count) {
    Bytes b;
    Put(b, first, 2);
    Put(b, count, 2);
    return b;
}

TEST_F(DriverTest, NamedRangesMustBeClaimedByNothingElse) {
    struct {
        uint32_t first, count;
        bool granted;
        const char* why;
    } cases[] = {
        {0x290, 8, true, "hardware monitor"},
        {0xA35, 2, true, "a monitor's index/data pair at an odd base"},
        {0x100, 16, true, "first port above the legacy block"},
        {0xF8, 8, false, "reaching down into the legacy block"},
        {0x290, 0, false, "empty"},
        {0x290, 17, false, "longer than a logical device decodes"},
        {0xFFF8, 16, false, "running past the last port"},
        {0x1800, 4, false, "ACPI PM1a event block"},
        {0x1804, 2, false, "ACPI PM1a control: SLP_EN powers the machine off"},
        {0x1808, 4, false, "ACPI PM timer"},
        {0x1820, 8, false, "GPE0 block"},
        {0x1830, 8, false, "SMI enable and status, inside the power-management block"},
        {0x1860, 16, false, "TCO registers, inside the power-management block"},
        {0x18F8, 16, false, "straddling the block's end"},
        {0x1900, 16, true, "past the power-management block"},
        {0xCF9, 1, false, "reset control"},
        {0xCF0, 16, false, "a range covering the PCI configuration ports"},
        {0xCD6, 2, false, "FCH power-management index/data"},
        {0xC00, 2, false, "PCI interrupt routing"},
        {0x1F0, 8, false, "ATA"},
        {0x3C0, 16, false, "VGA registers"},
        {0xE000, 8, false, "a NIC's I/O BAR"},
        {0xE0F8, 8, false, "within the reach of that BAR's alignment"},
        {0xE100, 8, true, "past it"},
        {0xD800, 8, false, "inside a root port's I/O window: hot-plug lands there"},
        {0xCFF8, 16, false, "straddling into the window"},
        {0xF050, 8, true, "part of the SMBus block, already reachable"},
    };
    for (const auto& c : cases) {
        ResetKernel();
        IntelDesktop();
        zk_open_handle(&handle, 1, 1);
        const zk_port_ranges before = handle.ports;
        EXPECT_EQ(Call(VEK_IOCTL_GRANT_PORTS, Grant(c.first, c.count), 0).status,
                  c.granted ? ZK_STATUS_SUCCESS : ZK_STATUS_ACCESS_DENIED)
            << c.why;
        if (c.granted) {
            EXPECT_TRUE(Reaches(handle, c.first, c.first + c.count - 1)) << c.why;
        } else {
            EXPECT_EQ(std::memcmp(&before, &handle.ports, sizeof before), 0) << c.why;
        }
    }
}

TEST_F(DriverTest, NamedRangesAreReadAgainstTheMachineAsItIsNow) {
    IntelDesktop();
    zk_open_handle(&handle, 1, 1);
    // A card hot-plugged on the root bus after the handle was opened.
    SetHeader(Kernel().Function(0, 2, 0), 0x1234, 0x0106);
    SetBar(Kernel().Function(0, 2, 0), 0, 0x0A31);
    EXPECT_EQ(Call(VEK_IOCTL_GRANT_PORTS, Grant(0xA30, 8), 0).status, ZK_STATUS_ACCESS_DENIED);
    // No ACPI table, a malformed one, or too many BARs to hold: nothing can be vouched for.
    for (auto spoil : std::vector<void (*)()>{
             [] { Kernel().fadt.clear(); },
             [] { std::memcpy(Kernel().fadt.data(), "APIC", 4); },
             [] { Kernel().fadt[4] = 20, Kernel().fadt[5] = 0; }, // length shorter than the fixed blocks
             [] {
                 for (uint32_t dev = 0; dev < 32; ++dev)
                     for (uint32_t bus = 10; bus < 15; ++bus) { // 160 BARs: more than the driver holds
                         SetHeader(Kernel().Function(bus, dev, 0), 0x1234, 0x0C03);
                         SetBar(Kernel().Function(bus, dev, 0), 0, 0x8001 + ((bus * 32 + dev) << 5));
                     }
             },
         }) {
        ResetKernel();
        IntelDesktop();
        spoil();
        zk_open_handle(&handle, 1, 1);
        EXPECT_EQ(Call(VEK_IOCTL_GRANT_PORTS, Grant(0x290, 8), 0).status, ZK_STATUS_ACCESS_DENIED);
    }
}

TEST_F(DriverTest, AHandleTakesFewNamedRanges) {
    IntelDesktop();
    zk_open_handle(&handle, 1, 1);
    for (uint32_t i = 0; i < ZK_MAX_LIBRARY_GRANTS; ++i)
        ASSERT_EQ(Call(VEK_IOCTL_GRANT_PORTS, Grant(0x500 + 0x10 * i, 16), 0).status, ZK_STATUS_SUCCESS) << i;
    // Naming one again costs nothing; a new one is refused.
    EXPECT_EQ(Call(VEK_IOCTL_GRANT_PORTS, Grant(0x500, 8), 0).status, ZK_STATUS_SUCCESS);
    EXPECT_EQ(Call(VEK_IOCTL_GRANT_PORTS, Grant(0x600, 8), 0).status, ZK_STATUS_ACCESS_DENIED);
    // Ranges belong to the handle: another one starts without them.
    zk_handle other;
    zk_open_handle(&other, 1, 1);
    EXPECT_FALSE(Reaches(other, 0x500, 0x500));
}

TEST(Fadt, BlocksAreReadFromBothAddressForms) {
    struct {
        const char* why;
        void (*edit)(std::vector<uint8_t>&);
        uint32_t port;
        bool blocked;
    } cases[] = {
        {"PM1a control from the 32-bit field", [](std::vector<uint8_t>&) {}, 0x1804, true},
        {"PM1b control only in the extended field",
         [](std::vector<uint8_t>& t) {
             t[184] = 1, t[185] = 16, t[188] = 0x00, t[189] = 0x20; // X_PM1b_CNT_BLK at 0x2000
             t[89] = 2;
         },
         0x2001, true},
        {"an extended block in memory space names no ports",
         [](std::vector<uint8_t>& t) { t[184] = 0, t[185] = 16, t[188] = 0x00, t[189] = 0x20; }, 0x2000, false},
        {"the reset register", [](std::vector<uint8_t>&) {}, 0xCF9, true},
        {"a 1.0 table (116 bytes) still names its blocks",
         [](std::vector<uint8_t>& t) {
             t.resize(116);
             t[4] = 116, t[5] = 0;
         },
         0x1808, true},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> t = FakeKernel::TypicalFadt(0x1800);
        c.edit(t);
        zk_port_ranges blocks{};
        ASSERT_TRUE(zk_fadt_port_blocks(t.data(), uint32_t(t.size()), &blocks)) << c.why;
        EXPECT_EQ(bool(zk_ports_overlap(&blocks, c.port, c.port)), c.blocked) << c.why;
    }
}

// ------------------------------------------------------------ access rights

TEST_F(DriverTest, EveryRequestNeedsReadAndWriteAccess) {
    Kernel().msrs[0x19C] = 1;
    for (auto [read, write] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{0, 1}}) {
        handle.can_read = read, handle.can_write = write;
        for (uint32_t code : {VEK_IOCTL_DRIVER_VERSION, VEK_IOCTL_HANDLE_COUNT})
            EXPECT_EQ(Call(code, {}, 4).status, ZK_STATUS_ACCESS_DENIED) << read << write << std::hex << code;
        EXPECT_EQ(Call(VEK_IOCTL_READ_MSR, U32(0x19C), 8).status, ZK_STATUS_ACCESS_DENIED);
        EXPECT_EQ(Call(VEK_IOCTL_READ_PORT_BYTE, U16(0x62), 2).status, ZK_STATUS_ACCESS_DENIED);
        EXPECT_EQ(Call(VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0x66, 0x80, 1), 0).status, ZK_STATUS_ACCESS_DENIED);
        EXPECT_EQ(Call(VEK_IOCTL_GRANT_PORTS, Grant(0x290, 8), 0).status, ZK_STATUS_ACCESS_DENIED);
    }
    EXPECT_EQ(Kernel().portIns + Kernel().portOuts, 0);
    uint32_t returned = 0;
    EXPECT_EQ(zk_dispatch(VEK_IOCTL_DRIVER_VERSION, nullptr, 0, 0, &returned, 1, nullptr), ZK_STATUS_ACCESS_DENIED);
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

// The configuration writes the library makes, and nothing beside them: keyed
// by location and by the class of the function found there.
TEST_F(DriverTest, PciWritesOnlyFlipTheSmbusControllerBits) {
    constexpr uint16_t kSmbus = 0x0C05;
    struct {
        uint32_t pci, offset;
        uint16_t cls;
        int width;
        uint8_t before, value;
        bool allowed;
        const char* why;
    } cases[] = {
        {PciAt(0, 31, 4), 0x04, kSmbus, 1, 0x02, 0x03, true, "I/O decode on, chipset SMBus at 0:31.4"},
        {PciAt(0x80, 31, 4), 0x04, kSmbus, 1, 0x00, 0x01, true, "I/O decode on, SMBus on bus 0x80"},
        {PciAt(0, 31, 4), 0x40, kSmbus, 1, 0x01, 0x05, true, "I2C framing on"},
        {PciAt(0, 31, 4), 0x40, kSmbus, 1, 0x05, 0x01, true, "I2C framing off"},
        {PciAt(0, 31, 3), 0x40, kSmbus, 1, 0x01, 0x05, true, "SMBus at 0:31.3"},
        {PciAt(0, 31, 1), 0x40, kSmbus, 1, 0x01, 0x05, true, "SMBus at 0:31.1"},
        {PciAt(0, 21, 0), 0x40, kSmbus, 1, 0x01, 0x05, true, "SMBus at 0:21.0"},
        {PciAt(0x80, 31, 4), 0x40, kSmbus, 1, 0x01, 0x05, true, "SMBus on bus 0x80"},
        {PciAt(0, 31, 4), 0x40, kSmbus, 1, 0x05, 0x05, true, "rewriting the same value"},
        {PciAt(0, 31, 3), 0x40, 0x0403, 1, 0x01, 0x05, false, "audio controller at 0:31.3"},
        {PciAt(0, 21, 0), 0x40, 0x0C80, 1, 0x01, 0x05, false, "I2C controller at 0:21.0"},
        {PciAt(0, 31, 4), 0x04, 0x0000, 1, 0x02, 0x03, false, "class not SMBus at 0:31.4"},
        {PciAt(0, 31, 4), 0x04, kSmbus, 1, 0x02, 0x07, false, "bus mastering is not the library's bit"},
        {PciAt(0, 31, 4), 0x04, kSmbus, 1, 0x03, 0x01, false, "memory decode off"},
        {PciAt(0, 31, 4), 0x40, kSmbus, 1, 0x01, 0x00, false, "host enable off"},
        {PciAt(0, 31, 4), 0x40, kSmbus, 1, 0x01, 0x11, false, "SPD write disable"},
        {PciAt(0, 31, 3), 0x04, kSmbus, 1, 0x00, 0x01, false, "command register of a function the library never enables"},
        {PciAt(0, 31, 0), 0x40, 0x0601, 1, 0x00, 0x04, false, "the LPC bridge"},
        {PciAt(0, 31, 4), 0x20, kSmbus, 1, 0x00, 0x01, false, "the SMBus base register"},
        {PciAt(0, 0, 0), 0x04, 0x0600, 1, 0x00, 0x01, false, "host bridge"},
        {PciAt(1, 31, 4), 0x40, kSmbus, 1, 0x01, 0x05, false, "same slot on another bus"},
    };
    for (const auto& c : cases) {
        ResetKernel();
        Kernel().ram = std::vector<zk_phys_range>{};
        auto& f = Kernel().Function(c.pci >> 8, (c.pci >> 3) & 31, c.pci & 7);
        SetHeader(f, 0x8086, c.cls);
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
    SetHeader(Kernel().Function(0, 31, 4), 0x8086, 0x0C05);
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

// With every window enabled.
const MemoryCase kMemoryCases[] = {
    {0xFED80300, 1, 2, false, ZK_STATUS_SUCCESS, "FCH power-management registers 0-1"},
    {0xFED80300, 1, 1, true, ZK_STATUS_ACCESS_DENIED, "they are read-only here"},
    {0xFED802FF, 1, 2, false, ZK_STATUS_ACCESS_DENIED, "starts before the window"},
    {0xFED80301, 1, 2, false, ZK_STATUS_ACCESS_DENIED, "ends past the window"},
    {0xFED8171E, 1, 1, true, ZK_STATUS_SUCCESS, "FCH GPIO 135 control byte"},
    {0xFED81772, 1, 1, true, ZK_STATUS_SUCCESS, "FCH GPIO 156 control byte"},
    {0xFED81770, 4, 1, true, ZK_STATUS_SUCCESS, "last dword of the GPIO window"},
    {0xFED81774, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "past the GPIO window"},
    {0xFED81500, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "GPIO 0: not one the boards use"},
    {0xD0C506D3, 1, 1, true, ZK_STATUS_SUCCESS, "GPIO pad configuration"},
    {0xD0C50508, 1, 2, false, ZK_STATUS_SUCCESS, "first pad of set 2"},
    {0xD0C50600, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "between the pads the boards use"},
    {0xFD690740, 1, 2, false, ZK_STATUS_SUCCESS, "LED pad"},
    {0xFD690778, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "past the LED pads"},
    {0xFD6D010C, 1, 1, true, ZK_STATUS_SUCCESS, "button status"},
    {0xFD6D010C, 1, 2, false, ZK_STATUS_ACCESS_DENIED, "one byte past it"},
    {0xFD6D0000, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "the rest of the button community"},
    {0xFEE00000, 4, 1, true, ZK_STATUS_ACCESS_DENIED, "local APIC"},
    {0xE0000000, 4, 1, true, ZK_STATUS_ACCESS_DENIED, "memory-mapped PCI configuration"},
    {0x00000000, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "page 0"},
    {0x000F0000, 1, 16, false, ZK_STATUS_ACCESS_DENIED, "BIOS area"},
    {0x00100000, 4, 1, false, ZK_STATUS_ACCESS_DENIED, "RAM"},
    {0x1000000000, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "above RAM, no device of ours"},
    {0xFED8171C, 1, 0x58, false, ZK_STATUS_SUCCESS, "the whole GPIO window"},
    {0xFED8171C, 1, 0x59, false, ZK_STATUS_ACCESS_DENIED, "one byte more"},
    {0xFED8171C, 4, 22, false, ZK_STATUS_SUCCESS, "the whole window in dwords"},
    {0xFED8171C, 1, 257, false, ZK_STATUS_ACCESS_DENIED, "over the request limit"},
    {0xFED8171C, 4, 0x40000001, false, ZK_STATUS_ACCESS_DENIED, "unit x count wraps 32 bits"},
    {0xFED8171C, 3, 1, false, ZK_STATUS_INVALID_PARAMETER, "unit 3"},
    {0xFED8171C, 8, 1, false, ZK_STATUS_INVALID_PARAMETER, "unit 8"},
    {0xFED8171C, 1, 0, false, ZK_STATUS_INVALID_PARAMETER, "count 0"},
    {0xFED8171D, 2, 1, false, ZK_STATUS_INVALID_PARAMETER, "misaligned word"},
    {0xFED8171E, 4, 1, false, ZK_STATUS_INVALID_PARAMETER, "misaligned dword"},
    {0xFFFFFFFFFFFFFFFF, 1, 1, false, ZK_STATUS_ACCESS_DENIED, "the last address"},
};

TEST_F(DriverTest, MemoryRules) {
    for (const MemoryCase& c : kMemoryCases) {
        ResetKernel();
        Kernel().ram = std::vector<zk_phys_range>{{0x1000, 0x9E000}, {0x100000, 0xBFF00000}};
        handle.windows = ~0u;
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

// A window is enabled on a handle only when its owner is on the bus and no
// PCI device claims any of it.
TEST_F(DriverTest, WindowsNeedTheirOwnerAndNoOtherClaim) {
    auto amd = [] {
        SetHeader(Kernel().Function(0, 20, 0), 0x1022, 0x0C05, 0x80);
        Kernel().memory.push_back({0xFED80300, Bytes{0x11, 0x0B}});
    };
    auto intel = [] { SetHeader(Kernel().Function(0, 31, 4), 0x8086, 0x0C05); };
    struct Case {
        const char* why;
        std::function<void()> machine;
        uint64_t address;
        bool enabled;
    };
    const std::vector<Case> cases = {
        {"FCH GPIO on an AMD machine", amd, 0xFED81720, true},
        {"FCH GPIO on an Intel machine", intel, 0xFED81720, false},
        {"FCH power management on an Intel machine", intel, 0xFED80300, false},
        {"pads on an Intel machine", intel, 0xFD690740, true},
        {"pads on an AMD machine", amd, 0xFD690740, false},
        {"pads when the SMBus location holds another vendor's function",
         [] { SetHeader(Kernel().Function(0, 31, 4), 0x1234, 0x0C05); }, 0xFD690740, false},
        {"pads under a device's memory BAR",
         [&] {
             intel();
             SetHeader(Kernel().Function(0, 2, 0), 0x8086, 0x0300);
             SetBar(Kernel().Function(0, 2, 0), 0, 0xFD600000); // 2 MiB alignment: reaches 0xFD7FFFFF
         },
         0xFD690740, false},
        {"pads under a bridge's memory window",
         [&] {
             intel();
             SetBridge(Kernel().Function(0, 28, 0), 0xF000, 0x0FFF, 0xFD000000, 0xFDFFFFFF);
         },
         0xFD690740, false},
        {"pads on a machine with a hundred other memory BARs",
         [&] {
             intel();
             for (uint32_t bus = 20; bus < 24; ++bus)
                 for (uint32_t dev = 0; dev < 25; ++dev) {
                     SetHeader(Kernel().Function(bus, dev, 0), 0x1234, 0x0C03);
                     SetBar(Kernel().Function(bus, dev, 0), 0, 0xA0000000 + ((bus * 32 + dev) << 16));
                 }
         },
         0xFD690740, true},
        {"pads beside a 64-bit BAR above 4 GiB",
         [&] {
             intel();
             SetHeader(Kernel().Function(0, 2, 0), 0x8086, 0x0300);
             SetBar(Kernel().Function(0, 2, 0), 0, 0xFD600004); // low half looks like it covers the pads
             SetBar(Kernel().Function(0, 2, 0), 1, 0x00000040);
         },
         0xFD690740, true},
    };
    for (const Case& c : cases) {
        ResetKernel();
        Kernel().ram = std::vector<zk_phys_range>{};
        Kernel().fadt = FakeKernel::TypicalFadt();
        c.machine();
        zk_open_handle(&handle, 1, 1);
        Kernel().memory.push_back({c.address, Bytes(1)});
        EXPECT_EQ(Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(c.address, 1, 1), 1).status,
                  c.enabled ? ZK_STATUS_SUCCESS : ZK_STATUS_ACCESS_DENIED)
            << c.why;
    }
}

TEST_F(DriverTest, MemoryOverlappingRamIsRefusedToTheByte) {
    handle.windows = ~0u;
    Kernel().ram = std::vector<zk_phys_range>{{0xFED81740, 0x10}}; // RAM reported inside a window
    Kernel().memory.push_back({0xFED8171C, Bytes(0x58)});
    struct {
        uint64_t address;
        uint32_t count;
        bool allowed;
    } cases[] = {{0xFED81730, 16, true}, {0xFED81730, 17, false}, {0xFED81748, 4, false},
                 {0xFED8174F, 1, false}, {0xFED81750, 4, true},   {0xFED8173F, 2, false}};
    for (const auto& c : cases)
        EXPECT_EQ(Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(c.address, 1, c.count), c.count).status,
                  c.allowed ? ZK_STATUS_SUCCESS : ZK_STATUS_ACCESS_DENIED)
            << std::hex << c.address << " +" << c.count;
}

TEST_F(DriverTest, UnknownRamRefusesAllMemory) {
    handle.windows = ~0u;
    Kernel().ram.reset();
    Kernel().memory.push_back({0xFED80300, Bytes(2)});
    EXPECT_EQ(Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(0xFED80300, 1, 2), 2).status, ZK_STATUS_ACCESS_DENIED);
}

// An address outside every window is refused before the memory manager is
// asked for its RAM list (a host without that list still refuses it cleanly).
TEST_F(DriverTest, AddressesOutsideTheWindowsNeedNoRamList) {
    handle.windows = ~0u;
    Kernel().ram.reset();
    EXPECT_EQ(Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(0x100000, 1, 1), 1).status, ZK_STATUS_ACCESS_DENIED);
    Kernel().ram = std::vector<zk_phys_range>{};
    EXPECT_EQ(Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(0x100000, 1, 1), 1).status, ZK_STATUS_ACCESS_DENIED);
    EXPECT_EQ(Kernel().rangeLists, 0);
}

TEST_F(DriverTest, MappingFailureIsReported) {
    handle.windows = ~0u;
    Kernel().mapFails = true;
    EXPECT_EQ(Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(0xFED80300, 1, 2), 2).status,
              ZK_STATUS_INSUFFICIENT_RESOURCES);
}

TEST_F(DriverTest, UnitsAreReadLittleEndianAtTheirWidth) {
    handle.windows = ~0u;
    Kernel().memory.push_back({0xFED81720, Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}});
    const Reply words = Call(VEK_IOCTL_READ_MEMORY, MemoryHeader(0xFED81720, 2, 4), 8);
    ASSERT_EQ(words.status, ZK_STATUS_SUCCESS);
    EXPECT_EQ(words.out, (Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    Bytes in = MemoryHeader(0xFED81724, 4, 1);
    Put(in, 0xDDCCBBAA, 4);
    ASSERT_EQ(Call(VEK_IOCTL_WRITE_MEMORY, in, 0).status, ZK_STATUS_SUCCESS);
    EXPECT_EQ(Kernel().memory[0].bytes, (Bytes{0x11, 0x22, 0x33, 0x44, 0xAA, 0xBB, 0xCC, 0xDD}));
}

// The I/O hub's GPIO block: from its own function's 32-bit memory BAR, at or
// above 1 MiB, and only the output, input and direction registers.
TEST_F(DriverTest, GpioBlockFollowsItsBar) {
    struct {
        uint32_t id, bar0, bar;
        uint64_t address;
        bool allowed;
    } cases[] = {
        {0x88038086, 0, 0xC0300000, 0xC0300018, true},  {0x88038086, 0, 0xC0300000, 0xC0300023, true},
        {0x88038086, 0, 0xC0300000, 0xC0300017, false}, {0x88038086, 0, 0xC0300000, 0xC0300024, false},
        {0x88038086, 0, 0xC0300000, 0xC0300000, false}, // the block's other registers
        {0x88038086, 0, 0xC0300008, 0xC0300020, true},  // prefetchable flag is not part of the base
        {0x88038086, 0, 0xC0300004, 0xC0300020, false}, // a 64-bit BAR: its high half is elsewhere
        {0x88038086, 0xFFF00004, 0x00000000, 0x00000020, false}, // 0x14 is the high half of a 64-bit BAR at 0x10
        {0x88038086, 0xFFF00004, 0x00000010, 0x00000028, false}, // ...naming page 0
        {0x88038086, 0, 0x000F0000, 0x000F0020, false}, // below 1 MiB
        {0x88038086, 0, 0x0000E001, 0x0000E020, false}, // an I/O BAR names no memory
        {0x12348086, 0, 0xC0300000, 0xC0300020, false}, // another device at 02:00.2
        {0xFFFFFFFF, 0, 0xFFFFFFFF, 0xFFFFFFF0, false}, // function absent
    };
    for (const auto& c : cases) {
        ResetKernel();
        Kernel().ram = std::vector<zk_phys_range>{{0x1000, 0x9E000}};
        auto& f = Kernel().Function(2, 0, 2);
        Set32(f, 0, c.id);
        SetBar(f, 0, c.bar0);
        SetBar(f, 1, c.bar);
        zk_open_handle(&handle, 1, 1);
        Kernel().memory.push_back({c.address, Bytes(1)});
        Bytes in = MemoryHeader(c.address, 1, 1);
        in.push_back(0x01);
        EXPECT_EQ(Call(VEK_IOCTL_WRITE_MEMORY, in, 0).status, c.allowed ? ZK_STATUS_SUCCESS : ZK_STATUS_ACCESS_DENIED)
            << std::hex << c.bar << " " << c.address;
    }
}

// ------------------------------------------------------------ claims

TEST_F(DriverTest, ClaimsCoverBarsAndBridgeWindowsAndSkipHighHalves) {
    auto& sata = Kernel().Function(0, 23, 0);
    SetHeader(sata, 0x8086, 0x0106, 0x00);
    SetBar(sata, 0, 0xF099); // 8-byte-aligned I/O BAR
    SetBar(sata, 4, 0xF061); // 32-byte-aligned
    SetHeader(Kernel().Function(0, 31, 0), 0x8086, 0x0601, 0x80); // multi-function: 31.4 is scanned too
    auto& smbus = Kernel().Function(0, 31, 4);
    SetHeader(smbus, 0x8086, 0x0C05, 0x00);
    SetBar(smbus, 4, 0xEFA1);
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
    SetBridge(bridge, 0xA000, 0xAFFF);
    SetBar(bridge, 1, 0xB001);
    auto& closed = Kernel().Function(0, 29, 0); // I/O window closed: base above limit
    SetBridge(closed, 0xF000, 0x0000);
    SetHeader(Kernel().Function(0, 29, 1), 0x8086, 0x0604, 0x01); // no I/O forwarding: both registers zero
    Kernel().Function(0, 29, 0)[0x0E] |= 0x80;
    Kernel().fadt = FakeKernel::TypicalFadt(0x1800);

    zk_port_ranges got;
    ASSERT_TRUE(zk_collect_claims(&got, nullptr));
    std::vector<std::pair<uint16_t, uint16_t>> ranges;
    for (uint32_t i = 0; i < got.count; ++i)
        if (got.range[i].first >= 0x0A00 && got.range[i].first < 0xFF00) ranges.emplace_back(got.range[i].first, got.range[i].last);
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ(ranges, (std::vector<std::pair<uint16_t, uint16_t>>{{0xCF9, 0xCF9},
                                                                   {0x1800, 0x1803},
                                                                   {0x1800, 0x18FF},
                                                                   {0x1804, 0x1805},
                                                                   {0x1808, 0x180B},
                                                                   {0x1820, 0x183F},
                                                                   {0xA000, 0xAFFF},
                                                                   {0xB000, 0xB0FF},
                                                                   {0xD100, 0xD1FF},
                                                                   {0xEFA0, 0xEFBF},
                                                                   {0xF060, 0xF07F},
                                                                   {0xF098, 0xF09F}}));
    EXPECT_FALSE(zk_ports_overlap(&got, 0x100, 0xC00)); // the bridge without I/O forwarding claims nothing
    EXPECT_EQ(got.overflow, 0);
}

// ------------------------------------------------------------ dangerous requests

// What a hostile administrator-level caller would try, on a desktop with an
// EC, a PCH, a NIC, a root port and ACPI power management at 0x1800; the
// handle is opened as the library opens it and the library named 0x290..0x297.
// Every one is refused and none reaches the hardware.
struct Danger {
    const char* what;
    std::function<void()> setup; // changes to the machine before the handle opens
    uint32_t code;
    Bytes in;
    uint32_t outSize;
    int access = 3; // bit 0 read, bit 1 write
};

Bytes PciWrite(uint32_t pci, uint32_t offset, uint8_t value) {
    Bytes b = Pci(pci, offset);
    b.push_back(value);
    return b;
}
Bytes MemoryWrite(uint64_t address, uint32_t count) {
    Bytes b = MemoryHeader(address, 1, count);
    b.resize(16 + count, 0xAA);
    return b;
}

TEST_F(DriverTest, DangerousRequestsAreRefused) {
    auto nothing = [] {};
    const std::vector<Danger> cases = {
        {"ACPI PM1a control: SLP_TYP|SLP_EN powers off", nothing, VEK_IOCTL_WRITE_PORT_WORD, PortWrite(0x1804, 0x3C00, 2), 0},
        {"ACPI PM1a event status", nothing, VEK_IOCTL_WRITE_PORT_WORD, PortWrite(0x1800, 0xFFFF, 2), 0},
        {"ACPI GPE0 enable", nothing, VEK_IOCTL_WRITE_PORT_DWORD, PortWrite(0x1828, 0xFFFFFFFF, 4), 0},
        {"SMI enable: GBL_SMI_EN off", nothing, VEK_IOCTL_WRITE_PORT_DWORD, PortWrite(0x1830, 0, 4), 0},
        {"TCO: halt the TCO timer", nothing, VEK_IOCTL_WRITE_PORT_WORD, PortWrite(0x1868, 0x0800, 2), 0},
        {"reset control 0xCF9", nothing, VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0xCF9, 0x0E, 1), 0},
        {"FCH power-management index 0xCD6", nothing, VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0xCD6, 0x10, 1), 0},
        {"FCH power-management data 0xCD7", nothing, VEK_IOCTL_READ_PORT_BYTE, U16(0xCD7), 2},
        {"PCI interrupt routing 0xC00", nothing, VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0xC00, 0x01, 1), 0},
        {"PCI configuration mechanism 0xCF8", nothing, VEK_IOCTL_WRITE_PORT_DWORD, PortWrite(0xCF8, 0x8000F840, 4), 0},
        {"NIC I/O BAR (bus master)", nothing, VEK_IOCTL_WRITE_PORT_DWORD, PortWrite(0xE000, 1, 4), 0},
        {"card hot-plugged behind the root port after start",
         [] {
             SetHeader(Kernel().Function(5, 0, 0), 0x1B4B, 0x0106);
             SetBar(Kernel().Function(5, 0, 0), 0, 0xD001);
         },
         VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0xD007, 0xEC, 1), 0},
        {"device asleep at start (BARs read all ones)",
         [] {
             SetHeader(Kernel().Function(6, 0, 0), 0x1B4B, 0x0106);
             SetBar(Kernel().Function(6, 0, 0), 0, 0xFFFFFFFF);
         },
         VEK_IOCTL_READ_PORT_BYTE, U16(0xC007), 2},
        {"naming the root port's window", nothing, VEK_IOCTL_GRANT_PORTS, Grant(0xD000, 16), 0},
        {"naming the PM1 control block", nothing, VEK_IOCTL_GRANT_PORTS, Grant(0x1804, 2), 0},
        {"naming the TCO block", nothing, VEK_IOCTL_GRANT_PORTS, Grant(0x1860, 16), 0},
        {"naming the FCH index/data pair", nothing, VEK_IOCTL_GRANT_PORTS, Grant(0xCD0, 8), 0},
        {"naming a range running past 0xFFFF", nothing, VEK_IOCTL_GRANT_PORTS, Grant(0xFFF8, 16), 0},
        {"a port beside the named range", nothing, VEK_IOCTL_READ_PORT_DWORD, U32(0x296), 4},
        {"port B: NMI enables", nothing, VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0x61, 0x0F, 1), 0},
        {"port B as a word", nothing, VEK_IOCTL_WRITE_PORT_WORD, PortWrite(0x61, 0x0003, 2), 0},
        {"audio controller at the SMBus location 00:1F.3: its register 0x40",
         [] { SetHeader(Kernel().Function(0, 31, 3), 0x8086, 0x0403); }, VEK_IOCTL_WRITE_PCI,
         PciWrite(PciAt(0, 31, 3), 0x40, 0x04), 0},
        {"I2C controller at 00:15.0: its register 0x40",
         [] { SetHeader(Kernel().Function(0, 21, 0), 0x8086, 0x0C80); }, VEK_IOCTL_WRITE_PCI,
         PciWrite(PciAt(0, 21, 0), 0x40, 0x04), 0},
        {"audio controller at 00:1F.3: its I/O BAR",
         [] {
             SetHeader(Kernel().Function(0, 31, 3), 0x8086, 0x0403);
             SetBar(Kernel().Function(0, 31, 3), 4, 0xEF81);
         },
         VEK_IOCTL_READ_PORT_BYTE, U16(0xEF80), 2},
        {"SMBus controller: bus mastering", nothing, VEK_IOCTL_WRITE_PCI, PciWrite(PciAt(0, 31, 4), 0x04, 0x07), 0},
        {"SMBus controller: moving its BAR", nothing, VEK_IOCTL_WRITE_PCI, PciWrite(PciAt(0, 31, 4), 0x20, 0x01), 0},
        {"GPIO BAR that is the high half of a 64-bit BAR: page 0",
         [] {
             auto& f = Kernel().Function(2, 0, 2);
             Set32(f, 0, 0x88038086);
             SetBar(f, 0, 0xFFF00004);
             SetBar(f, 1, 0x00000010);
         },
         VEK_IOCTL_READ_MEMORY, MemoryHeader(0x10, 1, 16), 16},
        {"FCH GPIO window on an Intel machine", nothing, VEK_IOCTL_WRITE_MEMORY, MemoryWrite(0xFED8171E, 1), 0},
        {"FCH GPIO bank outside the LED pads", nothing, VEK_IOCTL_WRITE_MEMORY, MemoryWrite(0xFED81500, 4), 0},
        {"pad window under another device's BAR",
         [] {
             SetHeader(Kernel().Function(0, 2, 0), 0x8086, 0x0300);
             SetBar(Kernel().Function(0, 2, 0), 0, 0xFD600000);
         },
         VEK_IOCTL_WRITE_MEMORY, MemoryWrite(0xFD690740, 1), 0},
        {"long base + length across the end of a window", nothing, VEK_IOCTL_READ_MEMORY,
         MemoryHeader(0xFD690700, 1, 256), 256},
        {"pad community outside the pads the boards use", nothing, VEK_IOCTL_WRITE_MEMORY,
         MemoryWrite(0xFD690000, 4), 0},
        {"no access: driver version", nothing, VEK_IOCTL_DRIVER_VERSION, {}, 4, 0},
        {"no access: handle count", nothing, VEK_IOCTL_HANDLE_COUNT, {}, 4, 0},
        {"no access: MSR read", nothing, VEK_IOCTL_READ_MSR, U32(0x19C), 8, 0},
        {"read access only: EC command", nothing, VEK_IOCTL_WRITE_PORT_BYTE, PortWrite(0x66, 0x80, 1), 0, 1},
        {"write access only: EC data", nothing, VEK_IOCTL_READ_PORT_BYTE, U16(0x62), 2, 2},
    };
    for (const Danger& c : cases) {
        ResetKernel();
        Kernel().ram = std::vector<zk_phys_range>{{0x1000, 0x9E000}, {0x100000, 0xBFF00000}};
        Kernel().msrs[0x19C] = 1;
        IntelDesktop();
        Kernel().Function(0, 31, 4)[0x04] = 0x03;
        Kernel().ports[0x61] = 0x30;
        c.setup();
        for (uint64_t base : {0x0ull, 0xFED81500ull, 0xFD690000ull})
            Kernel().memory.push_back({base, Bytes(0x1000)});
        zk_open_handle(&handle, c.access & 1, c.access & 2);
        handle.can_read = handle.can_write = 1;
        ASSERT_EQ(Call(VEK_IOCTL_GRANT_PORTS, Grant(0x290, 8), 0).status, ZK_STATUS_SUCCESS) << c.what;
        handle.can_read = c.access & 1, handle.can_write = (c.access & 2) != 0;
        const int maps = Kernel().maps;
        const Reply r = Call(c.code, c.in, c.outSize);
        EXPECT_EQ(r.status, ZK_STATUS_ACCESS_DENIED) << c.what;
        EXPECT_EQ(r.returned, 0u) << c.what;
        EXPECT_EQ(Kernel().portOuts + Kernel().pciWrites, 0) << c.what;
        EXPECT_EQ(Kernel().maps, maps) << c.what;
        EXPECT_EQ(Kernel().ports.count(0x1804) + Kernel().ports.count(0xCF9), 0u) << c.what;
    }
}

} // namespace
} // namespace zk::test
