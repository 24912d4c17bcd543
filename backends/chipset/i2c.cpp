// Numbered I2C buses on the operating system's platform I2C controllers. Every
// operation opens its slave, moves one transfer and closes it again.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "backends/chipset/chipset.h"
#include "hal/i2c.h"
#include "vek/vek.h"

namespace vek::chipset {
namespace {

constexpr uint32_t kBlockReadBytes = I2C_MAX_DATA + 1; // count byte plus up to 32 data bytes

// Checks the bus, opens the slave (8-bit address form in, 7-bit address opened)
// and runs `transfer` on it. A device that cannot be opened answers 6.
template <class Transfer>
uint32_t OnBus(DeviceContext& ctx, uint32_t bus, uint8_t addressByte, Transfer transfer) {
    if (bus >= I2C_BUSES) return VEK_ERR_ARGUMENT;
    // Only a chipset context has platform buses.
    if (ctx.chipKind != KIND_CHIPSET) return VEK_ERR_UNSUPPORTED;
    const uint32_t controller = Area(ctx).busController[bus];
    if (controller == I2C_NO_CONTROLLER) return VEK_ERR_UNSUPPORTED;
    hal::I2cDevice device(controller, uint8_t(addressByte >> 1));
    if (!device.open()) return VEK_ERR_NOT_INITIALISED;
    return transfer(device);
}

// The platform has no quick command.
uint32_t Quick(DeviceContext&, uint32_t bus, uint8_t, uint32_t) {
    return bus >= I2C_BUSES ? VEK_ERR_ARGUMENT : VEK_ERR_UNSUPPORTED;
}

uint32_t SetFrequency(DeviceContext&, uint32_t, int32_t) { return VEK_ERR_UNSUPPORTED; }

uint32_t ReceiveByte(DeviceContext& ctx, uint32_t bus, uint8_t addressByte, uint8_t* value) {
    if (value == nullptr) return VEK_ERR_ARGUMENT;
    return OnBus(ctx, bus, addressByte, [&](hal::I2cDevice& device) {
        return device.Transfer(nullptr, 0, value, 1) == hal::I2C_FULL_TRANSFER ? VEK_OK : VEK_ERR_READ;
    });
}

uint32_t SendByte(DeviceContext& ctx, uint32_t bus, uint8_t addressByte, uint8_t value) {
    return OnBus(ctx, bus, addressByte, [&](hal::I2cDevice& device) {
        return device.Transfer(&value, 1, nullptr, 0) == hal::I2C_FULL_TRANSFER ? VEK_OK : VEK_ERR_WRITE;
    });
}

// [register, data...]: at most 32 data bytes go out. The flag selects a mode
// these buses do not have; the protocol needs nothing beyond the length.
uint32_t WriteRegister(DeviceContext& ctx, uint32_t flags, uint32_t, uint32_t bus, uint8_t addressByte,
                       uint32_t reg, uint32_t length, uint8_t* data) {
    if (flags != 0) return VEK_ERR_UNSUPPORTED;
    if (data == nullptr && length != 0) return VEK_ERR_ARGUMENT;
    return OnBus(ctx, bus, addressByte, [&](hal::I2cDevice& device) {
        const uint32_t kept = std::min(length, I2C_MAX_DATA);
        uint8_t message[I2C_MAX_DATA + 1];
        message[0] = uint8_t(reg);
        if (kept != 0) std::memcpy(message + 1, data, kept);
        return device.Transfer(message, kept + 1, nullptr, 0) == hal::I2C_FULL_TRANSFER ? VEK_OK : VEK_ERR_WRITE;
    });
}

// [register] then up to 32 bytes after a repeated start. The byte count the
// platform reports includes the register byte it wrote. Lengths above 32 are
// cut to 32: the caller's buffer never receives more.
uint32_t ReadRegister(DeviceContext& ctx, uint32_t flags, uint32_t, uint32_t bus, uint8_t addressByte,
                      uint32_t reg, uint32_t length, uint8_t* data) {
    if (flags != 0) return VEK_ERR_UNSUPPORTED;
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    return OnBus(ctx, bus, addressByte, [&](hal::I2cDevice& device) {
        const uint32_t wanted = std::min(length, I2C_MAX_DATA);
        if (wanted == 0) return VEK_ERR_WRITE; // a read of nothing is refused, as the platform does
        const uint8_t command = uint8_t(reg);
        uint8_t reply[I2C_MAX_DATA] = {};
        uint32_t counted = 0;
        const uint32_t status = device.Transfer(&command, 1, reply, wanted, &counted);
        std::memcpy(data, reply, wanted);
        return (status == hal::I2C_FULL_TRANSFER && counted >= wanted) ? VEK_OK : VEK_ERR_WRITE;
    });
}

// [command, count, data...]: every byte must get through.
uint32_t BlockWrite(DeviceContext& ctx, uint32_t bus, uint8_t addressByte, uint8_t command, uint32_t count,
                    uint8_t* data) {
    if (bus >= I2C_BUSES || count < 1 || count > I2C_MAX_DATA || data == nullptr) return VEK_ERR_ARGUMENT;
    return OnBus(ctx, bus, addressByte, [&](hal::I2cDevice& device) {
        uint8_t message[I2C_MAX_DATA + 2];
        message[0] = command;
        message[1] = uint8_t(count);
        std::memcpy(message + 2, data, count);
        uint32_t counted = 0;
        const uint32_t status = device.Transfer(message, count + 2, nullptr, 0, &counted);
        return (status == hal::I2C_FULL_TRANSFER && counted >= count + 2) ? VEK_OK : VEK_ERR_WRITE;
    });
}

// [command] then the slave's count byte and up to 32 data bytes. Judged by the
// bytes moved, not by the transfer status: the read asks for 33 bytes, so a
// correct reply of fewer ends partial. The platform's count includes the
// command byte it wrote, so a whole reply moved count + 2 bytes.
uint32_t BlockRead(DeviceContext& ctx, uint32_t bus, uint8_t addressByte, uint8_t command, int32_t* count,
                   uint8_t* data) {
    if (count == nullptr || data == nullptr) return VEK_ERR_ARGUMENT;
    return OnBus(ctx, bus, addressByte, [&](hal::I2cDevice& device) {
        uint8_t reply[kBlockReadBytes] = {};
        uint32_t counted = 0;
        device.Transfer(&command, 1, reply, kBlockReadBytes, &counted);
        constexpr uint32_t kFramingBytes = 2; // command written, count byte read
        const uint32_t announced = reply[0];
        const uint32_t kept = std::min(announced, I2C_MAX_DATA);
        if (counted < kFramingBytes + kept) return VEK_ERR_READ;
        *count = int32_t(kept);
        std::memcpy(data, reply + 1, kept);
        return (announced == 0 || announced > I2C_MAX_DATA) ? VEK_ERR_READ : VEK_OK;
    });
}

} // namespace

void FillI2cOps(BackendOps& ops) {
    ops.i2cQuick = &Quick;
    ops.i2cSetFrequency = &SetFrequency;
    ops.i2cReceiveByte = &ReceiveByte;
    ops.i2cSendByte = &SendByte;
    ops.i2cWriteRegister = &WriteRegister;
    ops.i2cReadRegister = &ReadRegister;
    ops.i2cBlockWrite = &BlockWrite;
    ops.i2cBlockRead = &BlockRead;
}

} // namespace vek::chipset
