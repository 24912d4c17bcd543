// Readings of the kernel's hardware-monitor driver that owns a Super I/O's
// monitor block (it87, nct6775, w83627ehf, f71882fg and kin), for boards where
// the library leaves that block to the driver.
//
// The driver's platform device is named after the block's base in decimal
// ("it87.656", "nct6775.2608"); its hwmon class device under /sys/class/hwmon
// links to it through `device`. Inputs are the sysfs-interface files:
//   tempN_input  millidegrees Celsius
//   inN_input    millivolts at the pin (before the board's divider)
//   fanN_input   revolutions per minute
// Older drivers keep the files in the platform device's directory rather than
// the class device's; both are tried.
#pragma once

#include <cstdint>
#include <string>

namespace vek::os {

// The hwmon class directory ("<root>/sys/class/hwmon/hwmonN") whose device is
// the driver's platform device for the block at ioBase; empty when none.
std::string HwmonDirFor(const std::string& root, uint16_t ioBase);

// One input: kind VEK_HOST_HWMON_*, index as the driver numbers it (voltages
// from in0, temperatures and fans from 1).
// 0 and *value set; 1 no such device or input, 2 unreadable or not a number.
uint32_t HwmonRead(const std::string& root, uint16_t ioBase, uint32_t kind, uint32_t index, int32_t* value);

} // namespace vek::os
