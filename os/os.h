// The operating system's own platform and the system-wide lock.
#pragma once

#include "vek/host.h"

namespace vek::os {

// The platform of the OS the library runs on (Windows driver, or Linux kernel interfaces).
const vek_host_platform& NativePlatform();

// ApiLock: one system-wide lock shared by every thread and process using the library.
void LockOpen();   // open or create; problems are reported on stderr, never fatal
void LockAcquire();
void LockRelease();
void LockClose();  // waits for the lock at most 3000 ms, then closes the handle
bool LockIsOpen();

} // namespace vek::os
