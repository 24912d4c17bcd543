#include "hal/i2c.h"

#include "hal/hal.h"

namespace vek::hal {

I2cDevice::I2cDevice(uint32_t controller, uint8_t address7) {
    const vek_host_platform& p = Platform();
    if (p.i2c_open == nullptr || p.i2c_transfer == nullptr) return;
    void* handle = nullptr;
    if (p.i2c_open(p.user, controller, address7, &handle) == 0) handle_ = handle;
}

I2cDevice::~I2cDevice() {
    const vek_host_platform& p = Platform();
    if (handle_ != nullptr && p.i2c_close != nullptr) p.i2c_close(p.user, handle_);
}

uint32_t I2cDevice::Transfer(const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                             uint32_t* transferred) {
    uint32_t moved = 0;
    if (transferred) *transferred = 0;
    if (write == nullptr) wlen = 0;
    if (read == nullptr) rlen = 0;
    if (handle_ == nullptr || (wlen == 0 && rlen == 0)) return I2C_NO_TRANSFER;
    const vek_host_platform& p = Platform();
    const uint32_t status = p.i2c_transfer(p.user, handle_, write, wlen, read, rlen, &moved);
    if (transferred) *transferred = moved;
    return status;
}

} // namespace vek::hal
