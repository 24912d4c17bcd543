// ApiLock: a named mutex shared by every process that drives the board (boards
// behind an attached platform take an unnamed one of their own).
//
// Problems are reported on stderr and never stop a call: a hardware
// transaction without the lock is better than none.
#include <windows.h>

#include <cstdio>

#include "os/os.h"

namespace vek::os {
namespace {

constexpr wchar_t kMutexName[] = L"MutexForVEK";
constexpr char kMutexNameText[] = "MutexForVEK"; // the same name, for messages
constexpr DWORD kMutexAllAccess = 0x1F0001;      // MUTEX_ALL_ACCESS
constexpr DWORD kCloseWaitMs = 3000;

HANDLE g_mutex = nullptr;
bool g_noOp = false;

} // namespace

void LockOpen(LockScope scope) {
    if (g_mutex != nullptr) return; // one handle per process
    if (scope == LockScope::kProcess) {
        g_mutex = CreateMutexW(nullptr, FALSE, nullptr);
        if (g_mutex == nullptr) std::fprintf(stderr, "CreateMutex error: %d\n", int(GetLastError()));
        return;
    }
    g_mutex = OpenMutexW(kMutexAllAccess, TRUE, kMutexName);
    if (g_mutex == nullptr) {
        g_mutex = CreateMutexW(nullptr, TRUE, kMutexName);
        if (g_mutex == nullptr)
            std::fprintf(stderr, "CreateMutex(%s) error: %d\n", kMutexNameText, int(GetLastError()));
    }
    // Gives up the initial ownership of a mutex we just created; a mutex opened
    // (or created by another process in between) is not ours and this fails quietly.
    if (g_mutex != nullptr) ReleaseMutex(g_mutex);
}

void LockAcquire() {
    if (g_noOp) return;
    if (g_mutex == nullptr) {
        std::fprintf(stderr, "(slock_lock)OpenMutex(%s) error: %d\n", kMutexNameText, int(GetLastError()));
        return;
    }
    // WAIT_ABANDONED still hands us the mutex: a process died inside a
    // transaction, which is reported and then carried on with.
    if (WaitForSingleObject(g_mutex, INFINITE) != WAIT_OBJECT_0)
        std::fprintf(stderr, "(slock_lock)WaitForSingleObject error: %d\n", int(GetLastError()));
}

void LockRelease() {
    if (g_noOp) return;
    if (g_mutex == nullptr || !ReleaseMutex(g_mutex)) std::fprintf(stderr, "Handle error.\n");
}

void LockClose() {
    if (g_mutex == nullptr) return;
    // Let a transaction in flight on another thread finish first. A mutex won
    // here is handed back before the handle goes: closing a handle does not end
    // ownership, and other processes would wait until this thread exits.
    const DWORD wait = WaitForSingleObject(g_mutex, kCloseWaitMs);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(g_mutex);
    CloseHandle(g_mutex);
    g_mutex = nullptr;
}

bool LockIsOpen() { return g_mutex != nullptr; }

bool LockAcquireFor(int milliseconds) {
    if (g_noOp) return true;
    if (g_mutex == nullptr) return false;
    const DWORD wait = WaitForSingleObject(g_mutex, DWORD(milliseconds));
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

void LockUseNamesForTest(const char*, const char*) {}

void LockUseNoOpForTest(bool noOp) { g_noOp = noOp; }

} // namespace vek::os
