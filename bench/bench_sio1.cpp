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
#include "backends/sio1/sio1.h"
#include "sim_bench.h"

namespace {

// The chip's configuration port is process-wide; every run starts from 0x2E.
template <class Fn>
void Measure(benchmark::State& state, uint32_t boardId, double minimum, Fn fn) {
    vek::sio1::ResetProcessState();
    vek::bench::Measure(state, boardId, minimum, fn);
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
