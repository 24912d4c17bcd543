// Per-board configuration of the chipset devices: which watchdog, GPIO, LED and
// platform I2C resources each chipset generation and board bring.
#include <cstddef>
#include <iterator>

#include "backends/chipset/chipset.h"
#include "hal/hal.h"
#include "hal/kernel_owner.h"
#include "smbus/locate.h"

namespace vek::chipset {
namespace {

constexpr uint32_t kAnyBoard = 0xFFFFFFFFu;
constexpr uint32_t kNone = I2C_NO_CONTROLLER;

struct PadSetRow {
    uint32_t pins;
    uint16_t offsets[PADS_PER_SET];
};

struct LedRow {
    uint32_t index;
    uint16_t offset;
};

// One row per subtype/board combination. Rows are searched in order: a board's
// own row stands before the row that covers every board of its subtype.
struct ChipsetRow {
    uint32_t subtype;               // chipset generation carried by the chip
    uint32_t board = kAnyBoard;
    uint32_t bus[I2C_BUSES] = {kNone, kNone, kNone, kNone};
    bool watchdogBlock = false;     // locate the watchdog I/O block
    bool offersWatchdog = false;    // ... and offer it as the board's watchdog
    bool gpioBlock = false;         // GPIO block of the I/O hub
    uint32_t padBase = 0;           // GPIO pads
    PadSetRow padSets[PAD_SETS] = {};
    uint32_t ledBase = 0;           // LED pads
    LedRow leds[LEDS] = {};
    size_t ledCount = 0;
    Pad button = {};                // button status register
};

constexpr ChipsetRow kRows[] = {
    {.subtype = 25, .board = 145, .bus = {kNone, kNone, I2C0, kNone}},
    {.subtype = 26, .board = 144, .bus = {kNone, kNone, I2C0, kNone}},
    {.subtype = 26, .board = 150, .bus = {kNone, kNone, I2C0, kNone}},
    {.subtype = 26, .board = 151, .bus = {kNone, kNone, I2C0, kNone}},
    {.subtype = 27, .board = 149, .bus = {kNone, kNone, I2C0, I2C1}},
    {.subtype = CHIPSET_FCH, .board = 156, .bus = {kNone, kNone, I2C0, kNone}},
    // Board 60 takes its watchdog from elsewhere; its I/O hub gives it one GPIO set.
    {.subtype = 1, .board = 60, .watchdogBlock = true, .offersWatchdog = false, .gpioBlock = true},
    {.subtype = 1, .watchdogBlock = true, .offersWatchdog = true},
    {.subtype = 12, .board = 95, .padBase = 0xD0C50000,
     .padSets = {{4, {0x6D0, 0x6E8, 0x6D8, 0x6E0}}, {5, {0x508, 0x510, 0x528, 0x530, 0x538}}}},
    {.subtype = 20, .board = 133, .ledBase = 0xFD690000,
     .leds = {{0, 0x740}, {1, 0x750}, {2, 0x760}, {3, 0x770}, {8, 0x700}, {10, 0x710}}, .ledCount = 6,
     .button = {0xFD6D0000, 0x10C}},
};

const ChipsetRow* FindRow(uint32_t subtype, uint32_t board) {
    for (const ChipsetRow& row : kRows)
        if (row.subtype == subtype && (row.board == board || row.board == kAnyBoard)) return &row;
    return nullptr;
}

// A missing device decodes as all zeros or all ones; neither is a usable base.
bool Usable(uint32_t base, uint32_t allOnes) { return base != 0 && base != allOnes; }

void ConfigureWatchdog(DeviceContext& ctx, const ChipsetRow& row) {
    ChipsetArea& a = Area(ctx);
    const uint16_t base = smbus::ReadSmbusConfigWord(ctx, CFG_WDT_BASE);
    a.wdtBlockBase = Usable(base, 0xFFFF) ? base : 0;
    ctx.wdtEc = WdtState{.minCount = {1, 1}, .maxCount = {WDT_MAX_SECONDS, WDT_MAX_MINUTES}, .unit = 0,
                         .count = 0, .running = 0, .configured = 0};
    ctx.caps[CAP_WDT] = (row.offersWatchdog && a.wdtBlockBase != 0) ? 1 : 0;
    // A kernel watchdog driver keeps its own timer running in this block; the
    // library neither restarts nor stops it beside the driver.
    if (ctx.caps[CAP_WDT] != 0) {
        const hal::KernelOwner owner = hal::OwnerOf(VEK_HOST_RES_WATCHDOG, a.wdtBlockBase, WDT_BLOCK_SIZE);
        if (owner.claimed) {
            ctx.caps[CAP_WDT] = 0;
            hal::ReportRefusal("the chipset watchdog", owner, "use /dev/watchdog; the watchdog functions answer 10");
        }
    }
}

void ConfigureGpioBlock(DeviceContext& ctx) {
    ChipsetArea& a = Area(ctx);
    uint32_t base = 0;
    hal::ReadPciDword(hal::PciAddress(GPIO_BLOCK_BUS, GPIO_BLOCK_DEVICE, GPIO_BLOCK_FUNCTION), CFG_GPIO_BLOCK_BAR,
                      &base);
    if (!Usable(base, 0xFFFFFFFFu)) return;
    a.gpio = GpioLayout::Block;
    a.gpioBlockBase = base;
    hal::ReadPhysical(base, GPIO_DIRECTION, &a.directionShadow, 1, 1);
    ctx.gpioSets[0] = 1;
    ctx.gpioSets[1] = GPIO_BLOCK_PINS;
    ctx.caps[CAP_GPIO] = 1;
}

void ConfigurePads(DeviceContext& ctx, const ChipsetRow& row) {
    ChipsetArea& a = Area(ctx);
    a.gpio = GpioLayout::Pads;
    for (uint32_t s = 0; s < PAD_SETS; ++s) {
        const PadSetRow& set = row.padSets[s];
        ctx.gpioSets[s + 1] = set.pins;
        for (uint32_t p = 0; p < set.pins; ++p) {
            a.pads[s][p] = {row.padBase, set.offsets[p]};
            const uint8_t config = PAD_RESET_CONFIG_GPIO;
            hal::WritePhysical(row.padBase, uint16_t(set.offsets[p] + PAD_RESET_CONFIG), &config, 1, 1);
        }
    }
    ctx.gpioSets[0] = PAD_SETS;
    ctx.caps[CAP_GPIO] = 1;
}

void ConfigureLeds(DeviceContext& ctx, const ChipsetRow& row) {
    ChipsetArea& a = Area(ctx);
    for (size_t i = 0; i < row.ledCount; ++i) a.leds[row.leds[i].index] = {row.ledBase, row.leds[i].offset};
    a.button = row.button;
    ctx.caps[CAP_LED] = 1;
    ctx.caps[CAP_BUTTON] = 1;
}

} // namespace

void Configure(DeviceContext& ctx) {
    for (Capability c : {CAP_GPIO, CAP_WDT, CAP_FAN, CAP_VOLTAGE, CAP_TEMPERATURE, CAP_CPU_TEMPERATURE})
        ctx.caps[c] = 0;
    ChipsetArea& a = Area(ctx);
    a = ChipsetArea{};
    for (uint32_t& controller : a.busController) controller = I2C_NO_CONTROLLER;
    for (uint32_t s = 0; s <= 9; ++s) ctx.gpioSets[s] = 0;

    // Unlisted combinations have none of these devices; every family answers 10.
    const ChipsetRow* row = FindRow(ctx.subtype, ctx.boardId);
    if (row == nullptr) return;
    for (uint32_t bus = 0; bus < I2C_BUSES; ++bus) a.busController[bus] = row->bus[bus];
    if (row->watchdogBlock) ConfigureWatchdog(ctx, *row);
    if (row->gpioBlock) ConfigureGpioBlock(ctx);
    if (row->padBase != 0) ConfigurePads(ctx, *row);
    if (row->ledBase != 0) ConfigureLeds(ctx, *row);
}

} // namespace vek::chipset
