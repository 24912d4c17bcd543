// Initialisation, teardown, version and the cached board identity.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "backends/backend.h"
#include "api/library.h"
#include "api/lock_guard.h"
#include "hal/hal.h"
#include "hal/platform_slot.h"
#include "os/os.h"
#include "platform/identity.h"
#include "smbus/kernel_route.h"
#include "smbus/locate.h"
#include "vek/vek.h"

namespace vek {
namespace {

constexpr int kVersionMajor = 5, kVersionMinor = 0, kVersionRevision = 1;
constexpr const char* kBuildDate = "20260626";
constexpr const char* kPlatformType = "Embedded Board";
constexpr int kTeardownWaitMs = 3000;

// Capability words written at every Init before the configure routines refine them.
// CAP_EC_SMARTFAN is left as it is: only the EC configuration sets it.
void WriteDefaultCapabilities(DeviceContext& ctx) {
    constexpr struct { Capability cap; uint32_t value; } kDefaults[] = {
        {CAP_API, 1}, {CAP_GPIO, 1}, {CAP_WDT, 1}, {CAP_SPEAKER, 1}, {CAP_FAN, 1},
        {CAP_VOLTAGE, 1}, {CAP_CURRENT, 0}, {CAP_TEMPERATURE, 1}, {CAP_CPU_TEMPERATURE, 1},
        {CAP_SMBUS, 1}, {CAP_SMART_BATTERY, 0}, {CAP_BACKLIGHT, 0}, {CAP_LED, 0},
        {CAP_PLATFORM_VERSION_WMI, 0}, {CAP_BUTTON, 0},
    };
    for (const auto& d : kDefaults) ctx.caps[d.cap] = d.value;
}

// A row value equal to the main chip's own kind means "the main chip".
uint32_t OwnerOrZero(uint32_t value, uint32_t chipKind) { return value == chipKind ? 0 : value; }

void FillPrimary(DeviceContext& p, const PlatformEntry& row) {
    // A matched row rebuilds the context; the default capabilities just written
    // and the metronome beat carry over.
    DeviceContext fresh{};
    std::memcpy(fresh.caps, p.caps, sizeof p.caps);
    fresh.beatMs = p.beatMs;
    fresh.chipKind = row.chipKind;
    fresh.subtype = row.subtype;
    fresh.chipsetId = row.chipsetId;
    fresh.boardId = row.boardId;
    fresh.secondaryKind = row.secondaryKind;
    fresh.secondarySubtype = row.secondarySubtype;
    fresh.secondaryBoardId = row.boardId;
    fresh.gpioOwner = OwnerOrZero(row.gpioOwner, row.chipKind);
    fresh.wdtOwner = OwnerOrZero(row.wdtOwner, row.chipKind);
    fresh.cpuTempOwner = OwnerOrZero(row.cpuTempOwner, row.chipKind);
    fresh.fanOwners = row.fanOwners;
    fresh.voltageOwners = row.voltageOwners;
    fresh.tempOwners = row.tempOwners;
    fresh.i2cOwners = row.i2cOwners;
    fresh.ledOwner = row.ledOwner;
    p = fresh;
}

void Configure(DeviceContext& ctx) {
    smbus::LocateSmbusController(ctx);
    if (const BackendOps* ops = BackendFor(ctx.chipKind); ops && ops->configure) ops->configure(ctx);
}

// Which capability words the second chip may add to, and under which owner test.
struct MergeRule {
    bool (*applies)(const DeviceContext& p);
    Capability words[2];
    int count;
};
constexpr MergeRule kMergeRules[] = {
    {[](const DeviceContext& p) { return p.gpioOwner != 0; }, {CAP_GPIO}, 1},
    {[](const DeviceContext& p) { return p.wdtOwner != 0; }, {CAP_WDT}, 1},
    {[](const DeviceContext& p) { return OwnerMode(p.fanOwners) != 0; }, {CAP_FAN}, 1},
    {[](const DeviceContext& p) { return OwnerMode(p.voltageOwners) != 0; }, {CAP_VOLTAGE, CAP_CURRENT}, 2},
    {[](const DeviceContext& p) { return OwnerMode(p.tempOwners) != 0; }, {CAP_TEMPERATURE}, 1},
    {[](const DeviceContext& p) { return p.cpuTempOwner != 0; }, {CAP_CPU_TEMPERATURE}, 1},
    {[](const DeviceContext& p) { return p.ledOwner != 0; }, {CAP_LED, CAP_BUTTON}, 2},
};

// The GPIO set counts are not merged: the primary's count stays the number of
// sets the primary serves, and the GPIO rule adds the secondary's count where
// the sets are split. (ORing a shifted count into the primary's would make the
// limit depend on the counts' bit patterns.)
void MergeCapabilities(DeviceContext& p, const DeviceContext& s) {
    for (const MergeRule& rule : kMergeRules) {
        if (!rule.applies(p)) continue;
        for (int i = 0; i < rule.count; ++i) p.caps[rule.words[i]] |= s.caps[rule.words[i]] << 1;
    }
}

void ConfigureSecondary(Library& lib) {
    DeviceContext& p = lib.primary;
    DeviceContext& s = lib.secondary;
    s = DeviceContext{};
    s.chipKind = p.secondaryKind;
    s.subtype = p.secondarySubtype;
    s.boardId = p.secondaryBoardId;
    s.isSecondary = 1;
    Configure(s);
    MergeCapabilities(p, s);
    p.secondary = &s;
}

void ReadIdentity(uint32_t item, char* out) { platform::QueryIdentity(item, out, kIdentityBytes); }

// Everything after the lock is taken; returns the result of Init.
uint32_t InitLocked(Library& lib) {
    DeviceContext& p = lib.primary;
    WriteDefaultCapabilities(p);
    p.isSecondary = 0;

    for (char* buffer : {lib.productName, lib.biosVendor, lib.biosVersion, lib.serialNumber, lib.platformType})
        std::memset(buffer, 0, kIdentityBytes);
    ReadIdentity(VEK_HOST_ID_PRODUCT, lib.productName);

    const PlatformEntry* row = FindPlatform(lib.productName);
    if (row == nullptr) {
        p.state = -1;
        return VEK_ERR_UNSUPPORTED;
    }

    // Driver step: ready when it answers its version request, else start it.
    // The row is taken over only once the driver runs: a failed Init leaves
    // the primary context as the last Init or Uninit left it.
    if (hal::DriverVersion() == 0) hal::DriverStart();
    if (hal::DriverCheck() != VEK_HOST_DRIVER_READY) {
        lib.initWord = -1;
        return hal::ProcessElevated() ? hal::DriverStatus() : VEK_ERR_NOT_ELEVATED;
    }
    FillPrimary(p, *row);
    lib.initWord = 0;

    Configure(p);
    if (p.secondaryKind != 0) ConfigureSecondary(lib);
    if (p.gpioOwner == OWNER_GPIO_EXPANDER) {
        if (const SpecialOps* special = Special(); special && special->gpioStart) special->gpioStart(p);
    }
    // LEDs on chipset GPIO pads have no chip to configure: the owner is the capability.
    if (p.ledOwner == OWNER_LED_GPIO) p.caps[CAP_LED] = 1;
    if (p.wdtOwner == KIND_EC100) {
        if (const EcBoardOps* ec = EcBoard(); ec && ec->start100) ec->start100(p);
    }

    ReadIdentity(VEK_HOST_ID_BIOS_VENDOR, lib.biosVendor);
    ReadIdentity(VEK_HOST_ID_BIOS_VERSION, lib.biosVersion);
    ReadIdentity(VEK_HOST_ID_SERIAL, lib.serialNumber);
    std::snprintf(lib.platformType, kIdentityBytes, "%s", kPlatformType);
    std::snprintf(p.versionString, sizeof p.versionString, "%d.%d.%d.%s", kVersionMajor, kVersionMinor,
                  kVersionRevision, kBuildDate);
    p.state = 1;
    lib.released = false;
    return VEK_OK;
}

uint32_t CopyCached(const char* cached, char* out) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Lib().primary.caps[CAP_API] == 0) return VEK_ERR_UNSUPPORTED;
    if (out == nullptr) return VEK_ERR_ARGUMENT;
    std::memcpy(out, cached, kIdentityBytes);
    return VEK_OK;
}

} // namespace

