// Board features the EC firmware keeps in its register file: smart-battery
// mirror, LAN bypass, LEDs, button, counters, storage area, version texts,
// beeper, and the power-supply readings it polls over PMBus.
#pragma once

#include <cstdint>

#include "platform/context.h"

namespace vek::ec {

// Fixed EC RAM registers.
inline constexpr uint8_t EC_REG_HW_REVISION = 0x0D;
inline constexpr uint8_t EC_REG_FW_MAJOR = 0x1D;
inline constexpr uint8_t EC_REG_FW_MINOR = 0x1E;
inline constexpr uint8_t EC_REG_FW_BUILD = 0x1F;   // bit 7: build-number format, bits 0..3: build
inline constexpr uint8_t EC_REG_FW_YEAR = 0x2D;    // BCD-like: shown as two hex digits
inline constexpr uint8_t EC_REG_FW_MONTH = 0x2E;
inline constexpr uint8_t EC_REG_FW_DAY = 0x2F;
inline constexpr uint8_t EC_REG_BEEP = 0x39;
inline constexpr uint8_t EC_REG_PLATFORM_VERSION = 0x44; // 4 bytes, little-endian
inline constexpr uint8_t EC_REG_BOOT_COUNTER = 0x48;     // 4 bytes, little-endian
inline constexpr uint8_t EC_REG_STORAGE_COMMIT = 0x90;
inline constexpr uint8_t EC_REG_STORAGE = 0x91;          // 8 bytes
inline constexpr uint8_t EC_REG_PSU_NAME = 0xF0;         // 12 bytes

inline constexpr uint32_t EC_STORAGE_BOARD = 122;
inline constexpr uint32_t EC_STORAGE_BYTES = 8;
inline constexpr uint32_t EC_REVISION_BOARD = 70;
inline constexpr uint32_t EC_PSU_BOARD = 122;
inline constexpr uint32_t EC_PSU_NAME_BYTES = 12;
inline constexpr uint32_t EC_TEXT_BYTES = 80;

// LAN-bypass register roles, in the order of EcArea::lanRegister.
enum LanRegister : int {
    LAN_ITEM0 = 0,
    LAN_ITEM1 = 1,
    LAN_ITEM2 = 2,
    LAN_ITEM3 = 3,
    LAN_TIMER_CONTROL = 4,
    LAN_TIMER_MINUTES = 5,
    LAN_TIMER_SECONDS = 6,
    LAN_ITEM4 = 7,
    LAN_ITEM5 = 8,
};
inline constexpr uint8_t LAN_TIMER_RUNNING = 0x01;
inline constexpr uint32_t LAN_ITEM_TIMEOUT = 6;
inline constexpr int32_t LAN_TIMEOUT_MIN_S = 3;
inline constexpr int32_t LAN_TIMEOUT_MAX_S = 15359; // 255 minutes 59 seconds

uint32_t SmartBatteryRead(DeviceContext& ctx, uint8_t device, uint8_t command, uint8_t* out);
uint32_t LanBypassSet(DeviceContext& ctx, int32_t segment, uint32_t item, int32_t value);
uint32_t LanBypassGet(DeviceContext& ctx, uint32_t segment, uint32_t item, uint32_t* out);
uint32_t LanBypassTimerTrigger(DeviceContext& ctx, int32_t segment);
uint32_t LanBypassTimerDisable(DeviceContext& ctx, int32_t segment);
uint32_t LedGet(DeviceContext& ctx, uint32_t led, uint32_t* out);
uint32_t LedSet(DeviceContext& ctx, uint32_t led, uint32_t value);
uint32_t ButtonGet(DeviceContext& ctx, uint32_t button, uint32_t* out);
uint32_t BootCounterRead(DeviceContext& ctx, uint32_t* out);
uint32_t PlatformVersionRead(DeviceContext& ctx, uint32_t* out);
uint32_t StorageCapacity(DeviceContext& ctx, uint32_t area, uint32_t* out);
uint32_t StorageWrite(DeviceContext& ctx, uint32_t area, uint32_t offset, uint8_t* data, int32_t length);
uint32_t StorageRead(DeviceContext& ctx, uint32_t area, uint32_t offset, uint8_t* data, int32_t length);
// out: EC_TEXT_BYTES. EcVersionTextByFormat skips the build-number format.
uint32_t EcVersionText(DeviceContext& ctx, char* out);
uint32_t EcVersionTextByFormat(DeviceContext& ctx, char* out);
uint32_t EcRevisionLetter(DeviceContext& ctx, char* out);
uint32_t EcBeep(DeviceContext& ctx, int32_t seconds);

// Item 14 writes EC_PSU_NAME_BYTES bytes; every other item one 32-bit cell.
uint32_t PowerSupplyRead(DeviceContext& ctx, uint32_t supply, int32_t item, uint32_t* out);

} // namespace vek::ec
