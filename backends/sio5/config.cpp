// ChipKind 5 configuration: where the chip sits on each board, what its
// firmware leaves to us to set up, and which pins, rails and fans are wired.
#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <span>

#include "backends/superio/kernel_route.h"
#include "platform/process.h"
#include "backends/sio5/sio5.h"

namespace vek::sio5 {
namespace {

// How a board's chip is found.
enum class Locate : uint8_t {
    kPort2E,    // always at 0x2E
    kProbe,     // 0x4E unless its hardware-monitor base reads 0xFF there, then 0x2E
    kFixed,     // index port and monitor block fixed by the board
    kChipCheck, // 0x4E when its first base register reads kChipCheckValue, else 0x2E
};
constexpr uint8_t kChipCheckValue = 2;

// One configuration-register step of a board's GPIO setup.
struct Step {
    enum Kind : uint8_t { kWrite, kModify, kBank } kind;
    uint8_t reg;
    uint8_t keep;  // kModify: bits kept
    uint8_t value; // kWrite: the value; kModify: bits set; kBank: the bank
};
constexpr Step Wr(uint8_t reg, uint8_t value) { return {Step::kWrite, reg, 0, value}; }
constexpr Step Mod(uint8_t reg, uint8_t keep, uint8_t set) { return {Step::kModify, reg, keep, set}; }
constexpr Step Bank(uint8_t bank) { return {Step::kBank, 0, 0, bank}; }

struct VoltageAt {
    uint8_t channel;
    uint8_t reg;
};
struct DividerAt {
    uint8_t channel;
    double upper, lower;
};

struct PinTable {
    uint8_t sets;
    uint8_t pins[9];    // pins per set
    uint8_t codes[9][8]; // port * 10 + bit
};

constexpr FanDescriptor kFan0Default{.present = 1, .countHigh = 0xA0, .countLow = 0xA1, .duty = 0,
                                     .mode = FAN_REG_NONE, .modeShift = 0,
                                     .smartTempBase = FAN_REG_NONE, .smartDutyBase = 0};
constexpr FanDescriptor kFan1Default{.present = 1, .countHigh = 0xB0, .countLow = 0xB1, .duty = 0,
                                     .mode = FAN_REG_NONE, .modeShift = 0,
                                     .smartTempBase = FAN_REG_NONE, .smartDutyBase = 0};
constexpr FanDescriptor kNoFan0 = {0, 0xA0, 0xA1, 0, FAN_REG_NONE, 0, FAN_REG_NONE, 0};
constexpr FanDescriptor kNoFan1 = {0, 0xB0, 0xB1, 0, FAN_REG_NONE, 0, FAN_REG_NONE, 0};
// Fans with duty, mode field and curve on the newer chips; both share mode register 0x96.
constexpr FanDescriptor kCurveFan0{.present = 1, .countHigh = 0xA0, .countLow = 0xA1, .duty = 0xA3,
                                   .mode = 0x96, .modeShift = 0, .smartTempBase = 0xA6, .smartDutyBase = 0xAB};
constexpr FanDescriptor kCurveFan1{.present = 1, .countHigh = 0xC0, .countLow = 0xC1, .duty = 0xC3,
                                   .mode = 0x96, .modeShift = 4, .smartTempBase = 0xC6, .smartDutyBase = 0xCB};

struct Row {
    uint8_t id;
    Locate locate;
    uint16_t indexPort = 0; // kFixed
    uint16_t hwmPort = 0;   // kFixed, kChipCheck: the monitor's index port
    VoltageAt voltages[11] = {};  // entries with register 0 are unused
    DividerAt dividers[10] = {};  // entries with lower 0 are unused
    uint8_t batteryControl = 0;
    uint8_t sysTemp[3] = {};
    uint8_t cpuSource = 1;
    uint8_t cpuRegister = 0;
    FanDescriptor fans[FANS] = {kNoFan0, kNoFan1};
    bool watchdogSetup = false;
    bool watchdogResetOnHwm = false; // the reset-output register is written with device 4 selected
    std::span<const Step> gpioSetup = {};
    const PinTable* pins = nullptr;
};

constexpr PinTable kPins93 = {
    .sets = 9,
    .pins = {8, 8, 8, 8, 8, 8, 8, 8, 4},
    .codes = {{40, 41, 42, 43, 44, 45, 46, 47},
              {10, 11, 12, 13, 14, 15, 16, 17},
              {20, 21, 22, 23, 24, 25, 26, 27},
              {30, 31, 32, 33, 34, 35, 36, 37},
              {7, 6, 5, 4, 3, 2, 1, 0},
              {50, 51, 52, 53, 54, 55, 56, 57},
              {60, 61, 62, 63, 64, 65, 66, 67},
              {70, 71, 72, 73, 74, 75, 76, 77},
              {80, 81, 82, 83, PIN_NONE, PIN_NONE, PIN_NONE, PIN_NONE}},
};
constexpr PinTable OneSet(std::initializer_list<uint8_t> codes) {
    PinTable t{.sets = 1, .pins = {8}, .codes = {}};
    for (auto& set : t.codes) std::fill(std::begin(set), std::end(set), PIN_NONE);
    int i = 0;
    for (uint8_t c : codes) t.codes[0][i++] = c;
    return t;
}
constexpr PinTable kPins106 = OneSet({71, 72, 73, 74, 75, 76, 77, 80});
constexpr PinTable kPins143 = OneSet({92, 93, 94, 97, 0, 16, 91, 70});
constexpr PinTable kPins146 = OneSet({0, 16, 91, 70, 92, 93, 94, 97});
constexpr PinTable kPins148 = OneSet({54, 16, 91, 70, 52, 95, 94, 97});

// Multi-function pins to GPIO, every port's direction and level as the board wires them.
constexpr Step kGpio93[] = {
    Wr(0x27, 0xF0), Wr(0x2C, 0x1F), Wr(0x28, 0x60), Wr(0x2B, 0xE2), Wr(0x29, 0x00), Wr(0x27, 0xF4),
    Wr(0x29, 0x00), Wr(0x2C, 0xEF), Wr(0x27, 0xF8), Wr(0x2C, 0xFF), Wr(0x29, 0x00),
    Wr(0xF0, 0xFF), Wr(0xE0, 0x00), Wr(0xD0, 0x00), Wr(0xC0, 0x00), Wr(0xB0, 0x00), Wr(0xA0, 0xFF),
    Wr(0x90, 0xFF), Wr(0x80, 0xFF), Wr(0x88, 0xFF), Wr(0xF3, 0xFF), Wr(0xA3, 0xFF), Wr(0x93, 0xFF),
    Wr(0x83, 0xFF), Wr(0x8B, 0x0F),
};
constexpr Step kGpio106[] = {Wr(0x28, 0x20), Wr(0x80, 0x1F), Wr(0x88, 0xFE), Wr(0x83, 0xFF), Wr(0x8B, 0xFF)};
constexpr Step kGpioPort9[] = {Wr(0x28, 0x20)};
// Port 9 plus pins 52 and 54 taken from their bank-3 and bank-1 functions.
constexpr Step kGpio148[] = {Wr(0x28, 0x20), Bank(3), Mod(0x2A, 0xF8, 0x00), Mod(0x2C, 0x0A, 0xB2),
                             Bank(1), Mod(0x2C, 0x7F, 0x00)};

constexpr Row kRows[] = {
    {.id = 74, .locate = Locate::kPort2E,
     .voltages = {{0, 0x21}, {3, 0x23}, {4, 0x22}, {6, 0x24}},
     .dividers = {{3, 200, 47}, {4, 200, 20}, {6, 2, 1}},
     .fans = {kFan0Default, kFan1Default}},
    {.id = 93, .locate = Locate::kFixed, .indexPort = 0x4E, .hwmPort = 0xA35,
     .voltages = {{1, 0x21}, {2, 0x23}, {3, 0x24}, {5, 0x22}},
     .dividers = {{2, 39, 20}, {3, 22, 10}, {5, 200, 15}},
     .fans = {kFan0Default, kFan1Default},
     .gpioSetup = kGpio93, .pins = &kPins93},
    {.id = 106, .locate = Locate::kChipCheck, .hwmPort = 0x295,
     .voltages = {{0, 0x21}, {2, 0x20}, {3, 0x23}, {4, 0x24}},
     .dividers = {{2, 10, 10}, {3, 20, 10}, {4, 180, 10}},
     .sysTemp = {0x74},
     .fans = {kFan0Default, kFan1Default},
     .watchdogSetup = true, .gpioSetup = kGpio106, .pins = &kPins106},
    {.id = 128, .locate = Locate::kProbe,
     .voltages = {{0, 0x21}, {1, 0x22}, {6, 0x26}},
     .dividers = {{6, 10, 10}},
     .sysTemp = {0x74},
     .watchdogSetup = true},
    {.id = 131, .locate = Locate::kProbe,
     .voltages = {{0, 0x21}, {2, 0x20}, {3, 0x22}, {6, 0x26}},
     .dividers = {{2, 1, 1}, {3, 200, 47}, {6, 1, 1}},
     .batteryControl = 0x04,
     .sysTemp = {0x74},
     .watchdogSetup = true},
    {.id = 133, .locate = Locate::kProbe,
     .voltages = {{0, 0x21}, {6, 0x26}, {14, 0x22}, {15, 0x20}, {16, 0x25}, {17, 0x27}},
     .dividers = {{6, 1, 1}, {15, 1, 1}, {16, 1, 1}, {17, 2, 1}},
     .batteryControl = 0x04,
     .sysTemp = {0x72, 0x74},
     .cpuSource = 2, .cpuRegister = 0x7E,
     .fans = {kCurveFan0, kCurveFan1},
     .watchdogSetup = true, .watchdogResetOnHwm = true},
    {.id = 143, .locate = Locate::kProbe,
     .voltages = {{0, 0x21}, {2, 0x25}, {3, 0x22}},
     .dividers = {{2, 1, 1}, {3, 200, 47}},
     .sysTemp = {0x72, 0x74},
     .cpuSource = 2, .cpuRegister = 0x70,
     .fans = {kCurveFan0, kNoFan1},
     .watchdogSetup = true, .gpioSetup = kGpioPort9, .pins = &kPins143},
    {.id = 145, .locate = Locate::kProbe,
     .voltages = {{0, 0x21}, {2, 0x25}, {3, 0x22}, {6, 0x26}},
     .dividers = {{2, 1, 1}, {3, 200, 47}, {6, 1, 1}},
     .sysTemp = {0x74},
     .fans = {kCurveFan0, kNoFan1},
     .watchdogSetup = true, .gpioSetup = kGpioPort9, .pins = &kPins143},
    {.id = 146, .locate = Locate::kProbe,
     .voltages = {{0, 0x21}, {2, 0x25}, {3, 0x22}, {6, 0x26}},
     .dividers = {{2, 1, 1}, {3, 200, 47}, {6, 1, 1}},
     .sysTemp = {0x74},
     .fans = {kCurveFan0, kNoFan1},
     .watchdogSetup = true, .gpioSetup = kGpioPort9, .pins = &kPins146},
    {.id = 148, .locate = Locate::kProbe,
     .voltages = {{0, 0x21}, {1, 0x22}, {6, 0x26}, {16, 0x25}, {17, 0x27}},
     .dividers = {{6, 1, 1}, {15, 1, 1}, {16, 1, 1}, {17, 2, 1}},
     .batteryControl = 0x04,
     .sysTemp = {0x74},
     .fans = {kCurveFan0, kNoFan1},
     .watchdogSetup = true, .gpioSetup = kGpio148, .pins = &kPins148},
};
static_assert(std::size(kRows) == 10, "one row per ChipKind 5 board");

const Row* FindRow(uint32_t boardId) {
    for (const Row& r : kRows)
        if (r.id == boardId) return &r;
    return nullptr;
}

void SetInitial(DeviceContext& ctx) {
    Sio5Area& a = Area(ctx);
    a = Sio5Area{};
    for (auto& set : a.pinMap) std::fill(std::begin(set), std::end(set), PIN_NONE);
    a.voltageLsb = VOLTAGE_LSB;
    a.cpuTempSource = 1;
    a.sysTemp[0] = 0x74;
    a.fans[0] = kNoFan0;
    a.fans[1] = kNoFan1;
    std::fill(std::begin(ctx.gpioSets), std::end(ctx.gpioSets), 0u);
    ctx.wdtSio5 = WdtState{.minCount = {1, 1}, .maxCount = {255, 255}, .unit = 0, .count = 10, .running = 0, .configured = 0};
    ctx.ioDelay = *IoDelayOf(KIND_SIO5);
}

void Apply(DeviceContext& ctx, const Row& row) {
    Sio5Area& a = Area(ctx);
    for (const VoltageAt& v : row.voltages)
        if (v.reg != 0) a.voltageRegister[v.channel] = v.reg;
    for (const DividerAt& d : row.dividers)
        if (d.lower != 0) a.divider[d.channel] = {d.upper, d.lower};
    a.batteryControl = row.batteryControl;
    std::copy(std::begin(row.sysTemp), std::end(row.sysTemp), a.sysTemp);
    a.cpuTempSource = row.cpuSource;
    a.cpuTempRegister = row.cpuRegister;
    std::copy(std::begin(row.fans), std::end(row.fans), a.fans);
    if (row.pins != nullptr) {
        ctx.gpioSets[0] = row.pins->sets;
        for (int s = 0; s < row.pins->sets; ++s) {
            ctx.gpioSets[s + 1] = row.pins->pins[s];
            std::copy(std::begin(row.pins->codes[s]), std::end(row.pins->codes[s]), a.pinMap[s]);
        }
    }
    ctx.caps[CAP_GPIO] = row.pins != nullptr ? 1 : 0;
}

// The monitor stays unfound (0) when its base is unusable: 0xFFFF (nothing
// answered on either port) would wrap round to ports 4 and 5, and a base
// below 0x100 (firmware that never programmed the device; 0 after reset)
// would aim every monitor access at the DMA and interrupt controllers.
constexpr uint16_t kFirstDecodedPort = 0x100;
constexpr uint16_t kLastUsableBase = 0xFFFF - HWM_INDEX_OFFSET - 1;
uint16_t MonitorPort(uint16_t base) {
    if (base < kFirstDecodedPort || base > kLastUsableBase) return 0;
    return uint16_t(base + HWM_INDEX_OFFSET);
}

uint16_t HwmPortFromBase() {
    SelectDevice(LDN_HWM);
    return MonitorPort(ReadBase());
}

void FindChip(DeviceContext& ctx, const Row& row) {
    Sio5Area& a = Area(ctx);
    switch (row.locate) {
    case Locate::kPort2E:
        // Set rather than inherited: a process that initialised another board
        // first must not carry its port over.
        SetIndexPort(PORT_FALLBACK);
        break;
    case Locate::kFixed:
        SetIndexPort(row.indexPort);
        a.hwmIndexPort = row.hwmPort;
        break;
    case Locate::kProbe: {
        SetIndexPort(PORT_PRIMARY);
        ConfigMode config;
        SelectDevice(LDN_HWM);
        if (Read(CR_BASE_HIGH) == 0xFF) {
            config.MoveTo(PORT_FALLBACK);
            SelectDevice(LDN_HWM);
        }
        a.hwmIndexPort = MonitorPort(ReadBase());
        break;
    }
    case Locate::kChipCheck: {
        SetIndexPort(PORT_PRIMARY);
        bool here = false;
        {
            ConfigMode config;
            here = Read(CR_BASE_HIGH) == kChipCheckValue;
        } // locked again on the port it was opened on
        if (!here) SetIndexPort(PORT_FALLBACK);
        a.hwmIndexPort = row.hwmPort;
        break;
    }
    }
}

void WatchdogSetup(const Row& row) {
    ConfigMode config;
    SelectDevice(LDN_WDT);
    Write(CR_ACTIVATE, 1);
    Write(WDT_CONTROL, WDT_SETUP_VALUE);
    if (row.watchdogResetOnHwm) SelectDevice(LDN_HWM);
    Write(WDT_RESET_OUTPUT, WDT_SETUP_VALUE);
}

// Boards without the watchdog set-up still serve the watchdog when this chip
// is their main one; the device is inactive after reset and a trigger would
// load a counter that never runs. Only the device is switched on: the reset
// output stays as the board's firmware wired it.
void ActivateWatchdog() {
    ConfigMode config;
    SelectDevice(LDN_WDT);
    Write(CR_ACTIVATE, 1);
}

void GpioSetup(const Row& row) {
    ConfigMode config;
    SelectDevice(LDN_GPIO);
    Write(CR_ACTIVATE, 1);
    for (const Step& s : row.gpioSetup) {
        switch (s.kind) {
        case Step::kWrite: Write(s.reg, s.value); break;
        case Step::kModify: Write(s.reg, uint8_t((Read(s.reg) & s.keep) | s.value)); break;
        case Step::kBank: SelectBank(s.value); break;
        }
    }
}

// A second chip's capability words start at zero, and the frame asks the
// serving chip's own word for fans: claim what this board wires to the chip.
void ClaimOwnFamilies(DeviceContext& ctx) {
    const Sio5Area& a = Area(ctx);
    const auto any = [](auto first, auto last) { return std::any_of(first, last, [](auto v) { return v != 0; }); };
    ctx.caps[CAP_WDT] = 1;
    ctx.caps[CAP_FAN] = (a.fans[0].present || a.fans[1].present) ? 1 : 0;
    ctx.caps[CAP_VOLTAGE] = any(std::begin(a.voltageRegister), std::end(a.voltageRegister)) ? 1 : 0;
    ctx.caps[CAP_TEMPERATURE] = any(std::begin(a.sysTemp), std::end(a.sysTemp)) ? 1 : 0;
    ctx.caps[CAP_CPU_TEMPERATURE] = a.cpuTempSource == CPU_SOURCE_CHIP ? 1 : 0;
}

} // namespace

void Configure(DeviceContext& ctx) {
    SetInitial(ctx);
    const Row* row = FindRow(ctx.boardId);
    if (row != nullptr) {
        Apply(ctx, *row);
        FindChip(ctx, *row);
        if (row->watchdogSetup) WatchdogSetup(*row);
        else if (!ctx.isSecondary) ActivateWatchdog();
        if (!row->gpioSetup.empty()) GpioSetup(*row);
    } else {
        ctx.caps[CAP_GPIO] = 0;
    }
    if (Area(ctx).hwmIndexPort == 0) {
        ConfigMode config;
        Area(ctx).hwmIndexPort = HwmPortFromBase();
    }
    if (Area(ctx).hwmIndexPort != 0) hal::GrantPorts(Area(ctx).hwmIndexPort, 2); // index/data pair
    superio::NoteMonitorBlock(ctx, superio::MonitorBlockOf(Area(ctx).hwmIndexPort), superio::MONITOR_BLOCK_SIZE,
                             Area(ctx).voltageLsb);
    if (ctx.isSecondary) ClaimOwnFamilies(ctx);
}

} // namespace vek::sio5
