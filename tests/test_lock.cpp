// ApiLock serialises threads of several processes, is recursive for its
// owner, and survives a holder that dies.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "os/os.h"

namespace fs = std::filesystem;

namespace {

std::string Worker() { return (fs::read_symlink("/proc/self/exe").parent_path() / "vek_lock_worker").string(); }

pid_t Spawn(const std::vector<std::string>& args) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ApiLock, SerialisesThreadsAcrossProcesses) {
    const fs::path counter = fs::temp_directory_path() / ("vek_lock_counter_" + std::to_string(getpid()));
    std::ofstream(counter) << 0;
    constexpr int kProcesses = 3, kThreads = 2, kIterations = 150;
    std::vector<pid_t> pids;
    for (int i = 0; i < kProcesses; ++i)
        pids.push_back(Spawn({Worker(), "count", counter.string(), std::to_string(kThreads), std::to_string(kIterations)}));
    for (pid_t pid : pids) EXPECT_EQ(Wait(pid), 0);
    long total = -1;
    std::ifstream(counter) >> total;
    fs::remove(counter);
    EXPECT_EQ(total, long(kProcesses) * kThreads * kIterations);
}

TEST(ApiLock, HolderThatDiesHandsTheLockOn) {
    ASSERT_EQ(Wait(Spawn({Worker(), "die"})), 0);
    vek::os::LockOpen();
    ASSERT_TRUE(vek::os::LockIsOpen());
    vek::os::LockAcquire(); // would block forever on a lock that is not robust
    vek::os::LockRelease();
    vek::os::LockClose();
    EXPECT_FALSE(vek::os::LockIsOpen());
}

TEST(ApiLock, UseAfterCloseGoesOnUnlockedAndSaysSo) {
    vek::os::LockOpen();
    vek::os::LockClose();
    testing::internal::CaptureStderr();
    vek::os::LockAcquire();
    vek::os::LockRelease();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("(slock_lock)OpenMutex(MutexForVEK) error"),
              std::string::npos);
}

} // namespace
