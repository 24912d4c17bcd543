#include "backends/superio/driver_inputs.h"

#include <cmath>
#include <iterator>
#include <span>

#include "vek/host.h"

namespace vek::superio {
namespace {

// Winbond/Nuvoton parts with an 8 mV ADC (w83627ehf, and nct6775 for the
// NCT6775F/6776F generation): in0-in6 in bank 0, in7-in9 in bank 5. The
// drivers double in2 (AVCC), in3 (3VCC), in7 (VSB) and in8 (VBAT), which the
// chip measures through internal halving dividers.
constexpr DriverInput kWinbondScaledIn[] = {
    {0, 0x20, 0, 1}, {0, 0x21, 1, 1}, {0, 0x22, 2, 2}, {0, 0x23, 3, 2}, {0, 0x24, 4, 1},
    {0, 0x25, 5, 1}, {0, 0x26, 6, 1}, {5, 0x50, 7, 2}, {5, 0x51, 8, 2}, {5, 0x52, 9, 1},
};
// The older 16 mV Winbond parts (w83627hf): no scaling in the driver.
constexpr DriverInput kWinbondPlainIn[] = {
    {0, 0x20, 0, 1}, {0, 0x21, 1, 1}, {0, 0x22, 2, 1}, {0, 0x23, 3, 1}, {0, 0x24, 4, 1},
    {0, 0x25, 5, 1}, {0, 0x26, 6, 1}, {5, 0x50, 7, 1}, {5, 0x51, 8, 1},
};
// SYSTIN, CPUTIN, AUXTIN. nct6775 keeps only the first two at fixed temp1/temp2.
constexpr DriverInput kWinbondTemp[] = {{0, 0x27, 1, 1}, {1, 0x50, 2, 1}, {2, 0x50, 3, 1}};
constexpr std::span<const DriverInput> kNct6775Temp = std::span(kWinbondTemp).first(2);
// 8-bit counts. nct6775's fans are 13-bit counters elsewhere in the bank
// space: no count register of these boards maps there.
constexpr DriverInput kWinbondFan[] = {{0, 0x28, 1, 1}, {0, 0x29, 2, 1}, {0, 0x2A, 3, 1}};

// in0-in8 at 0x20-0x28, unscaled: ITE parts with a 16 mV ADC, and Fintek
// parts with nine voltage inputs (8 mV).
constexpr DriverInput kPlainIn[] = {
    {0, 0x20, 0, 1}, {0, 0x21, 1, 1}, {0, 0x22, 2, 1}, {0, 0x23, 3, 1}, {0, 0x24, 4, 1},
    {0, 0x25, 5, 1}, {0, 0x26, 6, 1}, {0, 0x27, 7, 1}, {0, 0x28, 8, 1},
};
// ITE parts with a 12 mV ADC: the driver doubles in3, in7 and in8 only where
// the chip routes them through its internal divider, which its configuration
// says and sysfs does not; those three are left out.
constexpr DriverInput kIt87NarrowIn[] = {
    {0, 0x20, 0, 1}, {0, 0x21, 1, 1}, {0, 0x22, 2, 1}, {0, 0x24, 4, 1}, {0, 0x25, 5, 1}, {0, 0x26, 6, 1},
};
constexpr DriverInput kIt87Temp[] = {{0, 0x29, 1, 1}, {0, 0x2A, 2, 1}, {0, 0x2B, 3, 1}};
// Fans by their low count byte.
constexpr DriverInput kIt87Fan[] = {{0, 0x0D, 1, 1}, {0, 0x0E, 2, 1}, {0, 0x0F, 3, 1}};

// Fintek parts (f71882fg and kin): temp1-temp3 at 0x72/0x74/0x76, fans by
// their count's high byte 16 apart.
constexpr DriverInput kF71882fgTemp[] = {{0, 0x72, 1, 1}, {0, 0x74, 2, 1}, {0, 0x76, 3, 1}};
constexpr DriverInput kF71882fgFan[] = {{0, 0xA0, 1, 1}, {0, 0xB0, 2, 1}, {0, 0xC0, 3, 1}, {0, 0xD0, 4, 1}};

struct DriverMap {
    std::string_view driver; // the platform driver's name, as the ownership probe reports it
    double lsb;              // the ADC step this row holds for
    std::span<const DriverInput> voltages, temperatures, fans;
};
constexpr DriverMap kMaps[] = {
    {"w83627ehf", 0.008, kWinbondScaledIn, kWinbondTemp, kWinbondFan},
    {"nct6775", 0.008, kWinbondScaledIn, kNct6775Temp, {}},
    {"w83627hf", 0.016, kWinbondPlainIn, kWinbondTemp, kWinbondFan},
    {"it87", 0.016, kPlainIn, kIt87Temp, kIt87Fan},
    {"it87", 0.012, kIt87NarrowIn, kIt87Temp, kIt87Fan},
    {"f71882fg", 0.008, kPlainIn, kF71882fgTemp, kF71882fgFan},
};

std::span<const DriverInput> InputsOf(const DriverMap& m, uint32_t kind) {
    switch (kind) {
    case VEK_HOST_HWMON_VOLTAGE: return m.voltages;
    case VEK_HOST_HWMON_TEMPERATURE: return m.temperatures;
    case VEK_HOST_HWMON_FAN: return m.fans;
    default: return {};
    }
}

bool SameStep(double a, double b) { return std::fabs(a - b) < 1e-9; }

} // namespace

const DriverInput* FindDriverInput(std::string_view driver, double lsb, uint32_t kind, uint8_t bank, uint8_t reg) {
    for (const DriverMap& m : kMaps) {
        if (m.driver != driver || !SameStep(m.lsb, lsb)) continue;
        for (const DriverInput& in : InputsOf(m, kind))
            if (in.bank == bank && in.reg == reg) return &in;
    }
    return nullptr;
}

} // namespace vek::superio
