// The operating system's own platform and the system-wide lock.
#pragma once

#include "vek/host.h"

namespace vek::os {

// The platform of the OS the library runs on (Windows driver, or Linux kernel interfaces).
const vek_host_platform& NativePlatform();

// ApiLock: one system-wide lock shared by every thread and process using the library.
// Boards served through an attached platform (simulators, harnesses) take a lock
// private to the process instead, so they never wait for real hardware users.
enum class LockScope { kMachine, kProcess };
// Open or create; problems are reported on stderr, never fatal.
void LockOpen(LockScope scope = LockScope::kMachine);
void LockAcquire();
void LockRelease();
void LockClose();  // waits for the lock at most 3000 ms, then closes the handle
bool LockIsOpen();
// Takes the lock unless another holder keeps it past the time given; true when taken.
bool LockAcquireFor(int milliseconds);

// ---- for tests only ----
// Other names for the machine-wide lock objects (null: the real ones); drops what is open.
void LockUseNamesForTest(const char* sharedName, const char* filePath);
// Locks opened from now on exclude nothing: shows what the lock protects.
void LockUseNoOpForTest(bool noOp);

} // namespace vek::os
