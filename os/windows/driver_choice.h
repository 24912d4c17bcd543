// Which I/O driver file serves this operating system and processor.
#pragma once

#include <cstdint>

#include "vek/host.h"

namespace vek::os::win {

// dwPlatformId of the version record.
enum PlatformClass : uint32_t {
    kPlatformWin16 = 0, // Win32s on 16-bit Windows: no driver exists
    kPlatformWin9x = 1,
    kPlatformNt = 2,
};

enum DriverType : uint32_t {
    kDriverNone = 0,
    kDriverNt32 = 1,
    kDriverVxd = 3,
    kDriverIa64 = 4,
    kDriverX64 = 5,
};

struct DriverChoice {
    const wchar_t* file; // empty when no driver fits
    DriverType type;
    uint32_t status;     // VEK_HOST_DRIVER_*
};

inline constexpr wchar_t kDriverFileNt32[] = L"zelkoran.sys";
inline constexpr wchar_t kDriverFileX64[] = L"zelkoranx64.sys";
inline constexpr wchar_t kDriverFileIa64[] = L"zelkorania64.sys";
inline constexpr wchar_t kDriverFileVxd[] = L"zelkoran.vxd";

// wow64: a 32-bit process on a 64-bit system. nativeAmd64: the machine's own
// processor is AMD64 (PROCESSOR_ARCHITECTURE_AMD64 from GetNativeSystemInfo).
constexpr DriverChoice ChooseDriver(uint32_t platformClass, bool wow64, bool nativeAmd64) {
    switch (platformClass) {
    case kPlatformWin16:
        return {L"", kDriverNone, VEK_HOST_DRIVER_UNSUPPORTED};
    case kPlatformWin9x:
        return {kDriverFileVxd, kDriverVxd, VEK_HOST_DRIVER_READY};
    case kPlatformNt:
        if (nativeAmd64) return {kDriverFileX64, kDriverX64, VEK_HOST_DRIVER_READY};
        // A 32-bit process emulated on a 64-bit machine that is not AMD64:
        // Itanium, whose driver cannot be reached from 32-bit code.
        if (wow64) return {kDriverFileIa64, kDriverIa64, VEK_HOST_DRIVER_UNSUPPORTED};
        return {kDriverFileNt32, kDriverNt32, VEK_HOST_DRIVER_READY};
    default:
        return {L"", kDriverNone, VEK_HOST_DRIVER_NOT_STARTED};
    }
}

} // namespace vek::os::win
