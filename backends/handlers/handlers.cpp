// GPIO expander on the chipset SMBus and LEDs on chipset GPIO pads.
#include "backends/handlers/handlers.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "hal/hal.h"
#include "vek/vek.h"

namespace vek::special {
namespace {

// ---------------------------------------------------------------- GPIO expander

// 8-bit expander at address byte 0x40; bit p-1 belongs to pin p.
constexpr uint8_t kExpanderAddress = 0x40;
constexpr uint8_t kRegDirection = 0x00; // 1 = input
constexpr uint8_t kRegPort = 0x09;      // pin levels
constexpr uint8_t kRegLatch = 0x0A;     // output latch
constexpr uint8_t kAllInputs = 0xFF;
constexpr uint32_t kExpanderPins = 8;

// Boards that carry the expander.
constexpr uint32_t kExpanderBoards[] = {79, 107, 109, 111, 126, 144};

uint32_t ReadReg(DeviceContext& ctx, uint8_t reg, uint8_t* value) {
    const SmbusOps* smbus = Smbus();
    if (smbus == nullptr || smbus->byteData == nullptr) return VEK_ERR_UNSUPPORTED;
    return smbus->byteData(ctx, 1, kExpanderAddress, reg, value);
}

uint32_t WriteReg(DeviceContext& ctx, uint8_t reg, uint8_t value) {
    const SmbusOps* smbus = Smbus();
    if (smbus == nullptr || smbus->byteData == nullptr) return VEK_ERR_UNSUPPORTED;
    return smbus->byteData(ctx, 0, kExpanderAddress, reg, &value);
}

bool SetOk(const DeviceContext& ctx, int32_t set) { return set >= 1 && uint32_t(set) <= ctx.gpioSets[0] && set <= 9; }
bool PinOk(const DeviceContext& ctx, int32_t set, int32_t pin) {
    return SetOk(ctx, set) && pin >= 1 && uint32_t(pin) <= ctx.gpioSets[set];
}
uint8_t PinBit(int32_t pin) { return uint8_t(1u << (pin - 1)); }

uint32_t ExpanderStart(DeviceContext& ctx) {
    if (std::find(std::begin(kExpanderBoards), std::end(kExpanderBoards), ctx.boardId) == std::end(kExpanderBoards))
        return VEK_ERR_UNSUPPORTED;
    ctx.caps[CAP_GPIO] = 1;
    std::fill(std::begin(ctx.gpioSets), std::end(ctx.gpioSets), 0u);
    ctx.gpioSets[0] = 1;
    ctx.gpioSets[1] = kExpanderPins;
    return VEK_OK;
}

uint32_t SetPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t direction) {
    if (!PinOk(ctx, set, pin) || direction > 1) return VEK_ERR_ARGUMENT;
    uint8_t dir = 0;
    if (uint32_t r = ReadReg(ctx, kRegDirection, &dir)) return r;
    dir = direction ? uint8_t(dir | PinBit(pin)) : uint8_t(dir & ~PinBit(pin));
    if (uint32_t r = WriteReg(ctx, kRegDirection, dir)) return r;
    return ReadReg(ctx, kRegDirection, &dir); // read back: the expander latched it
}

uint32_t SetDirection(DeviceContext& ctx, int32_t set, uint8_t mask) {
    if (!SetOk(ctx, set)) return VEK_ERR_ARGUMENT;
    return WriteReg(ctx, kRegDirection, mask);
}

uint32_t ReadPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* direction) {
    if (!PinOk(ctx, set, pin) || direction == nullptr) return VEK_ERR_ARGUMENT;
    uint8_t dir = 0;
    if (uint32_t r = ReadReg(ctx, kRegDirection, &dir)) return r;
    *direction = (dir & PinBit(pin)) ? 1 : 0;
    return VEK_OK;
}

uint32_t ReadDirection(DeviceContext& ctx, int32_t set, uint8_t* mask) {
    if (!SetOk(ctx, set) || mask == nullptr) return VEK_ERR_ARGUMENT;
    *mask = 0;
    return ReadReg(ctx, kRegDirection, mask);
}

// An input pin reads its level, an output pin its latch.
uint32_t ReadPin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* value) {
    if (!PinOk(ctx, set, pin) || value == nullptr) return VEK_ERR_ARGUMENT;
    uint8_t dir = 0;
    if (uint32_t r = ReadReg(ctx, kRegDirection, &dir)) return r;
    uint8_t bits = 0;
    ReadReg(ctx, (dir & PinBit(pin)) ? kRegPort : kRegLatch, &bits);
    *value = (bits & PinBit(pin)) ? 1 : 0;
    return VEK_OK;
}

uint32_t Read(DeviceContext& ctx, int32_t set, uint8_t* value) {
    if (!SetOk(ctx, set) || value == nullptr) return VEK_ERR_ARGUMENT;
    *value = 0;
    uint8_t dir = 0, port = 0, latch = 0;
    if (uint32_t r = ReadReg(ctx, kRegDirection, &dir)) return r;
    if (uint32_t r = ReadReg(ctx, kRegPort, &port)) return r;
    if (uint32_t r = ReadReg(ctx, kRegLatch, &latch)) return r;
    *value = uint8_t((port & dir) | (latch & ~dir));
    return VEK_OK;
}

