#include "os/linux/kernel_override.h"

#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "vek/host.h"

namespace vek::os {
namespace {

constexpr char kVariable[] = "VEK_KERNEL_OVERRIDE";
constexpr char kDefaultFile[] = "/etc/vek/kernel-override.conf";
std::string g_file = kDefaultFile;

const char* ClassOf(uint32_t resource) {
    switch (resource) {
    case VEK_HOST_RES_SMBUS: return "smbus";
    case VEK_HOST_RES_EC: return "ec";
    case VEK_HOST_RES_SIO_MONITOR:
    case VEK_HOST_RES_SIO_GPIO: return "superio";
    case VEK_HOST_RES_WATCHDOG: return "watchdog";
    case VEK_HOST_RES_SPEAKER: return "speaker";
    default: return nullptr;
    }
}
constexpr const char* kClasses[] = {"smbus", "ec", "superio", "watchdog", "speaker"};

std::string Setting() {
    if (const char* v = ::secure_getenv(kVariable)) return v;
    std::string line;
    std::ifstream in(g_file);
    std::getline(in, line);
    return line;
}

bool Names(const std::string& setting, const char* cls) {
    std::istringstream in(setting);
    std::string item;
    while (std::getline(in, item, ',')) {
        const size_t first = item.find_first_not_of(" \t");
        const size_t last = item.find_last_not_of(" \t\r\n");
        if (first == std::string::npos) continue;
        item = item.substr(first, last - first + 1);
        if (item == cls || item == "all") return true;
    }
    return false;
}

enum Warning { kBypassed, kLockedDown, kWarnings };
std::mutex g_warnedLock;
bool g_warned[kWarnings][std::size(kClasses)] = {};

// True the first time for the class and the warning in this process.
bool FirstWarning(Warning w, const char* cls) {
    std::lock_guard<std::mutex> hold(g_warnedLock);
    for (size_t i = 0; i < std::size(kClasses); ++i) {
        if (std::strcmp(kClasses[i], cls) != 0) continue;
        if (g_warned[w][i]) return false;
        return g_warned[w][i] = true;
    }
    return false;
}

} // namespace

void SetKernelOverrideFile(const std::string& path) { g_file = path.empty() ? kDefaultFile : path; }

bool OverrideRequested(uint32_t resource) {
    const char* cls = ClassOf(resource);
    return cls != nullptr && Names(Setting(), cls);
}

uint32_t OwnerWithOverride(const OwnershipProbe& probe, uint32_t resource, uint32_t a, uint32_t b, char* driver,
                           uint32_t driverSize) {
    char name[64] = {};
    const uint32_t owner = HostResourceOwner(probe, resource, a, b, name, sizeof name);
    const auto answer = [&](uint32_t result) {
        if (driver != nullptr && driverSize != 0) {
            std::strncpy(driver, name, driverSize - 1);
            driver[driverSize - 1] = '\0';
        }
        return result;
    };
    if (owner == VEK_HOST_OWNER_NONE || !OverrideRequested(resource)) return answer(owner);
    const char* cls = ClassOf(resource);
    const char* who = name[0] != '\0' ? name : "an unnamed claimant";
    if (probe.lockdown() != Lockdown::None) {
        if (FirstWarning(kLockedDown, cls))
            std::fprintf(stderr, "vek: %s override refused under kernel lockdown; %s keeps the hardware\n", cls, who);
        return answer(owner);
    }
    if (FirstWarning(kBypassed, cls))
        std::fprintf(stderr, "vek: %s override: driving the hardware directly, bypassing kernel driver %s\n", cls,
                     who);
    return answer(VEK_HOST_OWNER_NONE);
}

} // namespace vek::os
