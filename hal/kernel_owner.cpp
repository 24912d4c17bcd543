#include "hal/kernel_owner.h"

#include <cstdio>

#include "hal/hal.h"

namespace vek::hal {

KernelOwner OwnerOf(uint32_t resource, uint32_t a, uint32_t b) {
    const vek_host_platform& p = Platform();
    if (p.resource_owner == nullptr) return {};
    char name[64] = {};
    if (p.resource_owner(p.user, resource, a, b, name, sizeof name) == VEK_HOST_OWNER_NONE) return {};
    return {true, name[0] != '\0' ? name : "an unnamed driver"};
}

void ReportRefusal(const char* what, const KernelOwner& owner, const char* consequence) {
    std::fprintf(stderr, "vek: %s belongs to kernel driver %s: %s\n", what, owner.driver.c_str(), consequence);
}

} // namespace vek::hal
