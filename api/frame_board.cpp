// Board functions: EC identity and counters, platform version, storage area,
// LAN bypass, EC smart fan, LEDs and button, smart battery, PMBus, backlight
// and screen power.
#include <cstring>

#include "api/frame.h"
#include "hal/hal.h"
#include "platform/identity.h"

using namespace vek;
using namespace vek::frame;

namespace {

constexpr uint32_t kStorageAreaBoard = 122; // the one board with an EC storage area
constexpr uint32_t kPlatformVersionBytes = 32;
enum : int32_t { EC_INFO_VERSION = 0, EC_INFO_DETAILS = 16, EC_INFO_SECOND_CHIP = 128 };
constexpr uint32_t kZkecVersionSubtype = 1;

// Runs an EC board routine on an EC context; 10 when this build has none. The
// routines read the context's EC area, which only an EC context has.
template <class Fn, class... Args>
uint32_t EcCallOn(DeviceContext& ctx, Fn EcBoardOps::*op, Args... args) {
    const EcBoardOps* ec = EcBoard();
    if (ec == nullptr || ec->*op == nullptr || !IsEcKind(ctx.chipKind)) return VEK_ERR_UNSUPPORTED;
    return (ec->*op)(ctx, args...);
}

template <class Fn, class... Args>
uint32_t EcCall(Fn EcBoardOps::*op, Args... args) {
    return EcCallOn(Primary(), op, args...);
}

bool PrimaryIsEc() { return IsEcKind(Primary().chipKind); }

// The EC- and chipset-owned LED/button routines need their own chip's context
// behind the owner.
bool OwnerWithoutItsChip(uint32_t owner, const DeviceContext& ctx) {
    return (IsEcKind(owner) && !IsEcKind(ctx.chipKind)) || (owner == KIND_CHIPSET && ctx.chipKind != KIND_CHIPSET);
}

uint32_t SecondaryKind() { return Secondary() ? Secondary()->chipKind : 0; }

uint32_t CheckReadyWithCap(Capability cap) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Cap(cap) == 0) return VEK_ERR_UNSUPPORTED;
    return VEK_OK;
}

// LEDs and the button live on the chip that ledOwner names.
DeviceContext* LedContext() {
    const DeviceContext& p = Primary();
    return (p.ledOwner == p.secondaryKind && p.secondaryKind != 0) ? Secondary() : &Primary();
}

uint32_t StorageCheck() {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    return (PrimaryIsEc() && Primary().boardId == kStorageAreaBoard) ? VEK_OK : VEK_ERR_UNSUPPORTED;
}

// An LED routine on the chip ledOwner names: the chipset-GPIO handler (8),
// the EC (3/11) or the chipset backend (4), under the lock.
template <class SpecialFn, class BackendFn, class Value>
uint32_t LedDispatch(SpecialFn SpecialOps::*special, BackendFn BackendOps::*routine, uint32_t led, Value value) {
    const uint32_t owner = Primary().ledOwner;
    DeviceContext* ctx = LedContext();
    if (ctx == nullptr || OwnerWithoutItsChip(owner, *ctx)) return VEK_ERR_UNSUPPORTED;
    ApiLockGuard lock;
    if (owner == OWNER_LED_GPIO) {
        const SpecialOps* handler = Special();
        return (handler && handler->*special) ? (handler->*special)(*ctx, led, value) : VEK_ERR_UNSUPPORTED;
    }
    if (IsEcKind(owner) || owner == KIND_CHIPSET) return Call(routine, owner, *ctx, led, value);
    return VEK_ERR_UNSUPPORTED;
}

} // namespace

extern "C" {

VEK_RESULT VEK_CALL VEK_Board_GetECVersion(char* out) {
    if (uint32_t r = CheckReadyWithCap(CAP_API)) return r;
    if (Primary().chipKind != KIND_EC && SecondaryKind() != KIND_EC) return VEK_ERR_UNSUPPORTED;
    if (out == nullptr) return VEK_ERR_ARGUMENT;
    // The version lives in whichever chip is the EC (the primary on every shipped row).
    DeviceContext* ctx = PrimaryIsEc() ? &Primary() : Secondary();
    if (ctx == nullptr) return VEK_ERR_UNSUPPORTED;
    ApiLockGuard lock;
    return EcCallOn(*ctx, &EcBoardOps::version, out);
}

VEK_RESULT VEK_CALL VEK_Board_GetECInfo(int32_t item, char* out) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (out == nullptr) return VEK_ERR_ARGUMENT;
    out[0] = '\0';
    if (Cap(CAP_API) == 0) return VEK_ERR_UNSUPPORTED;
    const uint32_t p = Primary().chipKind, s = SecondaryKind();
    const bool served = p == KIND_EC || p == KIND_ZKEC || s == KIND_EC || s == KIND_ZKEC || s == KIND_EC_ALT;
    if (!served) return VEK_ERR_UNSUPPORTED;
    switch (item) {
    case EC_INFO_VERSION:
        return VEK_Board_GetECVersion(out);
    case EC_INFO_DETAILS:
        return EcCall(&EcBoardOps::information, out);
    case EC_INFO_SECOND_CHIP:
        if (s == KIND_ZKEC && Secondary()->subtype == kZkecVersionSubtype) {
            const ZkecOps* zkec = Zkec();
            return (zkec && zkec->version) ? zkec->version(*Secondary(), out) : VEK_ERR_UNSUPPORTED;
        }
        if (s == KIND_EC_ALT) return EcCallOn(*Secondary(), &EcBoardOps::versionByFormat, out);
        return VEK_ERR_UNSUPPORTED;
    default:
        return VEK_ERR_ARGUMENT;
    }
}

