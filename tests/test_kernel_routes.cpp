// Routing beside kernel drivers, on simulated boards whose platform says which
// resources a kernel driver owns and offers the kernel's services: what goes
// through the kernel, what is refused, and that the owned ports stay untouched.
#include <array>
#include <map>
#include <string>
#include <vector>

#include "backends/sio1/config.h"
#include "backends/sio2/sio2.h"
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
    // The hwmon driver's sysfs inputs: (VEK_HOST_HWMON_*, index) -> value,
    // and the block bases the library asked for.
    std::map<std::pair<uint32_t, uint32_t>, int32_t> hwmon;
    std::vector<uint16_t> hwmonBases;
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
uint32_t HwmonRead(void*, uint16_t ioBase, uint32_t kind, uint32_t index, int32_t* value) {
    g_side->hwmonBases.push_back(ioBase);
    const auto it = g_side->hwmon.find({kind, index});
    if (it == g_side->hwmon.end()) return 1;
    *value = it->second;
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
            p.hwmon_read = HwmonRead;
        }
        ASSERT_EQ(vek_host_attach(&p), 0u);
        own = true;
        ASSERT_EQ(Init(), VEK_OK);
    }
    // Back to no board between the cases of one test.
    void Release() {
        VEK_API_Uninit();
        vek_host_detach();
        own = false;
        attached.reset();
        board.reset();
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
        Release();
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
        Release();
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

// A hwmon driver on the Super I/O's monitor block: readings come from its
// sysfs inputs for the same registers, through the same scaling as the
// register path; what no input reads, and all fan control, answers 10. The
// block is never touched and the chip never enters configuration mode.
enum class Reading { Temperature, CpuTemperature, Voltage, FanSpeed, SetFanSpeed };

struct HeldCase {
    const char* what;
    uint32_t kind, board;
    const char* driver;
    Reading reading;
    uint32_t item;                    // sensor, channel or fan
    std::pair<uint32_t, uint32_t> input; // the driver input that holds the value
    int32_t sysfs;                    // its text
    uint32_t result;
    double value;
};

constexpr uint32_t T = VEK_HOST_HWMON_TEMPERATURE, V = VEK_HOST_HWMON_VOLTAGE, F = VEK_HOST_HWMON_FAN;
constexpr std::pair<uint32_t, uint32_t> kNoInput{99, 0};

const HeldCase kHeldCases[] = {
    // ChipKind 5, board 148 (f71882fg, 8 mV, subtype 3): V1=0x22, V16=0x25 (1/1), V17=0x27 (2/1), T=0x74, fan 0 at 0xA0
    {"sio5 sensor 0 is temp2 (0x74)", KIND_SIO5, 148, "f71882fg", Reading::Temperature, 0, {T, 2}, 41500, VEK_OK, 41.5},
    {"sio5 channel 1 is in2 (0x22)", KIND_SIO5, 148, "f71882fg", Reading::Voltage, 1, {V, 2}, 1000, VEK_OK, 1.0},
    {"sio5 subtype-3 core range lives in a status register", KIND_SIO5, 148, "f71882fg", Reading::Voltage, 0,
     {V, 1}, 1000, VEK_ERR_UNSUPPORTED, 0},
    {"sio5 channel 16 divided 1/1", KIND_SIO5, 148, "f71882fg", Reading::Voltage, 16, {V, 5}, 1504, VEK_OK, 3.008},
    {"sio5 channel 17 divided 2/1", KIND_SIO5, 148, "f71882fg", Reading::Voltage, 17, {V, 7}, 800, VEK_OK, 2.4},
    {"sio5 battery needs its switch written", KIND_SIO5, 148, "f71882fg", Reading::Voltage, 6, {V, 6}, 400,
     VEK_ERR_UNSUPPORTED, 0},
    {"sio5 channel 18 is out of range", KIND_SIO5, 148, "f71882fg", Reading::Voltage, 18, kNoInput, 0,
     VEK_ERR_ARGUMENT, 0},
    {"sio5 fan 0 is fan1 (0xA0)", KIND_SIO5, 148, "f71882fg", Reading::FanSpeed, 0, {F, 1}, 2400, VEK_OK, 2400},
    {"sio5 input the driver cannot read", KIND_SIO5, 148, "f71882fg", Reading::FanSpeed, 0, kNoInput, 0,
     VEK_ERR_UNSUPPORTED, 0},
    {"sio5 under an unknown driver", KIND_SIO5, 148, "lm_unknown", Reading::Voltage, 0, {V, 1}, 1000,
     VEK_ERR_UNSUPPORTED, 0},
    {"sio5 fan duty is refused", KIND_SIO5, 148, "f71882fg", Reading::SetFanSpeed, 0, kNoInput, 0,
     VEK_ERR_UNSUPPORTED, 0},
    // ChipKind 2, board 36 (it87, 16 mV ADC, 4.096 V full scale): ch0=0x21, ch2=0x22, ch3=0x23 (6.8/10)
    {"sio2 channel 0 is in1", KIND_SIO2, 36, "it87", Reading::Voltage, 0, {V, 1}, 1600, VEK_OK, 1.6},
    {"sio2 channel 2 through the full scale", KIND_SIO2, 36, "it87", Reading::Voltage, 2, {V, 2}, 1600, VEK_OK,
     100 / 255.0 * 4.096},
    {"sio2 channel 3 divided 6.8/10", KIND_SIO2, 36, "it87", Reading::Voltage, 3, {V, 3}, 800, VEK_OK,
     50 * 1.68 * 0.016},
    {"sio2 sensor 0 is temp1 (0x29)", KIND_SIO2, 36, "it87", Reading::Temperature, 0, {T, 1}, 35000, VEK_OK, 35},
    {"sio2 CPU is temp2 (0x2A)", KIND_SIO2, 36, "it87", Reading::CpuTemperature, 0, {T, 2}, 47000, VEK_OK, 47},
    {"sio2 fan 0 is fan1 (0x0D)", KIND_SIO2, 36, "it87", Reading::FanSpeed, 0, {F, 1}, 3000, VEK_OK, 3000},
    {"sio2 fan 1 duty is refused", KIND_SIO2, 36, "it87", Reading::SetFanSpeed, 1, kNoInput, 0,
     VEK_ERR_UNSUPPORTED, 0},
    // ChipKind 2, board 1 (12 mV ADC): in3 may be internally halved, which sysfs does not say
    {"sio2 12 mV channel 0 is in0", KIND_SIO2, 1, "it87", Reading::Voltage, 0, {V, 0}, 1200, VEK_OK, 1.2},
    {"sio2 12 mV in3 is not mapped", KIND_SIO2, 1, "it87", Reading::Voltage, 3, {V, 3}, 1200,
     VEK_ERR_UNSUPPORTED, 0},
    // ChipKind 1, board 4 (w83627ehf, 8 mV): ch4=0x21 (100/10), ch2=0x25 (20/10), CPU bank 1 0x50, fan 0 at 0x29
    {"sio1 channel 2 is in5", KIND_SIO1, 4, "w83627ehf", Reading::Voltage, 2, {V, 5}, 800, VEK_OK, 2.4},
    {"sio1 channel 4 is in1", KIND_SIO1, 4, "w83627ehf", Reading::Voltage, 4, {V, 1}, 400, VEK_OK, 4.4},
    {"sio1 CPU is temp2 with its half degree", KIND_SIO1, 4, "w83627ehf", Reading::CpuTemperature, 0, {T, 2},
     45500, VEK_OK, 45.5},
    {"sio1 fan 0 is fan2 (0x29)", KIND_SIO1, 4, "w83627ehf", Reading::FanSpeed, 0, {F, 2}, 2100, VEK_OK, 2100},
    // GTB-489: an EC board whose second chip, ChipKind 2 (12 mV), serves channels 2-4 and 6 and the sensors:
    // ch3=0x26 (15/10), ch4=0x24 (49.9/10), ch6=0x28
    {"second chip channel 4 is in4", KIND_EC, 89, "it87", Reading::Voltage, 4, {V, 4}, 1200, VEK_OK,
     100 * 5.99 * 0.012},
    {"second chip channel 3 is in6", KIND_EC, 89, "it87", Reading::Voltage, 3, {V, 6}, 600, VEK_OK,
     50 * 2.5 * 0.012},
    {"second chip battery in8 on a 12 mV part", KIND_EC, 89, "it87", Reading::Voltage, 6, {V, 8}, 1200,
     VEK_ERR_UNSUPPORTED, 0},
    {"second chip sensor 0 is temp1", KIND_EC, 89, "it87", Reading::Temperature, 0, {T, 1}, 30000, VEK_OK, 30},
};

// The block's base on the Super I/O context: the primary, or the second chip of an EC board.
uint16_t MonitorBase(const DeviceContext& primary) {
    const DeviceContext& ctx = primary.secondary != nullptr ? *primary.secondary : primary;
    switch (ctx.chipKind) {
    case KIND_SIO1: return uint16_t(AreaOf<sio1::Sio1Area>(ctx).hwmIndexPort - 5);
    case KIND_SIO2: return AreaOf<sio2::Sio2Area>(ctx).envBase;
    default: return uint16_t(AreaOf<sio5::Sio5Area>(ctx).hwmIndexPort - 5);
    }
}

TEST_F(KernelRoutes, SuperIoReadingsComeFromTheHwmonDriverHoldingTheBlock) {
    for (const HeldCase& c : kHeldCases) {
        SCOPED_TRACE(c.what);
        side = {};
        side.owners[VEK_HOST_RES_SIO_MONITOR] = c.driver;
        if (c.input != kNoInput) side.hwmon[c.input] = c.sysfs;
        InitWithKernel(RowWhere([&](const PlatformEntry& r) { return r.chipKind == c.kind && r.boardId == c.board; }));
        const uint16_t base = MonitorBase(Lib().primary);
        ASSERT_GE(base, 0x100);
        machine().ClearTrace();
        double v = -1;
        uint32_t rpm = 0;
        uint32_t result = 0;
        switch (c.reading) {
        case Reading::Temperature: result = VEK_HWM_Temperature(c.item, &v); break;
        case Reading::CpuTemperature: result = VEK_HWM_CPUTemperature(c.item, &v); break;
        case Reading::Voltage: result = VEK_HWM_Voltage(c.item, &v); break;
        case Reading::FanSpeed: result = VEK_HWM_GetFanSpeed(c.item, &rpm); v = rpm; break;
        case Reading::SetFanSpeed: result = VEK_HWM_SetFanSpeed(c.item, 50); break;
        }
        EXPECT_EQ(result, c.result);
        if (c.result == VEK_OK) {
            EXPECT_NEAR(v, c.value, 1e-9);
        }
        for (uint16_t asked : side.hwmonBases) EXPECT_EQ(asked, base) << "the driver's device for this block";
        EXPECT_EQ(PortAccessesIn(machine(), base, uint16_t(base + 7)), 0) << "the held block is left alone";
        EXPECT_EQ(PortAccesses(machine(), {0x2E, 0x2F, 0x4E, 0x4F}), 0) << "no configuration mode";
        Release();
    }
}

// Without the kernel's hwmon service the held block's readings answer 10, and
// the CPU temperature falls back to the processor's own sensor.
TEST_F(KernelRoutes, SuperIoMonitorWithoutTheHwmonServiceIsLeftAlone) {
    side.owners[VEK_HOST_RES_SIO_MONITOR] = "f71882fg";
    InitWithKernel(RowWithBoard(148), false);
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
