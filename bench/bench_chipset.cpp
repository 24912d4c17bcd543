// The chipset paths in the simulator: a watchdog trigger (four unlocked writes,
// each paced by the chipset pause) and a register read on a platform I2C bus
// (open, one write-then-read transfer, close).
//
// Counters per call:
//   requests   driver requests the library sent (the I2C read sends none: it
//              goes through the platform's I2C service)
//   device_us  virtual device time: the watchdog's twelve writes with their 30 µs pauses; the
//              I2C read's four byte times at 100 kHz
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "sim/attached.h"
#include "sim/board.h"
#include "sim/chipset/chipset_models.h"
#include "vek/vek.h"

namespace {

template <class Fn>
void Measure(benchmark::State& state, const char* row, Fn fn) {
    vek::sim::Board board(*vek::sim::FindRow(row));
    vek::sim::Attached attached(board);
    if (!attached.ok() || VEK_API_Init() != VEK_OK) {
        state.SkipWithError("simulated board did not attach or initialise");
        return;
    }
    vek::sim::Machine& m = board.machine();
    constexpr int kSample = 50;
    m.ClearTrace();
    const int64_t t0 = m.now_ns();
    for (int i = 0; i < kSample; ++i) fn();
    state.counters["requests"] = double(m.trace().size()) / kSample;
    state.counters["device_us"] = double(m.now_ns() - t0) / kSample / 1000.0;
    m.SetTraceEnabled(false);
    for (auto _ : state) benchmark::DoNotOptimize(fn());
}

void BM_ChipsetWatchdogTrigger(benchmark::State& state) {
    Measure(state, "PXC-59", [] { return VEK_WDT_Trigger(); });
}
BENCHMARK(BM_ChipsetWatchdogTrigger);

void BM_PlatformI2cByteRead(benchmark::State& state) {
    static uint8_t value;
    Measure(state, "WSR-949", [] { return VEK_I2C_ByteData(1, 2, vek::sim::kPlatformBlockAddress, 0x05, &value); });
}
BENCHMARK(BM_PlatformI2cByteRead);

} // namespace
