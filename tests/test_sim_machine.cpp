// The simulator's request decoding, clock, driver model and board construction.
// These requests are the bytes the real I/O driver receives: a decoding slip here
// would hide an encoding slip in the library, so every layout is checked byte
// for byte against a device that records what reached it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/attached.h"
#include "sim/board.h"
#include "sim/machine.h"
#include "vek/host.h"
#include "vek/vek.h"

namespace vek::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// A port device that answers a fixed pattern and remembers writes.
class Recorder : public PortDevice {
public:
    uint32_t ReadPort(uint16_t port, unsigned width) override {
        reads.push_back({port, width, 0});
        return 0x12345678u ^ port;
    }
    void WritePort(uint16_t port, unsigned width, uint32_t value) override {
        writes.push_back({port, width, value});
    }
    struct Access {
        uint16_t port;
        unsigned width;
        uint32_t value;
    };
    std::vector<Access> reads, writes;
};

struct Reply {
    int ok;
    Bytes out;
    uint32_t returned;
};

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(p().driver_start(p().user), VEK_HOST_DRIVER_READY);
        m.ClaimPorts(0x2E, 2, &sio);
        m.ClaimPorts(0xE300, 0x100, &sio);
        m.ClaimPorts(0x62, 1, &sio);
        m.ClaimPorts(0xCF8, 8, &sio);
        auto mem = m.MapMemory(0xFED80000, 0x1000);
        mem[0x300] = 0x11;
        mem[0x301] = 0x0B;
        mem[0x302] = 0x22;
        mem[0x303] = 0x33;
        PciFunction& fn = m.AddPciFunction(0, 31, 4);
        fn.Store(0x00, 4, 0xA3238086);
        fn.Store(0x20, 4, 0xF041);
        m.SetMsr(0x19C, 0x0000000188370000ull);
        m.ClearTrace();
    }
    const vek_host_platform& p() { return m.platform(); }
    Reply Send(uint32_t code, const Bytes& in, uint32_t outSize) {
        Reply r{0, Bytes(outSize, 0xCC), 0xDEAD};
        r.ok = p().driver_request(p().user, code, in.empty() ? nullptr : in.data(), uint32_t(in.size()),
                                  outSize ? r.out.data() : nullptr, outSize, &r.returned);
        return r;
    }

    Machine m;
    Recorder sio;
};

// ------------------------------------------------------------------ layouts

struct LayoutCase {
    const char* name;
    uint32_t code;
    Bytes in;
    uint32_t outSize;
    Bytes wantOut;
    Access kind;
    uint64_t address;
    uint16_t offset;
    unsigned width;
    uint64_t value;
};

