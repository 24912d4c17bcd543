// The EC's ACPI-style command interface (0x62/0x66) belongs to the ACPI EC
// driver on most Linux systems: the firmware's own queries run through it at
// any time, and a raw command beside it interleaves with the kernel's
// transactions. Where the driver holds the ports, EC RAM bytes go through the
// kernel's EC interface (one RD_EC/WR_EC under its lock per byte); commands it
// cannot express are refused; without such an interface the interface is
// refused altogether.
#include "backends/ec/ec.h"
#include "hal/hal.h"
#include "hal/kernel_owner.h"
#include "platform/context.h"

namespace vek::ec {
namespace {

EcPortRoute g_route = EcPortRoute::Ports;

constexpr uint8_t kFloatingBus = 0xFF; // what a refused read yields, as an absent EC does

// Capability words whose functions read or write EC registers.
constexpr Capability kEcFamilies[] = {CAP_GPIO, CAP_WDT,           CAP_FAN,         CAP_VOLTAGE, CAP_CURRENT,
                               CAP_TEMPERATURE, CAP_SMART_BATTERY, CAP_EC_SMARTFAN, CAP_LED,     CAP_BUTTON};
constexpr uint32_t SPEAKER_EC_BEEPER = 2;

} // namespace

EcPortRoute ChooseEcPortRoute(DeviceContext& ctx) {
    g_route = EcPortRoute::Ports;
    const hal::KernelOwner owner = hal::OwnerOf(VEK_HOST_RES_EC, EC_DATA_PORT, EC_COMMAND_PORT);
    if (!owner.claimed) return g_route;
    const vek_host_platform& p = hal::Platform();
    uint8_t probe = 0;
    const bool kernelRam = p.ec_ram_read != nullptr && p.ec_ram_read(p.user, 0, &probe) == 0;
    g_route = kernelRam ? EcPortRoute::Kernel : EcPortRoute::Refused;
    // Only boards that reach their registers through these ports lose them.
    if (g_route == EcPortRoute::Refused && (Area(ctx).flags & EC_ACPI_PORTS)) {
        for (Capability c : kEcFamilies) ctx.caps[c] = 0;
        if (ctx.caps[CAP_SPEAKER] == SPEAKER_EC_BEEPER) ctx.caps[CAP_SPEAKER] = 0;
        hal::ReportRefusal("the EC command interface (ports 0x62/0x66)", owner,
                           "no kernel EC interface answers (modprobe ec_sys write_support=1); EC functions answer 10");
    }
    return g_route;
}

EcPortRoute CurrentEcPortRoute() { return g_route; }

uint8_t KernelEcRead(uint8_t reg) {
    const vek_host_platform& p = hal::Platform();
    uint8_t v = kFloatingBus;
    if (g_route == EcPortRoute::Kernel && p.ec_ram_read != nullptr) p.ec_ram_read(p.user, reg, &v);
    return v;
}

void KernelEcWrite(uint8_t reg, uint8_t value) {
    const vek_host_platform& p = hal::Platform();
    if (g_route == EcPortRoute::Kernel && p.ec_ram_write != nullptr) p.ec_ram_write(p.user, reg, value);
}

} // namespace vek::ec
