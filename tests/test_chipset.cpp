// Chipset devices (ChipKind 4) through the exports: configuration on every row
// that carries the chip, the watchdog, GPIO on the I/O hub block and on pads,
// LEDs and the button, and the processor core voltage.
#include <cmath>
#include <functional>
#include <iterator>

#include "api/backend.h"
#include "chipset_test_util.h"
#include "sim/chipset/chipset_gpio.h"
#include "sim/chipset/chipset_models.h"
#include "sim/chipset/chipset_watchdog.h"

using namespace vek;
using namespace vek::test;
using chipset::I2C0;
using chipset::I2C1;
using sim::Access;

namespace {

constexpr uint32_t kNo = chipset::I2C_NO_CONTROLLER;
constexpr int64_t kSec = 1'000'000'000;

// ---------------------------------------------------------------- every row

struct RowExpectation {
    const char* name;
    bool primary; // the chipset is the main chip
    uint32_t gpio, wdt, led, button;
    uint32_t sets[3]; // gpioSets[0..2]
    uint32_t bus2, bus3;
};

void PrintTo(const RowExpectation& e, std::ostream* os) { *os << e.name; }

const RowExpectation kRows[] = {
    {"PXC-59", true, 0, 1, 0, 0, {0, 0, 0}, kNo, kNo},
    {"PXC-60", true, 1, 0, 0, 0, {1, 8, 0}, kNo, kNo},
    {"GTB-495", false, 1, 0, 0, 0, {2, 4, 5}, kNo, kNo},
    {"YCB-117", false, 0, 0, 0, 0, {0, 0, 0}, kNo, kNo}, // no watchdog behind its (non-SCH) bridge
    {"WSR-949", false, 0, 0, 0, 0, {0, 0, 0}, I2C0, I2C1},
    {"WSR-950", false, 0, 0, 0, 0, {0, 0, 0}, I2C0, kNo},
    {"WSR-952", false, 0, 0, 0, 0, {0, 0, 0}, kNo, kNo},
    {"WSR-A56", false, 0, 0, 0, 0, {0, 0, 0}, I2C0, kNo},
    {"VXA-16A", false, 0, 0, 0, 0, {0, 0, 0}, I2C0, kNo},
    {"VXA-16E", false, 0, 0, 0, 0, {0, 0, 0}, I2C0, kNo},
    {"VXA-17-L", false, 0, 0, 0, 0, {0, 0, 0}, I2C0, kNo},
    {"VXA-17", false, 0, 0, 0, 0, {0, 0, 0}, I2C0, kNo},
    {"FMQ-333-T", false, 0, 0, 1, 1, {0, 0, 0}, kNo, kNo},
    {"FMQ-333", false, 0, 0, 1, 1, {0, 0, 0}, kNo, kNo},
    {"FMQ-345", false, 0, 0, 0, 0, {0, 0, 0}, I2C0, kNo},
};

TEST(ChipsetRows, TheTableNamesEveryRowThatCarriesTheChip) {
    int rows = 0;
    for (const PlatformEntry& r : kPlatformTable) {
        if (!CarriesChipset(r)) continue;
        ++rows;
        const bool listed = std::any_of(std::begin(kRows), std::end(kRows),
                                        [&](const RowExpectation& e) { return std::string(e.name) == r.name; });
        EXPECT_TRUE(listed) << r.name;
    }
    EXPECT_EQ(rows, 15);
    EXPECT_EQ(std::size(kRows), 15u);
}

class ChipsetRowTest : public ChipsetTest, public ::testing::WithParamInterface<RowExpectation> {};

TEST_P(ChipsetRowTest, ConfiguresItsDevices) {
    const RowExpectation& e = GetParam();
    InitRow(e.name);
    DeviceContext& c = chip();
    EXPECT_EQ(c.isSecondary == 0, e.primary);
    EXPECT_EQ(c.caps[CAP_GPIO], e.gpio);
    EXPECT_EQ(c.caps[CAP_WDT], e.wdt);
    EXPECT_EQ(c.caps[CAP_LED], e.led);
    EXPECT_EQ(c.caps[CAP_BUTTON], e.button);
    // Cleared for this chip (bit 1 is a second chip's, merged into a main chip's word).
    for (Capability cleared : {CAP_FAN, CAP_VOLTAGE, CAP_TEMPERATURE, CAP_CPU_TEMPERATURE})
        EXPECT_EQ(c.caps[cleared] & 1, 0u) << cleared;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c.gpioSets[i], e.sets[i]) << i;
    EXPECT_EQ(area().busController[0], kNo);
    EXPECT_EQ(area().busController[1], kNo);
    EXPECT_EQ(area().busController[2], e.bus2);
    EXPECT_EQ(area().busController[3], e.bus3);
}

