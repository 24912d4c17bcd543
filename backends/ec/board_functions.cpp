// Board features kept in the EC register file. All go through the context's
// register pair, so they work on the window and the ACPI-style path alike.
#include "backends/ec/board_functions.h"

#include <cstdio>

#include "backends/ec/ec.h"
#include "backends/ec/ops.h"
#include "hal/hal.h"
#include "vek/vek.h"

namespace vek::ec {

namespace {

// ---- smart-battery mirror: the EC's copy of each SBS answer ----

constexpr uint8_t kBattery = 0x16, kCharger = 0x12, kSelector = 0x14;

struct MirrorEntry {
    uint8_t device;
    uint8_t command;
    uint8_t firstRegister;
    uint8_t length;
};

constexpr MirrorEntry kMirror[] = {
    {kBattery, 0x00, 0x50, 2},  {kBattery, 0x03, 0x52, 2},  {kBattery, 0x04, 0xD0, 2},
    {kBattery, 0x08, 0x54, 2},  {kBattery, 0x09, 0x56, 2},  {kBattery, 0x0A, 0x58, 2},
    {kBattery, 0x0B, 0x5A, 2},  {kBattery, 0x0C, 0x5C, 2},  {kBattery, 0x0D, 0x5E, 2},
    {kBattery, 0x0E, 0x60, 2},  {kBattery, 0x0F, 0x62, 2},  {kBattery, 0x10, 0x64, 2},
    {kBattery, 0x14, 0x6C, 2},  {kBattery, 0x15, 0x6E, 2},  {kBattery, 0x16, 0x70, 2},
    {kBattery, 0x17, 0x72, 2},  {kBattery, 0x18, 0x74, 2},  {kBattery, 0x1B, 0x7A, 2},
    {kBattery, 0x1C, 0x7C, 2},  {kBattery, 0x20, 0x80, 14}, // manufacturer name
    {kBattery, 0x21, 0x90, 14}, // device name
    {kBattery, 0x22, 0xA0, 6},  // chemistry
    {kBattery, 0x23, 0xA6, 14}, // manufacturer data
    {kCharger, 0x13, 0xC4, 2},  {kCharger, 0x3C, 0xC0, 2},
    {kSelector, 0x01, 0xB6, 2}, {kSelector, 0x02, 0xB8, 2}, {kSelector, 0x04, 0xBA, 2},
    {kSelector, 0x3C, 0xC0, 2},
};

uint8_t Read(const DeviceContext& ctx, uint32_t reg) { return ReadEcRegister(ctx, reg); }
void Write(const DeviceContext& ctx, uint32_t reg, uint8_t value) { WriteEcRegister(ctx, reg, value); }

// Four registers as a little-endian u32, highest byte read first.
uint32_t ReadU32(const DeviceContext& ctx, uint8_t first) {
    uint32_t value = 0;
    for (int k = 3; k >= 0; --k) value = (value << 8) | Read(ctx, uint32_t(first + k));
    return value;
}

// ---- LAN bypass ----

constexpr uint8_t kSegmentMask[2] = {0x03, 0x30};   // mode field of segment 0, 1 in an item register
constexpr uint8_t kKeepOtherSegment[2] = {0x30, 0x03};
constexpr int kTimerAttempts = 10;
constexpr uint32_t kNoTimeoutSet = 6;

// Register role of items 1..5.
int ItemRegister(uint32_t item) {
    constexpr int kRoles[] = {LAN_ITEM0, LAN_ITEM1, LAN_ITEM2, LAN_ITEM3, LAN_ITEM4, LAN_ITEM5};
    return kRoles[item];
}

bool ValidMode(int32_t value) { return value == 0 || value == 1 || value == 3; }

uint32_t CheckSegment(const EcArea& a, int64_t segment) {
    if (a.lanSegments == 0) return VEK_ERR_UNSUPPORTED;
    if (segment < 0 || segment >= a.lanSegments || segment >= 2) return VEK_ERR_ARGUMENT;
    return VEK_OK;
}

bool TimerRunning(const DeviceContext& ctx) {
    return Read(ctx, Area(ctx).lanRegister[LAN_TIMER_CONTROL]) & LAN_TIMER_RUNNING;
}

void WriteTimeout(const DeviceContext& ctx) {
    const EcArea& a = Area(ctx);
    Write(ctx, a.lanRegister[LAN_TIMER_SECONDS], a.lanTimerSeconds);
    Write(ctx, a.lanRegister[LAN_TIMER_MINUTES], a.lanTimerMinutes);
}

// ---- version texts ----

struct FirmwareDate {
    uint8_t year, month, day;
};

FirmwareDate ReadDate(const DeviceContext& ctx) {
    return {Read(ctx, EC_REG_FW_YEAR), Read(ctx, EC_REG_FW_MONTH), Read(ctx, EC_REG_FW_DAY)};
}

constexpr uint8_t kBuildFormat = 0x80;
constexpr uint8_t kBuildNumber = 0x0F;

// ---- beeper ----

constexpr int64_t kBeepsPerSecond = 20;
constexpr int64_t kBeepUs = 50000;

// ---- storage area ----

uint32_t CheckStorage(const DeviceContext& ctx, uint32_t area) {
    if (ctx.boardId != EC_STORAGE_BOARD) return VEK_ERR_UNSUPPORTED;
    return area == 0 ? VEK_OK : VEK_ERR_ARGUMENT;
}

uint32_t CheckStorageRange(uint32_t offset, int32_t length) {
    if (length < 1 || uint64_t(offset) + uint64_t(length) > EC_STORAGE_BYTES) return VEK_ERR_ARGUMENT;
    return VEK_OK;
}

} // namespace

uint32_t SmartBatteryRead(DeviceContext& ctx, uint8_t device, uint8_t command, uint8_t* out) {
    if (device != kBattery && device != kCharger && device != kSelector) return VEK_OK; // not mirrored
    for (const MirrorEntry& e : kMirror) {
        if (e.device != device || e.command != command) continue;
        for (uint8_t k = 0; k < e.length; ++k) out[k] = Read(ctx, uint32_t(e.firstRegister + k));
        return VEK_OK;
    }
    return VEK_ERR_ARGUMENT;
}

uint32_t LanBypassSet(DeviceContext& ctx, int32_t segment, uint32_t item, int32_t value) {
    EcArea& a = Area(ctx);
    if (uint32_t r = CheckSegment(a, segment)) return r;
    if (item == 0) {
        if (value != 0 && value != 1) return VEK_ERR_ARGUMENT;
        Write(ctx, a.lanRegister[LAN_ITEM0], uint8_t(value));
        return VEK_OK;
    }
    if (item <= 5) {
        // Relay modes the running timer drives cannot change under it.
        if (item == 1 || item == 4 || item == 5) {
            if (TimerRunning(ctx)) return VEK_ERR_STATE;
            if (item == 1) Write(ctx, a.lanRegister[LAN_TIMER_CONTROL], 0);
        }
        if (!ValidMode(value)) return VEK_ERR_ARGUMENT;
        const uint8_t reg = a.lanRegister[ItemRegister(item)];
        const uint8_t field = uint8_t(segment == 1 ? value << 4 : value);
        Write(ctx, reg, uint8_t((Read(ctx, reg) & kKeepOtherSegment[segment]) | field));
        return VEK_OK;
    }
    if (item == LAN_ITEM_TIMEOUT) {
        if (TimerRunning(ctx)) return VEK_ERR_STATE;
        if (value < LAN_TIMEOUT_MIN_S || value > LAN_TIMEOUT_MAX_S) return VEK_ERR_ARGUMENT;
        a.lanTimerSeconds = uint8_t(value % 60);
        a.lanTimerMinutes = uint8_t(value / 60);
        WriteTimeout(ctx);
        return VEK_OK;
    }
    return VEK_ERR_ARGUMENT;
}

uint32_t LanBypassGet(DeviceContext& ctx, uint32_t segment, uint32_t item, uint32_t* out) {
    const EcArea& a = Area(ctx);
    if (uint32_t r = CheckSegment(a, segment)) return r;
    if (item == 0) {
        *out = Read(ctx, a.lanRegister[LAN_ITEM0]);
        return VEK_OK;
    }
    if (item <= 5) {
        const uint8_t field = uint8_t(Read(ctx, a.lanRegister[ItemRegister(item)]) & kSegmentMask[segment]);
        const uint8_t mode = segment == 1 ? uint8_t(field >> 4) : field;
        constexpr uint32_t kModeOf[4] = {0, 1, 0, 3}; // the relay treats mode 2 as 0
        *out = kModeOf[mode];
        return VEK_OK;
    }
    if (item == LAN_ITEM_TIMEOUT) {
        const uint32_t minutes = Read(ctx, a.lanRegister[LAN_TIMER_MINUTES]);
        const uint32_t seconds = Read(ctx, a.lanRegister[LAN_TIMER_SECONDS]);
        *out = minutes * 60 + seconds;
        return VEK_OK;
    }
    return VEK_ERR_ARGUMENT;
}

uint32_t LanBypassTimerTrigger(DeviceContext& ctx, int32_t segment) {
    const EcArea& a = Area(ctx);
    if (uint32_t r = CheckSegment(a, segment)) return r;
    if (a.lanTimerSeconds == 0 && a.lanTimerMinutes == 0) return kNoTimeoutSet;
    // The EC may drop the timeout while it restarts the timer: read it back.
    for (int attempt = 0; attempt < kTimerAttempts; ++attempt) {
        WriteTimeout(ctx);
        Write(ctx, a.lanRegister[LAN_TIMER_CONTROL], LAN_TIMER_RUNNING);
        if (Read(ctx, a.lanRegister[LAN_TIMER_SECONDS]) == a.lanTimerSeconds) return VEK_OK;
    }
    return VEK_ERR_WRITE;
}

uint32_t LanBypassTimerDisable(DeviceContext& ctx, int32_t segment) {
    const EcArea& a = Area(ctx);
    if (uint32_t r = CheckSegment(a, segment)) return r;
    Write(ctx, a.lanRegister[LAN_TIMER_CONTROL], 0);
    WriteTimeout(ctx);
    return VEK_OK;
}

uint32_t LedGet(DeviceContext& ctx, uint32_t led, uint32_t* out) {
    const EcArea& a = Area(ctx);
    if (led >= uint32_t(EC_LEDS)) return VEK_ERR_ARGUMENT;
    if (a.ledRegister[led] == SLOT_ABSENT) return VEK_ERR_UNSUPPORTED;
    *out = (Read(ctx, a.ledRegister[led]) >> (a.ledBit[led] & 7)) & 1;
    return VEK_OK;
}

uint32_t LedSet(DeviceContext& ctx, uint32_t led, uint32_t value) {
    const EcArea& a = Area(ctx);
    if (led >= uint32_t(EC_LEDS)) return VEK_ERR_ARGUMENT;
    if (a.ledRegister[led] == SLOT_ABSENT) return VEK_ERR_UNSUPPORTED;
    if (value > 1) return VEK_ERR_ARGUMENT;
    const uint8_t bit = uint8_t(1u << (a.ledBit[led] & 7));
    const uint8_t old = Read(ctx, a.ledRegister[led]);
    Write(ctx, a.ledRegister[led], value ? uint8_t(old | bit) : uint8_t(old & ~bit));
    return VEK_OK;
}

uint32_t ButtonGet(DeviceContext& ctx, uint32_t button, uint32_t* out) {
    const EcArea& a = Area(ctx);
    if (button != 0) return VEK_ERR_ARGUMENT;
    if (a.buttonRegister > 254) return VEK_ERR_UNSUPPORTED;
    *out = (Read(ctx, a.buttonRegister) & a.buttonMask) == a.buttonMask ? 1 : 0;
    return VEK_OK;
}

uint32_t BootCounterRead(DeviceContext& ctx, uint32_t* out) {
    *out = ReadU32(ctx, EC_REG_BOOT_COUNTER);
    return *out == 0 ? VEK_ERR_UNSUPPORTED : VEK_OK;
}

uint32_t PlatformVersionRead(DeviceContext& ctx, uint32_t* out) {
    // The low half is the EC's own build; only the board part is the platform's.
    *out = ReadU32(ctx, EC_REG_PLATFORM_VERSION) & 0xFFFF0000u;
    return *out == 0 ? VEK_ERR_UNSUPPORTED : VEK_OK;
}

uint32_t StorageCapacity(DeviceContext& ctx, uint32_t area, uint32_t* out) {
    if (uint32_t r = CheckStorage(ctx, area)) return r;
    *out = EC_STORAGE_BYTES;
    return VEK_OK;
}

uint32_t StorageWrite(DeviceContext& ctx, uint32_t area, uint32_t offset, uint8_t* data, int32_t length) {
    if (uint32_t r = CheckStorage(ctx, area)) return r;
    if (uint32_t r = CheckStorageRange(offset, length)) return r;
    for (int32_t k = 0; k < length; ++k) Write(ctx, EC_REG_STORAGE + offset + uint32_t(k), data[k]);
    Write(ctx, EC_REG_STORAGE_COMMIT, 0); // the EC copies the area to flash
    return VEK_OK;
}

uint32_t StorageRead(DeviceContext& ctx, uint32_t area, uint32_t offset, uint8_t* data, int32_t length) {
    if (uint32_t r = CheckStorage(ctx, area)) return r;
    if (uint32_t r = CheckStorageRange(offset, length)) return r;
    for (int32_t k = 0; k < length; ++k) data[k] = Read(ctx, EC_REG_STORAGE + offset + uint32_t(k));
    return VEK_OK;
}

uint32_t EcVersionTextByFormat(DeviceContext& ctx, char* out) {
    const uint8_t major = Read(ctx, EC_REG_FW_MAJOR);
    const uint8_t minor = Read(ctx, EC_REG_FW_MINOR);
    const FirmwareDate d = ReadDate(ctx);
    switch (ctx.subtype) {
    case 0:
    case 1:
        std::snprintf(out, EC_TEXT_BYTES, "R%02X.E%02X (%02X/%02X/20%02X)", major, minor, d.month, d.day, d.year);
        return VEK_OK;
    case 2:
    case 3:
        std::snprintf(out, EC_TEXT_BYTES, "%d.%d (%02X/%02X/20%02X)", major, minor, d.month, d.day, d.year);
        return VEK_OK;
    default:
        return VEK_ERR_DRIVER_NOT_STARTED; // no version format for this EC
    }
}

uint32_t EcVersionText(DeviceContext& ctx, char* out) {
    const uint8_t build = Read(ctx, EC_REG_FW_BUILD);
    if (!(build & kBuildFormat)) return EcVersionTextByFormat(ctx, out);
    const FirmwareDate d = ReadDate(ctx);
    std::snprintf(out, EC_TEXT_BYTES, "%X%02X%02XT%02X (%02X/%02X/20%02X)", d.year & 0x0F, d.month, d.day,
                  build & kBuildNumber, d.month, d.day, d.year);
    return VEK_OK;
}

uint32_t EcRevisionLetter(DeviceContext& ctx, char* out) {
    if (ctx.boardId != EC_REVISION_BOARD) return VEK_ERR_UNSUPPORTED;
    const uint8_t revision = Read(ctx, EC_REG_HW_REVISION);
    if (revision < 1 || revision > 4) {
        std::snprintf(out, EC_TEXT_BYTES, "Err");
        return VEK_ERR_READ;
    }
    std::snprintf(out, EC_TEXT_BYTES, "%c", 'A' + (revision - 1));
    return VEK_OK;
}

uint32_t EcBeep(DeviceContext& ctx, int32_t seconds) {
    for (int64_t k = 0; k < int64_t(seconds) * kBeepsPerSecond; ++k) {
        Write(ctx, EC_REG_BEEP, 1);
        hal::Delay(kBeepUs);
    }
    return VEK_OK;
}

void FillBoardFunctionOps(BackendOps& ops, EcBoardOps& board) {
    ops.ledSet = &LedSet;
    ops.ledGet = &LedGet;
    ops.buttonGet = &ButtonGet;

    board.version = &EcVersionText;
    board.versionByFormat = &EcVersionTextByFormat;
    board.information = &EcRevisionLetter;
    board.platformVersion = &PlatformVersionRead;
    board.bootCounter = &BootCounterRead;
    board.storageCapacity = &StorageCapacity;
    board.storageWrite = &StorageWrite;
    board.storageRead = &StorageRead;
    board.smartBattery = &SmartBatteryRead;
    board.lanBypassSet = &LanBypassSet;
    board.lanBypassGet = &LanBypassGet;
    board.lanBypassTrigger = &LanBypassTimerTrigger;
    board.lanBypassDisable = &LanBypassTimerDisable;
    board.beep = &EcBeep;
}

} // namespace vek::ec
