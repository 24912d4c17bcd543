// A wait that is as exact as a spin but leaves the processor to others: the
// bulk is slept on the OS's high-resolution timer, the last stretch spun on the
// counter. The timer wakes a thread late by a varying amount (timer slack,
// scheduling), so the spin stretch follows the lateness actually observed:
// it rises at once to a late wake and decays over a few wakes, within bounds.
#pragma once

#include <atomic>
#include <cstdint>

namespace vek::os {

inline constexpr int64_t kSpinHeadroomNs = 15'000;
inline constexpr int64_t kMinSleepNs = 50'000;
// Past this a late wake is the scheduler's doing (a loaded machine), which
// spinning longer would not cure: the stretch stays below it.
inline constexpr int64_t kMaxSpinNs = 250'000;
// A long wait can afford a wider margin than the observed lateness: a
// twentieth of the wait, up to this, costs at most 5 % of a core and absorbs
// the rarer late wakes of a virtual machine's or a busy host's scheduler.
inline constexpr int64_t kLongWaitSpinNs = 2'000'000;

// Lateness of recent timer wakes, shared by every thread (a rough estimate:
// lost updates between threads do no harm).
class WakeLateness {
public:
    // minSpinNs: the platform timer's own granularity (timer slack and the like).
    explicit WakeLateness(int64_t minSpinNs) : minNs_(minSpinNs), lateNs_(0) {}
    // How long before the deadline to stop sleeping and start spinning.
    int64_t SpinNs() const {
        const int64_t spin = lateNs_.load(std::memory_order_relaxed) + kSpinHeadroomNs;
        return spin < minNs_ ? minNs_ : spin > kMaxSpinNs ? kMaxSpinNs : spin;
    }
    int64_t MinSpinNs() const { return minNs_; }
    void Observe(int64_t lateNs) {
        if (lateNs < 0) lateNs = 0;
        const int64_t old = lateNs_.load(std::memory_order_relaxed);
        lateNs_.store(lateNs > old ? lateNs : old - (old - lateNs) / 4, std::memory_order_relaxed);
    }

private:
    const int64_t minNs_;
    std::atomic<int64_t> lateNs_;
};

// Waits until now() >= deadline (nanoseconds on now's clock). sleepUntil(t)
// blocks until about t and returns false when the timer cannot be used, which
// turns the rest of the wait into a spin.
template <class Now, class SleepUntil>
void WaitUntil(int64_t deadline, WakeLateness& lateness, Now now, SleepUntil sleepUntil) {
    const int64_t start = now();
    const int64_t share = (deadline - start) / 20;
    const int64_t margin = share > kLongWaitSpinNs ? kLongWaitSpinNs : share;
    const int64_t spin = lateness.SpinNs() > margin ? lateness.SpinNs() : margin;
    const int64_t wake = deadline - spin;
    // A sleep shorter than this saves little and risks a late wake: spin it.
    if (start + kMinSleepNs <= wake && sleepUntil(wake)) lateness.Observe(now() - wake);
    while (now() < deadline) {
    }
}

// now + microseconds in nanoseconds, saturating instead of overflowing.
inline int64_t DeadlineNs(int64_t nowNs, int64_t microseconds) {
    constexpr int64_t kMax = INT64_MAX;
    if (microseconds <= 0) return nowNs;
    if (microseconds > (kMax - nowNs) / 1000) return kMax;
    return nowNs + microseconds * 1000;
}

} // namespace vek::os
