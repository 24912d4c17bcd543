// Platform I2C controllers of the SoC ("I2C0", "I2C1") as the operating
// system's I2C driver presents them, with slaves on their wires.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "sim/devices.h"
#include "sim/i2c_bus.h"

namespace vek::sim {

class Machine;

// One controller. Transfers run at standard mode (100 kHz, nine bit times a
// byte, address phases included) in virtual time. A slave that holds the clock
// makes the controller give up after its stretch time-out; one that NAKs a data
// byte ends a write early (a partial transfer).
class PlatformI2cBus : public Device, public PlatformI2cController, public I2cSlaves {
public:
    static constexpr int64_t kByteNs = 90'000;
    static constexpr int64_t kClockStretchTimeoutNs = 10'000'000;
    enum Status : uint32_t { kFull = 0, kPartial = 1, kAddressNak = 2, kStretchTimeout = 3 };

    // A whole transfer as it went over the wire.
    struct Message {
        uint8_t address7;
        std::vector<uint8_t> written;
        uint32_t readRequested;
        std::vector<uint8_t> read;
        uint32_t status;
    };

    PlatformI2cBus(Machine& machine, uint32_t controller, const char* name);
    ~PlatformI2cBus() override;
    const char* name() const override { return name_; }

    bool OpenSlave(uint8_t address7) override;
    void CloseSlave(uint8_t address7) override;
    uint32_t Transfer(uint8_t address7, const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                      uint32_t* transferred) override;

    // Another client holds the slave exclusively: opening it fails.
    void SetInUse(uint8_t address7, bool inUse);
    int open_slaves() const { return openSlaves_; }
    const std::vector<Message>& messages() const { return messages_; }
    void ClearMessages() { messages_.clear(); }

private:
    bool Stalled(I2cSlave& slave);

    Machine& machine_;
    uint32_t controller_;
    const char* name_;
    std::set<uint8_t> inUse_;
    int openSlaves_ = 0;
    std::vector<Message> messages_;
};

// A slave that takes or gives `bytes` data bytes per transaction and then stops
// co-operating: it NAKs further written bytes and holds the clock on reads.
// Reads return first, first + 1, ...
class CutOffSlave : public I2cSlave {
public:
    CutOffSlave(uint32_t bytes, uint8_t first) : limit_(bytes), first_(first) {}
    bool Start(bool read) override;
    bool WriteByte(uint8_t value) override;
    uint8_t ReadByte() override;
    bool Hangs() const override { return reading_ && count_ >= limit_; }

private:
    uint32_t limit_;
    uint8_t first_;
    uint32_t count_ = 0;
    bool reading_ = false;
};

} // namespace vek::sim
