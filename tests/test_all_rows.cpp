// Every row of the platform table, on its simulated board: VEK_API_Init
// succeeds, and every family the board's capability words offer answers one
// read with something other than 10. A family that answers 10 everywhere on a
// board that offers it is code that is missing, not hardware that is absent.
#include <cctype>
#include <string>

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

std::string RowName(const ::testing::TestParamInfo<size_t>& info) {
    std::string name = std::to_string(info.param) + "_";
    for (char c : std::string(kPlatformTable[info.param].name))
        name += (std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, AllRows, ::testing::Range<size_t>(0, std::size(kPlatformTable)), RowName);

} // namespace
