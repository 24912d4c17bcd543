#include "sim/chipset/chipset_gpio.h"

#include "sim/machine.h"

namespace vek::sim {
namespace {
constexpr uint32_t kCfgVendorDevice = 0x00;
constexpr uint32_t kIoHubGpioId = 0x8086 | (0x8803u << 16);
constexpr uint32_t kBus = 2, kDevice = 0, kFunction = 2;

uint32_t Window(uint32_t value, uint64_t shiftBytes, unsigned width) {
    const uint32_t v = value >> (8 * shiftBytes);
    return width >= 4 ? v : v & ((1u << (8 * width)) - 1);
}
} // namespace

// ---------------------------------------------------------------- GPIO block

GpioBlock::GpioBlock(Machine& machine, uint64_t base) : base_(base) {
    PciFunction& fn = machine.AddPciFunction(kBus, kDevice, kFunction);
    fn.Store(kCfgVendorDevice, 4, kIoHubGpioId);
    fn.Store(kCfgBar1, 4, uint32_t(base)); // 32-bit, non-prefetchable memory BAR
    machine.MapMemoryDevice(base, kWindow, this);
}

uint32_t GpioBlock::Register(uint32_t reg) const {
    switch (reg) {
    case kPo: return po_;
    case kPi: return Levels();
    case kPm: return pm_;
    default: return 0;
    }
}

uint32_t GpioBlock::ReadMemory(uint64_t address, unsigned width) {
    const uint64_t offset = address - base_;
    return Window(Register(uint32_t(offset & ~3ull)), offset & 3, width);
}

void GpioBlock::WriteMemory(uint64_t address, unsigned width, uint32_t value) {
    const uint64_t offset = address - base_;
    const uint32_t reg = uint32_t(offset & ~3ull);
    const unsigned shift = unsigned(offset & 3) * 8;
    const uint32_t mask = (width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1) << shift;
    auto merge = [&](uint32_t& r) { r = (r & ~mask) | ((value << shift) & mask); };
    if (reg == kPo) merge(po_);
    else if (reg == kPm) merge(pm_);
}

// ---------------------------------------------------------------- pads

PadCommunity::PadCommunity(Machine& machine, uint64_t base, uint64_t size, const char* name)
    : base_(base), name_(name), plain_(size, 0) {
    machine.MapMemoryDevice(base, size, this);
}

void PadCommunity::AddPad(uint16_t offset, uint8_t buffers, uint8_t tx) {
    pads_[offset] = PadState{{uint8_t(tx & kTx), uint8_t(buffers & 0x03), 0, 0}, false};
}

void PadCommunity::AddStatusRegister(uint16_t offset) { status_[offset] = 0; }

bool PadCommunity::Level(uint16_t pad) const {
    const PadState& p = pads_.at(pad);
    return (p.bytes[1] & kTxDisabled) ? p.outside : (p.bytes[0] & kTx) != 0;
}

uint8_t PadCommunity::ReadByte(uint16_t offset) {
    if (auto s = status_.find(offset); s != status_.end()) return s->second;
    const uint16_t dword = uint16_t(offset & ~3u);
    if (auto p = pads_.find(dword); p != pads_.end()) {
        const unsigned i = offset & 3u;
        if (i != 0) return p->second.bytes[i];
        const bool rx = !(p->second.bytes[1] & kRxDisabled) && Level(dword);
        return uint8_t((p->second.bytes[0] & ~kRx) | (rx ? kRx : 0));
    }
    return offset < plain_.size() ? plain_[offset] : 0xFF;
}

void PadCommunity::WriteByte(uint16_t offset, uint8_t value) {
    if (auto s = status_.find(offset); s != status_.end()) {
        s->second &= uint8_t(~value); // write 1 to clear
        return;
    }
    const uint16_t dword = uint16_t(offset & ~3u);
    if (auto p = pads_.find(dword); p != pads_.end()) {
        const unsigned i = offset & 3u;
        p->second.bytes[i] = i == 0 ? uint8_t(value & ~kRx) : value;
        return;
    }
    if (offset < plain_.size()) plain_[offset] = value;
}

uint32_t PadCommunity::ReadMemory(uint64_t address, unsigned width) {
    uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i) v |= uint32_t(ReadByte(uint16_t(address - base_ + i))) << (8 * i);
    return v;
}

void PadCommunity::WriteMemory(uint64_t address, unsigned width, uint32_t value) {
    for (unsigned i = 0; i < width; ++i) WriteByte(uint16_t(address - base_ + i), uint8_t(value >> (8 * i)));
}

} // namespace vek::sim
