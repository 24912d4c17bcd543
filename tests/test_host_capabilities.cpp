// vek_host_capabilities: the merged capability words a diagnostic tool shows.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "sim_fixture.h"
#include "vek/host.h"

using namespace vek;
using namespace vek::test;

namespace {

constexpr uint32_t kUntouched = 0xA5A5A5A5u;

struct Words {
    uint32_t w[VEK_HOST_CAPABILITY_WORDS];
    Words() { std::fill(std::begin(w), std::end(w), kUntouched); }
    bool untouched() const {
        return std::all_of(std::begin(w), std::end(w), [](uint32_t v) { return v == kUntouched; });
    }
};

class HostCapabilitiesTest : public SimBoardTest {};

TEST(HostCapabilitiesDetached, AnswersSixBeforeAnyInitEvenForNull) {
    Words words;
    EXPECT_EQ(vek_host_capabilities(words.w), VEK_ERR_NOT_INITIALISED);
    EXPECT_TRUE(words.untouched());
    EXPECT_EQ(vek_host_capabilities(nullptr), VEK_ERR_NOT_INITIALISED);
}

// The library's state around the call decides the answer; nothing is written
// unless it is 0.
TEST_F(HostCapabilitiesTest, AnswersOnlyWhileInitialised) {
    Use(kPlatformTable[0]);
    struct Case {
        const char* name;
        std::function<void(sim::Machine&)> setup;
        bool nullWords;
        uint32_t want;
    };
    const Case cases[] = {
        {"attached, not initialised", [](sim::Machine&) {}, false, VEK_ERR_NOT_INITIALISED},
        {"board not in the table",
         [](sim::Machine& m) {
             m.SetIdentity(VEK_HOST_ID_PRODUCT, "Some Desktop Board");
             EXPECT_EQ(VEK_API_Init(), VEK_ERR_UNSUPPORTED);
         },
         false, VEK_ERR_NOT_INITIALISED},
        {"initialised, null words", [](sim::Machine&) { ASSERT_EQ(VEK_API_Init(), VEK_OK); }, true, VEK_ERR_ARGUMENT},
        {"after uninit",
         [](sim::Machine&) {
             ASSERT_EQ(VEK_API_Init(), VEK_OK);
             VEK_API_Uninit();
         },
         false, VEK_ERR_NOT_INITIALISED},
        {"initialised", [](sim::Machine&) { ASSERT_EQ(VEK_API_Init(), VEK_OK); }, false, VEK_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rebuild();
        c.setup(machine());
        Words words;
        EXPECT_EQ(vek_host_capabilities(c.nullWords ? nullptr : words.w), c.want);
        if (c.want != VEK_OK) {
            EXPECT_TRUE(words.untouched());
        }
        if (c.want == VEK_OK) {
            EXPECT_EQ(words.w[CAP_API], 1u);
        }
    }
}

// A board whose second chip serves a family: the word carries bit 1, and the
// copy is the word the exports test, taken after the merge.
TEST_F(HostCapabilitiesTest, SecondChipShowsAsBitOne) {
    bool sawBitOne = false;
    for (const PlatformEntry& row : kPlatformTable) {
        if (row.secondaryKind == KIND_NONE || FindPlatform(row.name) != &row) continue;
        SCOPED_TRACE(row.name);
        Use(row);
        ASSERT_EQ(Init(), VEK_OK);
        Words words;
        ASSERT_EQ(vek_host_capabilities(words.w), VEK_OK);
        for (uint32_t i = 0; i < CAP_COUNT; ++i) {
            EXPECT_EQ(words.w[i], Lib().primary.caps[i]) << "word " << i;
            // Bit 1 is the second chip's own bit 0 moved up.
            if (words.w[i] & 2u && i != CAP_SPEAKER) {
                EXPECT_NE(Lib().secondary.caps[i] & 1u, 0u) << "word " << i;
                sawBitOne = true;
            }
        }
        // The frame refuses a family exactly when its word is zero.
        uint32_t sets = 0;
        if (words.w[CAP_GPIO] == 0) {
            EXPECT_EQ(VEK_GPIO_TotalSet(&sets), VEK_ERR_UNSUPPORTED);
        }
        if (words.w[CAP_WDT] == 0) {
            EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_UNSUPPORTED);
        }
        uint32_t v = 0;
        if (words.w[CAP_LED] == 0) {
            EXPECT_EQ(VEK_LED_Get(0, &v), VEK_ERR_UNSUPPORTED);
        }
        VEK_API_Uninit();
    }
    EXPECT_TRUE(sawBitOne) << "no board with a second chip merged a word";
}

} // namespace