// Probes one family through its exports; the best answer over its items.
using Probe = std::function<VEK_RESULT()>;
VEK_RESULT AnyItem(uint32_t items, const std::function<VEK_RESULT(uint32_t)>& call) {
    VEK_RESULT result = VEK_ERR_UNSUPPORTED;
    for (uint32_t i = 0; i < items && result == VEK_ERR_UNSUPPORTED; ++i) result = call(i);
    return result;
}

struct FamilyProbe {
    Capability cap;
    Probe probe;
};

std::vector<FamilyProbe> Families() {
    static uint8_t b;
    static uint32_t u, u2, u3, u4;
    static double d;
    static char text[80];
    return {
        {CAP_API, [] { return VEK_API_GetVersion(text); }},
        {CAP_GPIO, [] {
             uint32_t sets = 0;
             VEK_GPIO_TotalSet(&sets);
             return AnyItem(sets, [](uint32_t s) { return VEK_GPIO_ReadPin(int32_t(s + 1), 1, &b); });
         }},
        {CAP_WDT, [] { return VEK_WDT_Disable(); }},
        {CAP_SPEAKER, [] { return Lib().primary.caps[CAP_SPEAKER] == 1 ? VEK_HWM_StopBeep() : VEK_HWM_SetBeep(1000, 1); }},
        {CAP_FAN, [] { return AnyItem(13, [](uint32_t f) { return VEK_HWM_GetFanSpeed(f, &u); }); }},
        {CAP_VOLTAGE, [] { return AnyItem(19, [](uint32_t v) { return VEK_HWM_Voltage(v, &d); }); }},
        {CAP_CURRENT, [] { return AnyItem(3, [](uint32_t i) { return VEK_HWM_Current(i, &d); }); }},
        {CAP_TEMPERATURE, [] { return AnyItem(8, [](uint32_t t) { return VEK_HWM_Temperature(t, &d); }); }},
        {CAP_CPU_TEMPERATURE, [] { return AnyItem(2, [](uint32_t i) { return VEK_HWM_CPUTemperature(i, &d); }); }},
        {CAP_SMBUS, [] { return VEK_SMBus_Available(); }},
        {CAP_SMART_BATTERY, [] { return VEK_EC_SmartBattery(0x16, 0x0D, &b); }},
        {CAP_BACKLIGHT, [] { return VEK_BLC_Read_Brightness(0, &b); }},
        {CAP_EC_SMARTFAN, [] { return VEK_EC_SMF_GetConfig(&u, &u2, &u3, &u4); }},
        {CAP_LED, [] { return AnyItem(13, [](uint32_t l) { return VEK_LED_Get(l, &u); }); }},
        {CAP_PLATFORM_VERSION_WMI, [] { return VEK_Get_Platform_Version(&u); }},
        {CAP_BUTTON, [] { return VEK_Button_Get(0, &u); }},
    };
}

// Every family the capability words offer answers something other than 10,
// except families left on a main chip whose backend is not part of this build.
TEST_P(ChipsetRowTest, EveryOfferedFamilyAnswers) {
    InitRow(GetParam().name);
    const DeviceContext& p = Lib().primary;
    const bool mainChipBuilt = BackendFor(p.chipKind) != nullptr;
    for (const FamilyProbe& f : Families()) {
        const uint32_t word = p.caps[f.cap];
        if (word == 0) continue;
        const bool chipsetServes = p.chipKind == KIND_CHIPSET || (word & 2) != 0;
        if (!chipsetServes && !mainChipBuilt) continue;
        EXPECT_NE(f.probe(), VEK_ERR_UNSUPPORTED) << "family " << f.cap;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ChipsetRowTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return TestNameOf(info.param.name); });

