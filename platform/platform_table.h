// The compiled-in list of supported boards: one PlatformEntry per board model.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vek {

// ChipKind values: backends (1..6, 11), owner-only values (7..10) and the
// kind-100 routines of the EC backend.
enum ChipKind : uint32_t {
    KIND_NONE = 0,
    KIND_SIO1 = 1,      // Super I/O at 0x2E or 0x4E, entry 0x87 0x87, exit 0xAA
    KIND_SIO2 = 2,      // Super I/O at index/data 0x2E/0x2F
    KIND_EC = 3,        // embedded controller
    KIND_CHIPSET = 4,   // chipset devices and the OS I2C buses
    KIND_SIO5 = 5,      // Super I/O with a configurable index port
    KIND_ZKEC = 6,      // controller behind the ZKEC driver
    OWNER_SPLIT = 7,    // family split between the chips, entry by entry
    OWNER_LED_GPIO = 8, // LEDs on chipset GPIO control bytes
    KIND_UNUSED9 = 9,
    OWNER_GPIO_EXPANDER = 10, // GPIO expander on the SMBus
    KIND_EC_ALT = 11,   // embedded controller routed as 3 (no shipped row)
    I2C_NO_OWNER = 13,  // i2cOwners: no chip serves the bus
    KIND_EC100 = 100,   // kind-100 routines of the EC backend
};

inline constexpr uint32_t CHIPSET_FCH = 1001; // AMD fusion controller hub

inline constexpr size_t FAN_OWNER_WORDS = 14;     // mode, fans 0..12
inline constexpr size_t VOLTAGE_OWNER_WORDS = 21; // mode, voltages 0..18, currents 0..1 at 19..20
inline constexpr size_t TEMP_OWNER_WORDS = 8;     // mode, sensors 0..6
inline constexpr size_t I2C_OWNER_WORDS = 5;      // mode, buses 0..3

// One row: 312 bytes, every number a little-endian u32.
struct PlatformEntry {
    char name[80];              // model name; the row matches product names it prefixes
    uint32_t boardId;           // 0..156: selects per-board maps in the backends
    uint32_t chipsetId;         // 0..28 Intel generations, 1001 FCH
    uint32_t chipKind;          // main chip
    uint32_t subtype;           // model or register layout within the ChipKind
    uint32_t secondaryKind;     // second chip, 0 = none
    uint32_t secondarySubtype;  // ChipKind 4 second chips carry a chipset id here
    uint32_t gpioOwner;
    uint32_t wdtOwner;
    uint32_t fanOwners[FAN_OWNER_WORDS];
    uint32_t voltageOwners[VOLTAGE_OWNER_WORDS];
    uint32_t tempOwners[TEMP_OWNER_WORDS];
    uint32_t cpuTempOwner;
    uint32_t i2cOwners[I2C_OWNER_WORDS];
    uint32_t ledOwner;
};
static_assert(sizeof(PlatformEntry) == 312, "PlatformEntry is a fixed 312-byte row");

inline constexpr size_t PLATFORM_ROWS = 220;
extern const PlatformEntry kPlatformTable[PLATFORM_ROWS];

// First row whose non-empty name is a prefix of productName (compared as
// unsigned bytes), or nullptr.
const PlatformEntry* FindPlatform(const char* productName);

} // namespace vek
