// Whether this process may drive the native channel: not "is root" but the
// capabilities the kernel checks on each interface.
#pragma once

namespace vek::os {

// True when the effective set holds all of
//   CAP_SYS_RAWIO     /dev/port, /dev/mem and /dev/cpu/N/msr
//   CAP_SYS_ADMIN     PCI configuration writes (and reads past 64 bytes) in sysfs
//   CAP_DAC_OVERRIDE  opening those root-owned files as another user
bool NativeChannelCapabilities();

} // namespace vek::os
