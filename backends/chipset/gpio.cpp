// GPIO on the I/O hub's GPIO block and on chipset pad-configuration registers.
#include <cstdint>

#include "backends/chipset/chipset.h"
#include "hal/hal.h"
#include "vek/vek.h"

namespace vek::chipset {
namespace {

constexpr uint8_t DIR_OUTPUT = 0, DIR_INPUT = 1;

uint8_t ReadByteAt(uint32_t base, uint16_t offset) {
    uint8_t v = 0;
    hal::ReadPhysical(base, offset, &v, 1, 1);
    return v;
}
void WriteByteAt(uint32_t base, uint16_t offset, uint8_t v) { hal::WritePhysical(base, offset, &v, 1, 1); }

uint8_t Bit(int32_t pin) { return uint8_t(1u << (pin - 1)); }

// ---------------------------------------------------------------- GPIO block

bool BlockPin(int32_t pin) { return pin >= 1 && uint32_t(pin) <= GPIO_BLOCK_PINS; }

uint32_t BlockSetPinDirection(DeviceContext& ctx, int32_t, int32_t pin, uint8_t direction) {
    ChipsetArea& a = Area(ctx);
    if (!BlockPin(pin)) return VEK_ERR_ARGUMENT;
    if (direction != DIR_OUTPUT) a.directionShadow &= uint8_t(~Bit(pin));
    else a.directionShadow |= Bit(pin);
    WriteByteAt(a.gpioBlockBase, GPIO_DIRECTION, a.directionShadow);
    return VEK_OK;
}

uint32_t BlockReadPinDirection(DeviceContext& ctx, int32_t, int32_t pin, uint8_t* direction) {
    ChipsetArea& a = Area(ctx);
    if (!BlockPin(pin)) return VEK_ERR_ARGUMENT;
    a.directionShadow = ReadByteAt(a.gpioBlockBase, GPIO_DIRECTION);
    *direction = (a.directionShadow & Bit(pin)) ? DIR_OUTPUT : DIR_INPUT;
    return VEK_OK;
}

uint32_t BlockReadPin(DeviceContext& ctx, int32_t, int32_t pin, uint8_t* value) {
    const ChipsetArea& a = Area(ctx);
    if (!BlockPin(pin)) return VEK_ERR_ARGUMENT;
    const bool output = (a.directionShadow & Bit(pin)) != 0;
    *value = (ReadByteAt(a.gpioBlockBase, output ? GPIO_OUTPUT : GPIO_INPUT) & Bit(pin)) ? 1 : 0;
    return VEK_OK;
}

// An input pin is left alone.
uint32_t BlockWritePin(DeviceContext& ctx, int32_t, int32_t pin, uint8_t value) {
    const ChipsetArea& a = Area(ctx);
    if (!BlockPin(pin)) return VEK_ERR_ARGUMENT;
    if ((a.directionShadow & Bit(pin)) == 0) return VEK_OK;
    uint8_t latch = ReadByteAt(a.gpioBlockBase, GPIO_OUTPUT);
    latch = value ? uint8_t(latch | Bit(pin)) : uint8_t(latch & ~Bit(pin));
    WriteByteAt(a.gpioBlockBase, GPIO_OUTPUT, latch);
    return VEK_OK;
}

uint32_t BlockSetDirection(DeviceContext& ctx, int32_t, uint8_t mask) {
    ChipsetArea& a = Area(ctx);
    a.directionShadow = uint8_t(~mask);
    WriteByteAt(a.gpioBlockBase, GPIO_DIRECTION, a.directionShadow);
    return VEK_OK;
}

uint32_t BlockReadDirection(DeviceContext& ctx, int32_t, uint8_t* mask) {
    ChipsetArea& a = Area(ctx);
    a.directionShadow = ReadByteAt(a.gpioBlockBase, GPIO_DIRECTION);
    *mask = uint8_t(~a.directionShadow);
    return VEK_OK;
}

// ---------------------------------------------------------------- pads

// The pad of a pin, or null for a pin the board does not wire.
const Pad* PadOf(DeviceContext& ctx, int32_t set, int32_t pin) {
    if (set < 1 || uint32_t(set) > PAD_SETS || pin < 1 || uint32_t(pin) > PADS_PER_SET) return nullptr;
    const Pad& pad = Area(ctx).pads[set - 1][pin - 1];
    return pad.base != 0 ? &pad : nullptr;
}

uint8_t PadMode(const Pad& pad) { return ReadByteAt(pad.base, uint16_t(pad.offset + PAD_BUFFERS)); }

uint32_t PadSetPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t direction) {
    const Pad* pad = PadOf(ctx, set, pin);
    if (pad == nullptr || direction > DIR_INPUT) return VEK_ERR_ARGUMENT;
    const uint8_t m = PadMode(*pad);
    const uint8_t mode = m & PAD_BUFFERS_MASK;
    if (mode != PAD_MODE_INPUT && mode != PAD_MODE_OUTPUT) return VEK_ERR_READ;
    const uint8_t wanted = direction == DIR_INPUT ? PAD_MODE_INPUT : PAD_MODE_OUTPUT;
    WriteByteAt(pad->base, uint16_t(pad->offset + PAD_BUFFERS), uint8_t((m & ~PAD_BUFFERS_MASK) | wanted));
    return VEK_OK;
}

uint32_t PadReadPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* direction) {
    const Pad* pad = PadOf(ctx, set, pin);
    if (pad == nullptr) return VEK_ERR_ARGUMENT;
    switch (PadMode(*pad) & PAD_BUFFERS_MASK) {
    case PAD_MODE_INPUT: *direction = DIR_INPUT; return VEK_OK;
    case PAD_MODE_OUTPUT: *direction = DIR_OUTPUT; return VEK_OK;
    default: return VEK_ERR_READ;
    }
}

