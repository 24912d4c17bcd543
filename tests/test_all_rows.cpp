// Every row of the platform table, on its simulated board: VEK_API_Init
// succeeds, and every family the board's capability words offer answers one
// read with something other than 10. A family that answers 10 everywhere on a
// board that offers it is code that is missing, not hardware that is absent.
#include <cctype>
#include <memory>
#include <string>

#include "api/frame.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

constexpr uint32_t kUnsupported = VEK_ERR_UNSUPPORTED;

// True when some index in [0, n) answers other than 10.
template <class F>
bool AnyServed(uint32_t n, F read) {
    for (uint32_t i = 0; i < n; ++i)
        if (read(i) != kUnsupported) return true;
    return false;
}

struct Family {
    const char* name;
    Capability cap;
    bool (*served)();
};

const Family kFamilies[] = {
    {"gpio", CAP_GPIO,
     [] {
         uint32_t sets = 0;
         if (VEK_GPIO_TotalSet(&sets) != 0 || sets == 0) return false;
         uint8_t value = 0;
         return AnyServed(sets, [&](uint32_t s) { return VEK_GPIO_Read(int32_t(s + 1), &value); });
     }},
    {"watchdog", CAP_WDT,
     [] {
         uint8_t lo = 0, hi = 0;
         return VEK_WDT_Available() != kUnsupported &&
                AnyServed(2, [&](uint32_t unit) { return VEK_WDT_GetRange(unit, &lo, &hi); });
     }},
    {"fan", CAP_FAN,
     [] {
         uint32_t rpm = 0;
         return AnyServed(16, [&](uint32_t fan) { return VEK_HWM_GetFanSpeed(fan, &rpm); });
     }},
    {"voltage", CAP_VOLTAGE,
     [] {
         double v = 0;
         return AnyServed(16, [&](uint32_t i) { return VEK_HWM_Voltage(i, &v); });
     }},
    {"current", CAP_CURRENT,
     [] {
         double a = 0;
         return AnyServed(8, [&](uint32_t i) { return VEK_HWM_Current(i, &a); });
     }},
    {"temperature", CAP_TEMPERATURE,
     [] {
         double t = 0;
         return VEK_HWM_SysTemperature(&t) != kUnsupported ||
                AnyServed(8, [&](uint32_t i) { return VEK_HWM_Temperature(i, &t); });
     }},
    {"cpu temperature", CAP_CPU_TEMPERATURE,
     [] {
         double t = 0;
         return AnyServed(2, [&](uint32_t i) { return VEK_HWM_CPUTemperature(i, &t); });
     }},
    {"smbus", CAP_SMBUS, [] { return VEK_SMBus_Available() != kUnsupported; }},
    {"ec smart fan", CAP_EC_SMARTFAN,
     [] {
         uint32_t a, b, c, d;
         return VEK_EC_SMF_GetConfig(&a, &b, &c, &d) != kUnsupported;
     }},
    {"led", CAP_LED,
     [] {
         uint32_t v = 0;
         return AnyServed(12, [&](uint32_t led) { return VEK_LED_Get(led, &v); });
     }},
    {"button", CAP_BUTTON,
     [] {
         uint32_t v = 0;
         return AnyServed(4, [&](uint32_t b) { return VEK_Button_Get(b, &v); });
     }},
};

// Boards whose row routes an offered family to a chip that does not serve it:
// the 10 is what the board's own data says, and stays so (checked below).
struct Expected10 {
    uint32_t boardId;
    const char* family;
    const char* why;
};
const Expected10 kExpected10[] = {
    {2, "gpio", "its ChipKind 1 chip has no data of its own, so it maps no pins"},
    {4, "temperature", "its ChipKind 1 row has no system-temperature register"},
    {74, "temperature", "its ChipKind 5 row has no temperature register"},
    {89, "fan", "fans belong to the ChipKind 2 chip, whose row switches its fan word off"},
    {155, "gpio", "GPIO owner 8 is the chipset LED handler, which has no GPIO routines"},
};

const Expected10* ExpectedUnsupported(uint32_t boardId, const char* family) {
    for (const Expected10& e : kExpected10)
        if (e.boardId == boardId && std::string(e.family) == family) return &e;
    return nullptr;
}

class AllRows : public SimBoardTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(AllRows, InitialisesAndServesEveryOfferedFamily) {
    const PlatformEntry& row = kPlatformTable[GetParam()];
    Use(row);
    ASSERT_EQ(Init(), 0u) << row.name;
    const DeviceContext& p = Lib().primary;
    for (const Family& f : kFamilies) {
        if (p.caps[f.cap] == 0) continue;
        if (const Expected10* e = ExpectedUnsupported(p.boardId, f.name)) {
            EXPECT_FALSE(f.served()) << row.name << ": " << f.name << " now served, although " << e->why;
            continue;
        }
        EXPECT_TRUE(f.served()) << row.name << " (board " << row.boardId << ", kind " << row.chipKind
                                << "): " << f.name << " is offered but every read answers 10";
    }
    // A ChipKind 1 board with the backlight family steps it.
    if (p.chipKind == KIND_SIO1 && p.caps[CAP_BACKLIGHT] != 0) {
        EXPECT_NE(VEK_BLC_Change_Brightness(0), kUnsupported) << row.name;
    }
}

