#include "backends/superio/kernel_route.h"

#include <cmath>
#include <cstdio>
#include <iterator>

#include "backends/superio/driver_inputs.h"
#include "hal/hal.h"
#include "hal/kernel_owner.h"
#include "vek/vek.h"

namespace vek::superio {
namespace {

// One entry per context that has a Super I/O (primary and secondary at most).
struct Held {
    const DeviceContext* ctx;
    bool held;
    uint16_t base;
    char driver[32];
};
Held g_held[2] = {};

Held* Slot(const DeviceContext& ctx) {
    for (Held& h : g_held)
        if (h.ctx == &ctx) return &h;
    for (Held& h : g_held)
        if (h.ctx == nullptr) return &h;
    return &g_held[std::size(g_held) - 1];
}

const Held* Find(const DeviceContext& ctx) {
    for (const Held& h : g_held)
        if (h.ctx == &ctx) return &h;
    return nullptr;
}

} // namespace

void NoteMonitorBlock(const DeviceContext& ctx, uint16_t base, uint16_t size) {
    Held& h = *Slot(ctx);
    h = {&ctx, false, base, {}};
    if (base == 0 || base == 0xFFFF) return;
    const hal::KernelOwner owner = hal::OwnerOf(VEK_HOST_RES_SIO_MONITOR, base, size);
    if (!owner.claimed) return;
    h.held = true;
    std::snprintf(h.driver, sizeof h.driver, "%s", owner.driver.c_str());
    hal::ReportRefusal("the Super I/O hardware monitor", owner,
                       hal::Platform().hwmon_read != nullptr
                           ? "temperatures, voltages and fan speeds come from its hwmon inputs where one maps; "
                             "fan control answers 10"
                           : "its temperatures, voltages and fans answer 10 here (read them in /sys/class/hwmon)");
}

bool MonitorHeldByKernel(const DeviceContext& ctx) {
    const Held* h = Find(ctx);
    return h != nullptr && h->held;
}

uint32_t HeldReading(const DeviceContext& ctx, uint32_t kind, uint8_t bank, uint8_t reg, double lsb,
                     double* reading) {
    const Held* h = Find(ctx);
    const vek_host_platform& p = hal::Platform();
    if (h == nullptr || !h->held || p.hwmon_read == nullptr) return VEK_ERR_UNSUPPORTED;
    const DriverInput* in = FindDriverInput(h->driver, lsb, kind, bank, reg);
    if (in == nullptr) return VEK_ERR_UNSUPPORTED;
    int32_t v = 0;
    if (p.hwmon_read(p.user, h->base, kind, in->index, &v) != 0) return VEK_ERR_UNSUPPORTED;
    switch (kind) {
    case VEK_HOST_HWMON_TEMPERATURE: *reading = v / 1000.0; break;
    // The driver's millivolts are whole ADC steps times its own scaling.
    case VEK_HOST_HWMON_VOLTAGE: *reading = std::round(v / (lsb * 1000.0 * in->steps)); break;
    default: *reading = v < 0 ? 0 : v; break;
    }
    return VEK_OK;
}

} // namespace vek::superio
