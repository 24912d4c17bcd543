#include "os/linux/hwmon.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "os/linux/sysfs.h"
#include "vek/host.h"

namespace vek::os {
namespace {

std::string LinkBasename(const std::string& link) {
    char target[512];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    target[n] = '\0';
    std::string t(target);
    while (!t.empty() && t.back() == '/') t.pop_back();
    const size_t slash = t.rfind('/');
    return slash == std::string::npos ? t : t.substr(slash + 1);
}

// "it87.656" for base 656: a driver name, a dot, the base in decimal and nothing after.
bool NamesBlock(const std::string& device, uint16_t ioBase) {
    const std::string suffix = "." + std::to_string(ioBase);
    return device.size() > suffix.size() &&
           device.compare(device.size() - suffix.size(), suffix.size(), suffix) == 0;
}

const char* Prefix(uint32_t kind) {
    switch (kind) {
    case VEK_HOST_HWMON_TEMPERATURE: return "temp";
    case VEK_HOST_HWMON_VOLTAGE: return "in";
    case VEK_HOST_HWMON_FAN: return "fan";
    default: return nullptr;
    }
}

} // namespace

std::string HwmonDirFor(const std::string& root, uint16_t ioBase) {
    if (ioBase == 0) return {};
    const std::string cls = root + "/sys/class/hwmon";
    for (const std::string& entry : sysfs::Entries(cls)) {
        const std::string dir = cls + "/" + entry;
        if (NamesBlock(LinkBasename(dir + "/device"), ioBase)) return dir;
    }
    return {};
}

namespace {

// The last block's hwmon directory. The class device keeps its number while
// the driver stays bound; a rebind renumbers it, and the cached directory then
// no longer leads to the block's device, which sends the lookup round again.
struct DirCache {
    std::mutex mutex;
    std::string root, dir;
    uint16_t base = 0;
};
DirCache g_dirCache;

std::string CachedDirFor(const std::string& root, uint16_t ioBase) {
    std::lock_guard<std::mutex> lock(g_dirCache.mutex);
    if (g_dirCache.base == ioBase && g_dirCache.root == root && !g_dirCache.dir.empty() &&
        NamesBlock(LinkBasename(g_dirCache.dir + "/device"), ioBase))
        return g_dirCache.dir;
    g_dirCache.root = root;
    g_dirCache.base = ioBase;
    g_dirCache.dir = HwmonDirFor(root, ioBase);
    return g_dirCache.dir;
}

} // namespace

uint32_t HwmonRead(const std::string& root, uint16_t ioBase, uint32_t kind, uint32_t index, int32_t* value) {
    const char* prefix = Prefix(kind);
    if (value == nullptr || prefix == nullptr || index > 64 || (index == 0 && kind != VEK_HOST_HWMON_VOLTAGE)) return 1;
    if (ioBase == 0) return 1;
    const std::string dir = CachedDirFor(root, ioBase);
    if (dir.empty()) return 1;
    const std::string file = std::string(prefix) + std::to_string(index) + "_input";
    std::string path = dir + "/" + file;
    if (!sysfs::Exists(path)) path = dir + "/device/" + file;
    if (!sysfs::Exists(path)) return 1;
    // A driver answers a read it cannot make (a disconnected fan on some chips)
    // with an error rather than text, which leaves the line empty.
    const std::string text = sysfs::FirstLine(path);
    if (text.empty()) return 2;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return 2;
    *value = int32_t(v);
    return 0;
}

} // namespace vek::os
