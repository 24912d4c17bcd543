// Display brightness on Linux through the kernel's backlight class, in the
// percent levels (0..100) the monitor-brightness interface uses elsewhere.
//
// Every directory of /sys/class/backlight with a positive max_brightness is a
// panel control. Reading takes the preferred one (type "firmware", then
// "platform", then "raw"; by name within a type); setting writes every one, as
// a level for all monitors, and stops at the first that refuses.
#pragma once

#include <cstdint>
#include <string>

namespace vek::os {

void SetBacklightRoot(const std::string& root); // "/sys/class/backlight" unless changed
const std::string& BacklightRoot();

// 0, or 17 when there is no backlight or it cannot be read or written.
// A level above 100 is refused (17) without writing.
uint32_t BacklightRead(uint8_t* level);
uint32_t BacklightSet(uint8_t level);

} // namespace vek::os
