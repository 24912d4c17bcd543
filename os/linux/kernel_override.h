// The expert override: drive a resource class directly although a kernel
// driver claims it, for people who unbound that driver themselves (or know
// it leaves the hardware alone). Classes, comma-separated:
//   smbus, ec, superio, watchdog, speaker   (or "all")
// read from VEK_KERNEL_OVERRIDE (ignored when the process runs with raised
// privileges), else from the first line of /etc/vek/kernel-override.conf.
// Never honoured under kernel lockdown: the kernel refuses raw ports there
// anyway, and lockdown exists to keep user space off the hardware.
#pragma once

#include <cstdint>
#include <string>

#include "os/linux/ownership.h"

namespace vek::os {

void SetKernelOverrideFile(const std::string& path); // tests; empty restores the default

// Whether the override names the class of a VEK_HOST_RES_* resource.
bool OverrideRequested(uint32_t resource);

// The host seam's resource_owner with the override applied: a claimed
// resource whose class is overridden reads as unowned, and the first such
// answer per class prints one warning naming the driver it bypasses.
uint32_t OwnerWithOverride(const OwnershipProbe& probe, uint32_t resource, uint32_t a, uint32_t b, char* driver,
                           uint32_t driverSize);

} // namespace vek::os