// The first four characters of the baseboard version text, first one highest.
VEK_RESULT VEK_CALL VEK_Get_Platform_Version(uint32_t* version) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (version == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    if (Cap(CAP_PLATFORM_VERSION_WMI) == 1) {
        char text[kPlatformVersionBytes] = {};
        uint32_t result = platform::QueryIdentity(VEK_HOST_ID_BOARD_VERSION, text, sizeof text);
        const auto* c = reinterpret_cast<const uint8_t*>(text);
        *version = (uint32_t(c[0]) << 24) | (uint32_t(c[1]) << 16) | (uint32_t(c[2]) << 8) | c[3];
        return result;
    }
    if (!PrimaryIsEc()) return VEK_ERR_UNSUPPORTED;
    return EcCall(&EcBoardOps::platformVersion, version);
}

VEK_RESULT VEK_CALL VEK_Get_Boot_Counter(uint32_t* count) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (count == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    if (!PrimaryIsEc()) return VEK_ERR_UNSUPPORTED;
    return EcCall(&EcBoardOps::bootCounter, count);
}

VEK_RESULT VEK_CALL VEK_StorageArea_Capacity(uint32_t area, uint32_t* size) {
    if (uint32_t r = StorageCheck()) return r;
    if (size == nullptr) return VEK_ERR_ARGUMENT;
    return EcCall(&EcBoardOps::storageCapacity, area, size);
}

VEK_RESULT VEK_CALL VEK_StorageArea_Write(uint32_t area, uint32_t offset, uint8_t* data, int32_t length) {
    if (uint32_t r = StorageCheck()) return r;
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    return EcCall(&EcBoardOps::storageWrite, area, offset, data, length);
}

VEK_RESULT VEK_CALL VEK_StorageArea_Read(uint32_t area, uint32_t offset, uint8_t* data, int32_t length) {
    if (uint32_t r = StorageCheck()) return r;
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    return EcCall(&EcBoardOps::storageRead, area, offset, data, length);
}

VEK_RESULT VEK_CALL VEK_EC_SmartBattery(uint8_t device, uint8_t command, uint8_t* data) {
    if (uint32_t r = CheckReadyWithCap(CAP_SMART_BATTERY)) return r;
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    return EcCall(&EcBoardOps::smartBattery, device, command, data);
}

// ---- LAN bypass: EC boards only ----

VEK_RESULT VEK_CALL VEK_LANBYPASS_Mode_Set(int32_t segment, uint32_t item, int32_t value) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    ApiLockGuard lock;
    if (!PrimaryIsEc()) return VEK_ERR_UNSUPPORTED;
    return EcCall(&EcBoardOps::lanBypassSet, segment, item, value);
}

VEK_RESULT VEK_CALL VEK_LANBYPASS_Mode_Get(uint32_t segment, uint32_t item, uint32_t* value) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (value == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    if (!PrimaryIsEc()) return VEK_ERR_UNSUPPORTED;
    return EcCall(&EcBoardOps::lanBypassGet, segment, item, value);
}

VEK_RESULT VEK_CALL VEK_LANBYPASS_WDT_Trigger(int32_t segment) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    ApiLockGuard lock;
    if (!PrimaryIsEc()) return VEK_ERR_UNSUPPORTED;
    return EcCall(&EcBoardOps::lanBypassTrigger, segment);
}

VEK_RESULT VEK_CALL VEK_LANBYPASS_WDT_Disable(int32_t segment) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    ApiLockGuard lock;
    if (!PrimaryIsEc()) return VEK_ERR_UNSUPPORTED;
    return EcCall(&EcBoardOps::lanBypassDisable, segment);
}

// ---- EC smart fan (fan 0) ----

