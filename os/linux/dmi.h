// Board identity from the kernel's DMI tables in sysfs.
#pragma once

#include <cstdint>
#include <string>

namespace vek::os {

// Folder holding board_name, bios_vendor, ... ("/sys/class/dmi/id" unless changed).
void SetDmiRoot(const std::string& root);
const std::string& DmiRoot();

// The identity item's DMI file, trimmed of its trailing newline, shortened to
// fit out (NUL-terminated). 0, or 16 when the file cannot be read.
uint32_t ReadDmiIdentity(uint32_t item, char* out, uint32_t size);

} // namespace vek::os
