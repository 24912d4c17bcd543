// Process-wide library state: the init word, the two device contexts, the
// cached identity and the I/O pause of each backend. Written by Init, Uninit
// and SetIOSleepTime only; the backends read their pause from here and never
// reach up into the exported frame.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/context.h"

namespace vek {

inline constexpr int32_t kMaxIoSleepUs = 10'000'000;
inline constexpr uint32_t kIdentityBytes = 80;

struct Library {
    std::atomic<int32_t> initWord{-1}; // -1 until the I/O driver is ready
    // Set by Uninit before it takes anything down: from then on exports answer 6
    // until the next successful Init rather than touch closed handles.
    std::atomic<bool> released{false};

    DeviceContext primary{};
    DeviceContext secondary{};

    char productName[kIdentityBytes] = {};
    char biosVendor[kIdentityBytes] = {};
    char biosVersion[kIdentityBytes] = {};
    char serialNumber[kIdentityBytes] = {};
    char platformType[kIdentityBytes] = {};

    // IoDelay per backend, in microseconds (kinds 3 and 11 share one).
    int32_t ioDelaySio1 = 5;
    int32_t ioDelaySio2 = 5;
    int32_t ioDelayEc = 20;
    int32_t ioDelayChipset = 30;
    int32_t ioDelaySio5 = 500;
};

Library& Lib();

// Pointer to the IoDelay of a ChipKind, or null for kinds without one.
int32_t* IoDelayOf(uint32_t kind);

// The library is usable: Init succeeded and Uninit has not run since.
inline bool Ready() { return Lib().initWord != -1 && !Lib().released; }

} // namespace vek
