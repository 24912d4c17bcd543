// ChipKind 1 configuration data: the GPIO group maps of each chip model, the
// subtype rows and one row per board with its own pins, sensors or capabilities.
#include <algorithm>
#include <array>
#include <initializer_list>

#include "backends/sio1/config.h"

namespace vek::sio1 {

namespace {

// ---------------------------------------------------------------- group maps

// Newer parts (subtypes 0, 5, 8): eight groups on device 7, four registers apart.
constexpr GroupDef UniformGroup(uint8_t g) {
    return {.group = g, .ldn = LDN_GPIO_A, .actBit = uint8_t(1u << g),
            .ioReg = uint8_t(0xE0 + 4 * g), .dataReg = uint8_t(0xE1 + 4 * g)};
}
constexpr GroupDef kUniformGroups[] = {UniformGroup(0), UniformGroup(1), UniformGroup(2), UniformGroup(3),
                                       UniformGroup(4), UniformGroup(5), UniformGroup(6), UniformGroup(7)};

// Subtype 1. Groups 2..5 share their pins with other functions; the mux
// registers 0x29..0x2C hand them to GPIO.
constexpr RegOp kS1G2Low[] = {Modify(CR_PIN_MUX_29, 0x04, 0x02)};
constexpr RegOp kS1G2High[] = {Modify(CR_PIN_MUX_2A, 0x00, 0x01)};
constexpr RegOp kS1G3Bit2[] = {Modify(CR_PIN_MUX_2C, 0x20, 0x00)};
constexpr RegOp kS1G3Bit3[] = {Modify(CR_PIN_MUX_2C, 0x40, 0x00)};
constexpr RegOp kS1G3Bit4[] = {Modify(CR_PIN_MUX_2C, 0x80, 0x00)};
constexpr RegOp kS1G4[] = {Modify(CR_PIN_MUX_2C, 0x01, 0x02)};
// Group 5's mux bits sit in register 0x29, one per pin. The bit is set in
// 0x29's own value: copying another register's contents into 0x29 would
// reassign unrelated pins.
constexpr RegOp kS1G5[] = {SetPinBit(CR_PIN_MUX_29)};
constexpr RegOp kInvertE2[] = {Assign(0xE2, 0)};
constexpr RegOp kInvertE5[] = {Assign(0xE5, 0)};
constexpr RegOp kInvertE6[] = {Assign(0xE6, 0)};
constexpr RegOp kInvertF2[] = {Assign(0xF2, 0)};
constexpr RegOp kInvertF5[] = {Assign(0xF5, 0)};
constexpr RegOp kInvertF6[] = {Assign(0xF6, 0)};
constexpr GroupDef kSubtype1Groups[] = {
    {.group = 2, .ldn = LDN_GPIO_C, .actBit = 0x01, .ioReg = 0xE3, .dataReg = 0xE4,
     .pinFunctionByBit = {kS1G2Low, kS1G2Low, {}, {}, kS1G2High, kS1G2High, kS1G2High, kS1G2High},
     .extra = kInvertE5},
    {.group = 3, .ldn = LDN_GPIO_C, .actBit = 0x02, .ioReg = 0xF0, .dataReg = 0xF1,
     .pinFunctionByBit = {{}, {}, kS1G3Bit2, kS1G3Bit3, kS1G3Bit4, {}, {}, {}},
     .extra = kInvertF2},
    {.group = 4, .ldn = LDN_GPIO_C, .actBit = 0x04, .ioReg = 0xF4, .dataReg = 0xF5,
     .pinFunction = kS1G4, .extra = kInvertF6},
    {.group = 5, .ldn = LDN_GPIO_C, .actBit = 0x08, .ioReg = 0xE0, .dataReg = 0xE1,
     .pinFunction = kS1G5, .extra = kInvertE2},
    {.group = 6, .ldn = LDN_GPIO_A, .actBit = 0x08, .ioReg = 0xF4, .dataReg = 0xF5, .extra = kInvertF6},
};

// Subtype 2.
constexpr RegOp kS2Mux80[] = {Modify(CR_PIN_MUX_29, 0x00, 0x80)};
constexpr RegOp kS2Mux10[] = {Modify(CR_PIN_MUX_29, 0x00, 0x10)};
constexpr RegOp kS2Mux20[] = {Modify(CR_PIN_MUX_29, 0x00, 0x20)};
constexpr GroupDef kSubtype2Groups[] = {
    {.group = 1, .ldn = LDN_GPIO_C, .actBit = 0x01, .ioReg = 0xE0, .dataReg = 0xE1, .extra = kInvertE2},
    {.group = 2, .ldn = LDN_GPIO_C, .actBit = 0x02, .ioReg = 0xE4, .dataReg = 0xE5, .extra = kInvertE6},
    {.group = 3, .ldn = LDN_GPIO_A, .actBit = 0x01, .ioReg = 0xE0, .dataReg = 0xE1, .pinFunction = kS2Mux80,
     .extra = kInvertE2},
    {.group = 4, .ldn = LDN_GPIO_A, .actBit = 0x02, .ioReg = 0xE4, .dataReg = 0xE5, .pinFunction = kS2Mux10,
     .extra = kInvertE6},
    {.group = 5, .ldn = LDN_GPIO_B, .actBit = 0x02, .ioReg = 0xE0, .dataReg = 0xE1, .pinFunction = kS2Mux20,
     .extra = kInvertE2},
    {.group = 6, .ldn = LDN_GPIO_B, .actBit = 0x04, .ioReg = 0xE4, .dataReg = 0xE5, .pinFunction = kS2Mux80,
     .extra = kInvertE6},
};

// Subtype 3.
constexpr RegOp kS3G1[] = {Modify(CR_PIN_MUX_29, 0x80, 0x40)};
constexpr RegOp kS3G2Bit0[] = {Modify(CR_PIN_MUX_29, 0x02, 0x01)};
constexpr RegOp kS3G2Bit1[] = {Modify(CR_PIN_MUX_2A, 0x80, 0x40)};
constexpr RegOp kS3G2Bit2[] = {Modify(CR_PIN_MUX_2A, 0x20, 0x00)};
constexpr RegOp kS3G2Bit3[] = {Modify(CR_PIN_MUX_2A, 0x10, 0x00)};
constexpr RegOp kS3G2Bit4[] = {Modify(CR_PIN_MUX_2A, 0x08, 0x00)};
constexpr RegOp kS3G2Bit5[] = {Modify(CR_PIN_MUX_2A, 0x04, 0x00)};
constexpr RegOp kS3G2Bit6[] = {Modify(CR_PIN_MUX_2A, 0x02, 0x00)};
constexpr RegOp kS3G3Bit0[] = {Modify(CR_PIN_MUX_2C, 0x30, 0x00)};
constexpr RegOp kS3G3Bit1[] = {Modify(CR_PIN_MUX_2C, 0xC0, 0x00)};
constexpr RegOp kS3G3Bit2[] = {Modify(CR_PIN_MUX_2B, 0x03, 0x00)};
constexpr RegOp kS3G3Bit3[] = {Modify(CR_PIN_MUX_2B, 0x0C, 0x00)};
constexpr RegOp kS3G3Bit4[] = {Modify(CR_PIN_MUX_2B, 0x20, 0x10)};
constexpr RegOp kS3G3Bit5[] = {Modify(CR_PIN_MUX_2B, 0x40, 0x00)};
constexpr RegOp kS3G3Bit7[] = {Modify(CR_PIN_MUX_2C, 0x08, 0x04)};
constexpr RegOp kS3G4[] = {ClearPinBit(CR_PIN_MUX_2D)};
constexpr GroupDef kSubtype3Groups[] = {
    {.group = 1, .ldn = LDN_GPIO_A, .actBit = 0x01, .ioReg = 0xF0, .dataReg = 0xF1, .pinFunction = kS3G1,
     .extra = kInvertF2},
    {.group = 2, .ldn = LDN_GPIO_B, .actBit = 0x01, .ioReg = 0xF0, .dataReg = 0xF1,
     .pinFunctionByBit = {kS3G2Bit0, kS3G2Bit1, kS3G2Bit2, kS3G2Bit3, kS3G2Bit4, kS3G2Bit5, kS3G2Bit6, {}},
     .extra = kInvertF2},
    {.group = 3, .ldn = LDN_GPIO_C, .actBit = 0x01, .ioReg = 0xF0, .dataReg = 0xF1,
     .pinFunctionByBit = {kS3G3Bit0, kS3G3Bit1, kS3G3Bit2, kS3G3Bit3, kS3G3Bit4, kS3G3Bit5, {}, kS3G3Bit7},
     .extra = kInvertF2},
    {.group = 4, .ldn = LDN_GPIO_C, .actBit = 0x02, .ioReg = 0xF4, .dataReg = 0xF5, .pinFunction = kS3G4,
     .extra = kInvertF6},
    // Enables device 7's fourth group but files the pins under device 9's
    // registers 0xF3/0xF2 (0xF2 is group 3's inversion register). Kept as the
    // chip's boards were built; no board here maps a pin to this group.
    {.group = 5, .ldn = LDN_GPIO_A, .actBit = 0x08, .ioReg = 0xF3, .dataReg = 0xF2, .extra = kInvertF5,
     .pinLdn = LDN_GPIO_C},
};

// Subtype 4: three groups with the same register layout on devices 7, 8, 9.
constexpr RegOp kS4G1[] = {Modify(CR_PIN_MUX_2A, 0x00, 0xFC)};
constexpr RegOp kS4G2[] = {Assign(CR_PIN_MUX_2B, 0xFF)};
constexpr RegOp kS4G3[] = {Modify(CR_PIN_MUX_29, 0x00, 0xFC)};
constexpr GroupDef kSubtype4Groups[] = {
    {.group = 1, .ldn = LDN_GPIO_A, .actBit = 0x01, .ioReg = 0xF0, .dataReg = 0xF1, .pinFunction = kS4G1,
     .extra = kInvertF2},
    {.group = 2, .ldn = LDN_GPIO_B, .actBit = 0x01, .ioReg = 0xF0, .dataReg = 0xF1, .pinFunction = kS4G2,
     .extra = kInvertF2},
    {.group = 3, .ldn = LDN_GPIO_C, .actBit = 0x01, .ioReg = 0xF0, .dataReg = 0xF1, .pinFunction = kS4G3,
     .extra = kInvertF2},
};

// Subtype 7. Group 4's pins are shared with the serial and LPC pins of
// device 0x0D and the mux registers 0x1A/0x1B/0x27; after enabling, device 9
// toggles the group off and on around clearing its event register 0xEE.
constexpr RegOp kS7G4Bit0[] = {On(LDN_PIN_CONTROL, Modify(0xE2, 0x03, 0x00))};
constexpr RegOp kS7G4Bit1[] = {Modify(CR_PIN_MUX_1A, 0x0C, 0x08), Modify(CR_PIN_MUX_27, 0x10, 0x00)};
constexpr RegOp kS7G4Bit2[] = {Modify(CR_PIN_MUX_1B, 0x00, 0x06), Modify(CR_PIN_MUX_27, 0x10, 0x00)};
constexpr RegOp kS7G4Bit3[] = {Modify(CR_PIN_MUX_27, 0x10, 0x00)};
constexpr RegOp kS7G4Bit45[] = {On(LDN_PIN_CONTROL, Modify(0xE1, 0x10, 0x00)), Modify(CR_PIN_MUX_1B, 0x00, 0x40),
                                Modify(CR_PIN_MUX_27, 0x10, 0x00)};
constexpr RegOp kS7G4Bit6[] = {On(LDN_PIN_CONTROL, Modify(0xE1, 0x20, 0x00)), Modify(CR_PIN_MUX_27, 0x10, 0x00)};
constexpr RegOp kS7G4Bit7[] = {Modify(CR_PIN_MUX_1B, 0x00, 0x80), Modify(CR_PIN_MUX_27, 0x40, 0x00)};
constexpr RegOp kS7G4Extra[] = {On(LDN_GPIO_C, Modify(LD_ACTIVATE, 0x04, 0x00)), Assign(0xEE, 0x00),
                                Modify(LD_ACTIVATE, 0x00, 0x04), ClearPinBit(0xEE)};
constexpr GroupDef kSubtype7Groups[] = {
    {.group = 0, .ldn = LDN_GPIO_B, .actBit = 0x01, .ioReg = 0xE0, .dataReg = 0xE1},
    {.group = 1, .ldn = LDN_GPIO_B, .actBit = 0x80, .ioReg = 0xF0, .dataReg = 0xF1},
    {.group = 2, .ldn = LDN_GPIO_C, .actBit = 0x01, .ioReg = 0xE0, .dataReg = 0xE1},
    {.group = 3, .ldn = LDN_GPIO_C, .actBit = 0x02, .ioReg = 0xE4, .dataReg = 0xE5},
    {.group = 4, .ldn = LDN_GPIO_C, .actBit = 0x04, .ioReg = 0xF0, .dataReg = 0xF1,
     .pinFunctionByBit = {kS7G4Bit0, kS7G4Bit1, kS7G4Bit2, kS7G4Bit3, kS7G4Bit45, kS7G4Bit45, kS7G4Bit6, kS7G4Bit7},
     .extra = kS7G4Extra},
    {.group = 5, .ldn = LDN_GPIO_C, .actBit = 0x08, .ioReg = 0xF4, .dataReg = 0xF5},
    {.group = 6, .ldn = LDN_GPIO_A, .actBit = 0x01, .ioReg = 0xF0, .dataReg = 0xF1},
    {.group = 7, .ldn = LDN_GPIO_A, .actBit = 0x02, .ioReg = 0xE0, .dataReg = 0xE1},
    {.group = 8, .ldn = LDN_GPIO_A, .actBit = 0x04, .ioReg = 0xE4, .dataReg = 0xE5},
};

// ---------------------------------------------------------------- subtypes

constexpr RegOp kS1Before[] = {Modify(CR_PIN_MUX_2D, 0x01, 0x00)};
constexpr RegOp kS3Before[] = {Modify(CR_PIN_MUX_2B, 0x08, 0x04)};
constexpr RegOp kS4AfterGpio[] = {Modify(CR_PIN_MUX_2B, 0x08, 0x00)};

constexpr SubtypeRow kSubtypes[SUBTYPES] = {
    /* 0 */ {.newWatchdog = true, .newTemperatures = true, .groups = kUniformGroups, .honoursAltPort = true},
    /* 1 */ {.before = kS1Before, .groups = kSubtype1Groups},
    /* 2 */ {.groups = kSubtype2Groups, .batteryScale = 4.25},
    /* 3 */ {.voltageLsb = 0.016, .before = kS3Before, .groups = kSubtype3Groups, .vcoreDualRange = true},
    /* 4 */ {.voltageLsb = 0.016, .afterGpio = kS4AfterGpio, .groups = kSubtype4Groups},
    /* 5 */ {.newWatchdog = true, .newTemperatures = true, .gpio = GpioWhen::IF_CAP_GPIO, .groups = kUniformGroups,
             .honoursAltPort = true, .backlightDevice = true},
    // Subtype 6 only finds its monitor port; its LSB stays 0 (no voltage data).
    /* 6 */ {.voltageLsb = 0.0, .gpio = GpioWhen::NEVER},
    // The watchdog briefly takes the newer layout and is then put back on the
    // defaults, so it ends where every other part starts.
    /* 7 */ {.newTemperatures = true, .gpio = GpioWhen::IF_CAP_GPIO, .groups = kSubtype7Groups,
             .honoursAltPort = true},
    /* 8 */ {.newWatchdog = true, .newTemperatures = true, .gpio = GpioWhen::IF_CAP_GPIO_OWNED_HERE,
             .groups = kUniformGroups, .backlightDevice = true},
};

// ---------------------------------------------------------------- pin maps

using Set8 = std::array<uint8_t, 8>;

constexpr uint8_t Code(uint8_t group, uint8_t bit) { return uint8_t(group << 4 | bit); }

// All eight bits of one group, in bit order.
constexpr Set8 G(uint8_t group) {
    Set8 s{};
    for (uint8_t bit = 0; bit < 8; ++bit) s[bit] = Code(group, bit);
    return s;
}
// The listed codes, the rest of the set unmapped.
constexpr Set8 S(std::initializer_list<uint8_t> codes) {
    Set8 s{};
    s.fill(PIN_NONE);
    size_t i = 0;
    for (uint8_t c : codes) s[i++] = c;
    return s;
}
constexpr Set8 kUnmapped = S({});

constexpr PinCodes Pins(Set8 set1, Set8 set2 = kUnmapped) {
    PinCodes p{};
    for (size_t i = 0; i < 8; ++i) {
        p[i] = set1[i];
        p[i + 8] = set2[i];
    }
    return p;
}
constexpr PinCodes kNoPins = Pins(kUnmapped);

// ---------------------------------------------------------------- monitors
// Voltage registers and dividers are listed by channel 0..10 (6 = battery).

// Newer parts: inputs in bank 3, battery in bank 0, tachometer pairs in bank 0.
constexpr FanRow kFanA{.present = 1, .count = 0x22, .countLow = 0x23};
constexpr FanRow kFanB{.present = 1, .count = 0x20, .countLow = 0x21};
constexpr FanRow kFanC{.present = 1, .count = 0x24, .countLow = 0x25};
constexpr FanRow kFanD{.present = 1, .count = 0x26, .countLow = 0x27, .duty = 0x89};
constexpr FanRow kFanE{.present = 1, .count = 0x28, .countLow = 0x29};
constexpr FanRow kFanF{.present = 1, .count = 0x2A, .countLow = 0x2B};
constexpr Divider kNoDivider = {0, 0};

// The first board on the newer part: 12 V, 5 V, 3.3 V and battery; three
// fans. Channel 0 reads the core input at register 0.
constexpr MonitorRow kNewMonitorBasic = {
    .voltBank = HWM_TEMP_BANK_NEW,
    //          0  1  2  3  4  5  6  7  8  9  10
    .voltReg = {0, 0, 3, 4, 1, 0, 5, 0, 0, 0, 0},
    .vbatBank = 0,
    .divider = {kNoDivider, kNoDivider, {10, 10}, {39.2, 10}, {110, 10}, {4010, 2000}},
    .fans = {kFanA, kFanB, kFanC},
};
// Board 58 reads its battery input straight, through channel 5's divider.
constexpr MonitorRow kNewMonitorBattery58 = [] {
    MonitorRow m = kNewMonitorBasic;
    m.batteryDirect = true;
    return m;
}();
// Later boards wire every input and, on the larger ones, all six headers.
constexpr MonitorRow kNewMonitorFull = {
    .voltBank = HWM_TEMP_BANK_NEW,
    //          0  1  2  3  4  5  6  7  8  9  10
    .voltReg = {0, 2, 3, 4, 1, 6, 5, 0, 7, 8, 9},
    .vbatBank = 0,
    .divider = {kNoDivider, {10, 10}, {10, 10}, {39.2, 10}, {110, 10}, {10, 10}, kNoDivider, kNoDivider,
                kNoDivider, kNoDivider, {20, 10}},
    .fans = {kFanA, kFanB, kFanC},
};
constexpr MonitorRow kNewMonitorSixFans = [] {
    MonitorRow m = kNewMonitorFull;
    m.fans[3] = kFanD;
    m.fans[4] = kFanE;
    m.fans[5] = kFanF;
    return m;
}();

// Older parts: inputs and fans in bank 0, battery in bank 5.
constexpr FanRow kDivFan{.present = 1};
constexpr MonitorRow kOldMonitor = {
    .voltBank = 0,
    //          0     1     2     3           4     5     6
    .voltReg = {0x20, 0x22, 0x25, HWM_VIN_5V, 0x21, 0x26, HWM_VBAT},
    .divider = {kNoDivider, kNoDivider, {20, 10}, kNoDivider, {100, 10}, {10, 10}},
    .fans = {kDivFan, kDivFan, kDivFan},
};
// Board 4: 12 V, 5 V and -5 V inputs, one fan, no board sensor.
constexpr MonitorRow kOldMonitorBoard4 = {
    .voltBank = 0,
    //          0  1  2     3     4
    .voltReg = {0, 0, 0x25, 0x24, 0x21},
    .divider = {kNoDivider, kNoDivider, {20, 10}, {20, 10}, {100, 10}},
    .fans = {kDivFan},
    .noSysTemp = true,
};
// Core voltage in the dual-range register 0x18.
constexpr MonitorRow kDualRangeMonitor = [] {
    MonitorRow m = kOldMonitor;
    m.voltReg[0] = HWM_VCORE_RANGE;
    return m;
}();
// Fanless board.
constexpr MonitorRow kOldMonitorFanless = [] {
    MonitorRow m = kOldMonitor;
    for (FanRow& f : m.fans) f = {};
    return m;
}();

// Panel backlight stepped by two pins of GPIO group 6 on device 7.
constexpr BacklightPulse kBacklight43 = {.ldn = LDN_GPIO_A, .actReg = LD_ACTIVATE, .actBit = 0x40,
                                         .ioReg = 0xF8, .ioAndMask = 0xE7, .dataReg = 0xF9,
                                         .upBit = 0x10, .downBit = 0x08, .pulseUs = 100'000};

// ---------------------------------------------------------------- boards

constexpr BoardRow kBoards[] = {
    // Subtype 0.
    {.subtype = 0, .boardId = 58, .pins = Pins(G(4)), .monitor = &kNewMonitorBattery58, .altConfigPort = 1,
     .caps = {.clearSmbus = true}},
    {.subtype = 0, .boardId = 72, .pins = Pins(G(2), G(3)), .monitor = &kNewMonitorFull},

    // Subtype 1.
    {.subtype = 1, .boardId = 4, .pins = Pins(G(3)), .monitor = &kOldMonitorBoard4,
     .caps = {.fan = CapRow::FAN_SET}},
    {.subtype = 1, .boardId = 19, .pins = Pins(S({0x20, 0x21, 0x24, 0x25, 0x26, 0x27})), .monitor = &kOldMonitor},
    {.subtype = 1, .boardId = 35, .pins = Pins(G(4), G(5)), .monitor = &kOldMonitor},
    {.subtype = 1, .boardId = 64, .pins = Pins(G(2)), .monitor = &kOldMonitor},
    {.subtype = 1, .boardId = 65, .pins = Pins(G(6)), .monitor = &kOldMonitor},
    {.subtype = 1, .boardId = 66, .pins = Pins(G(3), S({0x50, 0x51, 0x52, 0x53})), .monitor = &kOldMonitor},

    // Subtype 2. Board 2 (the first of the line) has no row: nothing is known
    // of its header or sensors, so it keeps the defaults and maps no pins.
    {.subtype = 2, .boardId = 25, .pins = Pins(G(1)), .monitor = &kOldMonitor},
    {.subtype = 2, .boardId = 28, .pins = Pins(G(3), G(4)), .monitor = &kOldMonitor},
    {.subtype = 2, .boardId = 31, .pins = Pins(G(5)), .monitor = &kOldMonitor},
    {.subtype = 2, .boardId = 32, .pins = Pins(G(6)), .monitor = &kOldMonitor},
    {.subtype = 2, .boardId = 34, .pins = Pins(G(2)), .monitor = &kOldMonitor},
    {.subtype = 2, .boardId = 38, .pins = Pins(G(1), G(2)), .monitor = &kOldMonitor},
    {.subtype = 2, .boardId = 61, .pins = Pins(S({0x30, 0x31, 0x32, 0x33, 0x44, 0x45, 0x46, 0x47})),
     .monitor = &kOldMonitor},
    {.subtype = 2, .boardId = 62, .pins = Pins(G(3)), .monitor = &kOldMonitor},
    {.subtype = 2, .boardId = 63, .pins = Pins(G(4)), .monitor = &kOldMonitor},
    {.subtype = 2, .boardId = 67, .pins = Pins(G(5), G(6)), .monitor = &kOldMonitor},
    {.subtype = 2, .boardId = 68, .pins = Pins(G(1), S({0x50, 0x51, 0x52, 0x53})), .monitor = &kOldMonitor},
    // No watchdog and no speaker fitted.
    {.subtype = 2, .boardId = 69, .pins = Pins(G(2)), .monitor = &kOldMonitor,
     .caps = {.clearWdtSpeaker = true}},
    {.subtype = 2, .boardId = 75, .pins = Pins(G(6), G(1)), .monitor = &kOldMonitor},

    // Subtype 3.
    {.subtype = 3, .boardId = 29, .pins = Pins(G(1)), .monitor = &kDualRangeMonitor},
    {.subtype = 3, .boardId = 30, .pins = Pins(G(2), G(3)), .monitor = &kDualRangeMonitor},
    {.subtype = 3, .boardId = 49, .pins = Pins(G(4)), .monitor = &kDualRangeMonitor},

    // Subtype 4: fanless.
    {.subtype = 4, .boardId = 33, .pins = Pins(G(1), G(3)),
     .monitor = &kOldMonitorFanless, .caps = {.fan = CapRow::FAN_CLEAR}},

    // Subtype 5. Boards whose GPIO header hangs on the SMBus expander map no pins here.
    {.subtype = 5, .boardId = 43,
     .pins = Pins(S({Code(2, 4), Code(2, 5), Code(2, 6), Code(2, 7), Code(2, 0), Code(2, 1), Code(2, 2), Code(2, 3)})),
     .monitor = &kNewMonitorBasic, .hwmIndexPort = 0x295, .backlight = kBacklight43,
     .caps = {.clearSmbus = true, .setBacklight = true}},
    {.subtype = 5, .boardId = 79, .pins = kNoPins, .monitor = &kNewMonitorFull},
    {.subtype = 5, .boardId = 98, .pins = kNoPins, .monitor = &kNewMonitorFull, .caps = {.clearGpio = true}},
    {.subtype = 5, .boardId = 105, .pins = Pins(G(0), S({0x10, 0x11, 0x12, 0x13})), .monitor = &kNewMonitorFull},
    {.subtype = 5, .boardId = 107, .pins = kNoPins, .monitor = &kNewMonitorFull},
    // CPU temperature comes from the sensor on the SMBus.
    {.subtype = 5, .boardId = 109, .pins = kNoPins, .monitor = &kNewMonitorFull,
     .cpuTempState = CPU_TEMP_ABSENT},
    {.subtype = 5, .boardId = 110, .pins = Pins(G(3)), .monitor = &kNewMonitorFull},
    {.subtype = 5, .boardId = 111, .pins = kNoPins, .monitor = &kNewMonitorFull},
    {.subtype = 5, .boardId = 114, .pins = Pins(G(1), G(5)), .monitor = &kNewMonitorFull},
    {.subtype = 5, .boardId = 130, .pins = Pins(G(2)), .monitor = &kNewMonitorSixFans, .altConfigPort = 1},
    {.subtype = 5, .boardId = 132, .pins = Pins(S({0x20, 0x21, 0x22, 0x23, 0x30, 0x31, 0x32, 0x33})),
     .monitor = &kNewMonitorSixFans, .altConfigPort = 1},

    // Subtype 8.
    {.subtype = 8, .boardId = 126, .pins = kNoPins, .monitor = &kNewMonitorFull},
    {.subtype = 8, .boardId = 144, .pins = kNoPins, .monitor = &kNewMonitorSixFans},
    {.subtype = 8, .boardId = 151, .pins = Pins(G(0), G(1)), .monitor = &kNewMonitorSixFans},
};
static_assert(std::size(kBoards) == 39, "one row per ChipKind 1 board id with its own data");

// Rows are found by board id alone: board 144 also ships on subtype 5 and
// keeps its row there.
constexpr bool BoardIdsUnique() {
    for (size_t i = 0; i < std::size(kBoards); ++i)
        for (size_t j = i + 1; j < std::size(kBoards); ++j)
            if (kBoards[i].boardId == kBoards[j].boardId) return false;
    return true;
}
static_assert(BoardIdsUnique());

// Rows reference only groups that exist and set bits 0..7.
constexpr bool PinsWellFormed() {
    for (const BoardRow& b : kBoards)
        for (uint8_t code : b.pins)
            if ((code >> 4) != GROUP_NONE && (code & 0x0F) > 7) return false;
    return true;
}
static_assert(PinsWellFormed());

// A fan counted on 13 bits needs both halves of its counter.
constexpr bool FansWellFormed() {
    for (const BoardRow& b : kBoards) {
        if (!Has13BitMonitor(b.subtype) || b.monitor == nullptr) continue;
        for (const FanRow& f : b.monitor->fans)
            if (f.present && (f.count == 0 || f.countLow == 0)) return false;
    }
    return true;
}
static_assert(FansWellFormed());

} // namespace

const SubtypeRow& SubtypeOf(uint32_t subtype) {
    static constexpr SubtypeRow kNone = {.gpio = GpioWhen::NEVER};
    return subtype < SUBTYPES ? kSubtypes[subtype] : kNone;
}

std::span<const BoardRow> BoardRows() { return kBoards; }

const BoardRow* BoardOf(uint32_t boardId) {
    for (const BoardRow& b : kBoards)
        if (b.boardId == boardId) return &b;
    return nullptr;
}

} // namespace vek::sio1
