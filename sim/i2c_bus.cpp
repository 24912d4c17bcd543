#include "sim/i2c_bus.h"

namespace vek::sim {

bool WriteMessage(I2cSlave& slave, std::span<const uint8_t> bytes) {
    if (!slave.Start(false)) return false;
    for (uint8_t b : bytes)
        if (!slave.WriteByte(b)) return false;
    return true;
}

bool ReadMessage(I2cSlave& slave, std::span<uint8_t> out) {
    if (!slave.Start(true)) return false;
    for (uint8_t& b : out) b = slave.ReadByte();
    slave.Stop();
    return true;
}

bool I2cEeprom::Start(bool read) {
    if (!read) {
        addressSeen_ = 0;
        address_ = 0;
    }
    return true;
}

bool I2cEeprom::WriteByte(uint8_t value) {
    if (addressSeen_ < addressBytes_) {
        address_ = (address_ << 8) | value;
        if (++addressSeen_ == addressBytes_) pointer_ = address_ % bytes_.size();
        return true;
    }
    bytes_[pointer_] = value;
    pointer_ = (pointer_ + 1) % bytes_.size();
    return true;
}

uint8_t I2cEeprom::ReadByte() {
    const uint8_t b = bytes_[pointer_];
    pointer_ = (pointer_ + 1) % bytes_.size();
    return b;
}

} // namespace vek::sim
