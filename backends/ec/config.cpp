// EC configuration: the initial EC area, the board rows and Configure.
#include "backends/ec/config.h"

#include <initializer_list>

#include <algorithm>
#include <array>

#include "backends/ec/ec.h"

namespace vek::ec {

namespace {

// EC RAM registers read while configuring.
constexpr uint8_t REG_HW_REVISION = 0x0D;
constexpr uint8_t REV_UNKNOWN = 5;

// Pins of the indirect boards: control and data in EC memory, bit in the data byte.
constexpr PinRow kIndirectPins[8] = {
    {0x165C, 0x160A, 0x10}, {0x1646, 0x1607, 0x40}, {0x162D, 0x1604, 0x20}, {0x163B, 0x1606, 0x08},
    {0x1637, 0x1605, 0x80}, {0x1658, 0x160A, 0x01}, {0x1659, 0x160A, 0x02}, {0x165A, 0x160A, 0x04},
};

// Indirect boards keep the EC-memory layout of the initial area: voltages 1, 3
// and 4 and both temperatures are 16-bit addresses, channel 2 and the fan
// tachometers are not wired, and channel 0 is the processor's own core voltage.
constexpr VoltageSlots kIndirectVoltages = {
    .ch4Low = 0x0321, .ch4High = 0x0320,
    .ch1Low = 0x0323, .ch1High = 0x0322,
    .ch2Low = SLOT_ABSENT, .ch2High = SLOT_ABSENT,
    .ch3Low = 0x032C, .ch3High = 0x032B,
    .ch0Low = SLOT_ABSENT, .ch0High = SLOT_ABSENT,
    .ch6Low = SLOT_ABSENT, .ch6High = SLOT_ABSENT, .ch6Trigger = SLOT_ABSENT,
    .ch13Low = SLOT_ABSENT, .ch13High = SLOT_ABSENT,
    .ch5 = SLOT_ABSENT, .ch9 = SLOT_ABSENT, .ch10 = SLOT_ABSENT, .ch11 = SLOT_ABSENT,
};
constexpr Dividers kIndirectDividers = {
    .ch4 = {49.9, 10.0}, .ch2 = {0, 0}, .ch1 = {6.49, 10.0}, .ch3 = {15.0, 10.0},
    .ch13 = {0, 0}, .ch6 = {0, 0}, .ch5 = {0, 0}, .ch9 = {0, 0}, .ch10 = {0, 0},
};
constexpr FanRow kIndirectFan0{.high = 0x030D, .low = 0x030E};

// Two LAN-bypass segments: items 0..3, timer control, minutes, seconds, items 4, 5.
constexpr LanRow kTwoSegmentLan = {
    .segments = 2, .registers = {0x40, 0x41, 0x42, 0x43, 0x50, 0x51, 0x52, 0x53, 0x54}};

// Network appliances with the relay board: three fans and their curves.
constexpr FanRow kApplianceFans[EC_FANS] = {
    {.high = 0x11, .low = 0x10}, {.high = 0x13, .low = 0x12}, {}, {.high = 0x15, .low = 0x14}};
constexpr SmartFanRow kApplianceSmartFans[EC_FANS] = {
    {.control = 0x16, .param = {0x17, 0x18, 0x19, 0x1A}},
    {.control = 0x26, .param = {0x27, 0x28, 0x29, 0x2A}},
    {.control = 0x36, .param = {0x37, 0x38, 0x39, 0x3A}},
};
constexpr LedRow kLeds8[EC_LEDS] = {{0x5C, 0}, {0x5C, 1}, {0x5C, 2}, {0x5C, 3},
                                    {0x5C, 4}, {0x5C, 5}, {0x5C, 6}, {0x5C, 7}};
constexpr LedRow kLeds4[EC_LEDS] = {{0x5C, 0}, {0x5C, 1}, {0x5C, 2}, {0x5C, 3}};

// The boards on the EC memory bridge differ only in where the CPU sensor is.
constexpr EcRow IndirectRow(std::initializer_list<uint8_t> ids, Slot cpuTemp) {
    EcRow row{.flags = EC_GPIO_PER_PIN | EC_INDIRECT | EC_VOLTAGE0_EXTERNAL | EC_ACPI_PORTS,
              .setDirection = {255, 255, 255, 255, 255, 255, 255, 255},
              .setData = {255, 255, 255, 255, 255, 255, 255, 255},
              .pins = {kIndirectPins[0], kIndirectPins[1], kIndirectPins[2], kIndirectPins[3], kIndirectPins[4],
                       kIndirectPins[5], kIndirectPins[6], kIndirectPins[7]},
              .wdtControl = 0x0306, .wdtMinutes = 0x0307, .wdtSeconds = 0x0308,
              .voltage = kIndirectVoltages,
              .dividers = kIndirectDividers,
              .sysTempLow = 0x032E, .sysTempMain = 0x032D,
              .cpuTemp = cpuTemp,
              .fans = {kIndirectFan0}};
    size_t i = 0;
    for (uint8_t id : ids) row.ids[i++] = id;
    return row;
}

constexpr EcRow kRows[] = {
    // The layout most boards share.
    {.ids = {11, 13, 14, 15, 16, 17, 18, 20, 27, 39, 40, 41, 44, 51, 54, 57, 70, 71, 73, 76, 77, 78, 80,
             82, 83, 84, 85, 87, 88, 89, 90, 91}},
    {.ids = {93, 94, 95, 153, 154, 155}},
    // Same layout with a second board sensor.
    {.ids = {92, 96, 97, 99, 100, 101, 102, 103, 108, 112, 115, 116, 117, 118, 119, 120, 121, 122, 123,
             127, 134},
     .temp1 = 0x01},
    // Early board: no GPIO header, no fan headers, voltages stored high byte first.
    {.ids = {5},
     .gpioSets = 0,
     .setDirection = {255, 255, 255, 255, 255, 255, 255, 255},
     .setData = {255, 255, 255, 255, 255, 255, 255, 255},
     .voltage = {.ch4Low = 0x31, .ch4High = 0x30,
                 .ch1Low = 0x21, .ch1High = 0x20,
                 .ch2Low = SLOT_ABSENT, .ch2High = SLOT_ABSENT,
                 .ch3Low = 0x25, .ch3High = 0x24,
                 .ch0Low = SLOT_ABSENT, .ch0High = SLOT_ABSENT,
                 .ch6Low = SLOT_ABSENT, .ch6High = SLOT_ABSENT, .ch6Trigger = SLOT_ABSENT,
                 .ch13Low = SLOT_ABSENT, .ch13High = SLOT_ABSENT,
                 .ch5 = SLOT_ABSENT, .ch9 = SLOT_ABSENT, .ch10 = SLOT_ABSENT, .ch11 = SLOT_ABSENT},
     .fans = {},
     .caps = {.fan = 0}},
    // EC reached through its memory bridge; CPU temperature in EC memory.
    IndirectRow({6, 8}, 0x030C),
    // The same without a CPU sensor on the EC (0 marks it absent on this path).
    IndirectRow({7, 9, 10}, 0),
    // ACPI-style interface; the firmware's fan curve is exposed (parameter 4 stays 0x1A).
    {.ids = {12, 86},
     .flags = EC_ACPI_PORTS,
     .smartFans = {{.control = 0x16, .param = {0x17, 0x18, 0x19, 0x1A}}},
     .caps = {.smartFan = 1}},
    // Five GPIO sets; the voltages moved up to make room for sets 2 and 3.
    {.ids = {81},
     .gpioSets = 5,
     .setDirection = {0x2B, 0x30, 0x31, 255, 255, 255, 255, 255},
     .setData = {0x2C, 0x32, 0x33, 0x34, 0x35, 255, 255, 255},
     .voltage = {.ch4Low = 0x3A, .ch4High = 0x3B,
                 .ch1Low = 0x3C, .ch1High = 0x3D,
                 .ch2Low = 0x22, .ch2High = 0x23,
                 .ch3Low = 0x24, .ch3High = 0x25,
                 .ch0Low = 0x20, .ch0High = 0x21,
                 .ch6Low = SLOT_ABSENT, .ch6High = SLOT_ABSENT, .ch6Trigger = SLOT_ABSENT,
                 .ch13Low = SLOT_ABSENT, .ch13High = SLOT_ABSENT,
                 .ch5 = SLOT_ABSENT, .ch9 = SLOT_ABSENT, .ch10 = SLOT_ABSENT, .ch11 = SLOT_ABSENT}},
    // LAN-bypass relays only on the variant whose EC reports 2 at 0xB0.
    {.ids = {104},
     .lan = {.segments = 1, .registers = {0x40, 0x41, 0x42, 0x43, 0x50, 0x51, 0x52, 0x53, 0x54},
             .probeRegister = 0xB0, .probeValue = 2}},
    // Network appliances: relays, three fans, front-panel button and LEDs.
    {.ids = {124},
     .sysTempOffset = -64, .temp1 = 0x01, .temp6Offset = -64, .temp6 = 0x05,
     .fans = {kApplianceFans[0], kApplianceFans[1], kApplianceFans[2], kApplianceFans[3]},
     .smartFans = {kApplianceSmartFans[0], kApplianceSmartFans[1], kApplianceSmartFans[2]},
     .leds = {kLeds4[0], kLeds4[1], kLeds4[2], kLeds4[3]},
     .buttonRegister = 0x47, .buttonMask = 0x01,
     .lan = kTwoSegmentLan,
     .caps = {.smartFan = 1}},
    {.ids = {125},
     .temp1 = 0x01, .temp6 = 0x05,
     .fans = {kApplianceFans[0], kApplianceFans[1], kApplianceFans[2], kApplianceFans[3]},
     .smartFans = {kApplianceSmartFans[0], kApplianceSmartFans[1], kApplianceSmartFans[2]},
     .leds = {kLeds8[0], kLeds8[1], kLeds8[2], kLeds8[3], kLeds8[4], kLeds8[5], kLeds8[6], kLeds8[7]},
     .buttonRegister = 0x5B, .buttonMask = 0x01,
     .lan = kTwoSegmentLan,
     .caps = {.smartFan = 1}},
    {.ids = {129},
     .temp1 = 0x01, .temp6 = 0x05,
     .fans = {kApplianceFans[0], kApplianceFans[1], kApplianceFans[2], kApplianceFans[3]},
     .smartFans = {kApplianceSmartFans[0], kApplianceSmartFans[1], kApplianceSmartFans[2]},
     .leds = {kLeds4[0], kLeds4[1], kLeds4[2], kLeds4[3]},
     .lan = kTwoSegmentLan,
     .caps = {.smartFan = 1}},
    // Fanless panel PC: four pins on the GPIO header, battery voltage, backlight.
    {.ids = {135},
     .flags = EC_GPIO_PER_PIN,
     .pinsPerSet = {4},
     .pins = {{0x2B, 0x2C, 0x01}, {0x2B, 0x2C, 0x02}, {0x2B, 0x2C, 0x10}, {0x2B, 0x2C, 0x20}},
     .voltage = {.ch4Low = 0x30, .ch4High = 0x31,
                 .ch1Low = SLOT_ABSENT, .ch1High = SLOT_ABSENT,
                 .ch2Low = 0x22, .ch2High = 0x23,
                 .ch3Low = 0x24, .ch3High = 0x25,
                 .ch0Low = 0x20, .ch0High = 0x21,
                 .ch6Low = 0x32, .ch6High = 0x33, .ch6Trigger = 0x35,
                 .ch13Low = SLOT_ABSENT, .ch13High = SLOT_ABSENT,
                 .ch5 = SLOT_ABSENT, .ch9 = SLOT_ABSENT, .ch10 = SLOT_ABSENT, .ch11 = SLOT_ABSENT},
     .dividers = {.ch4 = {56.0, 10.0}, .ch2 = {10.0, 10.0}, .ch1 = {6.49, 10.0}, .ch3 = {22.0, 10.0},
                  .ch13 = {0, 0}, .ch6 = {10.0, 10.0}, .ch5 = {0, 0}, .ch9 = {0, 0}, .ch10 = {0, 0}},
     .sysTempLow = 0x03, .sysTempMain = 0x02,
     .fans = {},
     .caps = {.fan = 0, .backlight = 1, .smartFan = 0}},
    // Status-LED boards.
    {.ids = {136},
     .leds = {kLeds8[0], kLeds8[1], kLeds8[2], kLeds8[3], kLeds8[4], kLeds8[5], kLeds8[6], kLeds8[7]}},
    {.ids = {137, 138, 139}, .leds = {kLeds4[0], kLeds4[1], kLeds4[2], kLeds4[3]}},
    // Boards with input-current monitors and the EC's own beeper.
    {.ids = {140, 141, 142},
     .current0Low = 0x26, .current0High = 0x27, .current1Low = 0x28, .current1High = 0x29,
     .caps = {.speaker = 2, .current = 1}},
    // Newer firmware: the platform version comes from the BIOS, not the EC.
    {.ids = {149, 150, 152, 156}, .temp1 = 0x01, .caps = {.platformVersionWmi = 1}},
};

// The area before any row applies (also what a board without a row keeps).
void SetInitial(DeviceContext& ctx) {
    EcArea& a = Area(ctx);
    a = EcArea{};
    ctx.ioDelay = 5;
    std::fill(std::begin(ctx.gpioSets), std::end(ctx.gpioSets), 0u);
    for (int s = 0; s < 2; ++s) {
        std::fill(std::begin(a.pinControl[s]), std::end(a.pinControl[s]), SLOT_ABSENT);
        std::fill(std::begin(a.pinData[s]), std::end(a.pinData[s]), SLOT_ABSENT);
    }
    std::fill(std::begin(a.setDirection), std::end(a.setDirection), REG_ABSENT);
    std::fill(std::begin(a.setData), std::end(a.setData), REG_ABSENT);
    a.wdtControl = 0x0306;
    a.wdtMinutes = 0x0307;
    a.wdtSeconds = 0x0308;
    a.voltage = kIndirectVoltages;
    a.current0Low = a.current0High = a.current1Low = a.current1High = SLOT_ABSENT;
    a.sysTempLow = 0x032E;
    a.sysTempMain = 0x032D;
    a.temp1 = SLOT_ABSENT;
    a.temp6 = SLOT_ABSENT;
    a.cpuTemp = 0x030C;
    for (int f = 0; f < EC_FANS; ++f) {
        a.fanTachHigh[f] = SLOT_ABSENT;
        a.fanTachLow[f] = 0;
        a.smartFanControl[f] = SLOT_ABSENT;
        a.smartFanParam[0][f] = a.smartFanParam[1][f] = a.smartFanParam[2][f] = 0;
        a.smartFanParam[3][f] = SLOT_ABSENT;
    }
    a.fanTachHigh[0] = 0x030D;
    a.fanTachLow[0] = 0x030E;
    a.smartFanControl[0] = 0x16;
    for (int p = 0; p < 4; ++p) a.smartFanParam[p][0] = Slot(0x17 + p);
    a.dividers = {.ch4 = {49.9, 10.0}, .ch2 = {6.49, 10.0}, .ch1 = {6.49, 10.0}, .ch3 = {15.0, 10.0},
                  .ch13 = {0, 0}, .ch6 = {0, 0}, .ch5 = {0, 0}, .ch9 = {0, 0}, .ch10 = {0, 0}};
    std::fill(std::begin(a.ledRegister), std::end(a.ledRegister), uint16_t(255));
    a.buttonRegister = REG_ABSENT;
    ctx.caps[CAP_EC_SMARTFAN] = 0;
}

void Apply(DeviceContext& ctx, const EcRow& row) {
    EcArea& a = Area(ctx);
    a.flags = row.flags;

    ctx.gpioSets[0] = row.gpioSets;
    for (uint32_t s = 0; s < row.gpioSets && s < 5; ++s) ctx.gpioSets[s + 1] = row.pinsPerSet[s];
    std::copy(std::begin(row.setDirection), std::end(row.setDirection), a.setDirection);
    std::copy(std::begin(row.setData), std::end(row.setData), a.setData);
    for (int n = 0; n < 8; ++n) {
        a.pinControl[0][n] = row.pins[n].control;
        a.pinData[0][n] = row.pins[n].data;
        a.pinMask[0][n] = row.pins[n].mask;
    }

    a.wdtControl = row.wdtControl;
    a.wdtMinutes = row.wdtMinutes;
    a.wdtSeconds = row.wdtSeconds;

    a.voltage = row.voltage;
    a.dividers = row.dividers;
    a.current0Low = row.current0Low;
    a.current0High = row.current0High;
    a.current1Low = row.current1Low;
    a.current1High = row.current1High;

    a.sysTempLow = row.sysTempLow;
    a.sysTempMain = row.sysTempMain;
    a.sysTempOffset = row.sysTempOffset;
    a.temp1 = row.temp1;
    a.temp6Offset = row.temp6Offset;
    a.temp6 = row.temp6;
    a.cpuTemp = row.cpuTemp;

    for (int f = 0; f < EC_FANS; ++f) {
        a.fanTachMode[f] = row.fans[f].mode;
        a.fanTachHigh[f] = row.fans[f].high;
        a.fanTachLow[f] = row.fans[f].low;
        a.smartFanControl[f] = row.smartFans[f].control;
        for (int p = 0; p < 4; ++p) a.smartFanParam[p][f] = row.smartFans[f].param[p];
    }

    bool anyLed = false;
    for (int i = 0; i < EC_LEDS; ++i) {
        a.ledRegister[i] = row.leds[i].reg;
        a.ledBit[i] = row.leds[i].bit;
        anyLed = anyLed || row.leds[i].reg != 255;
    }
    a.buttonRegister = row.buttonRegister;
    a.buttonMask = row.buttonMask;

    ctx.caps[CAP_GPIO] = row.gpioSets > 0 ? 1 : 0;
    ctx.caps[CAP_SPEAKER] = row.caps.speaker;
    ctx.caps[CAP_FAN] = row.caps.fan;
    ctx.caps[CAP_CURRENT] = row.caps.current;
    ctx.caps[CAP_TEMPERATURE] = row.caps.temperature;
    ctx.caps[CAP_SMBUS] = row.caps.smbus;
    ctx.caps[CAP_BACKLIGHT] = row.caps.backlight;
    ctx.caps[CAP_EC_SMARTFAN] = row.caps.smartFan;
    ctx.caps[CAP_LED] = anyLed ? 1 : 0;
    ctx.caps[CAP_PLATFORM_VERSION_WMI] = row.caps.platformVersionWmi;
    ctx.caps[CAP_BUTTON] = row.buttonRegister != REG_ABSENT ? 1 : 0;
}

// The relay board is read through the window whatever path the row chose: the
// window decodes before the EC firmware's command interface is up.
void ConfigureLanBypass(EcArea& a, const LanRow& lan) {
    if (lan.segments == 0) return;
    if (lan.probeRegister != 0 && WindowRead(lan.probeRegister) != lan.probeValue) return;
    a.lanSegments = lan.segments;
    std::copy(std::begin(lan.registers), std::end(lan.registers), a.lanRegister);
    a.lanTimerSeconds = WindowRead(lan.registers[6]);
    a.lanTimerMinutes = WindowRead(lan.registers[5]);
}

} // namespace

// The one board whose second chip sits behind the ZKEC driver.
constexpr uint32_t kBoardWithZkecNeighbour = 70;

std::span<const EcRow> EcRows() { return kRows; }

const EcRow* FindEcRow(uint32_t boardId) {
    if (boardId == 0) return nullptr;
    for (const EcRow& row : kRows) {
        for (uint8_t id : row.ids) {
            if (id == 0) break;
            if (id == boardId) return &row;
        }
    }
    return nullptr;
}

void Configure(DeviceContext& ctx) {
    SetInitial(ctx);
    EcArea& a = Area(ctx);
    if (const EcRow* row = FindEcRow(ctx.boardId)) {
        Apply(ctx, *row);
        ConfigureLanBypass(a, row->lan);
    }
    if (a.flags & EC_ACPI_PORTS) {
        a.writeRegister = &AcpiWriteSlot;
        a.readRegister = &AcpiReadSlot;
    } else {
        a.writeRegister = &WindowWriteSlot;
        a.readRegister = &WindowReadSlot;
    }
    ChooseEcPortRoute(ctx);
    ctx.wdtEc = WdtState{.minCount = {1, 1}, .maxCount = {255, 255}, .unit = 0, .count = 0, .running = 0, .configured = 0};

    // The ZKEC controller beside this EC needs the board revision to pick its layout.
    if (ctx.boardId == kBoardWithZkecNeighbour) {
        const uint8_t rev = ReadEcRegister(ctx, REG_HW_REVISION);
        ctx.secondarySubtype = rev >= 1 && rev <= 4 ? rev : REV_UNKNOWN;
    }
}

} // namespace vek::ec