TEST_F(MachineTest, DecodesEveryRequestLayout) {
    const LayoutCase cases[] = {
        {"write port byte: u32 port + u8, packed", VEK_IOCTL_WRITE_PORT_BYTE, {0x2E, 0x00, 0x00, 0x00, 0x87}, 0, {},
         Access::PortWrite, 0x2E, 0, 1, 0x87},
        {"write port word: u32 port + u16", VEK_IOCTL_WRITE_PORT_WORD, {0x2F, 0x00, 0x00, 0x00, 0x34, 0x12}, 0, {},
         Access::PortWrite, 0x2F, 0, 2, 0x1234},
        {"write port dword: u32 port + u32", VEK_IOCTL_WRITE_PORT_DWORD,
         {0xF8, 0x0C, 0x00, 0x00, 0x20, 0xF8, 0x00, 0x80}, 0, {}, Access::PortWrite, 0xCF8, 0, 4, 0x8000F820},
        {"read port byte: u16 port, value in byte 0 of 2", VEK_IOCTL_READ_PORT_BYTE, {0x62, 0x00}, 2, {0x1A, 0x00},
         Access::PortRead, 0x62, 0, 1, 0x1A},
        {"read port word: u16 port", VEK_IOCTL_READ_PORT_WORD, {0x10, 0xE3}, 2, {0x68, 0xB5}, Access::PortRead,
         0xE310, 0, 2, 0xB568},
        {"read memory: u64 address, unit 1, count 2", VEK_IOCTL_READ_MEMORY,
         {0x00, 0x03, 0xD8, 0xFE, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}, 2, {0x11, 0x0B}, Access::MemRead,
         0xFED80300, 0, 1, 0x11},
        {"read memory: unit 2, count 2, little-endian units", VEK_IOCTL_READ_MEMORY,
         {0x00, 0x03, 0xD8, 0xFE, 0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0}, 4, {0x11, 0x0B, 0x22, 0x33},
         Access::MemRead, 0xFED80300, 0, 2, 0x0B11},
        {"read PCI: u32 address (bus<<8|dev<<3|fn), u32 offset", VEK_IOCTL_READ_PCI,
         {0xFC, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00}, 2, {0x41, 0xF0}, Access::PciRead, 0xFC, 0x20, 2,
         0xF041},
        {"read PCI dword at offset 0", VEK_IOCTL_READ_PCI, {0xFC, 0, 0, 0, 0, 0, 0, 0}, 4, {0x86, 0x80, 0x23, 0xA3},
         Access::PciRead, 0xFC, 0x00, 4, 0xA3238086},
        {"write PCI: address, offset, 1 data byte", VEK_IOCTL_WRITE_PCI, {0xFC, 0, 0, 0, 0x04, 0, 0, 0, 0x03}, 0,
         {}, Access::PciWrite, 0xFC, 0x04, 1, 0x03},
        {"read MSR: u32 index, out u32 low + u32 high", VEK_IOCTL_READ_MSR, {0x9C, 0x01, 0x00, 0x00}, 8,
         {0x00, 0x00, 0x37, 0x88, 0x01, 0x00, 0x00, 0x00}, Access::MsrRead, 0x19C, 0, 8, 0x188370000ull},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        m.ClearTrace();
        Reply r = Send(c.code, c.in, c.outSize);
        ASSERT_EQ(r.ok, 1);
        EXPECT_EQ(r.returned, c.outSize);
        EXPECT_EQ(r.out, c.wantOut);
        ASSERT_FALSE(m.trace().empty());
        const TraceEntry& t = m.trace().front();
        EXPECT_EQ(t.kind, c.kind);
        EXPECT_EQ(t.address, c.address);
        EXPECT_EQ(t.offset, c.offset);
        EXPECT_EQ(t.width, c.width);
        EXPECT_EQ(t.value, c.value);
        EXPECT_TRUE(t.ok);
    }
    EXPECT_EQ(m.malformed_requests(), 0);
    // The port writes reached the device with their widths intact.
    ASSERT_EQ(sio.writes.size(), 3u);
    EXPECT_EQ(sio.writes[1].width, 2u);
    EXPECT_EQ(sio.writes[1].value, 0x1234u);
}

TEST_F(MachineTest, ReadPortDwordAnswersOverItsOwnBuffer) {
    uint8_t buf[4] = {0x00, 0xE3, 0x00, 0x00};
    uint32_t returned = 0;
    ASSERT_EQ(p().driver_request(p().user, VEK_IOCTL_READ_PORT_DWORD, buf, 4, buf, 4, &returned), 1);
    EXPECT_EQ(returned, 4u);
    uint32_t v;
    std::memcpy(&v, buf, 4);
    EXPECT_EQ(v, 0x12345678u ^ 0xE300u);
    ASSERT_EQ(sio.reads.size(), 1u);
    EXPECT_EQ(sio.reads[0].port, 0xE300);
    EXPECT_EQ(sio.reads[0].width, 4u);
}

TEST_F(MachineTest, WriteMemoryCarriesDataAfterTheHeader) {
    Bytes in = {0x02, 0x03, 0xD8, 0xFE, 0, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0xEF, 0xBE};
    ASSERT_EQ(Send(VEK_IOCTL_WRITE_MEMORY, in, 0).ok, 1);
    Reply back = Send(VEK_IOCTL_READ_MEMORY, {0x02, 0x03, 0xD8, 0xFE, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}, 2);
    EXPECT_EQ(back.out, (Bytes{0xEF, 0xBE}));
}