VEK_RESULT VEK_CALL VEK_EC_SMF_GetConfig(uint32_t* a, uint32_t* b, uint32_t* c, uint32_t* d) {
    if (uint32_t r = CheckReadyWithCap(CAP_EC_SMARTFAN)) return r;
    if (a == nullptr || b == nullptr || c == nullptr || d == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    return EcCall(&EcBoardOps::smfGetConfig, a, b, c, d);
}

VEK_RESULT VEK_CALL VEK_EC_SMF_Config(uint32_t a, uint32_t b, int32_t c) {
    if (uint32_t r = CheckReadyWithCap(CAP_EC_SMARTFAN)) return r;
    ApiLockGuard lock;
    return EcCall(&EcBoardOps::smfConfig, a, b, c);
}

VEK_RESULT VEK_CALL VEK_EC_SMF_Enable(void) {
    if (uint32_t r = CheckReadyWithCap(CAP_EC_SMARTFAN)) return r;
    ApiLockGuard lock;
    return EcCall(&EcBoardOps::smfEnable);
}

VEK_RESULT VEK_CALL VEK_EC_SMF_Disable(void) {
    if (uint32_t r = CheckReadyWithCap(CAP_EC_SMARTFAN)) return r;
    ApiLockGuard lock;
    return EcCall(&EcBoardOps::smfDisable);
}

// ---- LEDs and button ----

VEK_RESULT VEK_CALL VEK_LED_Set(uint32_t led, uint32_t value) {
    if (uint32_t r = CheckReadyWithCap(CAP_LED)) return r;
    return LedDispatch(&SpecialOps::ledSet, &BackendOps::ledSet, led, value);
}

VEK_RESULT VEK_CALL VEK_LED_Get(uint32_t led, uint32_t* value) {
    if (uint32_t r = CheckReadyWithCap(CAP_LED)) return r;
    if (value == nullptr) return VEK_ERR_ARGUMENT;
    return LedDispatch(&SpecialOps::ledGet, &BackendOps::ledGet, led, value);
}

VEK_RESULT VEK_CALL VEK_Button_Get(uint32_t button, uint32_t* state) {
    if (uint32_t r = CheckReadyWithCap(CAP_BUTTON)) return r;
    if (state == nullptr) return VEK_ERR_ARGUMENT;
    const uint32_t owner = Primary().ledOwner;
    DeviceContext* ctx = LedContext();
    if (ctx == nullptr || (owner != KIND_EC && owner != KIND_CHIPSET) || OwnerWithoutItsChip(owner, *ctx))
        return VEK_ERR_UNSUPPORTED;
    ApiLockGuard lock;
    return Call(&BackendOps::buttonGet, owner, *ctx, button, state);
}

VEK_RESULT VEK_CALL VEK_PMBus_Get(uint32_t supply, int32_t item, uint32_t* value) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (value == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    if (Primary().chipKind != KIND_EC) return VEK_ERR_UNSUPPORTED;
    return EcCall(&EcBoardOps::pmbusGet, supply, item, value);
}

// ---- backlight and screen ----

VEK_RESULT VEK_CALL VEK_BLC_Change_Brightness(uint32_t step) {
    if (uint32_t r = CheckReadyWithCap(CAP_BACKLIGHT)) return r;
    ApiLockGuard lock;
    if (Primary().chipKind != KIND_SIO1) return VEK_ERR_UNSUPPORTED;
    return Call(&BackendOps::backlightChange, KIND_SIO1, Primary(), step);
}

// Display brightness is the operating system's (monitor brightness classes);
// a system without them has no monitor object to read or set (17).
VEK_RESULT VEK_CALL VEK_BLC_Read_Brightness(uint32_t display, uint8_t* level) {
    if (uint32_t r = CheckReadyWithCap(CAP_BACKLIGHT)) return r;
    if (display != 0) return VEK_ERR_UNSUPPORTED;
    if (level == nullptr) return VEK_ERR_ARGUMENT;
    const vek_host_platform& p = hal::Platform();
    return p.brightness_read ? p.brightness_read(p.user, level) : VEK_ERR_DEVICE;
}

VEK_RESULT VEK_CALL VEK_BLC_Set_Brightness(uint32_t display, uint8_t level) {
    if (uint32_t r = CheckReadyWithCap(CAP_BACKLIGHT)) return r;
    if (display != 0) return VEK_ERR_UNSUPPORTED;
    const vek_host_platform& p = hal::Platform();
    return p.brightness_set ? p.brightness_set(p.user, level) : VEK_ERR_DEVICE;
}

// Works without initialisation: switches the monitors off, or wakes them.
VEK_RESULT VEK_CALL VEK_Screen_Set(uint32_t screen, uint8_t on) {
    if (screen != 0 || on > 1) return VEK_ERR_ARGUMENT;
    const vek_host_platform& p = hal::Platform();
    if (p.screen_set == nullptr) return on == 1 ? VEK_OK : VEK_ERR_DRIVER_NOT_STARTED;
    uint32_t result = p.screen_set(p.user, on);
    return on == 1 ? VEK_OK : (result == 0 ? VEK_OK : VEK_ERR_DRIVER_NOT_STARTED);
}

} // extern "C"
