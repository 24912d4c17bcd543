// Worker process for the lock tests.
//   vek_lock_worker count FILE THREADS ITERATIONS  read-modify-write FILE under the lock
//   vek_lock_worker die                            take the lock and exit holding it
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "os/os.h"

namespace {

long ReadCounter(const std::string& path) {
    std::ifstream in(path);
    long v = 0;
    in >> v;
    return v;
}

void WriteCounter(const std::string& path, long v) {
    std::ofstream out(path, std::ios::trunc);
    out << v;
}

} // namespace

int main(int argc, char** argv) {
    // The test's own lock objects, so test runs never contend with real users.
    if (const char* name = std::getenv("VEK_TEST_LOCK_SHM")) vek::os::LockUseNamesForTest(name, std::getenv("VEK_TEST_LOCK_FILE"));
    if (argc >= 2 && std::strcmp(argv[1], "die") == 0) {
        vek::os::LockOpen();
        vek::os::LockAcquire();
        _exit(0); // the lock is still held by this (now dead) process
    }
    if (argc != 5 || std::strcmp(argv[1], "count") != 0) return 2;
    const std::string path = argv[2];
    const int threads = std::atoi(argv[3]), iterations = std::atoi(argv[4]);
    vek::os::LockOpen();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (int i = 0; i < iterations; ++i) {
                vek::os::LockAcquire();
                vek::os::LockAcquire(); // the owner may take it again
                long v = ReadCounter(path);
                std::this_thread::yield(); // widen the window a missing lock would expose
                WriteCounter(path, v + 1);
                vek::os::LockRelease();
                vek::os::LockRelease();
            }
        });
    for (auto& th : pool) th.join();
    vek::os::LockClose();
    return 0;
}