uint32_t PadReadPin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* value) {
    const Pad* pad = PadOf(ctx, set, pin);
    if (pad == nullptr) return VEK_ERR_ARGUMENT;
    uint8_t level;
    switch (PadMode(*pad) & PAD_BUFFERS_MASK) {
    case PAD_MODE_INPUT: level = PAD_STATE_RX; break;
    case PAD_MODE_OUTPUT: level = PAD_STATE_TX; break;
    default: return VEK_ERR_READ;
    }
    *value = (ReadByteAt(pad->base, uint16_t(pad->offset + PAD_STATE)) & level) ? 1 : 0;
    return VEK_OK;
}

uint32_t PadWritePin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t value) {
    const Pad* pad = PadOf(ctx, set, pin);
    if (pad == nullptr || value > 1) return VEK_ERR_ARGUMENT;
    switch (PadMode(*pad) & PAD_BUFFERS_MASK) {
    case PAD_MODE_INPUT: return VEK_ERR_STATE;
    case PAD_MODE_OUTPUT: break;
    default: return VEK_ERR_WRITE;
    }
    WriteByteAt(pad->base, uint16_t(pad->offset + PAD_STATE), value);
    return VEK_OK;
}

// ---------------------------------------------------------------- dispatch by layout

struct PinOps {
    uint32_t (*setDirection)(DeviceContext&, int32_t, int32_t, uint8_t);
    uint32_t (*readDirection)(DeviceContext&, int32_t, int32_t, uint8_t*);
    uint32_t (*read)(DeviceContext&, int32_t, int32_t, uint8_t*);
    uint32_t (*write)(DeviceContext&, int32_t, int32_t, uint8_t);
};
constexpr PinOps kBlockPins = {&BlockSetPinDirection, &BlockReadPinDirection, &BlockReadPin, &BlockWritePin};
constexpr PinOps kPadPins = {&PadSetPinDirection, &PadReadPinDirection, &PadReadPin, &PadWritePin};

// The pin routines of the layout the board has; null when it has no GPIO here
// (a zero base would put the registers at physical address 0).
const PinOps* PinsOf(const DeviceContext& ctx) {
    switch (AreaOf<ChipsetArea>(ctx).gpio) {
    case GpioLayout::Block: return &kBlockPins;
    case GpioLayout::Pads: return &kPadPins;
    default: return nullptr;
    }
}

