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
    double adcLsb;
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

void NoteMonitorBlock(const DeviceContext& ctx, uint16_t base, uint16_t size, double adcLsb) {
    Held& h = *Slot(ctx);
    h = {&ctx, false, base, adcLsb, {}};
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

namespace {

// The driver's raw value of the input that reads bank:reg, and that input.
uint32_t DriverValue(const Held* h, uint32_t kind, uint8_t bank, uint8_t reg, int32_t* value,
                     const DriverInput** input) {
    const vek_host_platform& p = hal::Platform();
    if (h == nullptr || !h->held || p.hwmon_read == nullptr) return VEK_ERR_UNSUPPORTED;
    *input = FindDriverInput(h->driver, h->adcLsb, kind, bank, reg);
    if (*input == nullptr) return VEK_ERR_UNSUPPORTED;
    return p.hwmon_read(p.user, h->base, kind, (*input)->index, value) == 0 ? VEK_OK : VEK_ERR_UNSUPPORTED;
}

} // namespace

uint32_t HeldReading(const DeviceContext& ctx, uint32_t kind, uint8_t bank, uint8_t reg, double* reading) {
    const Held* h = Find(ctx);
    const DriverInput* in = nullptr;
    int32_t v = 0;
    if (uint32_t r = DriverValue(h, kind, bank, reg, &v, &in)) return r;
    // The driver's millivolts are whole ADC steps times its own scaling.
    *reading = kind == VEK_HOST_HWMON_VOLTAGE ? std::round(v / (h->adcLsb * 1000.0 * in->steps)) : v / 1000.0;
    return VEK_OK;
}

uint32_t HeldFanRpm(const DeviceContext& ctx, uint8_t bank, uint8_t reg, uint32_t* rpm) {
    const DriverInput* in = nullptr;
    int32_t v = 0;
    if (uint32_t r = DriverValue(Find(ctx), VEK_HOST_HWMON_FAN, bank, reg, &v, &in)) return r;
    *rpm = v < 0 ? 0 : uint32_t(v);
    return VEK_OK;
}

} // namespace vek::superio
