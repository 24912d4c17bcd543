#include "sim/chipset/platform_i2c.h"

#include "sim/machine.h"

namespace vek::sim {

PlatformI2cBus::PlatformI2cBus(Machine& machine, uint32_t controller, const char* name)
    : machine_(machine), controller_(controller), name_(name) {
    machine_.SetPlatformI2c(controller_, this);
}

PlatformI2cBus::~PlatformI2cBus() { machine_.SetPlatformI2c(controller_, nullptr); }

bool PlatformI2cBus::OpenSlave(uint8_t address7) {
    if (inUse_.count(address7)) return false;
    ++openSlaves_;
    return true;
}

void PlatformI2cBus::CloseSlave(uint8_t) { --openSlaves_; }

void PlatformI2cBus::SetInUse(uint8_t address7, bool inUse) {
    if (inUse) inUse_.insert(address7 & 0x7F);
    else inUse_.erase(address7 & 0x7F);
}

// A slave holding the clock: the controller waits out its time-out.
bool PlatformI2cBus::Stalled(I2cSlave& slave) {
    if (!slave.Hangs()) return false;
    machine_.Advance(kClockStretchTimeoutNs);
    return true;
}

uint32_t PlatformI2cBus::Transfer(uint8_t address7, const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                                  uint32_t* transferred) {
    Message m{address7, {}, rlen, {}, kFull};
    uint32_t moved = 0;
    I2cSlave* slave = SlaveAt(address7);
    auto finish = [&](uint32_t status) {
        if (slave) slave->Stop();
        m.status = status;
        messages_.push_back(m);
        *transferred = moved;
        return status;
    };
    // Address phase; nobody there answers with a NAK.
    auto addressed = [&](bool reading) {
        machine_.Advance(kByteNs);
        return slave != nullptr && slave->Start(reading);
    };

    if (wlen != 0) {
        if (!addressed(false)) return finish(kAddressNak);
        for (uint32_t i = 0; i < wlen; ++i) {
            if (Stalled(*slave)) return finish(kStretchTimeout);
            machine_.Advance(kByteNs);
            m.written.push_back(write[i]);
            if (!slave->WriteByte(write[i])) return finish(kPartial);
            ++moved;
        }
    }
    if (rlen != 0) {
        if (!addressed(true)) return finish(wlen != 0 ? kPartial : kAddressNak);
        for (uint32_t i = 0; i < rlen; ++i) {
            if (Stalled(*slave)) return finish(kStretchTimeout);
            machine_.Advance(kByteNs);
            read[i] = slave->ReadByte();
            m.read.push_back(read[i]);
            ++moved;
        }
    }
    return finish(kFull);
}

bool CutOffSlave::Start(bool read) {
    reading_ = read;
    count_ = 0;
    return true;
}

bool CutOffSlave::WriteByte(uint8_t) { return count_++ < limit_; }

uint8_t CutOffSlave::ReadByte() { return uint8_t(first_ + count_++); }

} // namespace vek::sim