// Every set VEK_GPIO_TotalSet reports is one the set-addressed calls accept.
TEST_P(AllRows, EveryReportedGpioSetIsReachable) {
    const PlatformEntry& row = kPlatformTable[GetParam()];
    Use(row);
    ASSERT_EQ(Init(), 0u) << row.name;
    uint32_t sets = 0;
    if (VEK_GPIO_TotalSet(&sets) != VEK_OK) return;
    for (uint32_t s = 1; s <= sets; ++s) {
        uint8_t value = 0;
        EXPECT_NE(VEK_GPIO_Read(int32_t(s), &value), VEK_ERR_ARGUMENT) << row.name << ": set " << s << " of " << sets;
    }
}

// min and max of each unit are taken; max + 1 (where a byte holds it) and 0
// answer 7 and leave the last legal configuration in place.
TEST_P(AllRows, WatchdogRangeEdges) {
    const PlatformEntry& row = kPlatformTable[GetParam()];
    Use(row);
    ASSERT_EQ(Init(), 0u) << row.name;
    if (VEK_WDT_Available() == kUnsupported) return;
    for (uint32_t unit : {0u, 1u}) {
        uint8_t lo = 0, hi = 0;
        ASSERT_EQ(VEK_WDT_GetRange(unit, &lo, &hi), VEK_OK) << row.name;
        ASSERT_LE(1, lo) << row.name;
        ASSERT_LE(lo, hi) << row.name;
        EXPECT_EQ(VEK_WDT_SetConfig(unit, lo), VEK_OK) << row.name << " unit " << unit << " min";
        EXPECT_EQ(VEK_WDT_SetConfig(unit, hi), VEK_OK) << row.name << " unit " << unit << " max";
        if (hi < 255) {
            EXPECT_EQ(VEK_WDT_SetConfig(unit, uint8_t(hi + 1)), VEK_ERR_ARGUMENT) << row.name << " max+1";
        }
        EXPECT_EQ(VEK_WDT_SetConfig(unit, 0), VEK_ERR_ARGUMENT) << row.name;
        uint32_t u = 9;
        uint8_t c = 0;
        ASSERT_EQ(VEK_WDT_GetConfig(&u, &c), VEK_OK);
        EXPECT_EQ(std::make_pair(u, c), std::make_pair(unit, hi)) << row.name;
    }
}

// Curve points each smart-fan kind reads from VEK_HWM_SetSmartfan's arrays, and
// the mode it takes; kinds not listed serve no curve.
struct CurveKind {
    uint32_t kind;
    size_t points;
    int32_t mode;
};
constexpr CurveKind kCurveKinds[] = {
    {KIND_SIO1, 4, 7}, {KIND_SIO5, 4, 7}, {KIND_EC, 2, 7}, {KIND_EC_ALT, 2, 7}, {KIND_EC100, 8, 9},
};

// Arrays of exactly the documented length, on the heap, so the sanitizer build
// sees any read or write past them; the temperatures read back as written.
TEST_P(AllRows, SmartFanArraysAreUsedToTheirExactLength) {
    const PlatformEntry& row = kPlatformTable[GetParam()];
    Use(row);
    ASSERT_EQ(Init(), 0u) << row.name;
    for (uint32_t fan = 0; fan <= 12; ++fan) {
        const frame::Route r =
            frame::OwnerListRoute(Lib().primary.fanOwners, FAN_OWNER_WORDS, fan, FAN_OWNER_WORDS, true);
        const CurveKind* k = nullptr;
        for (const CurveKind& c : kCurveKinds)
            if (r.ctx != nullptr && c.kind == r.kind) k = &c;
        if (k == nullptr) continue;
        const size_t n = k->points;
        auto temps = std::make_unique<uint8_t[]>(n);
        auto duties = std::make_unique<int32_t[]>(n);
        for (size_t i = 0; i < n; ++i) {
            temps[i] = uint8_t(30 + 5 * i);
            duties[i] = i + 1 == n ? 100 : int32_t(20 + 10 * i); // the two-point curve ends at 100
        }
        (void)VEK_HWM_Smartfan_Enable(fan);
        const VEK_RESULT set = VEK_HWM_SetSmartfan(fan, k->mode, temps.get(), duties.get(), 0);
        auto mode = std::make_unique<uint32_t[]>(1);
        auto gotTemps = std::make_unique<uint32_t[]>(n);
        auto gotDuties = std::make_unique<uint32_t[]>(n);
        auto third = std::make_unique<uint32_t[]>(1);
        const VEK_RESULT get = VEK_HWM_GetSmartfan(fan, mode.get(), gotTemps.get(), gotDuties.get(), third.get());
        if (set != VEK_OK || get != VEK_OK) continue;
        for (size_t i = 0; i < n; ++i)
            EXPECT_EQ(gotTemps[i], temps[i]) << row.name << " fan " << fan << " point " << i;
    }
}

std::string RowName(const ::testing::TestParamInfo<size_t>& info) {
    std::string name = std::to_string(info.param) + "_";
    for (char c : std::string(kPlatformTable[info.param].name))
        name += (std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, AllRows, ::testing::Range<size_t>(0, std::size(kPlatformTable)), RowName);

} // namespace
