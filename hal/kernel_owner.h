// Whether a kernel driver owns a resource, as the platform tells (the host
// seam's resource_owner); platforms that cannot tell own nothing. Backends ask
// at configuration and route through the kernel's service or refuse.
#pragma once

#include <cstdint>
#include <string>

#include "vek/host.h"

namespace vek::hal {

struct KernelOwner {
    bool claimed = false;
    std::string driver; // "an unnamed driver" when claimed but the claimant cannot be seen
};

// resource VEK_HOST_RES_*, a and b as host.h lists them.
KernelOwner OwnerOf(uint32_t resource, uint32_t a, uint32_t b);

// The one line saying what is refused and why, on stderr.
void ReportRefusal(const char* what, const KernelOwner& owner, const char* consequence);

} // namespace vek::hal
