// The SMBus controller when the operating system's driver owns it: every
// transaction becomes one request to the platform's SMBus service (i2c-dev on
// Linux), which runs it under the kernel's adapter lock. Programmed I/O beside
// a bound driver would interleave with its transfers on the same registers.
#pragma once

#include <cstdint>

#include "backends/backend.h"

namespace vek::smbus {

// After the controller is located: asks the platform who owns it and, when a
// kernel driver does, opens the platform's service. Replaces the route the
// context had before.
void AttachKernelRoute(DeviceContext& ctx);
// Closes every route (teardown).
void ReleaseKernelRoutes();

// The transactions for a context whose controller the kernel owns; null when
// the library drives the controller itself. Without a usable service every
// transaction is refused (10): the library never races the driver.
const SmbusOps* KernelOps(const DeviceContext& ctx);

// The owning driver's name ("" when the library drives the controller).
const char* KernelOwner(const DeviceContext& ctx);

} // namespace vek::smbus