uint32_t PinCount(const DeviceContext& ctx, int32_t set) {
    return (set >= 1 && set <= 9) ? ctx.gpioSets[set] : 0;
}

template <class Fn, class... Args>
uint32_t OnPin(Fn PinOps::*op, DeviceContext& ctx, int32_t set, int32_t pin, Args... args) {
    const PinOps* pins = PinsOf(ctx);
    return pins ? (pins->*op)(ctx, set, pin, args...) : VEK_ERR_UNSUPPORTED;
}

uint32_t SetPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t direction) {
    return OnPin(&PinOps::setDirection, ctx, set, pin, direction);
}
uint32_t ReadPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* direction) {
    return OnPin(&PinOps::readDirection, ctx, set, pin, direction);
}
uint32_t ReadPin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* value) {
    return OnPin(&PinOps::read, ctx, set, pin, value);
}
uint32_t WritePin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t value) {
    return OnPin(&PinOps::write, ctx, set, pin, value);
}

// Group operations go pin by pin over the set's pins; a pin that fails leaves
// its bit clear and the group still answers 0. The GPIO block moves its
// direction register in one write instead.
uint32_t SetDirection(DeviceContext& ctx, int32_t set, uint8_t mask) {
    const PinOps* pins = PinsOf(ctx);
    if (pins == nullptr) return VEK_ERR_UNSUPPORTED;
    if (pins == &kBlockPins) return BlockSetDirection(ctx, set, mask);
    for (uint32_t p = 1; p <= PinCount(ctx, set); ++p)
        pins->setDirection(ctx, set, int32_t(p), (mask & Bit(int32_t(p))) ? DIR_INPUT : DIR_OUTPUT);
    return VEK_OK;
}

uint32_t ReadDirection(DeviceContext& ctx, int32_t set, uint8_t* mask) {
    const PinOps* pins = PinsOf(ctx);
    if (pins == nullptr) return VEK_ERR_UNSUPPORTED;
    if (pins == &kBlockPins) return BlockReadDirection(ctx, set, mask);
    uint8_t bits = 0;
    for (uint32_t p = 1; p <= PinCount(ctx, set); ++p) {
        uint8_t direction = DIR_OUTPUT;
        if (pins->readDirection(ctx, set, int32_t(p), &direction) == VEK_OK && direction == DIR_INPUT)
            bits |= Bit(int32_t(p));
    }
    *mask = bits;
    return VEK_OK;
}

uint32_t Read(DeviceContext& ctx, int32_t set, uint8_t* value) {
    const PinOps* pins = PinsOf(ctx);
    if (pins == nullptr) return VEK_ERR_UNSUPPORTED;
    uint8_t bits = 0;
    for (uint32_t p = 1; p <= PinCount(ctx, set); ++p) {
        uint8_t level = 0;
        if (pins->read(ctx, set, int32_t(p), &level) == VEK_OK && level) bits |= Bit(int32_t(p));
    }
    *value = bits;
    return VEK_OK;
}

uint32_t Write(DeviceContext& ctx, int32_t set, uint8_t value) {
    const PinOps* pins = PinsOf(ctx);
    if (pins == nullptr) return VEK_ERR_UNSUPPORTED;
    for (uint32_t p = 1; p <= PinCount(ctx, set); ++p)
        pins->write(ctx, set, int32_t(p), (value & Bit(int32_t(p))) ? 1 : 0);
    return VEK_OK;
}

} // namespace

void FillGpioOps(BackendOps& ops) {
    ops.gpioSetDirection = &SetDirection;
    ops.gpioReadDirection = &ReadDirection;
    ops.gpioRead = &Read;
    ops.gpioWrite = &Write;
    ops.gpioSetPinDirection = &SetPinDirection;
    ops.gpioReadPinDirection = &ReadPinDirection;
    ops.gpioReadPin = &ReadPin;
    ops.gpioWritePin = &WritePin;
}

} // namespace vek::chipset
