// Where the kernel's hwmon drivers for these Super I/O parts show a monitor
// register: the sysfs input that reads it and the driver's own scaling of that
// input. One table per driver family, written from the drivers' documented
// register maps; a register no driver input reads is absent, and so is one
// whose scaling depends on chip wiring that user space cannot see.
#pragma once

#include <cstdint>
#include <string_view>

namespace vek::superio {

struct DriverInput {
    uint8_t bank;   // monitor bank; 0 on parts without banks
    uint8_t reg;    // voltages and temperatures: the reading; fans: the count register
    uint8_t index;  // inN, tempN, fanN as the driver numbers them
    uint8_t steps;  // ADC steps per count in the driver's millivolts (its internal
                    // dividers, e.g. 2 on a battery input); 1 elsewhere
};

// The input of `driver`, kind VEK_HOST_HWMON_*, that reads bank:reg on a part whose ADC counts lsb
// volts (the same driver serves parts with different steps); null when there
// is none.
const DriverInput* FindDriverInput(std::string_view driver, double lsb, uint32_t kind, uint8_t bank, uint8_t reg);

} // namespace vek::superio