TEST_F(MachineTest, DriverControlRequestsAnswerFourBytes) {
    m.SetHandleCount(3);
    EXPECT_EQ(Send(VEK_IOCTL_DRIVER_VERSION, {}, 4).out, (Bytes{0x00, 0x01, 0x00, 0x05}));
    EXPECT_EQ(Send(VEK_IOCTL_HANDLE_COUNT, {}, 4).out, (Bytes{0x03, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(m.trace().empty()); // no hardware touched
}

// A real driver checks buffer lengths before touching hardware; a request laid
// out one field wrong must fail, not half-work.
TEST_F(MachineTest, RejectsMalformedRequests) {
    const struct {
        const char* name;
        uint32_t code;
        Bytes in;
        uint32_t outSize;
    } cases[] = {
        {"read port byte with a u32 port", VEK_IOCTL_READ_PORT_BYTE, {0x62, 0, 0, 0}, 2},
        {"read port byte with 1 out byte", VEK_IOCTL_READ_PORT_BYTE, {0x62, 0}, 1},
        {"read port word with 4 out bytes", VEK_IOCTL_READ_PORT_WORD, {0x62, 0}, 4},
        {"read port dword with a u16 port", VEK_IOCTL_READ_PORT_DWORD, {0x62, 0}, 4},
        {"read port dword, port above 16 bits", VEK_IOCTL_READ_PORT_DWORD, {0x62, 0, 1, 0}, 4},
        {"write port byte padded to 8 bytes", VEK_IOCTL_WRITE_PORT_BYTE, {0x2E, 0, 0, 0, 0x87, 0, 0, 0}, 0},
        {"write port byte with a u16 port", VEK_IOCTL_WRITE_PORT_BYTE, {0x2E, 0, 0x87}, 0},
        {"write port byte with an out buffer", VEK_IOCTL_WRITE_PORT_BYTE, {0x2E, 0, 0, 0, 0x87}, 4},
        {"write port word in 8 bytes", VEK_IOCTL_WRITE_PORT_WORD, {0x2E, 0, 0, 0, 0x34, 0x12, 0, 0}, 0},
        {"write port dword in 6 bytes", VEK_IOCTL_WRITE_PORT_DWORD, {0x2E, 0, 0, 0, 0x34, 0x12}, 0},
        {"read MSR with 4 out bytes", VEK_IOCTL_READ_MSR, {0x9C, 0x01, 0, 0}, 4},
        {"read memory with a u32 address", VEK_IOCTL_READ_MEMORY, {0x00, 0x03, 0xD8, 0xFE, 1, 0, 0, 0, 2, 0, 0, 0},
         2},
        {"read memory, out not unit x count", VEK_IOCTL_READ_MEMORY,
         {0x00, 0x03, 0xD8, 0xFE, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}, 4},
        {"read memory, unit 3", VEK_IOCTL_READ_MEMORY, {0x00, 0x03, 0xD8, 0xFE, 0, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0},
         3},
        {"read memory, count 0", VEK_IOCTL_READ_MEMORY, {0x00, 0x03, 0xD8, 0xFE, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0},
         0},
        {"write memory, one data byte short", VEK_IOCTL_WRITE_MEMORY,
         {0x00, 0x03, 0xD8, 0xFE, 0, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0xAA}, 0},
        {"read PCI with 3 out bytes", VEK_IOCTL_READ_PCI, {0xFC, 0, 0, 0, 0x20, 0, 0, 0}, 3},
        {"read PCI with a 4-byte request", VEK_IOCTL_READ_PCI, {0xFC, 0, 0, 0}, 2},
        {"read PCI word at an odd offset", VEK_IOCTL_READ_PCI, {0xFC, 0, 0, 0, 0x41, 0, 0, 0}, 2},
        {"read PCI dword at offset 0x42", VEK_IOCTL_READ_PCI, {0xFC, 0, 0, 0, 0x42, 0, 0, 0}, 4},
        {"read PCI past the 256-byte space", VEK_IOCTL_READ_PCI, {0xFC, 0, 0, 0, 0x00, 1, 0, 0}, 1},
        {"read PCI with a CF8-style address", VEK_IOCTL_READ_PCI, {0x20, 0xFC, 0x00, 0x80, 0x20, 0, 0, 0}, 2},
        {"write PCI with 3 data bytes", VEK_IOCTL_WRITE_PCI, {0xFC, 0, 0, 0, 0x04, 0, 0, 0, 1, 2, 3}, 0},
        {"version with 2 out bytes", VEK_IOCTL_DRIVER_VERSION, {}, 2},
        {"version with input", VEK_IOCTL_DRIVER_VERSION, {0}, 4},
        {"unknown request code", 0xEA606460u, {0, 0}, 2},
    };
    int expectedMalformed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reply r = Send(c.code, c.in, c.outSize);
        EXPECT_EQ(r.ok, 0);
        EXPECT_EQ(r.returned, 0u);
        EXPECT_EQ(m.malformed_requests(), ++expectedMalformed);
    }
    EXPECT_TRUE(m.trace().empty());
    EXPECT_TRUE(sio.reads.empty());
    EXPECT_TRUE(sio.writes.empty());
}

// ------------------------------------------------------------------ absent hardware

TEST_F(MachineTest, AbsentHardwareFloatsOrFails) {
    const struct {
        const char* name;
        uint32_t code;
        Bytes in;
        uint32_t outSize;
        int ok;
        Bytes out;
    } cases[] = {
        {"unclaimed port byte floats high", VEK_IOCTL_READ_PORT_BYTE, {0x80, 0x00}, 2, 1, {0xFF, 0x00}},
        {"unclaimed port word", VEK_IOCTL_READ_PORT_WORD, {0x80, 0x00}, 2, 1, {0xFF, 0xFF}},
        {"unclaimed port dword", VEK_IOCTL_READ_PORT_DWORD, {0x80, 0x00, 0x00, 0x00}, 4, 1, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"absent PCI function reads all ones", VEK_IOCTL_READ_PCI, {0xFB, 0, 0, 0, 0x00, 0, 0, 0}, 2, 1, {0xFF, 0xFF}},
        {"unmapped memory fails", VEK_IOCTL_READ_MEMORY, {0, 0, 0, 0xFE, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, 1, 0,
         {0xCC}},
        {"memory running past a region fails whole", VEK_IOCTL_READ_MEMORY,
         {0xFE, 0x0F, 0xD8, 0xFE, 0, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0}, 4, 0, {0xCC, 0xCC, 0xCC, 0xCC}},
        {"absent MSR fails", VEK_IOCTL_READ_MSR, {0xA2, 0x01, 0, 0}, 8, 0, Bytes(8, 0xCC)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reply r = Send(c.code, c.in, c.outSize);
        EXPECT_EQ(r.ok, c.ok);
        EXPECT_EQ(r.out, c.out);
    }
    // Refusals are hardware answers, not malformed requests; they stay visible.
    EXPECT_EQ(m.malformed_requests(), 0);
    ASSERT_EQ(m.trace().size(), 7u);
    EXPECT_FALSE(m.trace()[6].ok);
    EXPECT_EQ(m.trace()[6].address, 0x1A2u);
}

TEST_F(MachineTest, PciHooksSeeAccessesAndAbsentWritesAreDropped) {
    // Write-1-to-clear status byte at 0x06.
    struct W1c : PciConfigHook {
        void WriteConfig(PciFunction& fn, uint32_t offset, unsigned width, uint32_t value) override {
            if (offset == 0x06 && width == 1) fn.config[6] &= uint8_t(~value);
            else fn.Store(offset, width, value);
        }
    } hook;
    PciFunction& fn = m.AddPciFunction(0, 31, 4);
    fn.config[6] = 0x90;
    fn.hook = &hook;
    Send(VEK_IOCTL_WRITE_PCI, {0xFC, 0, 0, 0, 0x06, 0, 0, 0, 0x10}, 0);
    EXPECT_EQ(fn.config[6], 0x80);

    ASSERT_EQ(Send(VEK_IOCTL_WRITE_PCI, {0x00, 0x01, 0, 0, 0x40, 0, 0, 0, 1, 2, 3, 4}, 0).ok, 1);
    EXPECT_EQ(m.FindPciFunction(0x100), nullptr);
    EXPECT_EQ(Send(VEK_IOCTL_READ_PCI, {0x00, 0x01, 0, 0, 0x40, 0, 0, 0}, 4).out, Bytes(4, 0xFF));
}

TEST(MachineSetup, OverlappingClaimsThrow) {
    Machine m;
    Recorder a;
    m.ClaimPorts(0x60, 5, &a);
    EXPECT_THROW(m.ClaimPorts(0x64, 1, &a), std::invalid_argument);
    EXPECT_NO_THROW(m.ClaimPorts(0x65, 1, &a));
    m.MapMemory(0x1000, 0x100);
    EXPECT_THROW(m.MapMemory(0x10FF, 1), std::invalid_argument);
}

// ------------------------------------------------------------------ clock

TEST_F(MachineTest, EveryRequestCostsVirtualTime) {
    const int64_t t0 = m.now_ns();
    Send(VEK_IOCTL_READ_PORT_BYTE, {0x62, 0}, 2);
    Send(VEK_IOCTL_READ_PORT_BYTE, {0x62, 0, 0}, 2); // malformed still costs the call
    EXPECT_EQ(m.now_ns() - t0, 2 * kDefaultRequestCostNs);
    EXPECT_EQ(m.trace().front().time_ns, t0 + kDefaultRequestCostNs);

    m.SetRequestCost(250);
    Send(VEK_IOCTL_READ_PORT_BYTE, {0x62, 0}, 2);
    EXPECT_EQ(m.now_ns() - t0, 2 * kDefaultRequestCostNs + 250);
}

TEST_F(MachineTest, DelayAdvancesExactlyAndTheCounterFollows) {
    const struct {
        int64_t us;
        int64_t advancedNs;
    } cases[] = {{0, 0}, {-5, 0}, {1, 1000}, {200, 200'000}, {2'000'000, 2'000'000'000}};
    for (const auto& c : cases) {
        const int64_t t0 = m.now_ns();
        p().delay_us(p().user, c.us);
        EXPECT_EQ(m.now_ns() - t0, c.advancedNs) << c.us << " us";
    }
    EXPECT_EQ(p().counter_frequency(p().user), 10'000'000);
    EXPECT_EQ(p().counter_now(p().user), m.now_ns() / 100);
    EXPECT_EQ(p().counter_now(p().user), p().counter_now(p().user)); // reading is free

    m.SetCounterFrequency(3'579'545);
    m.Advance(1'000'000'000 - m.now_ns() % 1'000'000'000); // whole seconds
    EXPECT_EQ(p().counter_now(p().user), m.now_ns() / 1'000'000'000 * 3'579'545);
}

TEST(MachineClock, WithoutTheDelayServiceCounterReadsMoveTime) {
    Machine m;
    m.SetDelayService(false);
    EXPECT_EQ(m.platform().delay_us, nullptr);
    const int64_t a = m.platform().counter_now(m.platform().user);
    const int64_t b = m.platform().counter_now(m.platform().user);
    EXPECT_GT(b, a); // a spin on the counter terminates
}

// ------------------------------------------------------------------ driver model

TEST(MachineDriver, StartDependsOnElevationAndWhetherTheDriverRuns) {
    const struct {
        const char* name;
        uint32_t startStatus;
        bool elevated;
        bool runningBefore;
        uint32_t want;
        bool answers;
        int installs;
    } cases[] = {
        {"elevated installs it", 0, true, false, VEK_HOST_DRIVER_READY, true, 1},
        {"not elevated cannot install", 0, false, false, VEK_HOST_DRIVER_START_FAILED, false, 0},
        {"not elevated opens a running driver", 0, false, true, VEK_HOST_DRIVER_READY, true, 0},
        {"elevated opens a running driver", 0, true, true, VEK_HOST_DRIVER_READY, true, 0},
        {"driver file missing", VEK_HOST_DRIVER_NO_FILE, true, false, VEK_HOST_DRIVER_NO_FILE, false, 0},
        {"file on a network drive", VEK_HOST_DRIVER_NETWORK, true, true, VEK_HOST_DRIVER_NETWORK, false, 0},
        {"unsupported system", VEK_HOST_DRIVER_UNSUPPORTED, true, false, VEK_HOST_DRIVER_UNSUPPORTED, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        m.SetDriverStartStatus(c.startStatus);
        m.SetElevated(c.elevated);
        m.SetDriverRunning(c.runningBefore);
        const vek_host_platform& p = m.platform();
        EXPECT_EQ(p.process_elevated(p.user), c.elevated ? 1 : 0);
        EXPECT_EQ(p.driver_start(p.user), c.want);
        uint8_t out[4] = {};
        uint32_t got = 0;
        EXPECT_EQ(p.driver_request(p.user, VEK_IOCTL_DRIVER_VERSION, nullptr, 0, out, 4, &got), c.answers ? 1 : 0);
        EXPECT_EQ(m.driver_installs(), c.installs);
        EXPECT_EQ(m.driver_starts(), 1);
    }
}

TEST(MachineDriver, TheLastHolderRemovesTheDriver) {
    for (uint32_t handles : {1u, 2u}) {
        SCOPED_TRACE(handles);
        Machine m;
        m.SetHandleCount(handles);
        const vek_host_platform& p = m.platform();
        ASSERT_EQ(p.driver_start(p.user), VEK_HOST_DRIVER_READY);
        p.driver_stop(p.user);
        EXPECT_EQ(m.driver_stops(), 1);
        EXPECT_FALSE(m.driver_open());
        EXPECT_EQ(m.driver_running(), handles > 1);
        uint8_t in[2] = {0x80, 0}, out[2];
        uint32_t got;
        EXPECT_EQ(p.driver_request(p.user, VEK_IOCTL_READ_PORT_BYTE, in, 2, out, 2, &got), 0);
    }
}

TEST(MachineDriver, ADriverThatStopsAnsweringFailsEveryRequest) {
    Machine m;
    const vek_host_platform& p = m.platform();
    ASSERT_EQ(p.driver_start(p.user), VEK_HOST_DRIVER_READY);
    m.SetDriverRunning(false);
    uint8_t out[4];
    uint32_t got = 7;
    EXPECT_EQ(p.driver_request(p.user, VEK_IOCTL_DRIVER_VERSION, nullptr, 0, out, 4, &got), 0);
    EXPECT_EQ(got, 0u);
}

// ------------------------------------------------------------------ ZKEC

TEST(MachineZkec, MissingDriverReportsFileNotFound) {
    Machine m;
    const vek_host_platform& p = m.platform();
    uint32_t lastError = 0;
    EXPECT_EQ(p.zkec_open(p.user, &lastError), 0);
    EXPECT_EQ(lastError, 2u);
    uint8_t reg = 0x10, v;
    EXPECT_NE(p.zkec_request(p.user, VEK_ZKEC_READ_REGISTER, &reg, 1, &v, 1), 0u);
}

TEST(MachineZkec, RequestsReadTheRegisterFileOrReportPending) {
    Machine m;
    m.SetZkecPresent(true);
    m.zkec_registers()[0x31] = 0x5C;
    const vek_host_platform& p = m.platform();
    uint32_t lastError = 0;
    ASSERT_EQ(p.zkec_open(p.user, &lastError), 1);

    uint8_t reg = 0x31, v = 0;
    EXPECT_EQ(p.zkec_request(p.user, VEK_ZKEC_BEGIN, nullptr, 0, nullptr, 0), 0u);
    EXPECT_EQ(p.zkec_request(p.user, VEK_ZKEC_READ_REGISTER, &reg, 1, &v, 1), 0u);
    EXPECT_EQ(v, 0x5C);
    EXPECT_EQ(p.zkec_request(p.user, VEK_ZKEC_END, nullptr, 0, nullptr, 0), 0u);
    ASSERT_EQ(m.trace().size(), 3u);
    EXPECT_EQ(m.trace()[0].kind, Access::ZkecBegin);
    EXPECT_EQ(m.trace()[1].kind, Access::ZkecRead);
    EXPECT_EQ(m.trace()[2].kind, Access::ZkecEnd);

    uint8_t two[2];
    EXPECT_NE(p.zkec_request(p.user, VEK_ZKEC_READ_REGISTER, &reg, 1, two, 2), 0u);
    m.SetZkecPending(true);
    for (uint32_t code : {VEK_ZKEC_BEGIN, VEK_ZKEC_END})
        EXPECT_EQ(p.zkec_request(p.user, code, nullptr, 0, nullptr, 0), VEK_HOST_ERROR_IO_PENDING);
    EXPECT_EQ(p.zkec_request(p.user, VEK_ZKEC_READ_REGISTER, &reg, 1, &v, 1), VEK_HOST_ERROR_IO_PENDING);

    p.zkec_close(p.user);
    EXPECT_FALSE(m.zkec_open());
}

// ------------------------------------------------------------------ identity

TEST(MachineIdentity, ShortensToTheBufferAndReportsFailures) {
    Machine m;
    m.SetIdentity(VEK_HOST_ID_PRODUCT, "BOARD-1234");
    m.SetIdentityFailing(VEK_HOST_ID_SERIAL, true);
    const vek_host_platform& p = m.platform();
    char out[8];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(p.identity(p.user, VEK_HOST_ID_PRODUCT, out, 5), 0u);
    EXPECT_STREQ(out, "BOAR");
    EXPECT_EQ(out[5], 'x');
    EXPECT_EQ(p.identity(p.user, VEK_HOST_ID_SERIAL, out, sizeof out), 16u);
    EXPECT_EQ(p.identity(p.user, 5, out, sizeof out), 16u);
}

// ------------------------------------------------------------------ boards

// Where initialisation looks for the SMBus controller, per chipset id.
struct ExpectedSite {
    uint32_t bus, device, function, baseReg;
    bool gated;
};
ExpectedSite ExpectedPciSite(uint32_t chipsetId) {
    ExpectedSite s{0, 31, 4, 0x20, false};
    switch (chipsetId) {
    case 0: case 1: s.function = 0; s.baseReg = 0x40; break;
    case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 28: s.function = 3; break;
    case 12: s.function = 1; break;
    case 15: s.device = 21; s.function = 0; s.baseReg = 0x10; break;
    case 26: s.bus = 0x80; s.gated = true; break;
    default: s.gated = true; break; // 10, 11, 13, 14, 16..25, 27
    }
    return s;
}

TEST(BoardTable, EveryRowYieldsAMachineWithItsSmbusBaseWhereInitReadsIt) {
    int located = 0;
    for (size_t i = 0; i < PLATFORM_ROWS; ++i) {
        const PlatformEntry& row = kPlatformTable[i];
        SCOPED_TRACE(testing::Message() << "row " << i << " '" << std::string(row.name, strnlen(row.name, 80))
                                        << "' chipset " << row.chipsetId);
        Board board(row);
        Machine& m = board.machine();
        const vek_host_platform& p = board.platform();
        ASSERT_EQ(p.driver_start(p.user), VEK_HOST_DRIVER_READY);

        char product[80] = {};
        ASSERT_EQ(p.identity(p.user, VEK_HOST_ID_PRODUCT, product, sizeof product), 0u);
        EXPECT_EQ(std::strncmp(product, row.name, sizeof row.name), 0);
        // The processor advertises MSRs, takes its TjMax from MSR 0x1A2 (not from
        // the fixed per-model list) and both thermal MSRs answer, so every board
        // reads kBoardTjMax - kBoardThermReadout.
        uint32_t regs[4];
        p.cpuid(p.user, 1, regs);
        EXPECT_NE(regs[3] & (1u << 5), 0u);
        const uint32_t model = ((regs[0] >> 16) & 0xF) * 16 + ((regs[0] >> 4) & 0xF);
        for (uint32_t fixed : {14, 15, 22, 26, 54, 23, 28, 38, 39, 53}) EXPECT_NE(model, fixed);
        uint32_t low[2] = {};
        for (int k = 0; k < 2; ++k) {
            const uint32_t msr = k == 0 ? kMsrTemperatureTarget : kMsrThermStatus;
            uint8_t in[4] = {uint8_t(msr), uint8_t(msr >> 8), 0, 0}, out[8];
            uint32_t got;
            EXPECT_EQ(p.driver_request(p.user, VEK_IOCTL_READ_MSR, in, 4, out, 8, &got), 1);
            std::memcpy(&low[k], out, 4);
        }
        EXPECT_EQ((low[0] >> 16) & 0xFF, kBoardTjMax);
        EXPECT_EQ((low[1] >> 16) & 0x7F, kBoardThermReadout);
        uint32_t zkecError = 0;
        EXPECT_EQ(p.zkec_open(p.user, &zkecError) != 0, row.chipKind == KIND_ZKEC || row.secondaryKind == KIND_ZKEC);

        if (row.chipsetId == CHIPSET_FCH) {
            uint8_t in[16] = {0x00, 0x03, 0xD8, 0xFE, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}, pm[2];
            uint32_t got = 0;
            ASSERT_EQ(p.driver_request(p.user, VEK_IOCTL_READ_MEMORY, in, 16, pm, 2, &got), 1);
            const uint16_t upper = (row.boardId == 121 || row.boardId == 156) ? 0x20 : 0;
            EXPECT_NE(pm[1], 0);
            EXPECT_EQ(board.smbus().ioBase, pm[1] * 256 + upper);
            ++located;
        } else if (row.chipsetId <= 28) {
            const ExpectedSite s = ExpectedPciSite(row.chipsetId);
            const uint32_t address = s.bus << 8 | s.device << 3 | s.function;
            uint8_t in[8] = {uint8_t(address), uint8_t(address >> 8), 0, 0, uint8_t(s.baseReg), 0, 0, 0}, base[2];
            uint32_t got = 0;
            ASSERT_EQ(p.driver_request(p.user, VEK_IOCTL_READ_PCI, in, 8, base, 2, &got), 1);
            const uint16_t ioBase = uint16_t((base[0] | base[1] << 8) & 0xFFF0);
            EXPECT_NE(ioBase, 0);
            EXPECT_NE(ioBase, 0xFFF0); // an absent function would read all ones
            EXPECT_EQ(board.smbus().ioBase, ioBase);
            // Where init must enable I/O decode, it starts disabled.
            EXPECT_EQ(board.SmbusDecodes(), !s.gated);
            ++located;
        } else {
            EXPECT_EQ(board.smbus().path, SmbusSite::kNone);
        }
        EXPECT_EQ(m.malformed_requests(), 0);
    }
    EXPECT_GT(located, 0);
}

TEST(BoardTable, SmbusSiteEdgeCases) {
    const struct {
        uint32_t chipset, board;
        SmbusSite::Path path;
        uint16_t ioBase;
    } cases[] = {
        {1001, 121, SmbusSite::kFchPm, 0x0B20}, {1001, 156, SmbusSite::kFchPm, 0x0B20},
        {1001, 120, SmbusSite::kFchPm, 0x0B00}, {29, 0, SmbusSite::kNone, 0},
        {1002, 121, SmbusSite::kNone, 0},      {1000, 0, SmbusSite::kNone, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.chipset << "/" << c.board);
        const SmbusSite s = SmbusSiteFor(c.chipset, c.board);
        EXPECT_EQ(s.path, c.path);
        EXPECT_EQ(s.ioBase, c.ioBase);
    }
}

TEST(BoardTable, DefaultBoardIsAnEmbeddedControllerBoard) {
    const PlatformEntry* row = FindRow(DefaultBoardName());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->chipKind, KIND_EC);
    Board board = Board::Default();
    EXPECT_EQ(&board.row(), row);
    EXPECT_THROW(Board::Named("no such board"), std::invalid_argument);
}

// ------------------------------------------------------------------ attaching

TEST(Attached, InitialisesOnTheBoardAndDetachesOnExit) {
    Board board = Board::Default();
    {
        Attached attached(board);
        ASSERT_TRUE(attached.ok());
        EXPECT_EQ(VEK_API_Init(), 0u);
        EXPECT_EQ(board.machine().driver_installs(), 1);
        EXPECT_EQ(board.machine().malformed_requests(), 0);
    }
    // Released and detached: the driver is gone and another platform may attach.
    EXPECT_FALSE(board.machine().driver_running());
    Machine other;
    EXPECT_EQ(vek_host_attach(&other.platform()), 0u);
    EXPECT_EQ(vek_host_detach(), 0u);
}

} // namespace
} // namespace vek::sim
