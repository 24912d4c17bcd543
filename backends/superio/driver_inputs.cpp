#include "backends/superio/driver_inputs.h"

#include <cmath>
#include <iterator>
#include <span>

#include "vek/host.h"

namespace vek::superio {
namespace {

constexpr uint32_t T = VEK_HOST_HWMON_TEMPERATURE;
constexpr uint32_t V = VEK_HOST_HWMON_VOLTAGE;
constexpr uint32_t F = VEK_HOST_HWMON_FAN;

// Winbond/Nuvoton parts with an 8 mV ADC (w83627ehf, and nct6775 for the
// NCT6775F/6776F generation): in0-in6 in bank 0, in7-in9 in bank 5. The
// drivers double in2 (AVCC), in3 (3VCC), in7 (VSB) and in8 (VBAT), which the
// chip measures through internal halving dividers.
constexpr DriverInput kW83627ehf[] = {
    {V, 0, 0x20, 0, 1}, {V, 0, 0x21, 1, 1}, {V, 0, 0x22, 2, 2}, {V, 0, 0x23, 3, 2}, {V, 0, 0x24, 4, 1},
    {V, 0, 0x25, 5, 1}, {V, 0, 0x26, 6, 1}, {V, 5, 0x50, 7, 2}, {V, 5, 0x51, 8, 2}, {V, 5, 0x52, 9, 1},
    {T, 0, 0x27, 1, 1}, {T, 1, 0x50, 2, 1}, {T, 2, 0x50, 3, 1},
    {F, 0, 0x28, 1, 1}, {F, 0, 0x29, 2, 1}, {F, 0, 0x2A, 3, 1},
};
// nct6775 keeps SYSTIN and CPUTIN at fixed temp1/temp2; its fans are 13-bit
// counters elsewhere in the bank space, so no 8-bit count register maps.
constexpr DriverInput kNct6775[] = {
    {V, 0, 0x20, 0, 1}, {V, 0, 0x21, 1, 1}, {V, 0, 0x22, 2, 2}, {V, 0, 0x23, 3, 2}, {V, 0, 0x24, 4, 1},
    {V, 0, 0x25, 5, 1}, {V, 0, 0x26, 6, 1}, {V, 5, 0x50, 7, 2}, {V, 5, 0x51, 8, 2}, {V, 5, 0x52, 9, 1},
    {T, 0, 0x27, 1, 1}, {T, 1, 0x50, 2, 1},
};
// The older 16 mV Winbond parts (w83627hf): no scaling in the driver.
constexpr DriverInput kW83627hf[] = {
    {V, 0, 0x20, 0, 1}, {V, 0, 0x21, 1, 1}, {V, 0, 0x22, 2, 1}, {V, 0, 0x23, 3, 1}, {V, 0, 0x24, 4, 1},
    {V, 0, 0x25, 5, 1}, {V, 0, 0x26, 6, 1}, {V, 5, 0x50, 7, 1}, {V, 5, 0x51, 8, 1},
    {T, 0, 0x27, 1, 1}, {T, 1, 0x50, 2, 1}, {T, 2, 0x50, 3, 1},
    {F, 0, 0x28, 1, 1}, {F, 0, 0x29, 2, 1}, {F, 0, 0x2A, 3, 1},
};
// ITE parts with a 16 mV ADC: in0-in8 at 0x20-0x28 unscaled; fans by their
// low count byte.
constexpr DriverInput kIt87Wide[] = {
    {V, 0, 0x20, 0, 1}, {V, 0, 0x21, 1, 1}, {V, 0, 0x22, 2, 1}, {V, 0, 0x23, 3, 1}, {V, 0, 0x24, 4, 1},
    {V, 0, 0x25, 5, 1}, {V, 0, 0x26, 6, 1}, {V, 0, 0x27, 7, 1}, {V, 0, 0x28, 8, 1},
    {T, 0, 0x29, 1, 1}, {T, 0, 0x2A, 2, 1}, {T, 0, 0x2B, 3, 1},
    {F, 0, 0x0D, 1, 1}, {F, 0, 0x0E, 2, 1}, {F, 0, 0x0F, 3, 1},
};
// ITE parts with a 12 mV ADC: the driver doubles in3, in7 and in8 only where
// the chip routes them through its internal divider, which its configuration
// says and sysfs does not; those three are left out.
constexpr DriverInput kIt87Narrow[] = {
    {V, 0, 0x20, 0, 1}, {V, 0, 0x21, 1, 1}, {V, 0, 0x22, 2, 1}, {V, 0, 0x24, 4, 1}, {V, 0, 0x25, 5, 1},
    {V, 0, 0x26, 6, 1},
    {T, 0, 0x29, 1, 1}, {T, 0, 0x2A, 2, 1}, {T, 0, 0x2B, 3, 1},
    {F, 0, 0x0D, 1, 1}, {F, 0, 0x0E, 2, 1}, {F, 0, 0x0F, 3, 1},
};
// Fintek parts with nine voltage inputs (f71882fg and kin): 8 mV unscaled,
// temp1-temp3 at 0x72/0x74/0x76, fans by their count's high byte 16 apart.
constexpr DriverInput kF71882fg[] = {
    {V, 0, 0x20, 0, 1}, {V, 0, 0x21, 1, 1}, {V, 0, 0x22, 2, 1}, {V, 0, 0x23, 3, 1}, {V, 0, 0x24, 4, 1},
    {V, 0, 0x25, 5, 1}, {V, 0, 0x26, 6, 1}, {V, 0, 0x27, 7, 1}, {V, 0, 0x28, 8, 1},
    {T, 0, 0x72, 1, 1}, {T, 0, 0x74, 2, 1}, {T, 0, 0x76, 3, 1},
    {F, 0, 0xA0, 1, 1}, {F, 0, 0xB0, 2, 1}, {F, 0, 0xC0, 3, 1}, {F, 0, 0xD0, 4, 1},
};

struct DriverMap {
    std::string_view driver; // the platform driver's name, as the ownership probe reports it
    double lsb;              // the ADC step this table holds for
    std::span<const DriverInput> inputs;
};
constexpr DriverMap kMaps[] = {
    {"w83627ehf", 0.008, kW83627ehf},
    {"nct6775", 0.008, kNct6775},
    {"w83627hf", 0.016, kW83627hf},
    {"it87", 0.016, kIt87Wide},
    {"it87", 0.012, kIt87Narrow},
    {"f71882fg", 0.008, kF71882fg},
};

bool SameStep(double a, double b) { return std::fabs(a - b) < 1e-9; }

} // namespace

const DriverInput* FindDriverInput(std::string_view driver, double lsb, uint32_t kind, uint8_t bank, uint8_t reg) {
    for (const DriverMap& m : kMaps) {
        if (m.driver != driver || !SameStep(m.lsb, lsb)) continue;
        for (const DriverInput& in : m.inputs)
            if (in.kind == kind && in.bank == bank && in.reg == reg) return &in;
    }
    return nullptr;
}

} // namespace vek::superio
