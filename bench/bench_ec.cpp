// The EC paths in the simulator: what one EC read costs the host beyond the
// simulated hardware, and how many driver requests it sends against the
// fewest its access sequence allows.
//
// Counters per call:
//   requests   port requests the library sent (one driver round trip each)
//   minimum    requests the sequence cannot do without: window 1; ACPI read 6
//              (3 bytes + 3 status polls when the EC is never busy); bridge
//              read 12 (6 index/data pairs); aux command 6; mailbox read 2
//   device_us  virtual device time: the polls' 200 µs and the bridge's pauses
#include <benchmark/benchmark.h>

#include <memory>

#include "backends/ec/ec.h"
#include "sim/attached.h"
#include "sim/board.h"
#include "sim/ec/ec_model.h"
#include "vek/vek.h"

namespace {

const vek::PlatformEntry& RowOf(uint32_t boardId) {
    for (const vek::PlatformEntry& r : vek::kPlatformTable)
        if (r.boardId == boardId) return r;
    return vek::kPlatformTable[0];
}

// One initialised simulated board for the length of a benchmark run.
struct EcBench {
    std::unique_ptr<vek::sim::Board> board;
    std::unique_ptr<vek::sim::Attached> attached;
    bool ok = false;

    explicit EcBench(uint32_t boardId) {
        board = std::make_unique<vek::sim::Board>(RowOf(boardId));
        attached = std::make_unique<vek::sim::Attached>(*board);
        ok = attached->ok() && VEK_API_Init() == VEK_OK;
        board->machine().SetTraceEnabled(false);
    }
    vek::sim::Machine& machine() { return board->machine(); }
};

// Runs fn in the timed loop after counting its requests and device time on a sample.
template <class Fn>
void Measure(benchmark::State& state, uint32_t boardId, double minimum, Fn fn, void (*setup)() = nullptr) {
    EcBench b(boardId);
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

// ---- one EC read per path, below the frame ----

void BM_EcWindowRead(benchmark::State& state) {
    Measure(state, 11, 1, [] { benchmark::DoNotOptimize(vek::ec::WindowRead(0x2C)); });
}
BENCHMARK(BM_EcWindowRead);

void BM_EcAcpiRead(benchmark::State& state) {
    Measure(state, 12, 6, [] { benchmark::DoNotOptimize(vek::ec::AcpiEcRead(0x2C)); });
}
BENCHMARK(BM_EcAcpiRead);

void BM_EcMemoryRead(benchmark::State& state) {
    Measure(state, 6, 12, [] { benchmark::DoNotOptimize(vek::ec::EcMemoryRead(0x160A)); });
}
BENCHMARK(BM_EcMemoryRead);

void BM_EcAuxCommand(benchmark::State& state) {
    Measure(state, 151, 6, [] { benchmark::DoNotOptimize(vek::ec::AuxCommand(0xA2, 0)); });
}
BENCHMARK(BM_EcAuxCommand);

void BM_EcMailboxRead(benchmark::State& state) {
    Measure(state, 11, 2, [] { benchmark::DoNotOptimize(vek::ec::MailboxRead(0x00)); });
}
BENCHMARK(BM_EcMailboxRead);

// ---- the same reads through an export: lock, checks, routing, dispatch ----

void BM_ExportGpioReadWindow(benchmark::State& state) {
    uint8_t v = 0;
    Measure(state, 11, 1, [&] { benchmark::DoNotOptimize(VEK_GPIO_Read(1, &v)); });
}
BENCHMARK(BM_ExportGpioReadWindow);

void BM_ExportGpioReadAcpi(benchmark::State& state) {
    uint8_t v = 0;
    Measure(state, 12, 6, [&] { benchmark::DoNotOptimize(VEK_GPIO_Read(1, &v)); });
}
BENCHMARK(BM_ExportGpioReadAcpi);

// One pin on the bridge: a single EC memory read.
void BM_ExportGpioReadPinIndirect(benchmark::State& state) {
    uint8_t v = 0;
    Measure(state, 6, 12, [&] { benchmark::DoNotOptimize(VEK_GPIO_ReadPin(1, 1, &v)); });
}
BENCHMARK(BM_ExportGpioReadPinIndirect);

// Watchdog reload on the window path: three writes and the read-back.
void BM_ExportWdtTriggerWindow(benchmark::State& state) {
    Measure(state, 11, 4, [] { benchmark::DoNotOptimize(VEK_WDT_Trigger()); }, [] { VEK_WDT_SetConfig(0, 60); });
}
BENCHMARK(BM_ExportWdtTriggerWindow);

void BM_ExportWdtTriggerAux(benchmark::State& state) {
    Measure(state, 151, 6, [] { benchmark::DoNotOptimize(VEK_WDT_Trigger()); }, [] { VEK_WDT_SetConfig(1, 5); });
}
BENCHMARK(BM_ExportWdtTriggerAux);

} // namespace
