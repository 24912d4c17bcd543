#include "hal/platform_slot.h"

#include <cstddef>
#include <cstring>

#include "hal/hal.h"
#include "os/os.h"

namespace vek::hal {
namespace {
vek_host_platform g_attached{};
bool g_isAttached = false;
} // namespace

bool PlatformUsable(const vek_host_platform& p) {
    constexpr size_t kMinimum = offsetof(vek_host_platform, counter_now) + sizeof(p.counter_now);
    return p.size >= kMinimum && p.driver_start && p.driver_request && p.counter_frequency &&
           p.counter_now;
}

void SetPlatform(const vek_host_platform* platform) {
    g_attached = vek_host_platform{};
    g_isAttached = platform != nullptr;
    if (platform) {
        // An older caller's structure ends early: copy what it has, the rest stays absent.
        size_t n = platform->size < sizeof(vek_host_platform) ? platform->size : sizeof(vek_host_platform);
        std::memcpy(&g_attached, platform, n);
        g_attached.size = sizeof(vek_host_platform);
    }
}

bool PlatformAttached() { return g_isAttached; }

const vek_host_platform& Platform() { return g_isAttached ? g_attached : os::NativePlatform(); }

} // namespace vek::hal
