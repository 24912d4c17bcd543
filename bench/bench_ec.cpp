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
#include "backends/ec/ec.h"
#include "sim_bench.h"

namespace {

using vek::bench::Measure;

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
