// ApiLock on Linux. For real hardware: a process-shared, robust, recursive
// pthread mutex in POSIX shared memory (the uncontended path is a user-space
// atomic; a holder that dies hands the lock on). The object is created
// owner-only (0600), so nobody without the hardware privileges may map it and
// stall every user of the board. An object with a wider mode, or owned by
// another account than this one or root, is refused. Without POSIX shared
// memory the lock is an flock on a file under /run/lock, which still excludes
// other processes. Boards served through an attached platform (simulators,
// test harnesses) take a lock of their own process only.
//
// The mapping is never unmapped and the process-local mutexes are never
// destroyed: a thread still waiting when another tears the library down wakes on
// valid memory. Each thread counts what it holds, so a release after teardown
// lets go of exactly what that thread took.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "os/os.h"

namespace vek::os {
namespace {

constexpr const char* kLockName = "/MutexForVEK";
constexpr const char* kLockFile = "/run/lock/MutexForVEK.lock";
constexpr mode_t kLockMode = 0600;
constexpr uint32_t kReadyMagic = 0x56454B31; // "VEK1": mutex initialised
constexpr int kCloseWaitMs = 3000;

struct SharedLock {
    std::atomic<uint32_t> ready;
    pthread_mutex_t mutex;
};

enum Kind : int { kClosed = 0, kShared, kFile, kLocal, kNoOp };

std::atomic<int> g_kind{kClosed};
std::atomic<SharedLock*> g_shared{nullptr}; // mapped once, kept for the process
std::atomic<int> g_fileFd{-1};              // opened once, kept for the process
std::recursive_mutex g_local;               // threads of this process (file and local kinds)
// What this thread holds and must release, whatever the lock's state by then.
thread_local int t_sharedHeld = 0;
thread_local int t_localHeld = 0;
thread_local int t_fileDepth = 0; // nesting of this thread's flock (inside t_localHeld)
std::atomic<bool> g_saidFile{false}, g_saidLocal{false}; // each fallback is reported once

std::string g_sharedName = kLockName;
std::string g_filePath = kLockFile;
bool g_noOp = false;

// Owned by this user or by root, and not open to group or others. A
// root-owned object reaches only processes that may override file permissions,
// which a service granted the hardware capabilities does; nobody else can map it.
bool OwnerOnly(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && (st.st_uid == geteuid() || st.st_uid == 0) && (st.st_mode & 0077) == 0;
}

// The creator initialises the mutex while holding an flock on the segment, so
// a second process never sees it half built.
bool InitialiseShared(int fd, SharedLock* shared) {
    if (flock(fd, LOCK_EX) != 0) return false;
    if (shared->ready.load(std::memory_order_acquire) != kReadyMagic) {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
        pthread_mutex_init(&shared->mutex, &attr);
        pthread_mutexattr_destroy(&attr);
        shared->ready.store(kReadyMagic, std::memory_order_release);
    }
    flock(fd, LOCK_UN);
    return true;
}

// 0 when the shared object is mapped, else the error that stopped it.
int OpenShared() {
    if (g_shared.load()) return 0;
    int fd = shm_open(g_sharedName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kLockMode);
    if (fd < 0) return errno;
    if (!OwnerOnly(fd)) {
        close(fd);
        return EPERM;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || (st.st_size < off_t(sizeof(SharedLock)) && ftruncate(fd, sizeof(SharedLock)) != 0)) {
        const int e = errno;
        close(fd);
        return e;
    }
    void* mem = mmap(nullptr, sizeof(SharedLock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mem == MAP_FAILED) {
        const int e = errno;
        close(fd);
        return e;
    }
    auto* shared = static_cast<SharedLock*>(mem);
    if (!InitialiseShared(fd, shared)) {
        const int e = errno;
        munmap(mem, sizeof(SharedLock));
        close(fd);
        return e;
    }
    close(fd);
    g_shared.store(shared);
    return 0;
}

int OpenFile() {
    if (g_fileFd.load() >= 0) return 0;
    int fd = open(g_filePath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kLockMode);
    if (fd < 0) return errno;
    if (!OwnerOnly(fd)) {
        close(fd);
        return EPERM;
    }
    g_fileFd.store(fd);
    return 0;
}

// A lock whose previous holder died: take it over in a consistent state.
int Recover(SharedLock* shared, int rc) {
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(&shared->mutex);
        return 0;
    }
    return rc;
}

// After the process-local mutex is held: the flock excludes other processes.
void TakeLocal(bool withFile) {
    ++t_localHeld;
    if (!withFile) return;
    const int fd = g_fileFd.load();
    if (t_fileDepth++ == 0 && fd >= 0) {
        while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

bool TakeShared(SharedLock* shared, int rc) {
    rc = Recover(shared, rc);
    if (rc != 0) return false;
    ++t_sharedHeld;
    return true;
}

} // namespace

void LockOpen(LockScope scope) {
    if (g_kind.load() != kClosed) return;
    if (g_noOp) {
        g_kind.store(kNoOp);
        return;
    }
    if (scope == LockScope::kProcess) {
        g_kind.store(kLocal);
        return;
    }
    const int sharedError = OpenShared();
    if (sharedError == 0) {
        g_kind.store(kShared);
        return;
    }
    const int fileError = OpenFile();
    if (fileError == 0 && !g_saidFile.exchange(true))
        std::fprintf(stderr, "%s: shared memory unusable (error %d); locking with %s\n", kLockName + 1, sharedError,
                     g_filePath.c_str());
    if (fileError != 0 && !g_saidLocal.exchange(true))
        std::fprintf(stderr, "%s: shared memory (error %d) and %s (error %d) unusable; "
                             "only this process's threads are serialised\n",
                     kLockName + 1, sharedError, g_filePath.c_str(), fileError);
    g_kind.store(fileError == 0 ? kFile : kLocal);
}

bool LockIsOpen() { return g_kind.load() != kClosed; }

void LockAcquire() {
    switch (g_kind.load()) {
    case kClosed:
        std::fprintf(stderr, "(slock_lock)OpenMutex(%s) error: %d\n", kLockName + 1, ENOENT);
        return;
    case kShared: {
        SharedLock* shared = g_shared.load();
        const int rc = pthread_mutex_lock(&shared->mutex);
        if (!TakeShared(shared, rc)) std::fprintf(stderr, "(slock_lock)WaitForSingleObject error: %d\n", rc);
        return;
    }
    case kFile:
    case kLocal:
        g_local.lock();
        TakeLocal(g_kind.load() == kFile);
        return;
    default: // no-op (tests only)
        return;
    }
}

void LockRelease() {
    if (t_sharedHeld > 0) {
        --t_sharedHeld;
        if (pthread_mutex_unlock(&g_shared.load()->mutex) != 0) std::fprintf(stderr, "Handle error.\n");
        return;
    }
    if (t_localHeld == 0) return; // nothing this thread took (closed, or a no-op lock)
    if (t_fileDepth > 0 && --t_fileDepth == 0) {
        if (const int fd = g_fileFd.load(); fd >= 0) flock(fd, LOCK_UN);
    }
    --t_localHeld;
    g_local.unlock();
}

// Waits up to three seconds for the lock so a transaction in another thread
// can finish, then marks it closed. Unlike a Windows handle closed while owned,
// a lock taken here is released again, so other processes carry on.
void LockClose() {
    if (!LockIsOpen()) return;
    if (LockAcquireFor(kCloseWaitMs)) LockRelease();
    g_kind.store(kClosed);
}

bool LockAcquireFor(int milliseconds) {
    switch (g_kind.load()) {
    case kShared: {
        SharedLock* shared = g_shared.load();
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += long(milliseconds % 1000) * 1'000'000;
        if (deadline.tv_nsec >= 1'000'000'000) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1'000'000'000;
        }
        return TakeShared(shared, pthread_mutex_timedlock(&shared->mutex, &deadline));
    }
    case kFile:
    case kLocal:
        // Polled: a teardown wait, not a hot path.
        for (int waited = 0; !g_local.try_lock(); ++waited) {
            if (waited >= milliseconds) return false;
            usleep(1000);
        }
        TakeLocal(g_kind.load() == kFile);
        return true;
    case kNoOp:
        return true;
    default:
        return false;
    }
}

void LockUseNamesForTest(const char* sharedName, const char* filePath) {
    g_sharedName = sharedName ? sharedName : kLockName;
    g_filePath = filePath ? filePath : kLockFile;
    if (SharedLock* shared = g_shared.exchange(nullptr)) munmap(shared, sizeof(SharedLock));
    if (int fd = g_fileFd.exchange(-1); fd >= 0) close(fd);
    g_saidFile = g_saidLocal = false;
}

void LockUseNoOpForTest(bool noOp) { g_noOp = noOp; }

} // namespace vek::os
