// Where the chipset devices of the ChipKind 4 rows sit in the simulated machine,
// for tests that look at them.
#pragma once

#include <cstdint>

namespace vek::sim {

inline constexpr uint16_t kChipsetWatchdogBase = 0x1100;     // I/O block of the SCH-class watchdog
inline constexpr uint32_t kLpcWatchdogBaseReg = 0x84;        // LPC bridge: watchdog base, bit 31 decode enable
inline constexpr uint64_t kIoHubGpioBase = 0xD0100000;       // BAR of the I/O hub's GPIO block
inline constexpr uint64_t kGpioPadBase = 0xD0C50000;         // GPIO pad community (board 95)
inline constexpr uint64_t kLedPadBase = 0xFD690000;          // LED pad community (board 133)
inline constexpr uint64_t kButtonBase = 0xFD6D0000;          // button community (board 133)
inline constexpr uint16_t kButtonStatus = 0x10C;             // its event status byte, bit 1 the button
inline constexpr uint8_t kButtonBit = 0x02;
inline constexpr uint32_t kMsrPerfStatus = 0x198;            // bits 32..47: core voltage, 1/8192 V
inline constexpr uint16_t kBoardCoreVoltage = 0x1E66;        // 0.9500 V

// Slaves on the platform I2C buses (7-bit addresses).
inline constexpr uint8_t kPlatformEepromAddress = 0x50;      // I2C0: 256-byte EEPROM, one address byte
inline constexpr uint8_t kPlatformBlockAddress = 0x2C;       // I2C0: register file and SMBus blocks
inline constexpr uint8_t kPlatformSensorAddress = 0x4C;      // I2C1: temperature sensor

} // namespace vek::sim
