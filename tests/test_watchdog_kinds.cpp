// The watchdog on every routine kind, against the chip models in device time:
// the range edges arm the whole asked time, and a trigger that this process
// never configured neither invents a time-out nor cuts short one that runs.
#include <optional>
#include <string>

#include "backends/sio1/sio1.h"
#include "sim/chipset/chipset_watchdog.h"
#include "sim/ec/ec_model.h"
#include "sim/sio/sio1_model.h"
#include "sim/sio/sio2_model.h"
#include "sim/sio/sio5_model.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

constexpr int64_t kSec = 1'000'000'000;

// The routine kind that serves the watchdog on a row (the frame's rule).
uint32_t WatchdogKind(const PlatformEntry& r) {
    if (r.secondaryKind != 0 && r.secondaryKind == r.wdtOwner) return r.secondaryKind;
    return r.wdtOwner != 0 ? r.wdtOwner : r.chipKind;
}

struct Kind {
    uint32_t kind;
    bool readable; // the chip's time-out can be read back
};

// ChipKind 1 parts whose watchdog device the library activates at
// initialisation (on the others the firmware decides).
bool ActivatesWatchdog(const PlatformEntry& r) {
    return r.chipKind != KIND_SIO1 || r.subtype == 0 || r.subtype == 2 || r.subtype == 3 || r.subtype == 5 ||
           r.subtype == 8;
}
void PrintTo(const Kind& k, std::ostream* os) { *os << "kind " << k.kind; }

const Kind kKinds[] = {
    {KIND_SIO1, true}, {KIND_SIO2, true}, {KIND_EC, true}, {KIND_CHIPSET, false}, {KIND_SIO5, true}, {KIND_EC100, false},
};

class WatchdogKindTest : public SimBoardTest, public ::testing::WithParamInterface<Kind> {
protected:
    // The first row of the kind whose watchdog the board offers.
    void SetUp() override {
        for (const PlatformEntry& r : kPlatformTable) {
            if (WatchdogKind(r) != GetParam().kind || !ActivatesWatchdog(r)) continue;
            if (board) TearDown();
            sio1::ResetProcessState(); // each board starts from a fresh process's configuration port
            Use(r);
            if (Init() == VEK_OK && Lib().primary.caps[CAP_WDT] != 0) return;
        }
        FAIL() << "no row offers a watchdog of kind " << GetParam().kind;
    }

    // When the running chip resets the board (virtual ns), or nothing.
    std::optional<int64_t> Deadline() {
        auto timer = [](const auto& t) { return t.running ? std::optional<int64_t>(t.deadlineNs) : std::nullopt; };
        switch (GetParam().kind) {
        case KIND_SIO1: return timer(board->Find<sim::Sio1Model>()->watchdog());
        case KIND_SIO2: return timer(board->Find<sim::Sio2Model>()->watchdog());
        case KIND_SIO5: return timer(board->Find<sim::Sio5Model>()->watchdog());
        case KIND_CHIPSET: {
            const int64_t at = board->Find<sim::ChipsetWatchdog>()->FiresAt();
            return at < 0 ? std::nullopt : std::optional<int64_t>(at);
        }
        default: return timer(board->Find<sim::EcModel>()->watchdog());
        }
    }
    size_t PortWrites() {
        size_t n = 0;
        for (const auto& e : machine().trace()) n += e.kind == sim::Access::PortWrite;
        return n;
    }
};

int64_t Seconds(uint32_t unit, uint32_t count) { return int64_t(count) * (unit ? 60 : 1) * kSec; }

// min and max arm exactly that time (no wrap, no truncation in the count
// register); max + 1 and 0 answer 7 and leave the stored configuration.
TEST_P(WatchdogKindTest, RangeEdgesArmTheWholeTime) {
    for (uint32_t unit : {0u, 1u}) {
        uint8_t lo = 0, hi = 0;
        ASSERT_EQ(VEK_WDT_GetRange(unit, &lo, &hi), VEK_OK);
        ASSERT_GE(lo, 1);
        for (uint8_t count : {lo, hi}) {
            SCOPED_TRACE(std::to_string(unit) + "/" + std::to_string(count));
            ASSERT_EQ(VEK_WDT_SetConfig(unit, count), VEK_OK);
            ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
            const std::optional<int64_t> due = Deadline();
            ASSERT_TRUE(due.has_value());
            // The EC takes its time to answer; allow a tenth of a second.
            EXPECT_NEAR(double(*due - machine().now_ns()), double(Seconds(unit, count)), 0.1 * kSec);
            ASSERT_EQ(VEK_WDT_Disable(), VEK_OK);
        }
        for (uint32_t bad : {0u, uint32_t(hi) + 1}) {
            if (bad > 255) continue; // the count is a byte
            EXPECT_EQ(VEK_WDT_SetConfig(unit, uint8_t(bad)), VEK_ERR_ARGUMENT) << unit << "/" << bad;
            uint32_t u = 9;
            uint8_t c = 0;
            ASSERT_EQ(VEK_WDT_GetConfig(&u, &c), VEK_OK);
            EXPECT_EQ(std::make_pair(u, c), std::make_pair(unit, hi));
        }
    }
}

// Nothing configured in this process and the chip's watchdog stopped: there is
// no time-out to re-arm with, so 14, and the chip keeps still.
TEST_P(WatchdogKindTest, UnconfiguredTriggerOnAStoppedChipAnswers14) {
    ASSERT_FALSE(Deadline().has_value());
    machine().ClearTrace();
    EXPECT_EQ(VEK_WDT_Trigger(), VEK_ERR_STATE);
    EXPECT_FALSE(Deadline().has_value());
    EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
    if (!GetParam().readable) {
        EXPECT_EQ(PortWrites(), 0u) << "an unreadable chip is not touched";
    }
}

// Another process armed two minutes and this one only feeds: the readable
// chips are re-armed with their own time-out, never the default (10 s, or the
// EC's 0, which would stop it); the others are left running as they were.
TEST_P(WatchdogKindTest, UnconfiguredTriggerKeepsAnotherProcesssTimeout) {
    ASSERT_EQ(VEK_WDT_SetConfig(1, 2), VEK_OK);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    ASSERT_EQ(VEK_API_Uninit(), VEK_OK);
    ASSERT_EQ(Init(), VEK_OK); // this process's state is fresh; the chip still runs
    const std::optional<int64_t> before = Deadline();
    ASSERT_TRUE(before.has_value()) << "initialisation stopped the running watchdog";
    machine().Advance(30 * kSec);
    machine().ClearTrace();
    if (GetParam().readable) {
        ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
        const std::optional<int64_t> after = Deadline();
        ASSERT_TRUE(after.has_value());
        EXPECT_GE(*after, *before) << "the feed shortened the watchdog";
        EXPECT_EQ(VEK_WDT_Available(), VEK_OK);
    } else {
        EXPECT_EQ(VEK_WDT_Trigger(), VEK_ERR_STATE);
        EXPECT_EQ(PortWrites(), 0u);
        EXPECT_EQ(Deadline(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, WatchdogKindTest, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return "Kind" + std::to_string(info.param.kind); });

} // namespace