// ---------------------------------------------------------------- watchdog

class ChipsetWatchdogTest : public ChipsetTest {
protected:
    void SetUp() override {
        InitRow("PXC-59");
        wdt = board->Find<sim::ChipsetWatchdog>();
        ASSERT_NE(wdt, nullptr);
    }
    std::vector<Op> Writes() {
        return Ops(machine(), sim::kChipsetWatchdogBase, sim::kChipsetWatchdogBase + 0x1F, {Access::PortWrite});
    }
    sim::ChipsetWatchdog* wdt = nullptr;
};

std::vector<Op> Unlocked(uint16_t reg, unsigned width, uint32_t value) {
    const uint16_t b = sim::kChipsetWatchdogBase;
    return {PortW(b + 0x0C, 1, 0x80), PortW(b + 0x0C, 1, 0x86), PortW(b + reg, width, value)};
}
std::vector<Op> Join(std::initializer_list<std::vector<Op>> parts) {
    std::vector<Op> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST_F(ChipsetWatchdogTest, TriggerUnlocksBeforeEachWriteAndPausesAfterEach) {
    ASSERT_EQ(VEK_WDT_SetConfig(0, 5), VEK_OK);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    EXPECT_EQ(Writes(), Join({Unlocked(0x10, 4, 0x12), Unlocked(0x00, 4, 0), Unlocked(0x04, 4, 5 * 1007 - 1),
                              Unlocked(0x18, 1, 0x02)}));
    const auto& t = machine().trace();
    std::vector<int64_t> times;
    for (const auto& e : t)
        if (e.kind == Access::PortWrite) times.push_back(e.time_ns);
    times.push_back(machine().now_ns());
    for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 30'000) << i;
    EXPECT_EQ(wdt->refused_writes(), 0);
    EXPECT_TRUE(wdt->running());

    machine().ClearTrace();
    ASSERT_EQ(VEK_WDT_Disable(), VEK_OK);
    EXPECT_EQ(Writes(), Unlocked(0x18, 1, 0x00));
    EXPECT_FALSE(wdt->running());
}

TEST_F(ChipsetWatchdogTest, PreloadCoversTheWholeRange) {
    const struct { uint32_t unit; uint8_t count; uint32_t preload; } cases[] = {
        // Whole ticks of 33 MHz / 2^15, rounded up, less the first stage's tick.
        {0, 1, 1006}, {0, 65, 65459}, {0, 66, 66466}, {0, 255, 256804}, {1, 1, 60423}, {1, 10, 604247},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(VEK_WDT_SetConfig(c.unit, c.count), VEK_OK);
        ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
        EXPECT_EQ(wdt->preload2(), c.preload) << c.unit << "/" << int(c.count);
        EXPECT_EQ(wdt->preload1(), 0u);
    }
}

// The block's time-out cannot be read back: a trigger before any
// configuration leaves it alone rather than invent one.
TEST_F(ChipsetWatchdogTest, AnUnconfiguredTriggerLeavesTheBlockAlone) {
    EXPECT_EQ(VEK_WDT_Trigger(), VEK_ERR_STATE);
    EXPECT_TRUE(Writes().empty());
    EXPECT_FALSE(wdt->running());
    EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
}

// Every legal time-out, in device time: the reset comes within one tick after
// the asked time, never before it; beyond the range nothing is stored.
TEST_F(ChipsetWatchdogTest, EveryLegalTimeoutFiresOnTimeAndNeverBefore) {
    constexpr int64_t kClockHz = 33'000'000, kDivider = 1 << 15, kModelSlackNs = 1'000'000;
    const uint16_t enable = sim::kChipsetWatchdogBase + 0x18;
    for (uint32_t unit : {0u, 1u}) {
        uint8_t lo = 0, hi = 0;
        ASSERT_EQ(VEK_WDT_GetRange(unit, &lo, &hi), VEK_OK);
        for (uint32_t count = lo; count <= hi; ++count) {
            SCOPED_TRACE(std::to_string(unit) + "/" + std::to_string(count));
            ASSERT_EQ(VEK_WDT_SetConfig(unit, uint8_t(count)), VEK_OK);
            machine().ClearTrace();
            ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
            int64_t armed = -1; // the enable write starts the count
            for (const auto& e : machine().trace())
                if (e.kind == Access::PortWrite && e.address == enable) armed = e.time_ns;
            ASSERT_GE(armed, 0);
            const int64_t seconds = int64_t(count) * (unit ? 60 : 1);
            // The programmed ticks, at the chip's exact 33 MHz / 2^15: at or
            // after the asked time, less than one tick after it.
            const int64_t ticks = int64_t(wdt->preload1()) + 1 + int64_t(wdt->preload2()) + 1;
            EXPECT_GE(ticks * kDivider, seconds * kClockHz);
            EXPECT_LT((ticks - 1) * kDivider, seconds * kClockHz);
            // In device time (the model's tick is whole nanoseconds, 0.7 ns
            // short, so allow it a millisecond over ten minutes).
            const int64_t asked = seconds * kSec;
            machine().Advance(armed + asked - kModelSlackNs - machine().now_ns());
            EXPECT_FALSE(wdt->Fired());
            machine().Advance(kModelSlackNs + wdt->TickNs() + 1);
            EXPECT_TRUE(wdt->Fired());
            ASSERT_EQ(VEK_WDT_Disable(), VEK_OK);
            wdt->WritePort(sim::kChipsetWatchdogBase + 0x0D, 1, 0x02); // clear the time-out flag
        }
    }
    // Minutes past the range would wrap the 20-bit preload (18 minutes to 38.7 s).
    for (uint8_t minutes : {11, 18, 255}) EXPECT_EQ(VEK_WDT_SetConfig(1, minutes), VEK_ERR_ARGUMENT) << int(minutes);
    uint32_t unit = 9;
    uint8_t count = 0;
    ASSERT_EQ(VEK_WDT_GetConfig(&unit, &count), VEK_OK);
    EXPECT_EQ(std::make_pair(unit, count), std::make_pair(1u, uint8_t(10)));
}

TEST_F(ChipsetWatchdogTest, FiresAfterTheConfiguredTimeInDeviceTime) {
    ASSERT_EQ(VEK_WDT_SetConfig(0, 5), VEK_OK);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    const int64_t started = machine().now_ns();
    const int64_t due = wdt->FiresAt();
    EXPECT_NEAR(double(due - started), 5.0 * kSec, 0.01 * kSec);
    machine().Advance(due - machine().now_ns() - 1'000'000);
    EXPECT_FALSE(wdt->Fired());
    // Triggering again restarts the count.
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    machine().Advance(4 * kSec);
    EXPECT_FALSE(wdt->Fired());
    machine().Advance(kSec + 10'000'000);
    EXPECT_TRUE(wdt->Fired());
}

TEST_F(ChipsetWatchdogTest, DisabledInTimeItNeverFires) {
    ASSERT_EQ(VEK_WDT_SetConfig(1, 1), VEK_OK);
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    machine().Advance(59 * kSec);
    ASSERT_EQ(VEK_WDT_Disable(), VEK_OK);
    machine().Advance(600 * kSec);
    EXPECT_FALSE(wdt->Fired());
}

TEST_F(ChipsetWatchdogTest, FrameStateRangeAndPause) {
    uint8_t lo = 0, hi = 0;
    uint32_t unit = 9;
    uint8_t count = 9;
    ASSERT_EQ(VEK_WDT_GetRange(0, &lo, &hi), VEK_OK);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(uint8_t(1), uint8_t(255)));
    ASSERT_EQ(VEK_WDT_GetRange(1, &lo, &hi), VEK_OK);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(uint8_t(1), uint8_t(10)));
    EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
    ASSERT_EQ(VEK_WDT_SetConfig(1, 7), VEK_OK);
    ASSERT_EQ(VEK_WDT_GetConfig(&unit, &count), VEK_OK);
    EXPECT_EQ(std::make_pair(unit, count), std::make_pair(1u, uint8_t(7)));
    ASSERT_EQ(VEK_WDT_Trigger(), VEK_OK);
    EXPECT_EQ(VEK_WDT_Available(), VEK_OK);
    ASSERT_EQ(VEK_WDT_Disable(), VEK_OK);
    EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);

    // The I/O pause of the main chip's kind paces the block.
    ASSERT_EQ(VEK_API_SetIOSleepTime(200), VEK_OK);
    const int64_t before = machine().now_ns();
    ASSERT_EQ(VEK_WDT_Disable(), VEK_OK);
    EXPECT_GE(machine().now_ns() - before, 3 * 200'000);
    ASSERT_EQ(VEK_API_SetIOSleepTime(30), VEK_OK);
}

