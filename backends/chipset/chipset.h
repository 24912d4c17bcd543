// Chipset devices and the platform I2C buses (ChipKind 4): register names,
// the per-chip area, and how the parts of the backend fill its routine table.
#pragma once

#include <cstdint>

#include "backends/backend.h"

namespace vek::chipset {

// ---- watchdog I/O block; its base is the 16-bit word at config offset 0x84
// of the function that holds the SMBus base (the LPC bridge on SCH parts) ----
inline constexpr uint32_t CFG_WDT_BASE = 0x84;
inline constexpr uint16_t WDT_BLOCK_SIZE = 0x40;
inline constexpr uint16_t WDT_PRELOAD1 = 0x00; // first-stage preload (32-bit)
inline constexpr uint16_t WDT_PRELOAD2 = 0x04; // second-stage preload (32-bit)
inline constexpr uint16_t WDT_RELOAD0 = 0x0C;  // unlock sequence goes here
inline constexpr uint8_t WDT_UNLOCK_FIRST = 0x80;
inline constexpr uint8_t WDT_UNLOCK_SECOND = 0x86;
inline constexpr uint16_t WDT_CONFIG = 0x10;   // timer configuration (32-bit)
inline constexpr uint32_t WDT_CONFIG_WATCHDOG_MODE = 0x02;
inline constexpr uint32_t WDT_CONFIG_RESET_ENABLE = 0x10;
inline constexpr uint16_t WDT_LOCK = 0x18;     // lock/enable byte
inline constexpr uint8_t WDT_LOCK_ENABLE = 0x02;
inline constexpr uint8_t WDT_LOCK_STOPPED = 0x00;
// 33 MHz timer clock through the 2^15 prescaler: 1007.08 ticks per second.
inline constexpr uint64_t WDT_CLOCK_HZ = 33'000'000;
inline constexpr uint64_t WDT_CLOCK_DIVIDER = 1u << 15;
inline constexpr uint64_t WDT_FIRST_STAGE_TICKS = 1; // preload 0
// The preload registers hold 20 bits.
inline constexpr uint32_t WDT_PRELOAD_MASK = 0xFFFFF;
inline constexpr uint8_t WDT_MAX_SECONDS = 255;
inline constexpr uint8_t WDT_MAX_MINUTES = 10;

// ---- GPIO block of the I/O hub: PCI function 02:00.2, memory BAR at 0x14 ----
inline constexpr uint32_t GPIO_BLOCK_BUS = 2, GPIO_BLOCK_DEVICE = 0, GPIO_BLOCK_FUNCTION = 2;
inline constexpr uint32_t CFG_GPIO_BLOCK_BAR = 0x14;
inline constexpr uint16_t GPIO_OUTPUT = 0x18;    // output latch
inline constexpr uint16_t GPIO_INPUT = 0x1C;     // pin levels
inline constexpr uint16_t GPIO_DIRECTION = 0x20; // 1 = output
inline constexpr uint32_t GPIO_BLOCK_PINS = 8;

// ---- pad configuration registers: byte 0 and 1 of a pad's first dword ----
inline constexpr uint16_t PAD_STATE = 0;            // byte 0
inline constexpr uint8_t PAD_STATE_TX = 0x01;       // output level
inline constexpr uint8_t PAD_STATE_RX = 0x02;       // input level
inline constexpr uint16_t PAD_BUFFERS = 1;          // byte 1
inline constexpr uint8_t PAD_BUFFERS_MASK = 0x03;   // bit 0 output off, bit 1 input off
inline constexpr uint8_t PAD_MODE_INPUT = 0x01;     // output buffer disabled
inline constexpr uint8_t PAD_MODE_OUTPUT = 0x02;    // input buffer disabled
inline constexpr uint16_t PAD_RESET_CONFIG = 3;     // byte 3
inline constexpr uint8_t PAD_RESET_CONFIG_GPIO = 0x44; // written to every GPIO pad at start

// ---- button status: write 1 to clear ----
inline constexpr uint8_t BUTTON_PRESSED = 0x02;

// ---- processor core voltage ----
inline constexpr uint32_t MSR_PERF_STATUS = 0x198; // bits 32..47: core voltage in 1/8192 V
inline constexpr double kVoltsPerCount = 1.0 / 8192;

// ---- platform I2C ----
inline constexpr uint32_t I2C_BUSES = 4;
inline constexpr uint32_t I2C_NO_CONTROLLER = 0xFFFFFFFFu;
inline constexpr uint32_t I2C0 = 0, I2C1 = 1; // the controllers' friendly names
inline constexpr uint32_t I2C_MAX_DATA = 32;

inline constexpr uint32_t PAD_SETS = 2;
inline constexpr uint32_t PADS_PER_SET = 8;
inline constexpr uint32_t LEDS = 13;

struct Pad {
    uint32_t base; // 0: no pad
    uint16_t offset;
};

enum class GpioLayout : uint8_t { None, Block, Pads };

// The chipset backend's part of a DeviceContext.
struct ChipsetArea {
    GpioLayout gpio;
    uint32_t gpioBlockBase;
    uint8_t directionShadow;    // 1 = output, bit p-1 for pin p
    Pad pads[PAD_SETS][PADS_PER_SET];
    uint16_t wdtBlockBase;      // 0: no watchdog block
    Pad leds[LEDS];
    Pad button;
    uint32_t busController[I2C_BUSES]; // I2C_NO_CONTROLLER: the bus is not available
};

inline ChipsetArea& Area(DeviceContext& ctx) { return AreaOf<ChipsetArea>(ctx); }

const BackendOps& Ops();

void Configure(DeviceContext& ctx);
void FillWatchdogOps(BackendOps& ops);  // watchdog.cpp
void FillGpioOps(BackendOps& ops);      // gpio.cpp
void FillPadDeviceOps(BackendOps& ops); // leds.cpp: LEDs, button, core voltage
void FillI2cOps(BackendOps& ops);       // i2c.cpp

} // namespace vek::chipset
