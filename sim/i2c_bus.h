// Devices on an I2C/SMBus wire, as every simulated master drives them: an
// address phase, bytes that are acknowledged or not, and a stop. The chipset
// SMBus controller and the EC's I2C mailbox both carry these slaves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace vek::sim {

// One device, byte by byte. Returning false NAKs.
class I2cSlave {
public:
    virtual ~I2cSlave() = default;
    // Address phase with the direction bit; false when the device does not answer.
    virtual bool Start(bool read) { (void)read; return true; }
    virtual bool WriteByte(uint8_t value) = 0;
    virtual uint8_t ReadByte() = 0;
    virtual void Stop() {}
    // Holds the clock low for good: the master never finishes.
    virtual bool Hangs() const { return false; }
};

// The slaves of one bus by 7-bit address; the bus owns them.
class I2cSlaves {
public:
    template <class T, class... Args>
    T& Attach(uint8_t address7, Args&&... args) {
        auto slave = std::make_unique<T>(std::forward<Args>(args)...);
        T& ref = *slave;
        slaves_[address7 & 0x7F] = std::move(slave);
        return ref;
    }
    void Detach(uint8_t address7) { slaves_.erase(address7 & 0x7F); }
    I2cSlave* SlaveAt(uint8_t address7) const {
        auto it = slaves_.find(address7 & 0x7F);
        return it == slaves_.end() ? nullptr : it->second.get();
    }

private:
    std::map<uint8_t, std::unique_ptr<I2cSlave>> slaves_;
};

// Whole messages for masters that move a transfer at a time. A write phase
// leaves the bus held (a read may follow with a repeated start); Stop ends it.
bool WriteMessage(I2cSlave& slave, std::span<const uint8_t> bytes);
bool ReadMessage(I2cSlave& slave, std::span<uint8_t> out);

// Serial EEPROM with one or two address bytes (high byte first); the pointer
// advances over reads and writes and wraps at the end of the array. A write
// shorter than the address leaves the pointer where it was.
class I2cEeprom : public I2cSlave {
public:
    I2cEeprom(size_t size, int addressBytes) : bytes_(size, 0xFF), addressBytes_(addressBytes) {}
    bool Start(bool read) override;
    bool WriteByte(uint8_t value) override;
    uint8_t ReadByte() override;
    std::vector<uint8_t>& bytes() { return bytes_; }
    size_t pointer() const { return pointer_; }

private:
    std::vector<uint8_t> bytes_;
    int addressBytes_;
    size_t pointer_ = 0;
    int addressSeen_ = 0;
    size_t address_ = 0;
};

// A present device that refuses every transfer (busy, or the wrong address).
class NakSlave : public I2cSlave {
public:
    bool Start(bool) override { return false; }
    bool WriteByte(uint8_t) override { return false; }
    uint8_t ReadByte() override { return 0xFF; }
};

// A device that stretches the clock forever.
class HungSlave : public I2cSlave {
public:
    bool WriteByte(uint8_t) override { return true; }
    uint8_t ReadByte() override { return 0xFF; }
    bool Hangs() const override { return true; }
};

} // namespace vek::sim
