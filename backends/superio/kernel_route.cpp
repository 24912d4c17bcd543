#include "backends/superio/kernel_route.h"

#include <iterator>

#include "hal/kernel_owner.h"

namespace vek::superio {
namespace {

// One entry per context that has a Super I/O (primary and secondary at most).
struct Held {
    const DeviceContext* ctx;
    bool held;
};
Held g_held[2] = {};

Held* Slot(const DeviceContext& ctx) {
    for (Held& h : g_held)
        if (h.ctx == &ctx) return &h;
    for (Held& h : g_held)
        if (h.ctx == nullptr) return &h;
    return &g_held[std::size(g_held) - 1];
}

} // namespace

void NoteMonitorBlock(const DeviceContext& ctx, uint16_t base, uint16_t size) {
    Held& h = *Slot(ctx);
    h = {&ctx, false};
    if (base == 0 || base == 0xFFFF) return;
    const hal::KernelOwner owner = hal::OwnerOf(VEK_HOST_RES_SIO_MONITOR, base, size);
    if (!owner.claimed) return;
    h.held = true;
    hal::ReportRefusal("the Super I/O hardware monitor", owner,
                       "its temperatures, voltages and fans answer 10 here (read them in /sys/class/hwmon)");
}

bool MonitorHeldByKernel(const DeviceContext& ctx) {
    for (const Held& h : g_held)
        if (h.ctx == &ctx) return h.held;
    return false;
}

} // namespace vek::superio
