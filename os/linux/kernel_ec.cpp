#include "os/linux/kernel_ec.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace vek::os {
namespace {

const std::vector<std::string> kDefaultFiles = {"/dev/ec", "/sys/kernel/debug/ec/ec0/io"};
std::vector<std::string> g_files = kDefaultFiles;

constexpr uint32_t kDone = 0, kNoInterface = 1, kFailed = 2;

// The first file that exists; writing needs it opened for writing, which a
// read-only ec_sys refuses: then the write fails rather than falling back to ports.
int Open(bool write, bool* found) {
    *found = false;
    for (const std::string& file : g_files) {
        const int fd = ::open(file.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
        if (fd >= 0) {
            *found = true;
            return fd;
        }
        if (errno != ENOENT && errno != ENODEV) {
            *found = true; // there, but not for us
            return -1;
        }
    }
    return -1;
}

uint32_t Transfer(bool write, uint8_t offset, uint8_t* value) {
    bool found = false;
    const int fd = Open(write, &found);
    if (fd < 0) return found ? kFailed : kNoInterface;
    const ssize_t n = write ? ::pwrite(fd, value, 1, offset) : ::pread(fd, value, 1, offset);
    ::close(fd);
    return n == 1 ? kDone : kFailed;
}

} // namespace

void SetKernelEcFiles(const std::vector<std::string>& files) { g_files = files.empty() ? kDefaultFiles : files; }

uint32_t KernelEcRead(uint8_t offset, uint8_t* value) {
    if (value == nullptr) return kFailed;
    uint8_t v = 0;
    const uint32_t r = Transfer(false, offset, &v);
    if (r == kDone) *value = v;
    return r;
}

uint32_t KernelEcWrite(uint8_t offset, uint8_t value) { return Transfer(true, offset, &value); }

} // namespace vek::os
