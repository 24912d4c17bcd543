// A simulated board for the length of a benchmark run, and the measurement
// every hardware benchmark reports: driver requests and virtual device time
// per call (from a traced sample), then host time in the timed loop.
#pragma once

#include <benchmark/benchmark.h>

#include <memory>

#include "sim/attached.h"
#include "sim/board.h"
#include "vek/vek.h"

namespace vek::bench {

// First row carrying the board id.
inline const PlatformEntry& RowOf(uint32_t boardId) {
    for (const PlatformEntry& r : kPlatformTable)
        if (r.boardId == boardId) return r;
    return kPlatformTable[0];
}

// One initialised simulated board, trace off.
struct SimBench {
    std::unique_ptr<sim::Board> board;
    std::unique_ptr<sim::Attached> attached;
    bool ok = false;

    explicit SimBench(uint32_t boardId) {
        board = std::make_unique<sim::Board>(RowOf(boardId));
        attached = std::make_unique<sim::Attached>(*board);
        ok = attached->ok() && VEK_API_Init() == VEK_OK;
        board->machine().SetTraceEnabled(false);
    }
    sim::Machine& machine() { return board->machine(); }
};

// Runs fn in the timed loop after counting its requests and device time on a sample.
template <class Fn>
void Measure(benchmark::State& state, uint32_t boardId, double minimum, Fn fn, void (*setup)() = nullptr) {
    SimBench b(boardId);
    if (!b.ok) {
        state.SkipWithError("simulated board did not attach or initialise");
        return;
    }
    if (setup) setup();
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

} // namespace vek::bench
