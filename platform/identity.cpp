#include "platform/identity.h"

#include <cstring>

#include "hal/hal.h"

namespace vek::platform {

constexpr uint32_t kWmiFailed = 16;

uint32_t QueryIdentity(uint32_t item, char* out, uint32_t size) {
    if (out == nullptr || size == 0) return kWmiFailed;
    const vek_host_platform& p = hal::Platform();
    if (p.identity == nullptr) return kWmiFailed;
    // The platform writes into a scratch copy so a failing query cannot leave half a value.
    char scratch[256];
    const uint32_t n = size < sizeof scratch ? size : uint32_t(sizeof scratch);
    std::memcpy(scratch, out, n);
    scratch[n - 1] = '\0';
    const uint32_t result = p.identity(p.user, item, scratch, n);
    if (result != 0) return kWmiFailed;
    scratch[n - 1] = '\0';
    std::memcpy(out, scratch, std::strlen(scratch) + 1);
    return 0;
}

} // namespace vek::platform
