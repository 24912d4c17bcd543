// A chip's watchdog counter in virtual time: armed with a deadline, it expires
// once when the machine's clock has reached it, and records when.
#pragma once

#include <cstdint>

namespace vek::sim {

struct Countdown {
    bool running = false;
    int64_t deadlineNs = 0;
    int expiries = 0;
    int64_t lastExpiryNs = -1;

    void Start(int64_t nowNs, int64_t periodNs) {
        running = true;
        deadlineNs = nowNs + periodNs;
    }
    void Stop() { running = false; }
    // True when the counter ran out at or before nowNs (once per arming).
    bool Poll(int64_t nowNs) {
        if (!running || nowNs < deadlineNs) return false;
        running = false;
        ++expiries;
        lastExpiryNs = deadlineNs;
        return true;
    }
};

} // namespace vek::sim
