// Pieces the Super I/O backends share: port access paced by the backend's
// IoDelay, and the resistor divider in front of a monitor input.
#pragma once

#include <cstdint>

#include "platform/process.h"
#include "hal/hal.h"

namespace vek::superio {

// Every port access of a Super I/O backend is followed by its kind's IoDelay
// (which VEK_API_SetIOSleepTime sets).
inline void Pause(uint32_t kind) { hal::Delay(*IoDelayOf(kind)); }

inline void PortWrite(uint32_t kind, uint16_t port, uint8_t value) {
    hal::WritePortByte(port, value);
    Pause(kind);
}

// A failed request reads as a floating bus.
inline uint8_t PortRead(uint32_t kind, uint16_t port) {
    uint8_t v = 0xFF;
    hal::ReadPortByte(port, &v);
    Pause(kind);
    return v;
}

// volts at the pin = reading * (upper + lower) / lower. A pair without a lower
// resistor would divide by zero: such an input reads unscaled.
struct Divider {
    double upper; // R1
    double lower; // R2
    double Scale() const { return lower != 0 ? (upper + lower) / lower : 1.0; }
};

} // namespace vek::superio