uint32_t WritePin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t value) {
    if (!PinOk(ctx, set, pin)) return VEK_ERR_ARGUMENT;
    uint8_t dir = 0, latch = 0;
    if (uint32_t r = ReadReg(ctx, kRegDirection, &dir)) return r;
    if (dir & PinBit(pin)) return VEK_ERR_STATE;
    if (uint32_t r = ReadReg(ctx, kRegLatch, &latch)) return r;
    if (value > 1) return VEK_ERR_ARGUMENT;
    return WriteReg(ctx, kRegLatch, value ? uint8_t(latch | PinBit(pin)) : uint8_t(latch & ~PinBit(pin)));
}

// Only the output pins take the new value; input pins keep their latch bits.
uint32_t Write(DeviceContext& ctx, int32_t set, uint8_t value) {
    if (!SetOk(ctx, set)) return VEK_ERR_ARGUMENT;
    uint8_t dir = 0, latch = 0;
    if (uint32_t r = ReadReg(ctx, kRegDirection, &dir)) return r;
    if (dir == kAllInputs) return VEK_ERR_STATE;
    if (uint32_t r = ReadReg(ctx, kRegLatch, &latch)) return r;
    return WriteReg(ctx, kRegLatch, uint8_t((latch & dir) | (value & ~dir)));
}

// ---------------------------------------------------------------- LEDs on chipset GPIO

// Each chipset GPIO has a 32-bit control register in the FCH MMIO window; its
// third byte carries the pad's level, output value and output enable.
constexpr uint32_t kGpioMmioBase = 0xFED81000;
constexpr uint16_t kGpioBankOffset = 0x500;
constexpr uint16_t kUnlistedGpioOffset = 0x501;
constexpr uint8_t kPadLevel = 1u << 0;
constexpr uint8_t kPadOutputValue = 1u << 6;
constexpr uint8_t kPadOutputEnable = 1u << 7;

constexpr uint16_t ControlByteOffset(uint32_t gpio) { return uint16_t(kGpioBankOffset + 4 * gpio + 2); }

// The pads the board routes to LEDs; the control byte of any other number is
// not decoded and falls back to a fixed offset.
struct PadOffset {
    uint32_t gpio;
    uint16_t offset;
};
constexpr auto kPadOffsets = [] {
    constexpr uint32_t kPads[] = {135, 136, 137, 138, 140, 141, 142, 143, 145, 146, 147, 148, 153, 154, 155, 156};
    std::array<PadOffset, std::size(kPads)> table{};
    for (size_t i = 0; i < table.size(); ++i) table[i] = {kPads[i], ControlByteOffset(kPads[i])};
    return table;
}();

uint16_t PadOffsetOf(uint32_t gpio) {
    for (const PadOffset& p : kPadOffsets)
        if (p.gpio == gpio) return p.offset;
    return kUnlistedGpioOffset;
}

constexpr std::array<uint32_t, 12> kLedGpio = {135, 136, 137, 138, 140, 141, 142, 143, 153, 154, 155, 156};

uint32_t LedGet(DeviceContext&, uint32_t led, uint32_t* value) {
    if (led >= kLedGpio.size() || value == nullptr) return VEK_ERR_ARGUMENT;
    uint8_t control = 0;
    if (hal::ReadPhysical(kGpioMmioBase, PadOffsetOf(kLedGpio[led]), &control, 1, 1) == 0) return VEK_ERR_READ;
    *value = control & kPadLevel;
    return VEK_OK;
}

uint32_t LedSet(DeviceContext&, uint32_t led, uint32_t value) {
    if (value > 1 || led >= kLedGpio.size()) return VEK_ERR_ARGUMENT;
    const uint16_t offset = PadOffsetOf(kLedGpio[led]);
    uint8_t control = 0;
    if (hal::ReadPhysical(kGpioMmioBase, offset, &control, 1, 1) == 0) return VEK_ERR_READ;
    control |= kPadOutputEnable;
    control = value ? uint8_t(control | kPadOutputValue) : uint8_t(control & ~kPadOutputValue);
    if (hal::WritePhysical(kGpioMmioBase, offset, &control, 1, 1) == 0) return VEK_ERR_WRITE;
    return VEK_OK;
}

} // namespace

const SpecialOps& Ops() {
    static const SpecialOps ops = [] {
        SpecialOps o{};
        o.gpioStart = &ExpanderStart;
        o.gpio.gpioSetDirection = &SetDirection;
        o.gpio.gpioReadDirection = &ReadDirection;
        o.gpio.gpioRead = &Read;
        o.gpio.gpioWrite = &Write;
        o.gpio.gpioSetPinDirection = &SetPinDirection;
        o.gpio.gpioReadPinDirection = &ReadPinDirection;
        o.gpio.gpioReadPin = &ReadPin;
        o.gpio.gpioWritePin = &WritePin;
        o.ledSet = &LedSet;
        o.ledGet = &LedGet;
        return o;
    }();
    return ops;
}

} // namespace vek::special
