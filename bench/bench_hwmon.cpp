// A Super I/O reading while a kernel hwmon driver holds the monitor block: the
// Linux platform finds the driver's hwmon device for the block's base and reads
// one input file. Measured on a /sys-shaped tree in a temporary directory with
// eight hwmon devices (the block's driver last): the time is the check that
// the remembered hwmon directory still leads to the block's device (a full
// scan of the devices when it does not) and one small file read;
// the kernel's sysfs read of a real driver adds its own register access (the
// driver caches readings for about a second).
//
// Compare BM_Sio5Temperature: the register path's device time is seven port
// requests with the chip's 500 µs pause after each.
#ifdef __linux__
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "os/linux/hwmon.h"
#include "vek/host.h"

namespace {

namespace fs = std::filesystem;

struct Tree {
    fs::path root;
    Tree() {
        char name[] = "/tmp/vek-hwmon-bench-XXXXXX";
        if (::mkdtemp(name) != nullptr) root = name;
    }
    ~Tree() {
        std::error_code ec;
        if (!root.empty()) fs::remove_all(root, ec);
    }
    void Device(int n, const std::string& platformDevice) {
        const fs::path cls = root / "sys/class/hwmon" / ("hwmon" + std::to_string(n));
        fs::create_directories(cls);
        fs::create_directories(root / "sys/devices/platform" / platformDevice);
        fs::create_symlink("../../../devices/platform/" + platformDevice, cls / "device");
        std::ofstream(cls / "temp2_input") << "41500\n";
    }
};

void BM_HwmonHeldTemperature(benchmark::State& state) {
    Tree t;
    if (t.root.empty()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    for (int n = 0; n < 7; ++n) t.Device(n, "coretemp." + std::to_string(n));
    t.Device(7, "f71882fg.2608");
    int32_t value = 0;
    for (auto _ : state) {
        if (vek::os::HwmonRead(t.root.string(), 0xA30, VEK_HOST_HWMON_TEMPERATURE, 2, &value) != 0) {
            state.SkipWithError("the driver's input was not found");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_HwmonHeldTemperature)->Unit(benchmark::kMicrosecond);

} // namespace
#endif