// The block's base register reads back empty: the board offers no watchdog.
TEST(ChipsetWatchdogAbsent, NoBaseNoWatchdog) {
    sim::Board b(RowNamed("PXC-59"));
    const sim::SmbusSite& site = b.smbus();
    b.machine().FindPciFunction(sim::PciAddress(site.bus, site.device, site.function))->Store(0x84, 4, 0);
    sim::Attached a(b);
    ASSERT_EQ(VEK_API_Init(), VEK_OK);
    uint8_t lo, hi;
    EXPECT_EQ(VEK_WDT_GetRange(0, &lo, &hi), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_WDT_Trigger(), VEK_ERR_UNSUPPORTED);
    EXPECT_FALSE(b.Find<sim::ChipsetWatchdog>()->running());
}

// ---------------------------------------------------------------- GPIO block

class ChipsetGpioBlockTest : public ChipsetTest {
protected:
    void SetUp() override {
        InitRow("PXC-60");
        block = board->Find<sim::GpioBlock>();
        ASSERT_NE(block, nullptr);
    }
    std::vector<Op> Mem() {
        return Ops(machine(), sim::kIoHubGpioBase, sim::kIoHubGpioBase + 0xFF, {Access::MemRead, Access::MemWrite});
    }
    sim::GpioBlock* block = nullptr;
};

