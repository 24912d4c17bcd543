// The ChipKind 1 Super I/O in the simulator: what a temperature read and a
// GPIO pin write cost the host beyond the simulated hardware, and how many
// driver requests they send against the fewest their access sequence allows.
//
// Counters per call:
//   requests   port requests the library sent (one driver round trip each)
//   minimum    requests the sequence cannot do without: a monitor read is a
//              bank select and an index/data read (4); a pin write is the
//              two key bytes, the device select, the read and write of the
//              data register and the exit byte (9)
//   device_us  virtual device time: each access plus the 5 µs pause after it
#include <benchmark/benchmark.h>

#include <memory>

#include "backends/sio1/sio1.h"
#include "sim/attached.h"
#include "sim/board.h"
#include "vek/vek.h"

namespace {

const vek::PlatformEntry& RowOf(uint32_t boardId) {
    for (const vek::PlatformEntry& r : vek::kPlatformTable)
        if (r.boardId == boardId && r.chipKind == vek::KIND_SIO1) return r;
    return vek::kPlatformTable[0];
}

struct Sio1Bench {
    std::unique_ptr<vek::sim::Board> board;
    std::unique_ptr<vek::sim::Attached> attached;
    bool ok = false;

    explicit Sio1Bench(uint32_t boardId) {
        vek::sio1::ResetProcessState();
        board = std::make_unique<vek::sim::Board>(RowOf(boardId));
        attached = std::make_unique<vek::sim::Attached>(*board);
        ok = attached->ok() && VEK_API_Init() == VEK_OK;
        board->machine().SetTraceEnabled(false);
    }
    vek::sim::Machine& machine() { return board->machine(); }
};

template <class Fn>
void Measure(benchmark::State& state, uint32_t boardId, double minimum, Fn fn) {
    Sio1Bench b(boardId);
    if (!b.ok) {
        state.SkipWithError("simulated board did not attach or initialise");
        return;
    }
    constexpr int kSample = 50;
    b.machine().SetTraceEnabled(true);
    b.machine().ClearTrace();
    const int64_t t0 = b.machine().now_ns();
    for (int i = 0; i < kSample; ++i) fn();
    state.counters["requests"] = double(b.machine().trace().size()) / kSample;
    state.counters["minimum"] = minimum;
    state.counters["device_us"] = double(b.machine().now_ns() - t0) / kSample / 1000.0;
    b.machine().SetTraceEnabled(false);
    for (auto _ : state) fn();
}

// Board sensor of an older part: bank 0, so nothing to restore afterwards.
void BM_Sio1SysTemperatureBank0(benchmark::State& state) {
    double v = 0;
    Measure(state, 25, 4, [&] { benchmark::DoNotOptimize(VEK_HWM_SysTemperature(&v)); });
}
BENCHMARK(BM_Sio1SysTemperatureBank0);

// CPU sensor of a newer part: bank 3, and bank 0 selected again on the way out.
void BM_Sio1CpuTemperatureBank3(benchmark::State& state) {
    double v = 0;
    Measure(state, 72, 4, [&] { benchmark::DoNotOptimize(VEK_HWM_CPUTemperature(0, &v)); });
}
BENCHMARK(BM_Sio1CpuTemperatureBank3);

void BM_Sio1GpioWritePin(benchmark::State& state) {
    uint8_t level = 0;
    Measure(state, 72, 9, [&] { benchmark::DoNotOptimize(VEK_GPIO_WritePin(1, 3, level ^= 1)); });
}
BENCHMARK(BM_Sio1GpioWritePin);

} // namespace
