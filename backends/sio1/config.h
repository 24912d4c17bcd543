// Per-subtype and per-board configuration of the ChipKind 1 chip, as data:
// the GPIO group maps with their pin-function writes, the subtype rows and one
// row per board that has its own pins, sensors or capability changes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "backends/sio1/registers.h"
#include "backends/sio1/sio1.h"

namespace vek::sio1 {

// One configuration-register write. MODIFY reads the register and writes
// (value & ~clear) | set; ASSIGN writes set without reading. The pin flags add
// the mask of the pin being mapped to clear or set.
struct RegOp {
    enum Kind : uint8_t { MODIFY, ASSIGN };
    enum PinBits : uint8_t { PIN_NONE_BITS, PIN_CLEAR, PIN_SET };
    uint8_t ldn = LDN_NONE; // device selected first; LDN_NONE for global registers
    uint8_t reg = 0;
    uint8_t clear = 0;
    uint8_t set = 0;
    Kind kind = MODIFY;
    PinBits pin = PIN_NONE_BITS;
};
constexpr RegOp Modify(uint8_t reg, uint8_t clear, uint8_t set) { return {.reg = reg, .clear = clear, .set = set}; }
constexpr RegOp Assign(uint8_t reg, uint8_t value) { return {.reg = reg, .set = value, .kind = RegOp::ASSIGN}; }
constexpr RegOp SetPinBit(uint8_t reg) { return {.reg = reg, .pin = RegOp::PIN_SET}; }
constexpr RegOp ClearPinBit(uint8_t reg) { return {.reg = reg, .pin = RegOp::PIN_CLEAR}; }
constexpr RegOp On(uint8_t ldn, RegOp op) {
    op.ldn = ldn;
    return op;
}

using RegOps = std::span<const RegOp>;

// One GPIO group of a subtype's map. Mapping a pin of the group applies its
// pin-function writes, sets the group's activation bit in its device's
// register 0x30, performs the extra writes and stores the registers below in
// the pin entry.
struct GroupDef {
    uint8_t group = 0;
    uint8_t ldn = LDN_NONE, actBit = 0;
    uint8_t ioReg = 0, dataReg = 0;
    RegOps pinFunction = {};            // for every pin of the group
    RegOps pinFunctionByBit[8] = {};    // for the pin's bit only
    RegOps extra = {};                  // after activation, device still selected
    // The device the pin entry stores when it differs from ldn.
    uint8_t pinLdn = LDN_NONE;
};

enum class GpioWhen : uint8_t { ALWAYS, IF_CAP_GPIO, IF_CAP_GPIO_OWNED_HERE, NEVER };

struct SubtypeRow {
    double voltageLsb = 0.008;
    bool newWatchdog = false;       // mode/count at 0xF0/0xF1
    bool newTemperatures = false;   // CPU and system temperature in bank 3
    RegOps before = {};             // chip writes before anything else
    RegOps afterGpio = {};
    GpioWhen gpio = GpioWhen::ALWAYS;
    std::span<const GroupDef> groups = {};
    bool honoursAltPort = false;    // boards may strap the chip to 0x4E
    bool backlightDevice = false;   // enables the backlight pulse device when CAP_BACKLIGHT is set
    double batteryScale = 2.0;      // battery input divider
    bool vcoreDualRange = false;    // core voltage in register 0x18 with a range bit
};

// Fan wiring of a board: present flag and any register overrides (0 keeps the default).
struct FanRow {
    uint8_t present = 0;
    uint8_t bank = 0;
    uint8_t count = 0, countLow = 0, duty = 0;
};

struct MonitorRow {
    uint8_t voltBank = 0;
    uint8_t voltReg[VOLTAGE_CHANNELS] = {}; // by channel, 6 = battery
    uint8_t vbatBank = HWM_VBAT_BANK;
    Divider divider[VOLTAGE_CHANNELS] = {};
    double vcoreScale = 1.0;
    FanRow fans[FANS] = {};
    bool batteryDirect = false;
    bool noSysTemp = false;
};

// Capability words a board changes.
struct CapRow {
    enum Fan : int8_t { FAN_KEEP = -1, FAN_CLEAR = 0, FAN_SET = 1 };
    Fan fan = FAN_KEEP;
    bool clearSmbus = false;
    bool clearGpio = false;
    bool clearWdtSpeaker = false;
    bool setBacklight = false;
};

using PinCodes = std::array<uint8_t, PIN_ENTRIES>;

struct BoardRow {
    uint8_t subtype = 0;  // the subtype the board was designed around
    uint8_t boardId = 0;
    PinCodes pins = {};
    const MonitorRow* monitor = nullptr;
    uint8_t cpuTempState = CPU_TEMP_PRESENT;
    uint16_t hwmIndexPort = 0;      // fixed port, or 0 to read it from the chip
    uint32_t altConfigPort = 0;
    BacklightPulse backlight = {};
    CapRow caps = {};
};

inline constexpr int SUBTYPES = 9;
const SubtypeRow& SubtypeOf(uint32_t subtype);
std::span<const BoardRow> BoardRows();
const BoardRow* BoardOf(uint32_t boardId);

} // namespace vek::sio1
