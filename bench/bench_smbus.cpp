// SMBus transactions on a simulated ICH-type controller: host CPU time per call
// (what Google Benchmark reports) and device time per call, the virtual time
// the controller and the library's fixed 1 ms register pauses take, reported as
// the device_ms counter. On hardware the device time is the wall time.
#include <benchmark/benchmark.h>

#include <memory>

#include "platform/platform_table.h"
#include "sim/attached.h"
#include "sim/board.h"
#include "sim/smbus/smbus_model.h"
#include "vek/host.h"
#include "vek/vek.h"

namespace {

constexpr uint32_t kIchChipset = 21;
constexpr uint8_t kSpdByte = vek::sim::kSpdAddress << 1;
constexpr uint8_t kEepromByte = vek::sim::kBoardEepromAddress << 1;
constexpr int32_t kEepromBytes = 256;

const vek::PlatformEntry& IchRow() {
    for (const vek::PlatformEntry& r : vek::kPlatformTable)
        if (r.chipsetId == kIchChipset && r.chipKind == vek::KIND_EC) return r;
    return vek::kPlatformTable[0];
}

// An ICH-type board, initialised for one benchmark run.
struct SmbusSession {
    vek::sim::Board board{IchRow()};
    vek::sim::Attached attached{board};
    SmbusSession() {
        board.machine().SetTraceEnabled(false);
        VEK_API_Init();
    }
};

template <class Fn>
void RunTimed(benchmark::State& state, Fn call) {
    SmbusSession s;
    // Driver requests per call, counted once from the trace.
    vek::sim::Machine& m = s.board.machine();
    m.SetTraceEnabled(true);
    m.ClearTrace();
    call();
    state.counters["requests"] = double(m.trace().size());
    m.SetTraceEnabled(false);
    const int64_t t0 = s.board.machine().now_ns();
    for (auto _ : state) benchmark::DoNotOptimize(call());
    const double perCall = double(s.board.machine().now_ns() - t0) / double(state.iterations());
    state.counters["device_ms"] = perCall / 1e6;
}

void BM_SmbusByteRead(benchmark::State& state) {
    uint8_t b = 0;
    RunTimed(state, [&] { return VEK_SMBus_ByteData(1, kSpdByte, 2, &b); });
}
BENCHMARK(BM_SmbusByteRead);

void BM_SmbusEepromRead256(benchmark::State& state) {
    uint8_t buf[kEepromBytes];
    RunTimed(state, [&] { return VEK_SMBus_Read_EEPROM(kEepromByte, 0, kEepromBytes, buf); });
}
BENCHMARK(BM_SmbusEepromRead256);

} // namespace
