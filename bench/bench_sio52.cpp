// The ChipKind 5 and 2 Super I/O paths in the simulator: one temperature read
// and one GPIO pin write per kind, through the exports. Google Benchmark's time
// is the host's cost per call beyond the simulated hardware (the chip's pauses
// are virtual time here).
//
// Counters per call:
//   requests   port requests sent (one driver round trip each)
//   minimum    requests the access sequence cannot do without:
//              kind 5 temperature 7 (key 2, device select 2, monitor pair 2,
//              exit 1); kind 5 pin write 9 (key 2, select 2, read 2, write 2,
//              exit 1); kind 2 temperature 2 (the monitor pair, no
//              configuration mode); kind 2 pin write 12 (key 4, select 2, port
//              read and write 2, lock read-modify-write 4)
//   device_us  virtual device time: requests times (request cost + IoDelay)
#include <benchmark/benchmark.h>

#include <memory>

#include "sim/attached.h"
#include "sim/board.h"
#include "vek/vek.h"

namespace {

// One initialised simulated board for the length of a benchmark run.
struct SioBench {
    std::unique_ptr<vek::sim::Board> board;
    std::unique_ptr<vek::sim::Attached> attached;
    bool ok = false;

    explicit SioBench(const char* name) {
        board = std::make_unique<vek::sim::Board>(vek::sim::Board::Named(name));
        attached = std::make_unique<vek::sim::Attached>(*board);
        ok = attached->ok() && VEK_API_Init() == VEK_OK;
    }
};

template <class Fn>
void Measure(benchmark::State& state, const char* board, double minimum, Fn call) {
    SioBench b(board);
    if (!b.ok) {
        state.SkipWithError("simulated board did not attach or initialise");
        return;
    }
    vek::sim::Machine& m = b.board->machine();
    constexpr int kSample = 50;
    m.ClearTrace();
    const int64_t t0 = m.now_ns();
    for (int i = 0; i < kSample; ++i) call();
    state.counters["requests"] = double(m.trace().size()) / kSample;
    state.counters["minimum"] = minimum;
    state.counters["device_us"] = double(m.now_ns() - t0) / kSample / 1000.0;
    m.SetTraceEnabled(false);
    for (auto _ : state) benchmark::DoNotOptimize(call());
}

void BM_Sio5Temperature(benchmark::State& state) {
    double t = 0;
    Measure(state, "FMQ-333", 7, [&] { return VEK_HWM_Temperature(0, &t); });
}
BENCHMARK(BM_Sio5Temperature);

void BM_Sio5GpioWritePin(benchmark::State& state) {
    Measure(state, "FMQ-343", 9, [] { return VEK_GPIO_WritePin(1, 3, 1); });
}
BENCHMARK(BM_Sio5GpioWritePin);

void BM_Sio2Temperature(benchmark::State& state) {
    double t = 0;
    Measure(state, "PBM-301", 2, [&] { return VEK_HWM_Temperature(0, &t); });
}
BENCHMARK(BM_Sio2Temperature);

void BM_Sio2GpioWritePin(benchmark::State& state) {
    Measure(state, "PBM-301", 12, [] { return VEK_GPIO_WritePin(1, 3, 1); });
}
BENCHMARK(BM_Sio2GpioWritePin);

} // namespace
