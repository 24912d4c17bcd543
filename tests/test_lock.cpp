// ApiLock serialises threads of several processes, is recursive for its
// owner, and survives a holder that dies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

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

// This process and its workers use lock objects of their own.
class ApiLock : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string id = std::to_string(getpid());
        shm_ = "/vek_test_lock_" + id;
        file_ = (fs::temp_directory_path() / ("vek_test_lock_" + id + ".lock")).string();
        setenv("VEK_TEST_LOCK_SHM", shm_.c_str(), 1);
        setenv("VEK_TEST_LOCK_FILE", file_.c_str(), 1);
        vek::os::LockUseNamesForTest(shm_.c_str(), file_.c_str());
    }
    void TearDown() override {
        vek::os::LockUseNamesForTest(nullptr, nullptr);
        shm_unlink(shm_.c_str());
        fs::remove(file_);
    }
    std::string shm_, file_;
};

TEST_F(ApiLock, SerialisesThreadsAcrossProcesses) {
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

TEST_F(ApiLock, HolderThatDiesHandsTheLockOn) {
    ASSERT_EQ(Wait(Spawn({Worker(), "die"})), 0);
    vek::os::LockOpen();
    ASSERT_TRUE(vek::os::LockIsOpen());
    vek::os::LockAcquire(); // would block forever on a lock that is not robust
    vek::os::LockRelease();
    vek::os::LockClose();
    EXPECT_FALSE(vek::os::LockIsOpen());
}

TEST_F(ApiLock, UseAfterCloseGoesOnUnlockedAndSaysSo) {
    vek::os::LockOpen();
    vek::os::LockClose();
    testing::internal::CaptureStderr();
    vek::os::LockAcquire();
    vek::os::LockRelease();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("(slock_lock)OpenMutex(MutexForVEK) error"),
              std::string::npos);
}

// ---- who may use the lock, and what it falls back to ----

namespace lockplace {

struct Place {
    std::string shm;  // shared-memory object name
    fs::path file;    // fallback lock file
    ~Place() {
        vek::os::LockUseNamesForTest(nullptr, nullptr);
        shm_unlink(shm.c_str());
        fs::remove(file);
    }
};

Place Fresh(const char* tag) {
    const std::string id = std::to_string(getpid()) + "_" + tag;
    return {"/vek_test_lock_" + id, fs::temp_directory_path() / ("vek_test_lock_" + id + ".lock")};
}

mode_t ModeOf(const fs::path& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// Opens, takes and releases the lock with stderr captured; returns what it said.
std::string Cycle() {
    testing::internal::CaptureStderr();
    vek::os::LockOpen();
    EXPECT_TRUE(vek::os::LockIsOpen());
    vek::os::LockAcquire();
    vek::os::LockRelease();
    vek::os::LockClose();
    return testing::internal::GetCapturedStderr();
}

// Another process cannot take the lock file while this one holds the lock.
bool FileExcludesOtherProcesses(const fs::path& file) {
    vek::os::LockOpen();
    vek::os::LockAcquire();
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(file.c_str(), O_RDWR);
        _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK ? 0 : 1);
    }
    const bool excluded = Wait(pid) == 0;
    vek::os::LockRelease();
    vek::os::LockClose();
    return excluded;
}

enum class Expect { kShared, kFile, kLocal };

TEST(ApiLockPlace, OwnerOnlyObjectElseLockFileElseProcessOnly) {
    const struct {
        const char* what;
        std::function<void(Place&)> prepare;
        Expect expect;
    } cases[] = {
        {"fresh object", [](Place&) {}, Expect::kShared},
        {"object open to everyone",
         [](Place& p) {
             int fd = shm_open(p.shm.c_str(), O_RDWR | O_CREAT, 0600);
             fchmod(fd, 0666);
             close(fd);
         },
         Expect::kFile},
        {"object owned by another user",
         [](Place& p) {
             int fd = shm_open(p.shm.c_str(), O_RDWR | O_CREAT, 0600);
             if (fchown(fd, 65534, 65534) != 0) p.shm.clear(); // not root: row not applicable
             close(fd);
         },
         Expect::kFile},
        {"no shared memory", [](Place& p) { p.shm = "/no/such/dir"; }, Expect::kFile},
        {"lock file open to everyone",
         [](Place& p) {
             p.shm = "/no/such/dir";
             std::ofstream(p.file) << "";
             fs::permissions(p.file, fs::perms::all);
         },
         Expect::kLocal},
        {"neither", [](Place& p) { p.shm = "/no/such/dir"; p.file = "/no/such/dir/x.lock"; }, Expect::kLocal},
    };
    for (const auto& c : cases) {
        Place place = Fresh("place");
        c.prepare(place);
        if (place.shm.empty()) continue;
        vek::os::LockUseNamesForTest(place.shm.c_str(), place.file.c_str());
        const std::string said = Cycle();
        const bool saidFallback = !said.empty();
        switch (c.expect) {
        case Expect::kShared:
            EXPECT_FALSE(saidFallback) << c.what << ": " << said;
            EXPECT_EQ(ModeOf("/dev/shm" + place.shm), 0600u) << c.what;
            break;
        case Expect::kFile:
            EXPECT_EQ(ModeOf(place.file), 0600u) << c.what;
            EXPECT_TRUE(FileExcludesOtherProcesses(place.file)) << c.what;
            break;
        case Expect::kLocal:
            EXPECT_NE(said.find("only this process"), std::string::npos) << c.what << ": " << said;
            break;
        }
    }
}

TEST(ApiLockPlace, FallbackIsReportedOnce) {
    Place place = Fresh("once");
    place.shm = "/no/such/dir";
    vek::os::LockUseNamesForTest(place.shm.c_str(), place.file.c_str());
    std::string said;
    for (int i = 0; i < 3; ++i) said += Cycle();
    EXPECT_NE(said.find("locking with"), std::string::npos) << said;
    EXPECT_EQ(said.find("locking with"), said.rfind("locking with")) << said;
}

} // namespace lockplace

} // namespace
