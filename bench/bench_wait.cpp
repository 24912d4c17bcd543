// The library's wait on the machine's own clock (the native platform, nothing
// attached): how far past the asked length it returns, and how much of the
// wait the calling thread spends on the processor.
//
//   overshoot_med_us, overshoot_p99_us: returned-at minus asked-for, per wait
//   cpu_share: thread CPU time / wall time over the whole run
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "hal/hal.h"

namespace {

int64_t Ns(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

double Percentile(std::vector<int64_t>& v, double p) {
    std::sort(v.begin(), v.end());
    size_t i = size_t(p * double(v.size() - 1) + 0.5);
    return double(v[std::min(i, v.size() - 1)]) / 1000.0;
}

// The library's wait.
void LibraryWait(int64_t us) { vek::hal::Delay(us); }

// Reference: a pure spin on the same clock, the accuracy a sleeping wait must keep.
void SpinWait(int64_t us) {
    const int64_t end = Ns(CLOCK_MONOTONIC) + us * 1000;
    while (Ns(CLOCK_MONOTONIC) < end) {
    }
}

template <void (*Wait)(int64_t)>
void BM_Wait(benchmark::State& state) {
    const int64_t us = state.range(0);
    std::vector<int64_t> overshoot;
    overshoot.reserve(size_t(state.max_iterations));
    int64_t cpu = 0, wall = 0;
    for (auto _ : state) {
        const int64_t c0 = Ns(CLOCK_THREAD_CPUTIME_ID);
        const int64_t t0 = Ns(CLOCK_MONOTONIC);
        Wait(us);
        const int64_t t1 = Ns(CLOCK_MONOTONIC);
        cpu += Ns(CLOCK_THREAD_CPUTIME_ID) - c0;
        wall += t1 - t0;
        overshoot.push_back(t1 - t0 - us * 1000);
    }
    const int64_t shortest = *std::min_element(overshoot.begin(), overshoot.end());
    state.counters["overshoot_med_us"] = Percentile(overshoot, 0.5);
    state.counters["overshoot_p99_us"] = Percentile(overshoot, 0.99);
    state.counters["overshoot_min_us"] = double(shortest) / 1000.0;
    state.counters["cpu_share"] = wall > 0 ? double(cpu) / double(wall) : 0.0;
}
BENCHMARK(BM_Wait<LibraryWait>)->Name("BM_Wait/library")->Arg(50)->Iterations(4000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Wait<LibraryWait>)->Name("BM_Wait/library")->Arg(1000)->Iterations(1000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Wait<LibraryWait>)->Name("BM_Wait/library")->Arg(200000)->Iterations(25)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Wait<SpinWait>)->Name("BM_Wait/spin")->Arg(50)->Iterations(4000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Wait<SpinWait>)->Name("BM_Wait/spin")->Arg(1000)->Iterations(1000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Wait<SpinWait>)->Name("BM_Wait/spin")->Arg(200000)->Iterations(25)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
