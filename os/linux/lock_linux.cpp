// ApiLock on Linux: a process-shared, robust, recursive pthread mutex in POSIX
// shared memory. The uncontended path is a user-space atomic (no system call);
// a holder that dies hands the lock on instead of wedging every other process.
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

#include "os/os.h"

namespace vek::os {
namespace {

constexpr const char* kLockName = "/MutexForVEK";
constexpr uint32_t kReadyMagic = 0x56454B31; // "VEK1": mutex initialised
constexpr int kCloseWaitMs = 3000;

struct SharedLock {
    std::atomic<uint32_t> ready;
    pthread_mutex_t mutex;
};

SharedLock* g_lock = nullptr;

void Report(const char* what, int error) {
    std::fprintf(stderr, "%s(%s) error: %d\n", what, kLockName + 1, error);
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

// A lock whose previous holder died: take it over in a consistent state.
int Recover(int rc) {
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(&g_lock->mutex);
        return 0;
    }
    return rc;
}

} // namespace

void LockOpen() {
    if (g_lock) return;
    const mode_t oldMask = umask(0);
    int fd = shm_open(kLockName, O_RDWR | O_CREAT, 0666);
    umask(oldMask);
    if (fd < 0) {
        Report("CreateMutex", errno);
        return;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_size < off_t(sizeof(SharedLock)) && ftruncate(fd, sizeof(SharedLock)) != 0) {
        Report("CreateMutex", errno);
        close(fd);
        return;
    }
    void* mem = mmap(nullptr, sizeof(SharedLock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mem == MAP_FAILED) {
        Report("CreateMutex", errno);
        close(fd);
        return;
    }
    auto* shared = static_cast<SharedLock*>(mem);
    if (!InitialiseShared(fd, shared)) {
        Report("CreateMutex", errno);
        munmap(mem, sizeof(SharedLock));
        close(fd);
        return;
    }
    close(fd);
    g_lock = shared;
}

bool LockIsOpen() { return g_lock != nullptr; }

void LockAcquire() {
    if (!g_lock) {
        std::fprintf(stderr, "(slock_lock)OpenMutex(%s) error: %d\n", kLockName + 1, ENOENT);
        return;
    }
    int rc = Recover(pthread_mutex_lock(&g_lock->mutex));
    if (rc != 0) std::fprintf(stderr, "(slock_lock)WaitForSingleObject error: %d\n", rc);
}

void LockRelease() {
    if (!g_lock) return;
    if (pthread_mutex_unlock(&g_lock->mutex) != 0) std::fprintf(stderr, "Handle error.\n");
}

// Waits up to three seconds for the lock so a transaction in another thread
// can finish, then lets go of the mapping. Unlike a Windows handle closed while
// owned, a lock taken here is released again, so other processes carry on.
void LockClose() {
    if (!g_lock) return;
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += kCloseWaitMs / 1000;
    if (Recover(pthread_mutex_timedlock(&g_lock->mutex, &deadline)) == 0) pthread_mutex_unlock(&g_lock->mutex);
    munmap(g_lock, sizeof(SharedLock));
    g_lock = nullptr;
}

} // namespace vek::os
