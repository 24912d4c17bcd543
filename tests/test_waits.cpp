// Waits: the counter arithmetic saturates instead of overflowing, the hybrid
// sleep-then-spin never returns early, and caller-supplied tone lengths are
// bounded before anything waits on them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "hal/hal.h"
#include "os/hybrid_wait.h"
#include "sim/speaker.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

constexpr int64_t kMax = INT64_MAX;

TEST(CounterTarget, SaturatesWhereTheProductOrSumWouldOverflow) {
    const struct { int64_t now, f, us, want; } cases[] = {
        {100, 1'000'000'000, 0, 100},
        {100, 1'000'000'000, -5, 100},
        {0, 10'000'000, 1, 10},
        {0, 1'000'000'000, 1'500'000, 1'500'000'000},
        {0, 3'579'545, 999'999, 3'579'541},            // the fractional part alone
        {0, 1'000'000'000, 9'000'000'000'000'000, 9'000'000'000'000'000'000}, // 9e15 us at 1 GHz
        {0, 1'000'000'000, 9'300'000'000'000'000, kMax},
        {0, 1'000'000'000, 9'223'372'036'854'775, 9'223'372'036'854'775'000},
        {0, 1'000'000'000, 9'223'372'036'854'776, kMax},
        {kMax - 10, 1'000'000'000, 1, kMax},             // now near the top
        {5, 0, 1000, 5},                                 // a platform with no counter rate
        {0, kMax, 1, kMax / 1'000'000},
        {0, kMax, 1'000'000, kMax},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hal::CounterTarget(c.now, c.f, c.us), c.want) << c.now << " " << c.f << " " << c.us;
}

TEST(HybridWait, DeadlineSaturates) {
    EXPECT_EQ(os::DeadlineNs(7, 0), 7);
    EXPECT_EQ(os::DeadlineNs(7, -1), 7);
    EXPECT_EQ(os::DeadlineNs(7, 2), 2007);
    EXPECT_EQ(os::DeadlineNs(kMax - 999, 1), kMax);
    EXPECT_EQ(os::DeadlineNs(0, kMax), kMax);
}

// A fake clock: each read costs 1 µs of spin; a sleep lands `late` ns after
// the wake time it was given (or is refused).
struct FakeClock {
    int64_t t = 0;
    int64_t late = 0;
    bool refuse = false;
    int sleeps = 0, reads = 0;
    int64_t sleptUntil = -1;
    auto Now() {
        return [this] {
            ++reads;
            return t += 1000;
        };
    }
    auto Sleep() {
        return [this](int64_t wake) {
            if (refuse) return false;
            ++sleeps;
            sleptUntil = wake;
            t = wake + late;
            return true;
        };
    }
};

TEST(HybridWait, SleepsTheBulkSpinsTheRestNeverEarly) {
    constexpr int64_t kMin = 60'000;
    const struct { int64_t waitNs, late; bool refuse; bool expectSleep; } cases[] = {
        {50'000, 0, false, false},        // shorter than the spin stretch: spin only
        {1'000'000, 0, false, true},
        {1'000'000, 40'000, false, true}, // woke late but before the deadline
        {1'000'000, 3'000'000, false, true}, // woke after the deadline: no spin left
        {200'000'000, 10'000, false, true},
        {1'000'000, 0, true, false},      // no usable timer: the whole wait spins
    };
    for (const auto& c : cases) {
        FakeClock clock;
        clock.late = c.late;
        clock.refuse = c.refuse;
        os::WakeLateness lateness(kMin);
        const int64_t deadline = c.waitNs;
        os::WaitUntil(deadline, lateness, clock.Now(), clock.Sleep());
        EXPECT_GE(clock.t, deadline) << c.waitNs;
        EXPECT_EQ(clock.sleeps, c.expectSleep ? 1 : 0) << c.waitNs;
        if (c.expectSleep) {
            EXPECT_LE(clock.sleptUntil, deadline - kMin);
            // Spun only the stretch after the wake (1 µs a read here): the
            // observed lateness, or a twentieth of a long wait up to its cap.
            const int64_t margin =
                std::max(kMin + os::kSpinHeadroomNs, std::min(c.waitNs / 20, os::kLongWaitSpinNs));
            EXPECT_LE(clock.reads, 4 + margin / 1000) << c.waitNs;
            if (c.waitNs >= 20 * os::kLongWaitSpinNs) {
                EXPECT_EQ(clock.sleptUntil, deadline - os::kLongWaitSpinNs);
            }
        }
    }
}

TEST(HybridWait, SpinStretchFollowsObservedLateness) {
    constexpr int64_t kMin = 25'000;
    os::WakeLateness lateness(kMin);
    EXPECT_EQ(lateness.SpinNs(), kMin);
    lateness.Observe(100'000); // one late wake raises it at once
    EXPECT_EQ(lateness.SpinNs(), 100'000 + os::kSpinHeadroomNs);
    lateness.Observe(0);
    EXPECT_GT(lateness.SpinNs(), kMin); // one punctual wake does not undo it
    for (int i = 0; i < 40; ++i) lateness.Observe(2'000); // a run of punctual wakes does
    EXPECT_EQ(lateness.SpinNs(), kMin);
    lateness.Observe(int64_t(1) << 40); // never beyond the cap
    EXPECT_EQ(lateness.SpinNs(), os::kMaxSpinNs);
}

// Tone lengths past the bound answer 7 before any sound or wait, on a platform
// whose 1 GHz counter the library spins on itself.
class ToneBoundTest : public SimBoardTest {
protected:
    void UseSpinningBoard(const PlatformEntry& row, uint32_t speakerWord) {
        Use(row);
        machine().SetDelayService(false);
        machine().SetCounterFrequency(1'000'000'000);
        ASSERT_EQ(Init(), VEK_OK);
        Lib().primary.caps[CAP_SPEAKER] = speakerWord;
    }
};

TEST_F(ToneBoundTest, LengthsPastTheBoundAnswer7WithoutWaiting) {
    const struct { const char* what; uint32_t speaker; std::function<VEK_RESULT()> call; } cases[] = {
        {"note of 9e18 us", 1, [] { VEK_HWM_SetMetronome(2000); return VEK_HWM_PlayNote(1, 6, 0, 1.5e14); }},
        {"note just past the bound", 1,
         [] { VEK_HWM_SetMetronome(60); return VEK_HWM_PlayNote(0, 6, 0, VEK_MAX_TONE_SECONDS + 0.01); }},
        {"note of infinite beats", 1, [] { return VEK_HWM_PlayNote(0, 6, 0, INFINITY); }},
        {"beep of 2148 s", 1, [] { return VEK_HWM_SetBeep(1000, VEK_MAX_TONE_SECONDS + 1); }},
        {"beep of INT32_MAX s", 1, [] { return VEK_HWM_SetBeep(1000, INT32_MAX); }},
        {"EC beep of decades", 2, [] { return VEK_HWM_SetBeep(-2.19e6, 1871824705); }},
    };
    for (const auto& c : cases) {
        UseSpinningBoard(RowWithBoard(140), c.speaker);
        const int64_t t0 = machine().now_ns();
        machine().ClearTrace();
        EXPECT_EQ(c.call(), VEK_ERR_ARGUMENT) << c.what;
        EXPECT_LT(machine().now_ns() - t0, 1'000'000) << c.what;
        for (const sim::TraceEntry& e : machine().trace())
            EXPECT_NE(e.kind, sim::Access::PortWrite) << c.what << ": a sound was started";
        TearDown();
    }
}

TEST_F(ToneBoundTest, ToneAtTheBoundStillPlays) {
    Use(RowWithBoard(140));
    ASSERT_EQ(Init(), VEK_OK); // the simulator's delay service: the wait costs no real time
    Lib().primary.caps[CAP_SPEAKER] = 1;
    auto* speaker = board->Find<sim::PcSpeaker>();
    ASSERT_NE(speaker, nullptr);
    ASSERT_EQ(VEK_HWM_SetMetronome(60), VEK_OK);
    ASSERT_EQ(VEK_HWM_PlayNote(0, 6, 0, VEK_MAX_TONE_SECONDS), VEK_OK);
    ASSERT_EQ(VEK_HWM_SetBeep(1000, VEK_MAX_TONE_SECONDS), VEK_OK);
    ASSERT_EQ(speaker->tones().size(), 2u);
    for (const auto& t : speaker->tones()) {
        EXPECT_GE(t.endNs - t.startNs, int64_t(VEK_MAX_TONE_SECONDS) * 1'000'000'000);
        EXPECT_LT(t.endNs - t.startNs, int64_t(VEK_MAX_TONE_SECONDS) * 1'000'000'000 + 1'000'000);
    }
}

} // namespace
