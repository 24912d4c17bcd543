// Platform I2C controllers of the operating system (0 = "I2C0", 1 = "I2C1"),
// reached through the platform's i2c_open / i2c_transfer / i2c_close.
#pragma once

#include <cstdint>

namespace vek::hal {

// Transfer statuses as the platform reports them.
inline constexpr uint32_t I2C_FULL_TRANSFER = 0;
inline constexpr uint32_t I2C_PARTIAL_TRANSFER = 1;
inline constexpr uint32_t I2C_ADDRESS_NAK = 2;
inline constexpr uint32_t I2C_CLOCK_STRETCH_TIMEOUT = 3;
inline constexpr uint32_t I2C_UNKNOWN_ERROR = 4;
inline constexpr uint32_t I2C_NO_TRANSFER = 0xFFFFFFFFu; // nothing was sent

// One slave opened on a controller for the length of one operation; closed
// when it goes out of scope, so no device outlives the call that opened it.
class I2cDevice {
public:
    I2cDevice(uint32_t controller, uint8_t address7);
    ~I2cDevice();
    I2cDevice(const I2cDevice&) = delete;
    I2cDevice& operator=(const I2cDevice&) = delete;

    // False when the platform has no such controller, or the slave is in use
    // or unavailable (the platform has already dropped its failure text).
    bool open() const { return handle_ != nullptr; }

    // Writes wlen bytes, then reads rlen bytes after a repeated start; either
    // part may be empty. *transferred (may be null) receives the bytes moved,
    // written plus read, and is 0 when nothing was sent. A closed device or an
    // empty request sends nothing and answers I2C_NO_TRANSFER.
    uint32_t Transfer(const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                      uint32_t* transferred = nullptr);

private:
    void* handle_ = nullptr;
};

} // namespace vek::hal
