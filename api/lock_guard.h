#pragma once

#include "os/os.h"

namespace vek {

// Holds ApiLock for one export's hardware transaction.
class ApiLockGuard {
public:
    ApiLockGuard() { os::LockAcquire(); }
    ~ApiLockGuard() { os::LockRelease(); }
    ApiLockGuard(const ApiLockGuard&) = delete;
    ApiLockGuard& operator=(const ApiLockGuard&) = delete;
};

} // namespace vek