TEST_F(ChipsetGpioBlockTest, PinsFollowTheDirectionRegister) {
    // Firmware left pins 1..4 as outputs with 1 and 3 high; pins 6 and 8 are high outside.
    uint8_t v = 0xFF;
    ASSERT_EQ(VEK_GPIO_ReadDirection(1, &v), VEK_OK);
    EXPECT_EQ(v, 0xF0);
    const struct { int32_t pin; uint8_t level; uint64_t reg; } reads[] = {
        {1, 1, 0x18}, {2, 0, 0x18}, {3, 1, 0x18}, {5, 0, 0x1C}, {6, 1, 0x1C}, {7, 0, 0x1C}, {8, 1, 0x1C}};
    for (const auto& r : reads) {
        machine().ClearTrace();
        ASSERT_EQ(VEK_GPIO_ReadPin(1, r.pin, &v), VEK_OK);
        EXPECT_EQ(v, r.level) << r.pin;
        ASSERT_EQ(Mem().size(), 1u);
        EXPECT_EQ(Mem()[0].address, sim::kIoHubGpioBase + r.reg) << r.pin;
    }
    ASSERT_EQ(VEK_GPIO_Read(1, &v), VEK_OK);
    EXPECT_EQ(v, 0xA5);
}

TEST_F(ChipsetGpioBlockTest, WritesTouchOnlyOutputs) {
    const uint64_t po = sim::kIoHubGpioBase + 0x18;
    ASSERT_EQ(VEK_GPIO_WritePin(1, 2, 1), VEK_OK);
    EXPECT_EQ(Mem(), (std::vector<Op>{MemR(po, 0x05), MemW(po, 0x07)}));
    machine().ClearTrace();
    ASSERT_EQ(VEK_GPIO_WritePin(1, 6, 0), VEK_OK); // an input: nothing written
    EXPECT_TRUE(Mem().empty());
    ASSERT_EQ(VEK_GPIO_Write(1, 0xF0), VEK_OK);
    EXPECT_EQ(block->latch(), 0x00u);
}

