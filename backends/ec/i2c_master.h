// The EC's I2C master, driven through the mailbox at ports 0x200/0x201 and
// started by a command byte on port 0x66. Independent of the DeviceContext:
// every board whose bus owner is the EC has the same mailbox.
#pragma once

#include <cstdint>

namespace vek::ec {

enum I2cAddressing : uint32_t { I2C_REG8 = 0, I2C_REG16 = 1 };
enum I2cKind : uint32_t { I2C_KIND_BYTE = 0, I2C_KIND_WORD = 1, I2C_KIND_BLOCK = 2 };

// Mailbox registers (index through port 0x200, value through 0x201).
inline constexpr uint8_t MB_DATA = 0x10;      // 32-byte buffer, 0x10..0x2F
inline constexpr uint8_t MB_STATUS = 0x30;
inline constexpr uint8_t MB_ADDRESS = 0x32;   // slave address, 8-bit form
inline constexpr uint8_t MB_COUNT = 0x37;     // block byte count
inline constexpr uint8_t MB_REG_HIGH = 0x38;  // high byte of a 16-bit register address
inline constexpr uint8_t MB_REG_LOW = 0x3A;   // register address, or the send-byte value
inline constexpr uint8_t MB_SPEED = 0x3F;     // bus speed selector 1..3

inline constexpr uint8_t MB_STATUS_DONE = 0x02;
inline constexpr uint8_t MB_STATUS_ERRORS = 0x7C;

// Transaction commands, written to the EC command port.
enum MailboxCommand : uint8_t {
    MB_CMD_READ_BYTE = 0xA0,
    MB_CMD_WRITE_BYTE = 0xA1,
    MB_CMD_READ_BLOCK16 = 0xA2,
    MB_CMD_WRITE_BLOCK16 = 0xA3,
    MB_CMD_READ_BLOCK = 0xA4,
    MB_CMD_WRITE_BLOCK = 0xA5,
    MB_CMD_QUICK_READ = 0xA6,
    MB_CMD_QUICK_WRITE = 0xA7,
    MB_CMD_RECEIVE_BYTE = 0xA8,
    MB_CMD_SEND_BYTE = 0xA9,
};

inline constexpr uint32_t EC_I2C_MAX_BLOCK = 32;
// A failed byte read answers this OR the mailbox status byte.
inline constexpr uint32_t EC_I2C_BYTE_READ_ERROR = 0x800;

// Slave addresses are in 8-bit form; bit 0 is cleared before use.
uint32_t EcI2cRead(uint32_t addressing, uint32_t kind, uint8_t address, uint16_t reg, uint32_t length,
                   uint8_t* out);
uint32_t EcI2cWrite(uint32_t addressing, uint32_t kind, uint8_t address, uint16_t reg, uint32_t length,
                    const uint8_t* in);
uint32_t EcI2cQuickRead(uint8_t address);
uint32_t EcI2cQuickWrite(uint8_t address);
uint32_t EcI2cReceiveByte(uint8_t address, uint8_t* out);
uint32_t EcI2cSendByte(uint8_t address, uint8_t value);
// Selector 0, 1, 2: the master's three bus speeds.
uint32_t EcI2cSetSpeed(int32_t selector);

} // namespace vek::ec
