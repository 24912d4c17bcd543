// The chipset devices each row's ChipKind 4 chip brings, chosen as data.
#include "sim/chipset/chipset_models.h"

#include <iterator>

#include "sim/board.h"
#include "sim/chip_models.h"
#include "sim/chipset/chipset_gpio.h"
#include "sim/chipset/chipset_watchdog.h"
#include "sim/chipset/platform_i2c.h"
#include "sim/smbus/smbus_model.h"

namespace vek::sim {
namespace {

constexpr uint32_t kAnyBoard = 0xFFFFFFFFu;
constexpr uint32_t kWatchdogDecode = 1u << 31;
constexpr uint64_t kCommunitySize = 0x1000;

struct PadSetup {
    uint16_t offset;
    uint8_t buffers; // PadCommunity::kModeInput, kModeOutput or kModeOff
};

// What the board's chipset carries.
struct ChipsetModels {
    uint32_t subtype;
    uint32_t board = kAnyBoard;
    bool watchdog = false;        // the SCH-class watchdog, on chipsets with that LPC bridge
    bool gpioBlock = false;       // the I/O hub's GPIO block
    uint64_t padBase = 0;         // GPIO pads
    PadSetup pads[9] = {};
    bool ledsAndButton = false;
    uint32_t i2cControllers = 0;  // "I2C0", "I2C1"
};

constexpr uint8_t kIn = PadCommunity::kModeInput, kOut = PadCommunity::kModeOutput, kOff = PadCommunity::kModeOff;

constexpr ChipsetModels kModels[] = {
    {.subtype = 1, .board = 60, .watchdog = true, .gpioBlock = true},
    {.subtype = 1, .watchdog = true},
    // Set 1: two outputs, two inputs; set 2 ends in a pad left to its native function.
    {.subtype = 12, .board = 95, .padBase = kGpioPadBase,
     .pads = {{0x6D0, kOut}, {0x6E8, kOut}, {0x6D8, kIn}, {0x6E0, kIn},
              {0x508, kOut}, {0x510, kIn}, {0x528, kOut}, {0x530, kIn}, {0x538, kOff}}},
    {.subtype = 20, .board = 133, .ledsAndButton = true},
    {.subtype = 25, .i2cControllers = 1},
    {.subtype = 26, .i2cControllers = 1},
    {.subtype = 27, .i2cControllers = 2},
    {.subtype = CHIPSET_FCH, .i2cControllers = 1},
};

constexpr uint16_t kLedPads[] = {0x700, 0x710, 0x720, 0x730, 0x740, 0x750, 0x760, 0x770};

const ChipsetModels* ModelsFor(uint32_t subtype, uint32_t board) {
    for (const ChipsetModels& m : kModels)
        if (m.subtype == subtype && (m.board == board || m.board == kAnyBoard)) return &m;
    return nullptr;
}

void AddWatchdog(Board& board) {
    // The base register lives in the SCH-class LPC bridge, next to the SMBus base.
    const SmbusSite& site = board.smbus();
    if (!site.schMap) return;
    PciFunction* lpc = board.machine().FindPciFunction(PciAddress(site.bus, site.device, site.function));
    if (lpc == nullptr) return;
    lpc->Store(kLpcWatchdogBaseReg, 4, kWatchdogDecode | kChipsetWatchdogBase);
    board.Add<ChipsetWatchdog>(kChipsetWatchdogBase);
}

void AddGpioBlock(Board& board) {
    GpioBlock& block = board.Add<GpioBlock>(kIoHubGpioBase);
    block.SetRegisters(0x0F, 0x05); // firmware: pins 1..4 outputs, 1 and 3 high
    block.SetOutside(0xA0);
}

void AddPads(Board& board, const ChipsetModels& m) {
    PadCommunity& pads = board.Add<PadCommunity>(m.padBase, kCommunitySize, "GPIO pads");
    for (const PadSetup& p : m.pads)
        if (p.offset != 0) pads.AddPad(p.offset, p.buffers);
}

void AddLedsAndButton(Board& board) {
    PadCommunity& leds = board.Add<PadCommunity>(kLedPadBase, kCommunitySize, "LED pads");
    for (uint16_t offset : kLedPads) leds.AddPad(offset, PadCommunity::kModeOutput);
    PadCommunity& button = board.Add<PadCommunity>(kButtonBase, kCommunitySize, "button events");
    button.AddStatusRegister(kButtonStatus);
}

void AddPlatformI2c(Board& board, uint32_t controllers) {
    static const char* const kNames[] = {"I2C0", "I2C1"};
    for (uint32_t c = 0; c < controllers && c < std::size(kNames); ++c) {
        PlatformI2cBus& bus = board.Add<PlatformI2cBus>(c, kNames[c]);
        if (c == 0) {
            I2cEeprom& eeprom = bus.Attach<I2cEeprom>(kPlatformEepromAddress, 256, 1);
            for (size_t i = 0; i < eeprom.bytes().size(); ++i) eeprom.bytes()[i] = uint8_t(i ^ 0x5A);
            BlockDevice& block = bus.Attach<BlockDevice>(kPlatformBlockAddress);
            for (size_t i = 0; i < block.registers().size(); ++i) block.registers()[i] = uint8_t(0x30 + i);
            block.block(0x80) = {'V', 'E', 'K', '-', '4'};
            block.block(0x82) = std::vector<uint8_t>(33, 0xEE); // longer than a block may be
        } else {
            bus.Attach<TemperatureSensor>(kPlatformSensorAddress).SetTemperature(41.25);
        }
    }
}

} // namespace

void AddChipsetModels(Board& board) {
    const PlatformEntry& row = board.row();
    // Intel processors report their core voltage in the performance-status register.
    if (row.chipsetId != CHIPSET_FCH)
        board.machine().SetMsr(kMsrPerfStatus, uint64_t(kBoardCoreVoltage) << 32 | 0x1F00);

    uint32_t subtype;
    if (row.chipKind == KIND_CHIPSET) subtype = row.subtype;
    else if (row.secondaryKind == KIND_CHIPSET) subtype = row.secondarySubtype;
    else return;
    const ChipsetModels* m = ModelsFor(subtype, row.boardId);
    if (m == nullptr) return;
    if (m->watchdog) AddWatchdog(board);
    if (m->gpioBlock) AddGpioBlock(board);
    if (m->padBase != 0) AddPads(board, *m);
    if (m->ledsAndButton) AddLedsAndButton(board);
    AddPlatformI2c(board, m->i2cControllers);
}

} // namespace vek::sim