TEST_F(ChipsetGpioBlockTest, DirectionsGoToTheModeRegister) {
    const uint64_t pm = sim::kIoHubGpioBase + 0x20;
    ASSERT_EQ(VEK_GPIO_SetPinDirection(1, 5, 0), VEK_OK);
    EXPECT_EQ(Mem(), (std::vector<Op>{MemW(pm, 0x1F)}));
    ASSERT_EQ(VEK_GPIO_SetPinDirection(1, 1, 1), VEK_OK);
    EXPECT_EQ(block->direction(), 0x1Eu);
    uint8_t v = 9;
    ASSERT_EQ(VEK_GPIO_ReadPinDirection(1, 1, &v), VEK_OK);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(VEK_GPIO_SetDirection(1, 0x3C), VEK_OK);
    EXPECT_EQ(block->direction(), 0xC3u);
    // The pin reads follow the new direction: pin 8 is now an output whose latch is low.
    ASSERT_EQ(VEK_GPIO_ReadPin(1, 8, &v), VEK_OK);
    EXPECT_EQ(v, 0);
}

// ---------------------------------------------------------------- pads

class ChipsetPadTest : public ChipsetTest {
protected:
    void SetUp() override {
        InitRow("GTB-495");
        pads = nullptr;
        for (auto& d : board->devices())
            if (std::string(d->name()) == "GPIO pads") pads = static_cast<sim::PadCommunity*>(d.get());
        ASSERT_NE(pads, nullptr);
        first = int32_t(Lib().primary.gpioSets[0]) + 1; // the EC's sets come first
    }
    std::vector<Op> Writes() {
        return Ops(machine(), sim::kGpioPadBase, sim::kGpioPadBase + 0xFFF, {Access::MemWrite});
    }
    sim::PadCommunity* pads = nullptr;
    int32_t first = 0;
};

TEST_F(ChipsetPadTest, StartupClaimsEveryPad) {
    uint32_t n = 0;
    ASSERT_EQ(VEK_GPIO_TotalNumber(first, &n), VEK_OK);
    EXPECT_EQ(n, 4u);
    ASSERT_EQ(VEK_GPIO_TotalNumber(first + 1, &n), VEK_OK);
    EXPECT_EQ(n, 5u);
    for (uint16_t offset : {0x6D0, 0x6E8, 0x6D8, 0x6E0, 0x508, 0x510, 0x528, 0x530, 0x538})
        EXPECT_EQ(pads->Byte(uint16_t(offset + 3)), 0x44) << offset;
}

TEST_F(ChipsetPadTest, ModeBitsDecideEveryResult) {
    const int32_t s1 = first, s2 = first + 1;
    struct Case {
        const char* what;
        std::function<VEK_RESULT(uint8_t*)> call;
        VEK_RESULT result;
        uint8_t value;
    };
    pads->SetOutside(0x6D8, true);
    const Case cases[] = {
        {"direction of an output", [&](uint8_t* v) { return VEK_GPIO_ReadPinDirection(s1, 1, v); }, VEK_OK, 0},
        {"direction of an input", [&](uint8_t* v) { return VEK_GPIO_ReadPinDirection(s1, 3, v); }, VEK_OK, 1},
        {"direction of a native pad", [&](uint8_t* v) { return VEK_GPIO_ReadPinDirection(s2, 5, v); }, VEK_ERR_READ, 0},
        {"input level", [&](uint8_t* v) { return VEK_GPIO_ReadPin(s1, 3, v); }, VEK_OK, 1},
        {"output level", [&](uint8_t* v) { return VEK_GPIO_ReadPin(s1, 2, v); }, VEK_OK, 0},
        {"level of a native pad", [&](uint8_t* v) { return VEK_GPIO_ReadPin(s2, 5, v); }, VEK_ERR_READ, 0},
        {"unwired pin", [&](uint8_t* v) { return VEK_GPIO_ReadPin(s1, 5, v); }, VEK_ERR_ARGUMENT, 0},
        {"unwired pin direction", [&](uint8_t*) { return VEK_GPIO_SetPinDirection(s2, 6, 1); }, VEK_ERR_ARGUMENT, 0},
        {"direction of a native pad set", [&](uint8_t*) { return VEK_GPIO_SetPinDirection(s2, 5, 0); }, VEK_ERR_READ, 0},
        {"write to a native pad", [&](uint8_t*) { return VEK_GPIO_WritePin(s2, 5, 1); }, VEK_ERR_WRITE, 0},
        {"write to an input", [&](uint8_t*) { return VEK_GPIO_WritePin(s1, 3, 1); }, VEK_ERR_STATE, 0},
    };
    for (const Case& c : cases) {
        machine().ClearTrace();
        uint8_t v = 0x55;
        ASSERT_EQ(c.call(&v), c.result) << c.what;
        if (c.result == VEK_OK) {
            EXPECT_EQ(v, c.value) << c.what;
        } else {
            EXPECT_TRUE(Writes().empty()) << c.what;
        }
    }
}

