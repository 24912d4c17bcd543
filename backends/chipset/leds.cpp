// LEDs and the button on chipset pads, and the processor core voltage.
#include <cstdint>

#include "backends/chipset/chipset.h"
#include "hal/hal.h"
#include "vek/vek.h"

namespace vek::chipset {
namespace {

constexpr uint32_t kVoltageCoreChannel = 0;
constexpr uint32_t kVoltageLastChannel = 6;
constexpr uint32_t kButtons = 1;

uint32_t LedGet(DeviceContext& ctx, uint32_t led, uint32_t* value) {
    if (led >= LEDS) return VEK_ERR_ARGUMENT;
    const Pad& pad = Area(ctx).leds[led];
    if (pad.base == 0) return VEK_ERR_UNSUPPORTED;
    uint8_t state = 0, buffers = 0;
    hal::ReadPhysical(pad.base, uint16_t(pad.offset + PAD_STATE), &state, 1, 1);
    hal::ReadPhysical(pad.base, uint16_t(pad.offset + PAD_BUFFERS), &buffers, 1, 1); // read, not used
    *value = state & PAD_STATE_TX;
    return VEK_OK;
}

// The LED's level is the pad's output state; the whole state byte is written.
uint32_t LedSet(DeviceContext& ctx, uint32_t led, uint32_t value) {
    if (led >= LEDS || value > 1) return VEK_ERR_ARGUMENT;
    const Pad& pad = Area(ctx).leds[led];
    if (pad.base == 0) return VEK_ERR_UNSUPPORTED;
    const uint8_t state = uint8_t(value);
    hal::WritePhysical(pad.base, uint16_t(pad.offset + PAD_STATE), &state, 1, 1);
    return VEK_OK;
}

// A press latches the status bit until it is written back.
uint32_t ButtonGet(DeviceContext& ctx, uint32_t button, uint32_t* state) {
    if (button >= kButtons) return VEK_ERR_ARGUMENT;
    const Pad& pad = Area(ctx).button;
    if (pad.base == 0) return VEK_ERR_UNSUPPORTED;
    uint8_t status = 0;
    hal::ReadPhysical(pad.base, pad.offset, &status, 1, 1);
    *state = (status & BUTTON_PRESSED) ? 1 : 0;
    const uint8_t clear = BUTTON_PRESSED;
    hal::WritePhysical(pad.base, pad.offset, &clear, 1, 1);
    return VEK_OK;
}

// Channel 0 only; the embedded controller uses it for its own channel 0. A
// processor without the register answers 10.
uint32_t CoreVoltage(DeviceContext&, uint32_t channel, double* value) {
    if (channel > kVoltageLastChannel) return VEK_ERR_ARGUMENT;
    if (channel != kVoltageCoreChannel) return VEK_ERR_UNSUPPORTED;
    uint32_t low = 0, high = 0;
    if (!hal::ReadMsr(MSR_PERF_STATUS, &low, &high)) return VEK_ERR_UNSUPPORTED;
    *value = (high & 0xFFFF) * kVoltsPerCount;
    return VEK_OK;
}

} // namespace

void FillPadDeviceOps(BackendOps& ops) {
    ops.ledGet = &LedGet;
    ops.ledSet = &LedSet;
    ops.buttonGet = &ButtonGet;
    ops.voltage = &CoreVoltage;
}

} // namespace vek::chipset
