// Rules that need no board: which values no working sensor gives, and which
// bus addresses must not see a quick write.
#include <cmath>
#include <iterator>

#include "tools/vekctl/vekctl.h"

namespace vekctl {

namespace {

// What no working sensor reports. An all-ones byte reads 255 or 510 °C, a
// full-scale ADC count, a tachometer that never saw a pulse.
constexpr double kMinCelsius = -55, kMaxCelsius = 150;
constexpr double kMaxAmperes = 100.0;
constexpr double kMaxRpm = 30000.0;

// The highest rail each voltage input carries on any of the monitor chips.
// Boards wire the same input alike within a few rails: in0 is the processor
// core (3.3 V on a few boards), in2 3.3 V or 5 V, in4 12 V (5 V on some), in6
// the 3 V coin cell. A reading above twice that rail is a converter at full
// scale or a register of all ones, not a voltage. Inputs without a row carry
// at most the 12 V rail.
constexpr double kHighestRailVolts = 12.0;
constexpr double kRailVolts[] = {
    3.3,  // in0  processor core, or 3.3 V
    3.3,  // in1
    5.0,  // in2  3.3 V or 5 V
    5.0,  // in3  5 V
    12.0, // in4  12 V
    kHighestRailVolts, // in5
    3.0,  // in6  battery
};

} // namespace

double RailVolts(uint32_t channel) {
    return channel < std::size(kRailVolts) ? kRailVolts[channel] : kHighestRailVolts;
}

const char* Implausible(Reading::Kind kind, uint32_t index, double value, bool fanDriven) {
    if (!std::isfinite(value)) return "not a number";
    switch (kind) {
    case Reading::CpuTemperature:
    case Reading::Temperature:
        return value < kMinCelsius || value > kMaxCelsius ? "outside -55..150 °C" : nullptr;
    case Reading::Voltage:
        // No rail here is negative; the converters read 0..full scale.
        if (value < 0) return "below 0 V";
        return value > 2 * RailVolts(index) ? "above twice its rail" : nullptr;
    case Reading::Current:
        return std::fabs(value) > kMaxAmperes ? "beyond 100 A" : nullptr;
    case Reading::Fan:
        if (value > kMaxRpm) return "above 30000 RPM";
        return value == 0 && fanDriven ? "0 RPM while its controller drives it" : nullptr;
    }
    return nullptr;
}

// 0x30..0x37 are the write-protect commands of some EEPROMs and 0x50..0x5F
// the EEPROMs themselves: some take a quick write as a write-protect command.
bool ProbeByRead(uint32_t address) { return (address >= 0x30 && address <= 0x37) || (address >= 0x50 && address <= 0x5F); }

} // namespace vekctl
