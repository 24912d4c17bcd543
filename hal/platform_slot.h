// The platform the hal talks to: the one attached through the host seam, or the OS's own.
#pragma once

#include "vek/host.h"

namespace vek::hal {

// Checks the required entries; false when the platform cannot serve.
bool PlatformUsable(const vek_host_platform& platform);
// Copies the platform (entries past its declared size read as absent); null returns to native.
void SetPlatform(const vek_host_platform* platform);
// True while a program-attached platform serves instead of the native one.
bool PlatformAttached();

} // namespace vek::hal
