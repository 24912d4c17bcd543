// The EC backend's per-chip area, part of every DeviceContext.
#pragma once

#include <cstdint>

namespace vek::ec {

// A register slot: EC RAM register (window and ACPI paths, low byte used) or a
// 16-bit EC memory address (indirect path). 255 marks the item absent.
using Slot = uint32_t;
inline constexpr Slot SLOT_ABSENT = 255;
inline constexpr uint8_t REG_ABSENT = 255; // u8 registers: above 254 is absent

inline constexpr int EC_FANS = 13;
inline constexpr int EC_LEDS = 12;
inline constexpr int EC_LAN_REGISTERS = 9;

// Voltage slots, in the order the board rows list them.
struct VoltageSlots {
    Slot ch4Low, ch4High;
    Slot ch1Low, ch1High;
    Slot ch2Low, ch2High;
    Slot ch3Low, ch3High;
    Slot ch0Low, ch0High;
    Slot ch6Low, ch6High, ch6Trigger;
    Slot ch13Low, ch13High;
    Slot ch5;
    Slot ch9;
    Slot ch10;
    Slot ch11;
};

// Resistor divider of one voltage channel: volts = reading * (upper + lower) / lower.
struct Divider {
    double upper;
    double lower;
};

// Divider pairs, in the order channels 4, 2, 1, 3, 13, 6, 5, 9, 10.
struct Dividers {
    Divider ch4, ch2, ch1, ch3, ch13, ch6, ch5, ch9, ch10;
};

// The EC area of a DeviceContext. ioDelay and gpioSets live in the common header.
struct EcArea {
    // GPIO, per-pin layout: sets 1 and 2, pins 1..8.
    Slot pinControl[2][8];
    Slot pinData[2][8];
    uint32_t pinMask[2][8];
    // GPIO, per-set layout: sets 1..8.
    uint8_t setDirection[8];
    uint8_t setData[8];

    // Watchdog (unit, count, started and range live in DeviceContext::wdtEc).
    Slot wdtControl;
    Slot wdtMinutes;
    Slot wdtSeconds;

    VoltageSlots voltage;
    Slot current0Low, current0High;
    Slot current1Low, current1High;

    Slot sysTempLow, sysTempMain;
    int32_t sysTempOffset;
    Slot temp1;
    int32_t temp6Offset;
    Slot temp6;
    Slot cpuTemp;

    uint32_t fanTachMode[EC_FANS]; // 0 = 16-bit speed, 1 = 8-bit period
    Slot fanTachHigh[EC_FANS];
    Slot fanTachLow[EC_FANS];
    Slot smartFanControl[EC_FANS];
    Slot smartFanParam[4][EC_FANS];
    uint32_t smartFanUserFlags[EC_FANS]; // bit 0: parameter 1 set by the caller, bit 1: parameter 2

    Dividers dividers;

    uint16_t ledRegister[EC_LEDS];
    uint8_t ledBit[EC_LEDS];
    uint8_t buttonRegister;
    uint8_t buttonMask;

    uint8_t lanSegments;
    uint8_t lanRegister[EC_LAN_REGISTERS]; // items 0..3, timer control, minutes, seconds, items 4, 5
    uint8_t lanTimerSeconds;
    uint8_t lanTimerMinutes;

    uint32_t flags; // EcFlags

    // The register-access pair chosen at configuration (window or ACPI-style).
    void (*writeRegister)(uint32_t reg, uint32_t value);
    uint8_t (*readRegister)(uint32_t reg);
};

} // namespace vek::ec
