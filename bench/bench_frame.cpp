// What an export costs beyond the hardware it drives: the lock, the frame and
// the request encoding, measured against the simulator (whose port and PCI
// answers are cheap next to real I/O).
#include <benchmark/benchmark.h>

#include "hal/hal.h"
#include "os/os.h"
#include "platform/platform_table.h"
#include "sim/attached.h"
#include "sim/board.h"
#include "vek/vek.h"

namespace {

// The default simulated board, initialised for one benchmark run.
struct Session {
    vek::sim::Board board = vek::sim::Board::Default();
    vek::sim::Attached attached{board};
    Session() {
        board.machine().SetTraceEnabled(false);
        VEK_API_Init();
    }
};

// ApiLock alone: the uncontended acquire and release every export pays.
void BM_ApiLockPair(benchmark::State& state) {
    Session s;
    for (auto _ : state) {
        vek::os::LockAcquire();
        vek::os::LockRelease();
    }
}
BENCHMARK(BM_ApiLockPair);

// An export that takes no lock and touches no hardware: the frame's checks.
void BM_FrameNoLock(benchmark::State& state) {
    Session s;
    uint32_t count = 0;
    for (auto _ : state) benchmark::DoNotOptimize(VEK_GPIO_TotalSet(&count));
}
BENCHMARK(BM_FrameNoLock);

// Lock + routing + two MSR requests + CPUID through the simulated driver.
void BM_CpuTemperatureProcessorSensor(benchmark::State& state) {
    Session s;
    double d = 0;
    // Hardware accesses per call, counted once from the trace (the minimum is
    // two: TjMax and the readout register).
    s.board.machine().SetTraceEnabled(true);
    s.board.machine().ClearTrace();
    constexpr int kSample = 100;
    for (int i = 0; i < kSample; ++i) VEK_HWM_CPUTemperature(1, &d);
    state.counters["accesses/call"] = double(s.board.machine().trace().size()) / kSample;
    s.board.machine().SetTraceEnabled(false);
    for (auto _ : state) benchmark::DoNotOptimize(VEK_HWM_CPUTemperature(1, &d));
}
BENCHMARK(BM_CpuTemperatureProcessorSensor);

// One port read through the hal: request encoding plus the simulator's decode.
void BM_HalPortRead(benchmark::State& state) {
    Session s;
    uint8_t v = 0;
    for (auto _ : state) benchmark::DoNotOptimize(vek::hal::ReadPortByte(0x62, &v));
}
BENCHMARK(BM_HalPortRead);

} // namespace
