#include "os/linux/capabilities.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace vek::os {

namespace {
constexpr uint64_t Bit(int cap) { return uint64_t(1) << cap; }
constexpr uint64_t kNativeChannel = Bit(CAP_SYS_RAWIO) | Bit(CAP_SYS_ADMIN) | Bit(CAP_DAC_OVERRIDE);
} // namespace

bool NativeChannelCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    const uint64_t effective = uint64_t(data[1].effective) << 32 | data[0].effective;
    return (effective & kNativeChannel) == kNativeChannel;
}

} // namespace vek::os
