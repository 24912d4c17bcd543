// Register map of the ChipKind 1 Super I/O: the configuration port pair with
// its logical devices, and the hardware-monitor block behind logical device 0x0B.
#pragma once

#include <cstdint>

namespace vek::sio1 {

// ---- configuration port pair (index, index + 1) ----
inline constexpr uint16_t CFG_PORT_DEFAULT = 0x2E;
inline constexpr uint16_t CFG_PORT_ALTERNATE = 0x4E; // strap-selected on some boards
inline constexpr uint8_t CFG_KEY_ENTER = 0x87;       // written twice to the index port
inline constexpr uint8_t CFG_KEY_EXIT = 0xAA;

// Global configuration registers (visible whatever device is selected).
inline constexpr uint8_t CR_DEVICE_SELECT = 0x07;
inline constexpr uint8_t CR_PIN_MUX_1A = 0x1A;
inline constexpr uint8_t CR_PIN_MUX_1B = 0x1B;
inline constexpr uint8_t CR_PIN_MUX_27 = 0x27;
inline constexpr uint8_t CR_PIN_MUX_29 = 0x29;
inline constexpr uint8_t CR_PIN_MUX_2A = 0x2A;
inline constexpr uint8_t CR_PIN_MUX_2B = 0x2B;
inline constexpr uint8_t CR_PIN_MUX_2C = 0x2C;
inline constexpr uint8_t CR_PIN_MUX_2D = 0x2D;

// Registers of the selected logical device.
inline constexpr uint8_t LD_ACTIVATE = 0x30;   // one enable bit per function group
inline constexpr uint8_t LD_BASE_HIGH = 0x60;  // I/O base, high byte
inline constexpr uint8_t LD_BASE_LOW = 0x61;

// Logical devices.
inline constexpr uint8_t LDN_NONE = 0x00;      // marks "no device" in the area
inline constexpr uint8_t LDN_GPIO_A = 0x07;
inline constexpr uint8_t LDN_GPIO_B = 0x08;    // also the watchdog
inline constexpr uint8_t LDN_GPIO_C = 0x09;
inline constexpr uint8_t LDN_HWM = 0x0B;
inline constexpr uint8_t LDN_PIN_CONTROL = 0x0D;

// Watchdog registers of its logical device: the original layout and the one
// of the newer parts.
inline constexpr uint8_t WDT_MODE = 0xF5;
inline constexpr uint8_t WDT_COUNT = 0xF6;
inline constexpr uint8_t WDT_MODE_NEW = 0xF0;
inline constexpr uint8_t WDT_COUNT_NEW = 0xF1;
inline constexpr uint8_t WDT_UNIT_MINUTES = 0x08; // mode register: count in minutes
inline constexpr uint8_t WDT_ACTIVATE_BIT = 0x01;
inline constexpr uint8_t WDT_STOP = 0x00;         // count 0 stops the timer

// ---- hardware monitor: index/data at base + 5 / base + 6 ----
inline constexpr uint16_t HWM_INDEX_OFFSET = 5;
inline constexpr uint8_t HWM_BANK_SELECT = 0x4E;

// Temperatures.
inline constexpr uint8_t HWM_CPU_TEMP = 0x50;       // bank 1: whole degrees
inline constexpr uint8_t HWM_CPU_TEMP_FRAC = 0x51;  // bank 1: bit 7 = half degree
inline constexpr uint8_t HWM_TEMP_HALF = 0x80;
inline constexpr uint8_t HWM_SYS_TEMP = 0x27;       // bank 0, 2 °C per count
inline constexpr uint8_t HWM_CPU_TEMP_NEW = 0x0D;   // bank 3 on the newer parts, 2 °C per count
inline constexpr uint8_t HWM_SYS_TEMP_NEW = 0x0C;   // bank 3
inline constexpr uint8_t HWM_TEMP_BANK_NEW = 3;

// Voltages.
inline constexpr uint8_t HWM_VIN_5V = 0x23;         // bank 0
inline constexpr uint8_t HWM_VCORE_RANGE = 0x18;    // bank 0: core voltage, bit 0 = high range
inline constexpr uint8_t HWM_VBAT_BANK = 5;
inline constexpr uint8_t HWM_VBAT = 0x51;           // bank 5 on the older parts
inline constexpr uint8_t HWM_VBAT_MONITOR = 0x5D;   // bank 0: bit 0 starts a battery measurement
inline constexpr uint8_t HWM_VBAT_MONITOR_BIT = 0x01;

// Fan tachometers, divisor layout (bank 0).
inline constexpr uint8_t HWM_FAN_DIV_12 = 0x47;     // bits 4..5 fan 1, 6..7 fan 0
inline constexpr uint8_t HWM_FAN_DIV_3 = 0x4B;      // bits 6..7 fan 2
inline constexpr uint8_t HWM_FAN_DIV_HIGH = 0x5D;   // divisor bit 2 of each fan (bits 5, 6, 7)
inline constexpr uint8_t HWM_FAN_COUNT_0 = 0x29;
inline constexpr uint8_t HWM_FAN_COUNT_1 = 0x28;
inline constexpr uint8_t HWM_FAN_COUNT_2 = 0x2A;

// Fan control (bank 1 on the newer parts): duty outputs and curve mode registers.
inline constexpr uint8_t HWM_FAN_CONTROL_BANK = 1;
inline constexpr uint8_t HWM_DUTY_0 = 0x29;
inline constexpr uint8_t HWM_DUTY_1 = 0x19;
inline constexpr uint8_t HWM_DUTY_2 = 0x39;
inline constexpr uint8_t HWM_DUTY_4 = 0x99;
inline constexpr uint8_t HWM_FAN4_COUNT_HIGH = 0x24;
inline constexpr uint8_t HWM_FAN4_COUNT_LOW = 0x25;
inline constexpr uint8_t HWM_MODE_SHIFT = 4;       // mode in the high nibble
inline constexpr uint8_t HWM_MODE_LOW_BITS = 0x0F;
inline constexpr uint8_t HWM_CURVE_POINTS = 4;

} // namespace vek::sio1
