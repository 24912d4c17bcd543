// Board identity from the platform (WMI on Windows, DMI on Linux, the simulator's strings).
#pragma once

#include <cstdint>

namespace vek::platform {

// Writes the item into out (size bytes, always NUL-terminated, never overrun).
// Returns 0, or 16 when the query failed; a failed or empty query leaves out as it was.
uint32_t QueryIdentity(uint32_t item, char* out, uint32_t size);

} // namespace vek::platform
