// Interfaces through which simulated chips attach to a Machine.
//
// A chip model is a Device (owned by the Board) that implements one or more of
// the access interfaces below and registers itself with the Machine: a range of
// I/O ports, a physical-memory window, hooks on a PCI function's configuration
// space, or the ZKEC controller. The Machine calls these with its own lock held
// and with the virtual clock already advanced to the moment of the access, so a
// model that times its status bits reads Machine::now_ns().
#pragma once

#include <array>
#include <cstdint>

namespace vek::sim {

class Machine;

// Anything a Board owns and keeps alive for the Machine's lifetime.
class Device {
public:
    virtual ~Device() = default;
    virtual const char* name() const = 0;
};

// A firmware or chip timer counting down in virtual time (watchdogs, relay
// timers): whether it runs, when it fires, and how often it has fired.
struct TimerState {
    bool running = false;
    int64_t deadlineNs = 0;
    int64_t timeoutNs = 0;
    int expiries = 0;
    int64_t lastExpiryNs = -1;
};

// I/O ports. width is 1, 2 or 4. A multi-byte access goes whole to the device
// that claims its first port; the model splits it if the chip decodes bytes.
class PortDevice {
public:
    virtual ~PortDevice() = default;
    virtual uint32_t ReadPort(uint16_t port, unsigned width) = 0;
    virtual void WritePort(uint16_t port, unsigned width, uint32_t value) = 0;
};

// Memory-mapped registers. width is the request's unit size (1, 2 or 4).
class MemoryDevice {
public:
    virtual ~MemoryDevice() = default;
    virtual uint32_t ReadMemory(uint64_t address, unsigned width) = 0;
    virtual void WriteMemory(uint64_t address, unsigned width, uint32_t value) = 0;
};

// One PCI function's 256-byte configuration space.
struct PciFunction {
    std::array<uint8_t, 256> config{};
    class PciConfigHook* hook = nullptr; // side effects; null = plain storage

    uint32_t Load(uint32_t offset, unsigned width) const {
        uint32_t v = 0;
        for (unsigned i = 0; i < width; ++i) v |= uint32_t(config[(offset + i) & 0xFF]) << (8 * i);
        return v;
    }
    void Store(uint32_t offset, unsigned width, uint32_t value) {
        for (unsigned i = 0; i < width; ++i) config[(offset + i) & 0xFF] = uint8_t(value >> (8 * i));
    }
};

// Config-space side effects: write-1-to-clear bits, read-only fields, a BAR that
// moves a port range. The defaults behave as plain storage.
class PciConfigHook {
public:
    virtual ~PciConfigHook() = default;
    virtual uint32_t ReadConfig(PciFunction& fn, uint32_t offset, unsigned width) {
        return fn.Load(offset, width);
    }
    virtual void WriteConfig(PciFunction& fn, uint32_t offset, unsigned width, uint32_t value) {
        fn.Store(offset, width, value);
    }
};

// The controller behind the ZKEC driver. Without one, the Machine answers reads
// from its own 256-byte register file. A false return is a request the
// controller refused; the driver then fails it.
class ZkecDevice {
public:
    virtual ~ZkecDevice() = default;
    virtual bool Begin() { return true; }
    virtual bool End() { return true; }
    virtual bool ReadRegister(uint8_t reg, uint8_t* value) = 0;
};

// A platform I2C controller as the operating system's I2C driver offers it: a
// slave is opened by its 7-bit address (the bus is not touched), then moved in
// whole transfers: a write, a read, or a write then a read after a repeated start.
class PlatformI2cController {
public:
    virtual ~PlatformI2cController() = default;
    // False when the slave is in use or unavailable.
    virtual bool OpenSlave(uint8_t address7) = 0;
    virtual void CloseSlave(uint8_t address7) { (void)address7; }
    // The transfer status (0 full, 1 partial, 2 address not acknowledged,
    // 3 clock-stretch time-out, 4 unknown error); *transferred receives the
    // bytes written plus the bytes read.
    virtual uint32_t Transfer(uint8_t address7, const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                              uint32_t* transferred) = 0;
};

} // namespace vek::sim
