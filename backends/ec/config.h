// Per-board EC configuration: one row of data per hardware variant, shared by
// the board ids built on it. A row's default member values are the layout most
// boards use; a row names only what differs.
#pragma once

#include <cstdint>
#include <span>

#include "backends/ec/ec_area.h"

namespace vek::ec {

inline constexpr int EC_ROW_IDS = 32;

struct PinRow {
    Slot control = SLOT_ABSENT;
    Slot data = SLOT_ABSENT;
    uint32_t mask = 0;
};

struct FanRow {
    uint32_t mode = 0; // 0 = 16-bit speed, 1 = 8-bit period
    Slot high = SLOT_ABSENT;
    Slot low = 0;
};

struct SmartFanRow {
    Slot control = SLOT_ABSENT;
    Slot param[4] = {0, 0, 0, SLOT_ABSENT};
};

struct LedRow {
    uint16_t reg = 255;
    uint8_t bit = 0;
};

// LAN-bypass relays. probeRegister != 0: the relays exist only when the EC
// reports probeValue there (one segment then).
struct LanRow {
    uint8_t segments = 0;
    uint8_t registers[EC_LAN_REGISTERS] = {};
    uint8_t probeRegister = 0;
    uint8_t probeValue = 0;
};

// Capability words the row writes (0 or 1; speaker 2 = the EC beeper).
struct CapRow {
    uint8_t speaker = 1;
    uint8_t fan = 1;
    uint8_t current = 0;
    uint8_t temperature = 1;
    uint8_t smbus = 1;
    uint8_t backlight = 0;
    uint8_t smartFan = 0;
    uint8_t platformVersionWmi = 0;
};

inline constexpr FanRow kStandardFan0{.high = 0x10, .low = 0x11};
inline constexpr FanRow kStandardFan1{.high = 0x12, .low = 0x13};
inline constexpr SmartFanRow kStandardSmartFan0{.control = 0x16, .param = {0x17, 0x18, 0x19, 0x1A}};

struct EcRow {
    uint8_t ids[EC_ROW_IDS] = {}; // board ids served; 0 ends the list
    uint32_t flags = 0;

    // GPIO: set count, pins per set, per-set registers (255 absent), per-pin slots of set 1.
    uint32_t gpioSets = 1;
    uint32_t pinsPerSet[5] = {8, 8, 8, 8, 8};
    uint8_t setDirection[8] = {0x2B, 255, 255, 255, 255, 255, 255, 255};
    uint8_t setData[8] = {0x2C, 255, 255, 255, 255, 255, 255, 255};
    PinRow pins[8] = {};

    Slot wdtControl = 0x06, wdtMinutes = 0x07, wdtSeconds = 0x08;

    VoltageSlots voltage = {
        .ch4Low = 0x30, .ch4High = 0x31,
        .ch1Low = 0x32, .ch1High = 0x33,
        .ch2Low = 0x22, .ch2High = 0x23,
        .ch3Low = 0x24, .ch3High = 0x25,
        .ch0Low = 0x20, .ch0High = 0x21,
        .ch6Low = SLOT_ABSENT, .ch6High = SLOT_ABSENT, .ch6Trigger = SLOT_ABSENT,
        .ch13Low = SLOT_ABSENT, .ch13High = SLOT_ABSENT,
        .ch5 = SLOT_ABSENT, .ch9 = SLOT_ABSENT, .ch10 = SLOT_ABSENT, .ch11 = SLOT_ABSENT,
    };
    Dividers dividers = {
        .ch4 = {56.0, 10.0}, .ch2 = {10.0, 10.0}, .ch1 = {6.49, 10.0}, .ch3 = {22.0, 10.0},
        .ch13 = {0, 0}, .ch6 = {0, 0}, .ch5 = {0, 0}, .ch9 = {0, 0}, .ch10 = {0, 0},
    };
    Slot current0Low = SLOT_ABSENT, current0High = SLOT_ABSENT;
    Slot current1Low = SLOT_ABSENT, current1High = SLOT_ABSENT;

    Slot sysTempLow = 0x02, sysTempMain = 0x03;
    int32_t sysTempOffset = 0;
    Slot temp1 = SLOT_ABSENT;
    int32_t temp6Offset = 0;
    Slot temp6 = SLOT_ABSENT;
    Slot cpuTemp = 0x00;

    FanRow fans[EC_FANS] = {kStandardFan0, kStandardFan1};
    SmartFanRow smartFans[EC_FANS] = {kStandardSmartFan0};

    LedRow leds[EC_LEDS] = {};
    uint8_t buttonRegister = 255;
    uint8_t buttonMask = 0;
    LanRow lan = {};

    CapRow caps = {};
};

// The rows, and the row of a board id (null: the board keeps the initial values).
std::span<const EcRow> EcRows();
const EcRow* FindEcRow(uint32_t boardId);

} // namespace vek::ec
