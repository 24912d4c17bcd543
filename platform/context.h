// Runtime state of one chip. The library holds exactly two: the primary (the
// board's main chip) and the secondary (the second chip, when the row names one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "platform/platform_table.h"

namespace vek {

// Capability words: one per family. Bit 0: this chip serves the family; bit 1:
// the second chip does (merged in at initialisation).
enum Capability : uint32_t {
    CAP_API = 0,
    CAP_GPIO = 1,
    CAP_WDT = 2,
    CAP_SPEAKER = 3, // 1 = PC speaker, 2 = EC beeper
    CAP_FAN = 4,
    CAP_VOLTAGE = 5,
    CAP_CURRENT = 6,
    CAP_TEMPERATURE = 7,
    CAP_CPU_TEMPERATURE = 8,
    CAP_SMBUS = 9,
    CAP_SMART_BATTERY = 10,
    CAP_BACKLIGHT = 11,
    CAP_EC_SMARTFAN = 12,
    CAP_LED = 13,
    CAP_PLATFORM_VERSION_WMI = 14,
    CAP_BUTTON = 15,
    CAP_COUNT = 16
};

// Where the chipset's SMBus host controller sits and how its registers are laid out.
struct SmbusHost {
    uint8_t pciBus;
    uint8_t pciDevice;
    uint8_t pciFunction;
    uint8_t enableReg;        // config offset whose bit 0 enables I/O decode; 0xFF none
    uint8_t baseReg;          // config offset of the 16-bit I/O base register
    uint8_t regStatus;
    uint8_t regControl;
    uint8_t regCommand;
    uint8_t regAddress;
    uint8_t regData0;
    uint8_t regData1;
    uint8_t regBlockData;
    uint8_t regAuxControl;
    uint8_t auxBlockMode;     // aux control value for 32-byte block buffer mode
    uint8_t protoQuick;
    uint8_t protoByte;
    uint8_t protoByteData;
    uint8_t protoWordData;
    uint8_t protoProcessCall;
    uint8_t protoBlock;
    uint8_t reserved;
    uint8_t protoI2cRead;
    uint16_t ioBase;
    uint32_t located;         // 1 once located
};

// Watchdog bookkeeping of one backend group (kinds 1/2, kinds 3/4/11/100, kind 5).
struct WdtState {
    uint8_t minCount[2]; // per unit: 0 seconds, 1 minutes
    uint8_t maxCount[2];
    uint32_t unit;
    uint8_t count;
    uint32_t running;    // set by trigger, cleared by disable
    uint32_t configured; // set by VEK_WDT_SetConfig; until then a trigger re-arms with the chip's own timeout
};

// Backend-owned storage. Each ChipKind backend overlays its own per-chip area
// here (AreaOf below); the areas of different kinds share the storage, and no
// backend's layout is known to this header.
struct BackendArea {
    alignas(std::max_align_t) unsigned char raw[1024];
};

struct DeviceContext {
    // --- common header ---
    DeviceContext* secondary;   // primary only: the second chip's context, or null
    uint32_t isSecondary;
    uint32_t secondaryKind;     // primary only
    uint32_t secondarySubtype;  // primary only
    uint32_t secondaryBoardId;  // primary only
    uint32_t gpioOwner;         // 0 when the row names the main chip itself
    uint32_t wdtOwner;
    const uint32_t* fanOwners;      // links into the platform table (never written)
    const uint32_t* voltageOwners;
    const uint32_t* tempOwners;
    uint32_t cpuTempOwner;
    const uint32_t* i2cOwners;
    uint32_t ledOwner;
    int32_t state;              // 1 ready, -1 board not found or released
    uint32_t chipKind;
    uint32_t subtype;
    uint32_t chipsetId;         // 0 in the secondary
    uint32_t boardId;
    int32_t beatMs;             // metronome beat
    int32_t ioDelay;            // microseconds
    uint32_t gpioSets[10];      // [0] sets served, [n] pins of set n

    SmbusHost smbus;

    // Watchdog state per backend group; which one serves depends on the routine kind.
    WdtState wdtSio12;
    WdtState wdtEc;
    WdtState wdtSio5;

    BackendArea area;

    uint32_t caps[CAP_COUNT];
    char versionString[32];     // primary only
};

// The backend area of ctx seen as T. T must be a plain, trivially copyable
// struct: the storage starts zeroed and is reset by copying contexts.
template <class T>
T& AreaOf(DeviceContext& ctx) {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_default_constructible_v<T>);
    static_assert(sizeof(T) <= sizeof(BackendArea::raw) && alignof(T) <= alignof(std::max_align_t));
    return *std::launder(reinterpret_cast<T*>(ctx.area.raw));
}
template <class T>
const T& AreaOf(const DeviceContext& ctx) {
    return AreaOf<T>(const_cast<DeviceContext&>(ctx));
}

// Owner-list entry of item i (entry i+1), 0 for items past the list's end.
inline uint32_t OwnerEntry(const uint32_t* list, uint32_t words, uint32_t item) {
    if (list == nullptr || item + 1 >= words || item >= words) return 0;
    return list[item + 1];
}
inline uint32_t OwnerMode(const uint32_t* list) { return list ? list[0] : 0; }

} // namespace vek