TEST_F(ChipsetPadTest, WritesAreWholeBytesOfThePad) {
    const uint64_t base = sim::kGpioPadBase;
    ASSERT_EQ(VEK_GPIO_WritePin(first, 1, 1), VEK_OK);
    EXPECT_EQ(Writes(), (std::vector<Op>{MemW(base + 0x6D0, 0x01)}));
    EXPECT_TRUE(pads->Level(0x6D0));
    machine().ClearTrace();
    ASSERT_EQ(VEK_GPIO_SetPinDirection(first, 1, 1), VEK_OK); // output buffer off: now an input
    EXPECT_EQ(Writes(), (std::vector<Op>{MemW(base + 0x6D1, 0x01)}));
    EXPECT_EQ(pads->Buffers(0x6D0), sim::PadCommunity::kModeInput);
    ASSERT_EQ(VEK_GPIO_SetPinDirection(first, 3, 0), VEK_OK);
    EXPECT_EQ(pads->Buffers(0x6D8), sim::PadCommunity::kModeOutput);
}

TEST_F(ChipsetPadTest, GroupsGoPinByPinAndIgnoreFailures) {
    const int32_t s2 = first + 1;
    pads->SetOutside(0x510, true);
    uint8_t v = 0;
    ASSERT_EQ(VEK_GPIO_ReadDirection(s2, &v), VEK_OK);
    EXPECT_EQ(v, 0x0A); // pins 2 and 4 inputs; the native pin 5 reads as neither
    ASSERT_EQ(VEK_GPIO_Write(s2, 0x1F), VEK_OK); // inputs and the native pad refuse, quietly
    ASSERT_EQ(VEK_GPIO_Read(s2, &v), VEK_OK);
    EXPECT_EQ(v, 0x07); // outputs 1 and 3 high, input 2 high outside, input 4 low
    ASSERT_EQ(VEK_GPIO_SetDirection(s2, 0x1F), VEK_OK);
    EXPECT_EQ(pads->Buffers(0x508), sim::PadCommunity::kModeInput);
    EXPECT_EQ(pads->Buffers(0x538), sim::PadCommunity::kModeOff); // left as it was
}

// ---------------------------------------------------------------- LEDs and button

class ChipsetLedTest : public ChipsetTest {
protected:
    void SetUp() override {
        InitRow("FMQ-333");
        for (auto& d : board->devices()) {
            const std::string n = d->name();
            if (n == "LED pads") leds = static_cast<sim::PadCommunity*>(d.get());
            if (n == "button events") button = static_cast<sim::PadCommunity*>(d.get());
        }
        ASSERT_NE(leds, nullptr);
        ASSERT_NE(button, nullptr);
    }
    sim::PadCommunity* leds = nullptr;
    sim::PadCommunity* button = nullptr;
};

TEST_F(ChipsetLedTest, EachLedIsOnePadOutput) {
    const struct { uint32_t led; uint16_t pad; } wired[] = {{0, 0x740}, {1, 0x750}, {2, 0x760},
                                                            {3, 0x770}, {8, 0x700}, {10, 0x710}};
    for (const auto& w : wired) {
        machine().ClearTrace();
        ASSERT_EQ(VEK_LED_Set(w.led, 1), VEK_OK);
        EXPECT_EQ(Ops(machine(), sim::kLedPadBase, sim::kLedPadBase + 0xFFF, {Access::MemWrite}),
                  (std::vector<Op>{MemW(sim::kLedPadBase + w.pad, 1)}));
        EXPECT_TRUE(leds->Level(w.pad));
        machine().ClearTrace();
        uint32_t v = 7;
        ASSERT_EQ(VEK_LED_Get(w.led, &v), VEK_OK);
        EXPECT_EQ(v, 1u);
        EXPECT_EQ(Ops(machine(), sim::kLedPadBase, sim::kLedPadBase + 0xFFF, {Access::MemRead}),
                  (std::vector<Op>{MemR(sim::kLedPadBase + w.pad, 1), MemR(sim::kLedPadBase + w.pad + 1, 2)}));
        ASSERT_EQ(VEK_LED_Set(w.led, 0), VEK_OK);
        EXPECT_FALSE(leds->Level(w.pad));
    }
    uint32_t v;
    const struct { VEK_RESULT got, want; } refusals[] = {
        {VEK_LED_Set(4, 1), VEK_ERR_UNSUPPORTED}, {VEK_LED_Get(12, &v), VEK_ERR_UNSUPPORTED},
        {VEK_LED_Set(13, 0), VEK_ERR_ARGUMENT},   {VEK_LED_Get(13, &v), VEK_ERR_ARGUMENT},
        {VEK_LED_Set(0, 2), VEK_ERR_ARGUMENT},
    };
    for (size_t i = 0; i < std::size(refusals); ++i) EXPECT_EQ(refusals[i].got, refusals[i].want) << i;
}

