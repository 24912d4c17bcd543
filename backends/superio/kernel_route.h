// A Super I/O's hardware-monitor block under a kernel hwmon driver (it87,
// nct6775 and their kin). Such a driver keeps the block's bank register in its
// own cache and reads the block on its own schedule under a lock user space
// cannot take, so the library never touches the block then: temperatures,
// voltages and fan speeds come from the driver's sysfs inputs where one reads
// the same register, everything else on the block answers 10.
// Configuration-mode sections (GPIO, watchdog) stay short and always end with
// the exit key, as the drivers' own do.
#pragma once

#include <cstdint>

#include "platform/context.h"
#include "vek/host.h"

namespace vek::superio {

// A monitor block spans eight ports with its index/data pair at base + 5.
inline constexpr uint16_t MONITOR_BLOCK_SIZE = 8;
constexpr uint16_t MonitorBlockOf(uint16_t indexPort) { return indexPort > 5 ? uint16_t(indexPort - 5) : 0; }

// Each Super I/O backend's configure tells where its monitor block sits
// (base 0: none) and its ADC's step in volts. Asks the platform who owns it; a
// kernel owner is reported once on stderr.
void NoteMonitorBlock(const DeviceContext& ctx, uint16_t base, uint16_t size, double adcLsb);

// True when a kernel driver owns the monitor block of this context.
bool MonitorHeldByKernel(const DeviceContext& ctx);

// The owning driver's reading of the monitor register bank:reg, kind
// VEK_HOST_HWMON_TEMPERATURE or _VOLTAGE, in the register's own terms:
// temperatures in degrees, voltages in counts of the part's ADC step. 0, or 10
// when no driver input reads that register or the driver cannot give it now.
uint32_t HeldReading(const DeviceContext& ctx, uint32_t kind, uint8_t bank, uint8_t reg, double* reading);

// The same for a fan whose count register is bank:reg: the driver's rpm.
uint32_t HeldFanRpm(const DeviceContext& ctx, uint8_t bank, uint8_t reg, uint32_t* rpm);

} // namespace vek::superio
