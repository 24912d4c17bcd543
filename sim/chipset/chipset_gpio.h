// GPIO of the chipset side: the I/O hub's GPIO block (PCI function 02:00.2,
// registers behind its memory BAR) and the SoC's pad-configuration registers.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "sim/devices.h"

namespace vek::sim {

class Machine;

// I/O hub GPIO block, 32-bit registers (byte access allowed):
//   0x18 PO output latch   0x1C PI pin levels (read only)   0x20 PM direction, 1 = output
// An output pin's level is its latch bit; an input pin follows the outside.
class GpioBlock : public Device, public MemoryDevice {
public:
    static constexpr uint32_t kPo = 0x18, kPi = 0x1C, kPm = 0x20;
    static constexpr uint64_t kWindow = 0x100;
    static constexpr uint32_t kCfgBar1 = 0x14;

    // Registers the PCI function at bus/device/function with its BAR at `base`.
    GpioBlock(Machine& machine, uint64_t base);
    const char* name() const override { return "I/O hub GPIO block"; }
    uint32_t ReadMemory(uint64_t address, unsigned width) override;
    void WriteMemory(uint64_t address, unsigned width, uint32_t value) override;

    uint32_t latch() const { return po_; }
    uint32_t direction() const { return pm_; }
    uint32_t Levels() const { return (po_ & pm_) | (outside_ & ~pm_); }
    void SetOutside(uint32_t levels) { outside_ = levels; }
    void SetRegisters(uint32_t direction, uint32_t latch) { pm_ = direction; po_ = latch; }

private:
    uint32_t Register(uint32_t reg) const;
    uint64_t base_;
    uint32_t po_ = 0, pm_ = 0, outside_ = 0;
};

// A community of pad-configuration registers in memory. Each pad's first dword:
//   bit 0 output state (TX), bit 1 input state (RX, read only),
//   bit 8 output buffer disabled, bit 9 input buffer disabled, bits 10..12 pad mode,
//   byte 3 reset and event configuration.
// A pad with its output buffer on drives its TX state; otherwise the outside
// drives it. RX shows the pin only while the input buffer is on. Status
// registers latch events and clear the bits written as 1. Everything else in the
// window is plain storage.
class PadCommunity : public Device, public MemoryDevice {
public:
    static constexpr uint8_t kTx = 0x01, kRx = 0x02;
    static constexpr uint8_t kTxDisabled = 0x01, kRxDisabled = 0x02; // in byte 1
    static constexpr uint8_t kModeInput = kTxDisabled, kModeOutput = kRxDisabled, kModeOff = 0x03;

    PadCommunity(Machine& machine, uint64_t base, uint64_t size, const char* name);
    const char* name() const override { return name_; }
    uint32_t ReadMemory(uint64_t address, unsigned width) override;
    void WriteMemory(uint64_t address, unsigned width, uint32_t value) override;

    // A pad at `offset` with its buffers set as byte 1's low bits say.
    void AddPad(uint16_t offset, uint8_t buffers, uint8_t tx = 0);
    void AddStatusRegister(uint16_t offset);
    void SetOutside(uint16_t pad, bool level) { pads_.at(pad).outside = level; }
    void Latch(uint16_t status, uint8_t bits) { status_.at(status) |= bits; }

    uint8_t Byte(uint16_t offset) { return ReadByte(offset); }
    bool Level(uint16_t pad) const;
    uint8_t Buffers(uint16_t pad) const { return pads_.at(pad).bytes[1] & 0x03; }

private:
    struct PadState {
        uint8_t bytes[4];
        bool outside;
    };
    uint8_t ReadByte(uint16_t offset);
    void WriteByte(uint16_t offset, uint8_t value);

    uint64_t base_;
    const char* name_;
    std::vector<uint8_t> plain_;
    std::map<uint16_t, PadState> pads_;
    std::map<uint16_t, uint8_t> status_;
};

} // namespace vek::sim
