// ChipKind 1 configuration: defaults, the subtype and board rows, then one
// configuration-mode session that maps the GPIO pins and enables the watchdog,
// and, when no board fixes it, a second one that reads the monitor's base.
#include "backends/superio/kernel_route.h"
#include "platform/process.h"
#include "backends/sio1/config.h"
#include "hal/hal.h"

namespace vek::sio1 {

namespace {

constexpr uint8_t kWdtMinCount = 1;
constexpr uint8_t kWdtMaxCount = 255;
constexpr uint8_t kWdtDefaultCount = 10;

// An 8-bit counter whose divisor's low bits sit in div1Reg and bit 2 in the
// shared high-bit register.
constexpr FanRegs DivisorFan(uint8_t div1Reg, uint8_t div1Shift, uint8_t div2Shift, uint8_t count, uint8_t duty) {
    return FanRegs{.present = 0, .bank = 0, .div1Reg = div1Reg, .div1Shift = div1Shift,
                   .div2Reg = HWM_FAN_DIV_HIGH, .div2Shift = div2Shift, .count = count, .countLow = 0, .duty = duty};
}

void WriteDefaults(DeviceContext& ctx) {
    Sio1Area& a = Area(ctx);
    a = Sio1Area{};
    for (int i = 0; i <= 2; ++i) ctx.gpioSets[i] = 0;
    // Pins are board data: a board without its own row maps none (a zero code
    // would stand for bit 0 of group 0 and count sixteen pins nobody wired).
    for (uint8_t& code : a.pinCode) code = PIN_NONE;

    a.wdtLdn = LDN_GPIO_B;
    a.wdtActReg = LD_ACTIVATE;
    a.wdtActBit = WDT_ACTIVATE_BIT;
    a.wdtModeReg = WDT_MODE;
    a.wdtCountReg = WDT_COUNT;
    a.wdtUnitBit = WDT_UNIT_MINUTES;
    ctx.wdtSio12 = WdtState{.minCount = {kWdtMinCount, kWdtMinCount},
                            .maxCount = {kWdtMaxCount, kWdtMaxCount},
                            .unit = 0,
                            .count = kWdtDefaultCount,
                            .running = 0, .configured = 0};

    a.voltReg[3] = HWM_VIN_5V;
    a.vbatBank = HWM_VBAT_BANK;
    a.vcoreScale = 1.0;
    a.vbatTrigger = {0, HWM_VBAT_MONITOR, HWM_VBAT_MONITOR_BIT};
    a.cpuTempBank = 1;
    a.cpuTempState = CPU_TEMP_PRESENT;
    a.cpuTempReg = HWM_CPU_TEMP;
    a.cpuTempFracReg = HWM_CPU_TEMP_FRAC;
    a.sysTempBank = 0;
    a.sysTempReg = HWM_SYS_TEMP;

    a.fan[0] = DivisorFan(HWM_FAN_DIV_12, 6, 4, HWM_FAN_COUNT_0, HWM_DUTY_0);
    a.fan[1] = DivisorFan(HWM_FAN_DIV_12, 4, 3, HWM_FAN_COUNT_1, HWM_DUTY_1);
    a.fan[2] = DivisorFan(HWM_FAN_DIV_3, 6, 5, HWM_FAN_COUNT_2, HWM_DUTY_2);
    a.fan[4].count = HWM_FAN4_COUNT_HIGH;
    a.fan[4].countLow = HWM_FAN4_COUNT_LOW;
    a.fan[4].duty = HWM_DUTY_4;
}

void ApplySubtype(Sio1Area& a, const SubtypeRow& s) {
    a.voltageLsb = s.voltageLsb;
    if (s.newWatchdog) {
        a.wdtModeReg = WDT_MODE_NEW;
        a.wdtCountReg = WDT_COUNT_NEW;
        a.wdtUnitBit = WDT_UNIT_MINUTES;
    }
    if (s.newTemperatures) {
        a.cpuTempBank = HWM_TEMP_BANK_NEW;
        a.cpuTempReg = HWM_CPU_TEMP_NEW;
        a.cpuTempFracReg = 0;
        a.sysTempBank = HWM_TEMP_BANK_NEW;
        a.sysTempReg = HWM_SYS_TEMP_NEW;
    }
}

void ApplyMonitor(Sio1Area& a, const MonitorRow& m) {
    a.voltBank = m.voltBank;
    for (int ch = 0; ch < VOLTAGE_CHANNELS; ++ch) {
        a.voltReg[ch] = m.voltReg[ch];
        a.divider[ch] = m.divider[ch];
    }
    a.vbatBank = m.vbatBank;
    a.vcoreScale = m.vcoreScale;
    a.batteryDirect = m.batteryDirect;
    if (m.noSysTemp) a.sysTempReg = 0;
    for (int f = 0; f < FANS; ++f) {
        const FanRow& row = m.fans[f];
        FanRegs& fan = a.fan[f];
        fan.present = row.present;
        fan.bank = row.bank;
        if (row.count) fan.count = row.count;
        if (row.countLow) fan.countLow = row.countLow;
        if (row.duty) fan.duty = row.duty;
    }
}

void ApplyCaps(DeviceContext& ctx, const CapRow& c) {
    if (c.fan != CapRow::FAN_KEEP) ctx.caps[CAP_FAN] = uint32_t(c.fan);
    if (c.clearSmbus) ctx.caps[CAP_SMBUS] = 0;
    if (c.clearGpio) ctx.caps[CAP_GPIO] = 0;
    if (c.clearWdtSpeaker) {
        ctx.caps[CAP_WDT] = 0;
        ctx.caps[CAP_SPEAKER] = 0;
    }
    if (c.setBacklight) ctx.caps[CAP_BACKLIGHT] = 1;
}

void ApplyBoard(DeviceContext& ctx, const BoardRow& b) {
    Sio1Area& a = Area(ctx);
    for (int i = 0; i < PIN_ENTRIES; ++i) a.pinCode[i] = b.pins[size_t(i)];
    if (b.monitor) ApplyMonitor(a, *b.monitor);
    a.cpuTempState = b.cpuTempState;
    a.hwmIndexPort = b.hwmIndexPort;
    a.altConfigPort = b.altConfigPort;
    a.backlight = b.backlight;
    ApplyCaps(ctx, b.caps);
}

// One configuration write of the data rows. Called in configuration mode.
void Apply(const RegOp& op, uint8_t pinMask) {
    if (op.ldn != LDN_NONE) SelectDevice(op.ldn);
    uint8_t clear = op.clear, set = op.set;
    if (op.pin == RegOp::PIN_CLEAR) clear |= pinMask;
    if (op.pin == RegOp::PIN_SET) set |= pinMask;
    if (op.kind == RegOp::ASSIGN) {
        CfgWrite(op.reg, set);
        return;
    }
    CfgWrite(op.reg, uint8_t((CfgRead(op.reg) & ~clear) | set));
}

void Apply(RegOps ops, uint8_t pinMask) {
    for (const RegOp& op : ops) Apply(op, pinMask);
}

void Activate(uint8_t ldn, uint8_t reg, uint8_t bit) {
    SelectDevice(ldn);
    CfgWrite(reg, uint8_t(CfgRead(reg) | bit));
}

bool ProgramsGpio(const DeviceContext& ctx, const SubtypeRow& s) {
    switch (s.gpio) {
    case GpioWhen::ALWAYS: return true;
    case GpioWhen::IF_CAP_GPIO: return ctx.caps[CAP_GPIO] != 0;
    case GpioWhen::IF_CAP_GPIO_OWNED_HERE: return ctx.caps[CAP_GPIO] != 0 && ctx.gpioOwner == 0;
    case GpioWhen::NEVER: return false;
    }
    return false;
}

const GroupDef* FindGroup(std::span<const GroupDef> groups, uint8_t group) {
    for (const GroupDef& g : groups)
        if (g.group == group) return &g;
    return nullptr;
}

// Counts the mapped entries into gpioSets and programs the groups they use.
// A code whose bit is above 7 gets no pin-function writes and a mask of 0 (the
// mask is kept to 8 bits); a group the chip's map lacks is counted but gets
// no registers, so the GPIO routines leave it alone.
void MapPins(DeviceContext& ctx, const SubtypeRow& s) {
    Sio1Area& a = Area(ctx);
    for (int i = 0; i < PIN_ENTRIES; ++i) {
        const uint8_t group = a.pinCode[i] >> 4, bit = a.pinCode[i] & 0x0F;
        a.pinMask[i] = uint8_t(1u << bit);
        if (group == GROUP_NONE) continue;
        if (i >= 8) {
            ctx.gpioSets[0] = 2;
            ++ctx.gpioSets[2];
        } else {
            ctx.gpioSets[0] = 1;
            ++ctx.gpioSets[1];
        }
        const GroupDef* g = FindGroup(s.groups, group);
        if (g == nullptr) continue;
        Apply(g->pinFunction, a.pinMask[i]);
        if (bit < 8) Apply(g->pinFunctionByBit[bit], a.pinMask[i]);
        Activate(g->ldn, LD_ACTIVATE, g->actBit);
        Apply(g->extra, a.pinMask[i]);
        a.pinLdn[i] = g->pinLdn != LDN_NONE ? g->pinLdn : g->ldn;
        a.pinDirReg[i] = g->ioReg;
        a.pinDataReg[i] = g->dataReg;
    }
}

} // namespace

void Configure(DeviceContext& ctx) {
    ctx.ioDelay = *IoDelayOf(KIND_SIO1);
    WriteDefaults(ctx);
    Sio1Area& a = Area(ctx);
    const SubtypeRow& sub = SubtypeOf(ctx.subtype);
    ApplySubtype(a, sub);
    if (const BoardRow* board = BoardOf(ctx.boardId)) ApplyBoard(ctx, *board);
    if (sub.honoursAltPort && a.altConfigPort == 1) SetConfigPort(CFG_PORT_ALTERNATE);

    {
        ConfigMode cfg;
        Apply(sub.before, 0);
        if (ProgramsGpio(ctx, sub)) MapPins(ctx, sub);
        Apply(sub.afterGpio, 0);
        // A board without pulse pins has nothing to enable here, whatever its word says.
        const BacklightPulse& blc = a.backlight;
        if (sub.backlightDevice && ctx.caps[CAP_BACKLIGHT] != 0 && blc.ldn != LDN_NONE)
            Activate(blc.ldn, blc.actReg, blc.actBit);
        // The watchdog device is inactive after reset on every part, and a
        // count loaded into an inactive device never runs: switch it on
        // whatever the subtype.
        Activate(a.wdtLdn, a.wdtActReg, a.wdtActBit);
    }

    if (a.hwmIndexPort == 0) {
        ConfigMode cfg;
        SelectDevice(LDN_HWM);
        const uint8_t high = CfgRead(LD_BASE_HIGH);
        const uint8_t low = CfgRead(LD_BASE_LOW);
        // A chip that does not answer reads 0xFFFF, which wraps to 0x0004.
        a.hwmIndexPort = uint16_t(high * 256 + low + HWM_INDEX_OFFSET);
    }
    hal::GrantPorts(a.hwmIndexPort, 2); // the monitor's index/data pair
    superio::NoteMonitorBlock(ctx, superio::MonitorBlockOf(a.hwmIndexPort), superio::MONITOR_BLOCK_SIZE, a.voltageLsb);
}

} // namespace vek::sio1
