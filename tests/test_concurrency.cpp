// Many threads on one library: ApiLock keeps every chip's command sequences
// whole (the models count sequences another host broke into), and teardown on
// one thread while others call in crashes nothing.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

#include "sim/ec/ec_model.h"
#include "sim/smbus/smbus_model.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

using Clock = std::chrono::steady_clock;

// Exports that take the lock and run multi-access sequences on the EC's
// command channels, its I2C mailbox and the SMBus controller. (The speaker is
// left out: it runs without the lock by contract.)
const std::vector<std::function<VEK_RESULT(uint32_t)>>& MixedExports() {
    static const std::vector<std::function<VEK_RESULT(uint32_t)>> calls = {
        [](uint32_t) { double v; return VEK_HWM_CPUTemperature(0, &v); },
        [](uint32_t) { double v; return VEK_HWM_SysTemperature(&v); },
        [](uint32_t i) { double v; return VEK_HWM_Voltage(i % 4, &v); },
        [](uint32_t i) { uint32_t rpm; return VEK_HWM_GetFanSpeed(i % 3, &rpm); },
        [](uint32_t i) { return VEK_HWM_SetFanSpeed(i % 3, int32_t(i % 101)); },
        [](uint32_t i) { uint8_t b; return VEK_GPIO_Read(int32_t(i % 2), &b); },
        [](uint32_t i) { return VEK_GPIO_WritePin(0, int32_t(i % 8), uint8_t(i & 1)); },
        [](uint32_t) { uint32_t t; uint8_t u; return VEK_WDT_GetConfig(&t, &u); },
        [](uint32_t) { char text[128]; return VEK_Board_GetECVersion(text); },
        [](uint32_t i) { uint8_t d; return VEK_SMBus_ByteData(1, 0x98, uint8_t(i), &d); },
        [](uint32_t i) { uint32_t w; return VEK_SMBus_WordData(1, 0xA0, uint8_t(i), &w); },
        [](uint32_t i) { uint8_t buf[16]; return VEK_SMBus_Read_EEPROM(0xAE, uint16_t(i % 512), 16, buf); },
        [](uint32_t i) { uint8_t buf[8]; return VEK_EC_IIC_Byte_Addr_Read(0x50, i % 256, buf, 8); },
        [](uint32_t i) { uint8_t buf[4] = {uint8_t(i)}; return VEK_EC_IIC_Byte_Addr_Write(0x50, i % 256, buf, 4); },
        [](uint32_t i) { uint32_t v; return VEK_LED_Get(i % 4, &v); },
    };
    return calls;
}

// EC rows, one per SMBus controller flavour, each with the EC models present.
std::vector<const PlatformEntry*> StressRows() {
    std::vector<const PlatformEntry*> rows;
    std::set<int> flavours;
    for (const PlatformEntry& r : kPlatformTable) {
        if (r.chipKind != KIND_EC) continue;
        sim::Board b(r);
        auto* smbus = b.Find<sim::SmbusController>();
        if (b.Find<sim::EcModel>() == nullptr || smbus == nullptr) continue;
        if (flavours.insert(int(smbus->flavour())).second) rows.push_back(&r);
    }
    return rows;
}

class ConcurrencyTest : public SimBoardTest {
protected:
    // Runs the mix on `threads` threads for `duration`; returns the calls made.
    long Hammer(int threads, std::chrono::milliseconds duration) {
        std::atomic<long> calls{0};
        const auto end = Clock::now() + duration;
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([&, t] {
                uint32_t i = uint32_t(t) * 7919u;
                while (Clock::now() < end) {
                    MixedExports()[i % MixedExports().size()](i);
                    ++i;
                    ++calls;
                }
            });
        for (auto& th : pool) th.join();
        return calls.load();
    }
    int Interleaved() {
        int n = 0;
        if (auto* ec = board->Find<sim::EcModel>()) n += ec->interleaved();
        if (auto* smbus = board->Find<sim::SmbusController>()) n += smbus->interleaved();
        return n;
    }
    void Run(const PlatformEntry& row, int threads, std::chrono::milliseconds duration) {
        Use(row);
        machine().SetTraceEnabled(false);
        ASSERT_EQ(Init(), VEK_OK);
        calls_ = Hammer(threads, duration);
        EXPECT_GT(calls_, 0);
    }
    long calls_ = 0;
};

// The sequences themselves are sound: one thread never trips the detector.
TEST_F(ConcurrencyTest, OneThreadNeverInterleaves) {
    for (const PlatformEntry* row : StressRows()) {
        Run(*row, 1, std::chrono::milliseconds(150));
        EXPECT_EQ(Interleaved(), 0) << row->name;
        TearDown();
    }
}

TEST_F(ConcurrencyTest, EightThreadsKeepEverySequenceWhole) {
    const auto rows = StressRows();
    ASSERT_GE(rows.size(), 2u);
    for (const PlatformEntry* row : rows) {
        Run(*row, 8, std::chrono::milliseconds(1500));
        EXPECT_EQ(Interleaved(), 0) << row->name << " after " << calls_ << " calls";
        EXPECT_TRUE(LockIsFree());
        TearDown();
    }
}

// The detector is real: with the lock made a no-op the same run interleaves.
// Run on demand (--gtest_also_run_disabled_tests): it races on purpose.
TEST_F(ConcurrencyTest, DISABLED_WithoutTheLockSequencesInterleave) {
    os::LockUseNoOpForTest(true);
    int total = 0;
    for (const PlatformEntry* row : StressRows()) {
        Run(*row, 8, std::chrono::milliseconds(1500));
        const int interleaved = Interleaved();
        std::printf("no-op lock, %s: %ld calls, %d interleaved sequences\n", row->name, calls_, interleaved);
        total += interleaved;
        TearDown();
    }
    os::LockUseNoOpForTest(false);
    EXPECT_GT(total, 0);
}

// Teardown racing callers: nothing crashes, calls that begin after it answer 6,
// and the library initialises again on a healthy board.
TEST_F(ConcurrencyTest, UninitRacingExportsAnswer6AndCrashesNothing) {
    const PlatformEntry& row = *StressRows().front();
    for (int round = 0; round < 5; ++round) {
        Use(row);
        machine().SetTraceEnabled(false);
        ASSERT_EQ(Init(), VEK_OK);
        std::atomic<bool> tornDown{false};
        std::atomic<int> lateNot6{0};
        std::vector<std::thread> pool;
        for (int t = 0; t < 6; ++t)
            pool.emplace_back([&, t] {
                for (uint32_t i = uint32_t(t); i < 400; ++i) {
                    const bool after = tornDown.load();
                    const VEK_RESULT rc = MixedExports()[i % MixedExports().size()](i);
                    if (after && rc != VEK_ERR_NOT_INITIALISED) ++lateNot6;
                }
            });
        std::this_thread::sleep_for(std::chrono::microseconds(200 * (round + 1)));
        EXPECT_EQ(VEK_API_Uninit(), VEK_OK);
        tornDown = true;
        for (auto& th : pool) th.join();
        EXPECT_EQ(lateNot6.load(), 0);
        EXPECT_EQ(Init(), VEK_OK); // the same process takes the board up again
        double v = 0;
        EXPECT_EQ(VEK_HWM_CPUTemperature(0, &v), VEK_OK);
        EXPECT_TRUE(LockIsFree());
        TearDown();
    }
}

} // namespace
