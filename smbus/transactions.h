// SMBus host-controller transactions on the located controller.
#pragma once

#include <cstdint>

#include "backends/backend.h"

namespace vek::smbus {

// The transactions, as the frame and the special handlers call them.
const SmbusOps& Ops();

// Register flavours of the chipset controller, by chipset id.
enum class Flavour { Sch, Ich, Fch };
Flavour FlavourOf(uint32_t chipsetId);

// Host status register bits of the ICH and FCH maps.
inline constexpr uint8_t kStsHostBusy = 0x01;
inline constexpr uint8_t kStsInterrupt = 0x02; // ICH: transaction complete
inline constexpr uint8_t kStsDeviceError = 0x04; // no ACK from the slave
inline constexpr uint8_t kStsBusCollision = 0x08;
inline constexpr uint8_t kStsFailed = 0x10;
inline constexpr uint8_t kStsErrors = kStsDeviceError | kStsBusCollision | kStsFailed;
inline constexpr uint8_t kStsByteDone = 0x80;  // block byte-by-byte handshake

// The SCH map's own status bits: done, no answer, collision, busy.
inline constexpr uint8_t kSchStsDone = 0x01;
inline constexpr uint8_t kSchStsDeviceError = 0x02;
inline constexpr uint8_t kSchStsBusCollision = 0x04;
inline constexpr uint8_t kSchStsBusy = 0x08;
inline constexpr uint8_t kSchStsErrors = kSchStsDeviceError | kSchStsBusCollision;

// ICH host control register: bit 6 starts the command in bits 4..2 (writing it
// again aborts whatever runs and starts anew); bit 5 asks the controller to NAK
// the next byte it receives (the last of an I2C block read).
inline constexpr uint8_t kCtlStart = 0x40;
inline constexpr uint8_t kCtlLastByte = 0x20;

// ICH host configuration (PCI config 0x40): bit 2 makes a block write an I2C block write.
inline constexpr uint8_t kCfgHostConfig = 0x40;
inline constexpr uint8_t kHostConfigI2cEnable = 0x04;

// Fixed control values of the two-byte-offset EEPROM routine on the ICH map:
// byte data, receive byte and word data, each with the interrupt-enable bit 0.
// The SCH map runs the same three with its own protocol values.
inline constexpr uint8_t kCtlEepromSetOffset = 0x49;
inline constexpr uint8_t kCtlEepromReadByte = 0x45;
inline constexpr uint8_t kCtlEepromWriteByte = 0x4D;

// Timing: every register write is followed by this pause; polls pause as long per pass.
inline constexpr int64_t kRegisterPauseUs = 1000;
inline constexpr int32_t kPollBudget = 2000;
inline constexpr int32_t kEepromFirstByteBudget = 20000;

inline constexpr int32_t kMaxBlock = 32;

} // namespace vek::smbus
