// A Super I/O's hardware-monitor block under a kernel hwmon driver (it87,
// nct6775 and their kin). Such a driver keeps the block's bank register in its
// own cache and reads the block on its own schedule under a lock user space
// cannot take, so the library leaves the block alone: readings and fan
// control on that chip answer 10, and the driver's readings are in
// /sys/class/hwmon. Configuration-mode sections (GPIO, watchdog) stay short
// and always end with the exit key, as the drivers' own do.
#pragma once

#include <cstdint>

#include "platform/context.h"

namespace vek::superio {

// A monitor block spans eight ports with its index/data pair at base + 5.
inline constexpr uint16_t MONITOR_BLOCK_SIZE = 8;
constexpr uint16_t MonitorBlockOf(uint16_t indexPort) { return indexPort > 5 ? uint16_t(indexPort - 5) : 0; }

// Each Super I/O backend's configure tells where its monitor block sits
// (base 0: none). Asks the platform who owns it; a kernel owner is reported
// once on stderr.
void NoteMonitorBlock(const DeviceContext& ctx, uint16_t base, uint16_t size);

// True when a kernel driver owns the monitor block of this context.
bool MonitorHeldByKernel(const DeviceContext& ctx);

} // namespace vek::superio
