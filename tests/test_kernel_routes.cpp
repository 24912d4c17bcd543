// Routing beside kernel drivers, on simulated boards whose platform says which
// resources a kernel driver owns and offers the kernel's services: what goes
// through the kernel, what is refused, and that the owned ports stay untouched.
#include <array>
#include <map>
#include <string>
#include <vector>

#include "backends/sio5/sio5.h"
#include "sim/attached.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;
using sim::Access;

namespace {

// The kernel's side: who owns what, EC RAM behind ec_sys, the speaker's tones.
struct KernelSide {
    std::map<uint32_t, std::string> owners; // VEK_HOST_RES_* -> driver
    bool ecInterface = false;
    std::array<uint8_t, 256> ram{};
    int ramReads = 0, ramWrites = 0;
    bool speakerDevice = false;
    std::vector<uint32_t> tones;
};
KernelSide* g_side = nullptr;

uint32_t Owner(void*, uint32_t resource, uint32_t, uint32_t, char* driver, uint32_t size) {
    const auto it = g_side->owners.find(resource);
    if (it == g_side->owners.end()) return VEK_HOST_OWNER_NONE;
    if (driver && size) snprintf(driver, size, "%s", it->second.c_str());
    return VEK_HOST_OWNER_KERNEL;
}
uint32_t EcRamRead(void*, uint8_t offset, uint8_t* value) {
    if (!g_side->ecInterface) return 1;
    ++g_side->ramReads;
    *value = g_side->ram[offset];
    return 0;
}
uint32_t EcRamWrite(void*, uint8_t offset, uint8_t value) {
    if (!g_side->ecInterface) return 1;
    ++g_side->ramWrites;
    g_side->ram[offset] = value;
    return 0;
}
uint32_t Tone(void*, uint32_t hz) {
    g_side->tones.push_back(hz);
    return 0;
}

int PortAccesses(const sim::Machine& m, std::initializer_list<uint16_t> ports) {
    int n = 0;
    for (const sim::TraceEntry& e : m.trace())
        if (e.kind == Access::PortRead || e.kind == Access::PortWrite)
            for (uint16_t p : ports) n += e.address == p;
    return n;
}
int PortAccessesIn(const sim::Machine& m, uint16_t first, uint16_t last) {
    int n = 0;
    for (const sim::TraceEntry& e : m.trace())
        if ((e.kind == Access::PortRead || e.kind == Access::PortWrite) && e.address >= first && e.address <= last) ++n;
    return n;
}

class KernelRoutes : public SimBoardTest {
protected:
    void SetUp() override { g_side = &side; }
    void TearDown() override {
        if (own) {
            VEK_API_Uninit();
            vek_host_detach();
        }
        g_side = nullptr;
        SimBoardTest::TearDown();
    }
    // The board's platform with the kernel's answers added, initialised.
    void InitWithKernel(const PlatformEntry& row, bool withServices = true) {
        Use(row);
        attached.reset();
        vek_host_platform p = board->platform();
        p.resource_owner = Owner;
        if (withServices) {
            p.ec_ram_read = EcRamRead;
            p.ec_ram_write = EcRamWrite;
            p.speaker_tone = Tone;
        }
        ASSERT_EQ(vek_host_attach(&p), 0u);
        own = true;
        ASSERT_EQ(Init(), VEK_OK);
    }
    KernelSide side;
    bool own = false;
};

constexpr uint32_t kAcpiPortsBoard = 12; // EC registers through the ACPI-style interface

TEST_F(KernelRoutes, EcRegistersGoThroughTheKernelOrAreRefused) {
    const struct {
        const char* what;
        bool owned, ecInterface;
        uint32_t result;     // VEK_EC_GetVersion-like register read: a temperature
        bool portsTouched;   // 0x62/0x66
        bool kernelUsed;
    } cases[] = {
        {"no kernel driver: the ports", false, false, VEK_OK, true, false},
        {"ACPI EC driver with ec_sys: through the kernel", true, true, VEK_OK, false, true},
        {"ACPI EC driver without an interface: refused", true, false, VEK_ERR_UNSUPPORTED, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        side = {};
        if (c.owned) side.owners[VEK_HOST_RES_EC] = "ec";
        side.ecInterface = c.ecInterface;
        side.ram.fill(0x2A);
        InitWithKernel(RowWithBoard(kAcpiPortsBoard));
        double t = -1;
        EXPECT_EQ(VEK_HWM_Temperature(0, &t), c.result);
        if (c.kernelUsed) {
            EXPECT_EQ(t, 0x2A) << "the byte the kernel read";
        }
        EXPECT_EQ(PortAccesses(machine(), {0x62, 0x66}) > 0, c.portsTouched);
        EXPECT_EQ(side.ramReads > 0, c.kernelUsed);
        VEK_API_Uninit();
        vek_host_detach();
        own = false;
        attached.reset();
        board.reset();
    }
}

// The EC's I2C master starts each transaction with a command on 0x66, which
// the kernel's EC interface cannot carry.
TEST_F(KernelRoutes, EcMailboxCommandsAreRefusedBesideTheKernel) {
    side.owners[VEK_HOST_RES_EC] = "ec";
    side.ecInterface = true;
    InitWithKernel(RowWhere([](const PlatformEntry& r) { return r.chipKind == KIND_EC && r.i2cOwners[0] == KIND_EC; }));
    machine().ClearTrace();
    uint8_t v = 0;
    EXPECT_EQ(VEK_EC_IIC_Receive_Byte(0xA0, &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(PortAccesses(machine(), {0x62, 0x66}), 0);
}

TEST_F(KernelRoutes, SpeakerTonesGoThroughItsDriverOrAreRefused) {
    const struct {
        const char* what;
        bool owned, device;
        uint32_t result;
        std::vector<uint32_t> tones;
        bool portsTouched;
    } cases[] = {
        {"no driver: PIT and port 0x61", false, true, VEK_OK, {}, true},
        {"pcspkr: its input device, rounded hertz, then silence", true, true, VEK_OK, {1000, 0}, false},
        {"pcspkr without a usable device: refused", true, false, VEK_ERR_UNSUPPORTED, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        side = {};
        if (c.owned) side.owners[VEK_HOST_RES_SPEAKER] = "pcspkr";
        InitWithKernel(RowWhere([](const PlatformEntry& r) { return r.chipKind == KIND_EC; }), c.device);
        Lib().primary.caps[CAP_SPEAKER] = 1;
        machine().ClearTrace();
        EXPECT_EQ(VEK_HWM_StartBeep(999.6), c.result);
        EXPECT_EQ(VEK_HWM_StopBeep(), c.result);
        EXPECT_EQ(side.tones, c.tones);
        EXPECT_EQ(PortAccesses(machine(), {0x42, 0x43, 0x61}) > 0, c.portsTouched);
        VEK_API_Uninit();
        vek_host_detach();
        own = false;
        attached.reset();
        board.reset();
    }
}

TEST_F(KernelRoutes, ChipsetWatchdogUnderAKernelDriverIsRefused) {
    side.owners[VEK_HOST_RES_WATCHDOG] = "ie6xx_wdt";
    InitWithKernel(RowWhere([](const PlatformEntry& r) { return std::string(r.name) == "PXC-59"; }));
    machine().ClearTrace();
    EXPECT_EQ(VEK_WDT_SetConfig(0, 10), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_WDT_Trigger(), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_WDT_Disable(), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(PortAccessesIn(machine(), 0x100, 0xFFFF), 0) << "no watchdog block access";
}

// A hwmon driver on the Super I/O's monitor block: its readings and fan
// control are refused; the CPU temperature falls back to the processor.
TEST_F(KernelRoutes, SuperIoMonitorUnderHwmonDriverIsLeftAlone) {
    side.owners[VEK_HOST_RES_SIO_MONITOR] = "nct6775";
    InitWithKernel(RowWithBoard(148));
    const uint16_t index = AreaOf<sio5::Sio5Area>(Lib().primary).hwmIndexPort;
    ASSERT_NE(index, 0);
    machine().ClearTrace();
    double v = -1;
    uint32_t rpm = 0;
    EXPECT_EQ(VEK_HWM_Temperature(0, &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_Voltage(0, &v), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_GetFanSpeed(0, &rpm), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_SetFanSpeed(0, 50), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(PortAccessesIn(machine(), uint16_t(index - 5), uint16_t(index + 2)), 0);
    EXPECT_EQ(PortAccesses(machine(), {0x2E, 0x2F, 0x4E, 0x4F}), 0) << "no configuration mode for a refused call";
}

} // namespace