// An attached platform belongs to the program, which may already have torn it
// down at exit; only the native driver is released here.
void LibraryUnload() {
    if (hal::PlatformAttached()) return;
    hal::DriverStop();
}

#ifndef _WIN32
namespace {
// The shared object's unload, as DllMain's process detach is the DLL's.
__attribute__((destructor)) void OnUnload() { LibraryUnload(); }
} // namespace
#endif

} // namespace vek

using namespace vek;

extern "C" {

VEK_RESULT VEK_CALL VEK_API_Init(void) {
    // A board behind an attached platform is no machine-wide resource.
    if (!os::LockIsOpen())
        os::LockOpen(hal::PlatformAttached() ? os::LockScope::kProcess : os::LockScope::kMachine);
    os::LockAcquire();
    uint32_t result = InitLocked(Lib());
    os::LockRelease();
    return result;
}

// Teardown is safe against callers on other threads (the contract forbids the
// overlap, but the library lives in other people's processes): new calls answer 6
// from the first line on, a transaction already under the lock finishes before
// the channels close (waiting at most as long as closing the lock does), and the
// lock's memory stays valid for a thread still waiting on it.
VEK_RESULT VEK_CALL VEK_API_Uninit(void) {
    Library& lib = Lib();
    lib.released.store(true);
    const bool held = os::LockIsOpen() && os::LockAcquireFor(kTeardownWaitMs);
    hal::ZkecClose();
    smbus::ReleaseKernelRoutes();
    // Whether or not the device still answers: a handle this process holds
    // keeps the service from being removed by its last other user.
    hal::DriverStop();
    lib.primary.state = -1;
    if (held) os::LockRelease();
    os::LockClose();
    return VEK_OK;
}

VEK_RESULT VEK_CALL VEK_API_GetVersion(char* out) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Lib().primary.caps[CAP_API] == 0) return VEK_ERR_UNSUPPORTED;
    if (out == nullptr) return VEK_ERR_ARGUMENT;
    std::memcpy(out, Lib().primary.versionString, std::strlen(Lib().primary.versionString) + 1);
    return VEK_OK;
}