TEST_F(ChipsetLedTest, ButtonPressIsReadOnceAndCleared) {
    const uint64_t status = sim::kButtonBase + sim::kButtonStatus;
    uint32_t v = 9;
    button->Latch(sim::kButtonStatus, sim::kButtonBit);
    ASSERT_EQ(VEK_Button_Get(0, &v), VEK_OK);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(Ops(machine(), status, status, {Access::MemRead, Access::MemWrite}),
              (std::vector<Op>{MemR(status, 0x02), MemW(status, 0x02)}));
    ASSERT_EQ(VEK_Button_Get(0, &v), VEK_OK);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(VEK_Button_Get(1, &v), VEK_ERR_ARGUMENT);
}

// LEDs named for the chipset on a board whose second chip has no LED pads answer 10.
TEST_F(ChipsetTest, LedOwnerWithoutPadsAnswers10) {
    InitRow("FMQ-345");
    Lib().primary.caps[CAP_LED] = 1;
    Lib().primary.caps[CAP_BUTTON] = 1;
    Lib().primary.ledOwner = KIND_CHIPSET;
    uint32_t v;
    EXPECT_EQ(VEK_LED_Set(0, 1), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_Button_Get(0, &v), VEK_ERR_UNSUPPORTED);
    Lib().primary.secondaryKind = KIND_SIO5; // the owner now names the main chip, not a chipset
    EXPECT_EQ(VEK_LED_Get(0, &v), VEK_ERR_UNSUPPORTED);
}

// ---------------------------------------------------------------- core voltage

TEST_F(ChipsetTest, CoreVoltageChannels) {
    InitRow("PXC-59");
    const BackendOps* ops = BackendFor(KIND_CHIPSET);
    ASSERT_NE(ops, nullptr);
    double v = -1;
    ASSERT_EQ(ops->voltage(chip(), 0, &v), VEK_OK);
    EXPECT_DOUBLE_EQ(v, sim::kBoardCoreVoltage / 8192.0);
    for (uint32_t ch = 1; ch <= 6; ++ch) EXPECT_EQ(ops->voltage(chip(), ch, &v), VEK_ERR_UNSUPPORTED) << ch;
    EXPECT_EQ(ops->voltage(chip(), 7, &v), VEK_ERR_ARGUMENT);
    // The hardware-monitor family does not route voltages to this chip.
    EXPECT_EQ(VEK_HWM_Voltage(0, &v), VEK_ERR_UNSUPPORTED);
}

// EC boards whose voltage channel 0 is the processor core voltage.
TEST_F(ChipsetTest, EcChannelZeroReadsThePerformanceStatus) {
    Use(RowWithBoard(6));
    ASSERT_EQ(Init(), VEK_OK);
    machine().SetMsr(sim::kMsrPerfStatus, uint64_t(0x2000) << 32 | 0xFFFF);
    machine().ClearTrace();
    double v = 0;
    ASSERT_EQ(VEK_HWM_Voltage(0, &v), VEK_OK);
    EXPECT_DOUBLE_EQ(v, 1.0);
    const auto msr = Ops(machine(), 0, ~0ull, {Access::MsrRead});
    ASSERT_EQ(msr.size(), 1u);
    EXPECT_EQ(msr[0].address, sim::kMsrPerfStatus);
}

} // namespace
