// ApiLock: a named mutex shared by every process that drives the board (boards
// behind an attached platform take an unnamed one of their own).
//
// Problems are reported on stderr and never stop a call: a hardware
// transaction without the lock is better than none.
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "os/os.h"

namespace vek::os {
namespace {

constexpr wchar_t kMutexName[] = L"MutexForVEK";
constexpr char kMutexNameText[] = "MutexForVEK"; // the same name, for messages
constexpr DWORD kMutexAllAccess = 0x1F0001;      // MUTEX_ALL_ACCESS
constexpr DWORD kCloseWaitMs = 3000;

std::atomic<HANDLE> g_mutex{nullptr};
bool g_noOp = false;

// Threads between taking the mutex (or starting to wait for it) and releasing
// it. Closing a handle under a pending wait is undefined, so LockClose hides the
// handle from new callers, lets these leave, and only then closes it.
std::atomic<int> g_users{0};
thread_local HANDLE t_held = nullptr; // the handle this thread's release belongs to
constexpr int kDrainMs = 3000;

} // namespace

void LockOpen(LockScope scope) {
    if (g_mutex.load() != nullptr) return; // one handle per process
    if (scope == LockScope::kProcess) {
        HANDLE h = CreateMutexW(nullptr, FALSE, nullptr);
        if (h == nullptr) std::fprintf(stderr, "CreateMutex error: %d\n", int(GetLastError()));
        g_mutex.store(h);
        return;
    }
    HANDLE h = OpenMutexW(kMutexAllAccess, TRUE, kMutexName);
    if (h == nullptr) {
        h = CreateMutexW(nullptr, TRUE, kMutexName);
        if (h == nullptr) std::fprintf(stderr, "CreateMutex(%s) error: %d\n", kMutexNameText, int(GetLastError()));
    }
    // Gives up the initial ownership of a mutex we just created; a mutex opened
    // (or created by another process in between) is not ours and this fails quietly.
    if (h != nullptr) ReleaseMutex(h);
    g_mutex.store(h);
}

void LockAcquire() {
    if (g_noOp) return;
    g_users.fetch_add(1);
    HANDLE h = g_mutex.load();
    if (h == nullptr) {
        g_users.fetch_sub(1);
        t_held = nullptr;
        std::fprintf(stderr, "(slock_lock)OpenMutex(%s) error: %d\n", kMutexNameText, int(GetLastError()));
        return;
    }
    t_held = h;
    // WAIT_ABANDONED still hands us the mutex: a process died inside a
    // transaction, which is reported and then carried on with.
    if (WaitForSingleObject(h, INFINITE) != WAIT_OBJECT_0)
        std::fprintf(stderr, "(slock_lock)WaitForSingleObject error: %d\n", int(GetLastError()));
}

void LockRelease() {
    if (g_noOp) return;
    HANDLE h = t_held;
    const bool released = h != nullptr && ReleaseMutex(h);
    if (h != nullptr) g_users.fetch_sub(1);
    if (!released) std::fprintf(stderr, "Handle error.\n");
}

void LockClose() {
    HANDLE h = g_mutex.load();
    if (h == nullptr) return;
    // Let a transaction in flight on another thread finish first. A mutex won
    // here is handed back before the handle goes: closing a handle does not end
    // ownership, and other processes would wait until this thread exits.
    const DWORD wait = WaitForSingleObject(h, kCloseWaitMs);
    g_mutex.store(nullptr); // callers from here on find no lock
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(h);
    // Threads already waiting take the mutex in turn, find the library released
    // and let go. One that still holds it after the drain keeps the handle: it
    // stays open for the rest of the process rather than vanish under a wait.
    for (int ms = 0; ms < kDrainMs && g_users.load() > 0; ++ms) Sleep(1);
    if (g_users.load() == 0) CloseHandle(h);
}

bool LockIsOpen() { return g_mutex.load() != nullptr; }

bool LockAcquireFor(int milliseconds) {
    if (g_noOp) return true;
    g_users.fetch_add(1);
    HANDLE h = g_mutex.load();
    const DWORD wait = h ? WaitForSingleObject(h, DWORD(milliseconds)) : WAIT_FAILED;
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        t_held = h;
        return true;
    }
    g_users.fetch_sub(1);
    return false;
}

void LockUseNamesForTest(const char*, const char*) {}

void LockUseNoOpForTest(bool noOp) { g_noOp = noOp; }

} // namespace vek::os