VEK_RESULT VEK_CALL VEK_API_SetIOSleepTime(int32_t microseconds) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    DeviceContext& p = Lib().primary;
    if (p.caps[CAP_API] == 0) return VEK_ERR_UNSUPPORTED;
    if (microseconds < 0 || microseconds > kMaxIoSleepUs) return VEK_ERR_SLEEP_RANGE;
    ApiLockGuard lock;
    int32_t* delay = IoDelayOf(p.chipKind);
    if (delay == nullptr) return VEK_ERR_UNSUPPORTED;
    *delay = microseconds;
    p.ioDelay = microseconds;
    return VEK_OK;
}

VEK_RESULT VEK_CALL VEK_Board_GetBIOSVersion(char* out) { return CopyCached(Lib().biosVersion, out); }
VEK_RESULT VEK_CALL VEK_Board_GetPlatformName(char* out) { return CopyCached(Lib().productName, out); }
VEK_RESULT VEK_CALL VEK_Board_GetBIOSVendor(char* out) { return CopyCached(Lib().biosVendor, out); }
VEK_RESULT VEK_CALL VEK_Board_GetPlatformType(char* out) { return CopyCached(Lib().platformType, out); }

VEK_RESULT VEK_CALL VEK_Board_GetSerialNumber(char* out) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (out == nullptr) return VEK_ERR_ARGUMENT;
    std::memcpy(out, Lib().serialNumber, kIdentityBytes);
    return VEK_OK;
}

// ---- host seam ----

uint32_t vek_host_attach(const vek_host_platform* platform) {
    if (Ready()) return VEK_ERR_STATE;
    if (platform == nullptr || !hal::PlatformUsable(*platform)) return VEK_ERR_ARGUMENT;
    hal::SetPlatform(platform);
    hal::DriverReset();
    return VEK_OK;
}

uint32_t vek_host_detach(void) {
    if (Ready()) return VEK_ERR_STATE;
    hal::SetPlatform(nullptr);
    hal::DriverReset();
    return VEK_OK;
}

// Under the lock: Init writes the words while it holds it, and a copy taken
// halfway through the secondary's merge would show a board that never existed.
uint32_t vek_host_capabilities(uint32_t words[VEK_HOST_CAPABILITY_WORDS]) {
    static_assert(VEK_HOST_CAPABILITY_WORDS == CAP_COUNT, "one word per family");
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (words == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    std::memcpy(words, Lib().primary.caps, sizeof Lib().primary.caps);
    return VEK_OK;
}

} // extern "C"
