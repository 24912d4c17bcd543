// ChipKind 1 hardware monitor: temperatures, voltages, fan speed, duty and
// the smart-fan curves of the 13-bit parts. The monitor block needs no
// configuration mode; every bank change is undone before returning.
#include <cmath>

#include "backends/sio1/config.h"
#include "backends/superio/kernel_route.h"
#include "vek/vek.h"

namespace vek::sio1 {

namespace {

constexpr double kCpuTempLimit = 100.0; // a doubled reading above this is not plausible
constexpr double kHalfDegree = 0.5;
constexpr uint32_t kMaxChannel = 17;
constexpr uint32_t kUnwiredChannel = 7;
constexpr double kDirect5VScale = 4.28;       // 5 V input without its own divider
constexpr double kVcoreHighLsb = 0.00488;
constexpr double kVcoreHighOffset = 0.69;
constexpr uint8_t kVcoreHighRange = 0x01;
constexpr double kBatteryLsb = 0.008;
constexpr int64_t kBatterySettleUs = 1'000;

constexpr uint32_t kMaxFan = 12;
constexpr uint32_t kFirstAbsentFan = 6;       // fans 6..12 exist on no ChipKind 1 board
constexpr uint32_t kFirstExtraFan = 3;        // 3..5 only on the larger parts
constexpr uint32_t kFirstUncontrolledFan = 5; // fan 5 has no duty output
constexpr double kTachClock = 1'350'000.0;
constexpr uint32_t kCountStopped = 255;
constexpr uint32_t kRpmOfFullCount = 164;     // the 13-bit counter at 0x1FFF: no fan turning
constexpr uint8_t kCountLowMask = 0x1F;

constexpr uint32_t kModeManual = 0, kModeSmart = 7;
constexpr uint8_t kNibbleManual = 0, kNibbleSmart = 4;
constexpr uint32_t kNibbleToMode[] = {0, 1, 3, 5, 7};
constexpr uint8_t kBankAbsent = 0xFF;
constexpr uint8_t kRegAbsent = 0xFF;

// While a kernel hwmon driver holds the block the chip is not touched: a
// reading is the driver's input for the same register, put through the same
// scaling, and a register no input reads answers 10.
bool Held(const DeviceContext& ctx) { return superio::MonitorHeldByKernel(ctx); }

// ---- temperatures ----

uint32_t CpuTemperature(DeviceContext& ctx, double* value) {
    const Sio1Area& a = Area(ctx);
    if (a.cpuTempState != CPU_TEMP_PRESENT) {
        *value = 0.0;
        return VEK_ERR_UNSUPPORTED;
    }
    if (Held(ctx)) {
        // The driver's degrees carry the half-degree bit already.
        double t = 0;
        if (uint32_t r = superio::HeldReading(ctx, VEK_HOST_HWMON_TEMPERATURE, a.cpuTempBank, a.cpuTempReg, &t))
            return r;
        *value = Has13BitMonitor(ctx.subtype) ? t * 2.0 : t;
        return (Has13BitMonitor(ctx.subtype) && *value > kCpuTempLimit) ? VEK_ERR_UNSUPPORTED : VEK_OK;
    }
    HwmBank bank(ctx, a.cpuTempBank);
    if (Has13BitMonitor(ctx.subtype)) {
        *value = HwmRead(ctx, a.cpuTempReg) * 2.0;
        return *value > kCpuTempLimit ? VEK_ERR_UNSUPPORTED : VEK_OK;
    }
    const uint8_t fraction = HwmRead(ctx, a.cpuTempFracReg);
    *value = HwmRead(ctx, a.cpuTempReg) + ((fraction & HWM_TEMP_HALF) ? kHalfDegree : 0.0);
    return VEK_OK;
}

uint32_t Temperature(DeviceContext& ctx, uint32_t sensor, double* value) {
    const Sio1Area& a = Area(ctx);
    if (sensor != 0) return VEK_ERR_UNSUPPORTED;
    if (a.sysTempReg == 0) {
        *value = 0.0;
        return VEK_ERR_UNSUPPORTED;
    }
    double t = 0;
    if (Held(ctx)) {
        if (uint32_t r = superio::HeldReading(ctx, VEK_HOST_HWMON_TEMPERATURE, a.sysTempBank, a.sysTempReg, &t))
            return r;
    } else {
        HwmBank bank(ctx, a.sysTempBank);
        t = HwmRead(ctx, a.sysTempReg);
    }
    *value = t * 2.0;
    return VEK_OK;
}

// ---- voltages ----

// (upper + lower) / lower. A divider without its lower resistor would divide
// by zero: the input is then taken as wired straight to the pin.
double DividerFactor(const Divider& d) { return d.lower != 0.0 ? (d.upper + d.lower) / d.lower : 1.0; }

uint8_t HwmReadBanked(const DeviceContext& ctx, uint8_t bank, uint8_t reg) {
    HwmBank guard(ctx, bank);
    return HwmRead(ctx, reg);
}

// raw: the register's count, from the chip or from the driver holding it.
uint32_t ReadVoltageRaw(const DeviceContext& ctx, uint8_t bank, uint8_t reg, double* raw) {
    if (Held(ctx)) return superio::HeldReading(ctx, VEK_HOST_HWMON_VOLTAGE, bank, reg, raw);
    *raw = HwmReadBanked(ctx, bank, reg);
    return VEK_OK;
}

uint32_t Battery(DeviceContext& ctx, double* value) {
    const Sio1Area& a = Area(ctx);
    const uint8_t reg = a.voltReg[6];
    if (reg == 0) return VEK_ERR_UNSUPPORTED;
    double raw = 0;
    if (a.batteryDirect) {
        if (uint32_t r = ReadVoltageRaw(ctx, a.vbatBank, reg, &raw)) return r;
        *value = raw * kBatteryLsb * DividerFactor(a.divider[5]);
        return VEK_OK;
    }
    // A driver holding the block keeps the battery monitor enabled itself.
    if (Held(ctx)) {
        if (uint32_t r = ReadVoltageRaw(ctx, a.vbatBank, reg, &raw)) return r;
        *value = raw * kBatteryLsb * SubtypeOf(ctx.subtype).batteryScale;
        return VEK_OK;
    }
    // The chip measures the battery only on a rising edge of the monitor bit.
    const BitRef& t = a.vbatTrigger;
    HwmBank bank(ctx, t.bank);
    const uint8_t v = HwmRead(ctx, t.reg);
    HwmWrite(ctx, t.reg, uint8_t(v & ~t.bit));
    Pause(kBatterySettleUs);
    HwmWrite(ctx, t.reg, uint8_t(v | t.bit));
    Pause(kBatterySettleUs);
    bank.Select(a.vbatBank);
    *value = HwmRead(ctx, reg) * kBatteryLsb * SubtypeOf(ctx.subtype).batteryScale;
    return VEK_OK;
}

uint32_t Voltage(DeviceContext& ctx, uint32_t channel, double* value) {
    const Sio1Area& a = Area(ctx);
    if (channel > kMaxChannel) return VEK_ERR_ARGUMENT;
    if (channel == kUnwiredChannel || channel >= uint32_t(VOLTAGE_CHANNELS)) return VEK_ERR_UNSUPPORTED;
    if (channel == 6) return Battery(ctx, value);
    const uint8_t reg = a.voltReg[channel];
    const double lsb = a.voltageLsb;
    if (channel == 0) {
        if (reg == 0 && !Has13BitMonitor(ctx.subtype)) return VEK_ERR_UNSUPPORTED;
        double raw = 0;
        if (SubtypeOf(ctx.subtype).vcoreDualRange) {
            // Dual-range core input: bit 0 set selects the high range. The
            // range flag lives in the register itself, which no driver input
            // shows.
            if (Held(ctx)) return VEK_ERR_UNSUPPORTED;
            const uint8_t r = HwmReadBanked(ctx, 0, HWM_VCORE_RANGE);
            *value = (r & kVcoreHighRange) ? r * kVcoreHighLsb + kVcoreHighOffset : r * lsb;
            return VEK_OK;
        }
        if (uint32_t r = ReadVoltageRaw(ctx, a.voltBank, reg, &raw)) return r;
        *value = raw * lsb * a.vcoreScale;
        return VEK_OK;
    }
    if (reg == 0) return VEK_ERR_UNSUPPORTED;
    const Divider& d = a.divider[channel];
    double raw = 0;
    if (uint32_t r = ReadVoltageRaw(ctx, a.voltBank, reg, &raw)) return r;
    const double volts = raw * lsb;
    switch (channel) {
    case 3: case 8:
        *value = d.upper == 0.0 ? volts * kDirect5VScale : volts * DividerFactor(d);
        break;
    case 4: case 5:
        *value = volts * DividerFactor(d);
        break;
    default: // 1, 2, 9, 10
        *value = d.upper == 0.0 ? volts : volts * DividerFactor(d);
        break;
    }
    return VEK_OK;
}

// ---- fan speed ----

// Checks shared by every fan routine: 7 beyond fan 12, 10 for fans no board
// of this kind has, fans not fitted and the larger parts' fans elsewhere.
uint32_t CheckFan(const DeviceContext& ctx, uint32_t fan) {
    if (fan > kMaxFan) return VEK_ERR_ARGUMENT;
    if (fan >= kFirstAbsentFan) return VEK_ERR_UNSUPPORTED;
    if (!Area(ctx).fan[fan].present) return VEK_ERR_UNSUPPORTED;
    if (fan >= kFirstExtraFan && !HasExtraFans(ctx.subtype)) return VEK_ERR_UNSUPPORTED;
    return VEK_OK;
}

// A count of 0 means the counter has not latched a revolution yet; it is
// reported as a stopped fan rather than divided by.
uint32_t RpmOf(double count) { return count == 0 ? 0 : uint32_t(kTachClock / count); }

uint32_t FanSpeed(DeviceContext& ctx, uint32_t fan, uint32_t* rpm) {
    if (uint32_t r = CheckFan(ctx, fan)) return r;
    const FanRegs& f = Area(ctx).fan[fan];
    if (Held(ctx)) return superio::HeldFanRpm(ctx, f.bank, f.count, rpm);
    HwmBank bank(ctx, f.bank);
    if (Has13BitMonitor(ctx.subtype)) {
        const uint32_t high = HwmRead(ctx, f.count);
        const uint32_t count = high * 32 + (HwmRead(ctx, f.countLow) & kCountLowMask);
        const uint32_t value = count == kCountStopped ? 0 : RpmOf(count);
        *rpm = value == kRpmOfFullCount ? 0 : value;
        return VEK_OK;
    }
    // The divisor's two low bits are read before its third.
    const uint32_t div1 = HwmRead(ctx, f.div1Reg);
    const uint32_t div2 = HwmRead(ctx, f.div2Reg);
    const uint32_t e = ((div1 >> f.div1Shift) & 3) | ((div2 >> f.div2Shift) & 4);
    const uint32_t count = HwmRead(ctx, f.count);
    *rpm = count == kCountStopped ? 0 : RpmOf(double(count) * (1u << e));
    return VEK_OK;
}

// ---- fan mode, duty and curves (13-bit parts) ----

struct CurveRegs {
    uint8_t modeBank, modeReg;
    uint8_t tempBank, tempReg;   // first of four temperature points
    uint8_t dutyBank, dutyReg;   // first of four duty points
    bool largePartsOnly;
};
constexpr CurveRegs kCurves[] = {
    {1, 0x23, 1, 0x70, 1, 0x74, false},
    {1, 0x13, 1, 0x60, 1, 0x64, false},
    {1, 0x33, 1, 0x80, 1, 0x84, false},
    {1, 0x93, 1, 0xD0, 1, 0xD4, true},
    {1, 0xA3, 1, 0xE0, 1, 0xE4, true},
};
constexpr CurveRegs kNoCurve = {kBankAbsent, kRegAbsent, kBankAbsent, kRegAbsent, kBankAbsent, kRegAbsent, false};

// Curve registers of a fan on this part; absent entries carry 0xFF.
CurveRegs CurveOf(const DeviceContext& ctx, uint32_t fan) {
    if (fan >= std::size(kCurves)) return kNoCurve;
    const CurveRegs& c = kCurves[fan];
    return (c.largePartsOnly && !HasExtraFans(ctx.subtype)) ? kNoCurve : c;
}

// Checks of the mode routines, in their order: fan range, control output,
// fitted, part with fan control.
uint32_t CheckControlledFan(const DeviceContext& ctx, uint32_t fan) {
    if (fan > kMaxFan) return VEK_ERR_ARGUMENT;
    if (fan >= kFirstUncontrolledFan) return VEK_ERR_UNSUPPORTED;
    if (!Area(ctx).fan[fan].present) return VEK_ERR_UNSUPPORTED;
    if (!Has13BitMonitor(ctx.subtype)) return VEK_ERR_UNSUPPORTED;
    return VEK_OK;
}

uint32_t GetFanMode(DeviceContext& ctx, uint32_t fan, uint32_t* mode) {
    if (uint32_t r = CheckControlledFan(ctx, fan)) return r;
    const CurveRegs c = CurveOf(ctx, fan);
    if (c.modeBank == kBankAbsent || c.modeReg == kRegAbsent) return VEK_ERR_UNSUPPORTED;
    HwmBank bank(ctx, c.modeBank);
    const uint8_t nibble = HwmRead(ctx, c.modeReg) >> HWM_MODE_SHIFT;
    if (nibble >= std::size(kNibbleToMode)) return VEK_ERR_READ;
    *mode = kNibbleToMode[nibble];
    return VEK_OK;
}

uint32_t SetFanMode(DeviceContext& ctx, uint32_t fan, uint32_t mode) {
    if (fan > kMaxFan) return VEK_ERR_ARGUMENT;
    if (fan >= kFirstUncontrolledFan || !Area(ctx).fan[fan].present) return VEK_ERR_UNSUPPORTED;
    if (mode != kModeManual && mode != kModeSmart) return VEK_ERR_ARGUMENT;
    if (!Has13BitMonitor(ctx.subtype)) return VEK_ERR_UNSUPPORTED;
    const CurveRegs c = CurveOf(ctx, fan);
    if (c.modeBank == kBankAbsent || c.modeReg == kRegAbsent) return VEK_ERR_UNSUPPORTED;
    const uint8_t nibble = mode == kModeSmart ? kNibbleSmart : kNibbleManual;
    HwmBank bank(ctx, c.modeBank);
    const uint8_t old = HwmRead(ctx, c.modeReg);
    HwmWrite(ctx, c.modeReg, uint8_t(nibble << HWM_MODE_SHIFT | (old & HWM_MODE_LOW_BITS)));
    return VEK_OK;
}

uint32_t SwitchMode(DeviceContext& ctx, uint32_t fan, uint32_t target) {
    uint32_t mode = 0;
    if (uint32_t r = GetFanMode(ctx, fan, &mode)) return r;
    return mode == target ? VEK_OK : SetFanMode(ctx, fan, target);
}

uint32_t SmartfanEnable(DeviceContext& ctx, uint32_t fan) { return SwitchMode(ctx, fan, kModeSmart); }
uint32_t SmartfanDisable(DeviceContext& ctx, uint32_t fan) { return SwitchMode(ctx, fan, kModeManual); }

uint8_t PercentToDuty(int32_t percent) { return uint8_t(std::trunc(percent * 255.0 / 100.0 + 0.5)); }
uint32_t DutyToPercent(uint8_t duty) { return uint32_t(std::trunc(duty * 100.0 / 255.0 + 0.5)); }

uint32_t SetFanSpeed(DeviceContext& ctx, uint32_t fan, int32_t percent) {
    if (!Has13BitMonitor(ctx.subtype)) return VEK_ERR_UNSUPPORTED;
    if (fan > kMaxFan) return VEK_ERR_ARGUMENT;
    if (fan >= kFirstUncontrolledFan) return VEK_ERR_UNSUPPORTED;
    const FanRegs& f = Area(ctx).fan[fan];
    // A fan without a duty output has nothing to write (register 0 is not one).
    if (!f.present || f.duty == 0) return VEK_ERR_UNSUPPORTED;
    const uint32_t r = SmartfanDisable(ctx, fan);
    if (r != VEK_OK && r != VEK_ERR_UNSUPPORTED) return r;
    // The frame keeps percent in 0..100, so the duty fits a byte.
    HwmBank bank(ctx, HWM_FAN_CONTROL_BANK);
    HwmWrite(ctx, f.duty, PercentToDuty(percent));
    return VEK_OK;
}

// Curve arguments: temps holds four temperature bytes, duties four
// percentages; outputs: a = mode, b = four temperatures, c = four percentages.
uint32_t SetSmartfan(DeviceContext& ctx, uint32_t fan, int32_t mode, uint8_t* temps, int32_t* duties, int32_t) {
    if (mode != int32_t(kModeSmart)) return VEK_ERR_UNSUPPORTED;
    uint32_t current = 0;
    if (uint32_t r = GetFanMode(ctx, fan, &current)) return r;
    if (current != kModeSmart) return VEK_ERR_STATE;
    uint8_t dutyBytes[HWM_CURVE_POINTS];
    for (int i = 0; i < HWM_CURVE_POINTS; ++i) {
        // Only 0..100 % maps onto the duty byte.
        if (duties[i] < 0 || duties[i] > 100) return VEK_ERR_ARGUMENT;
        dutyBytes[i] = PercentToDuty(duties[i]);
    }
    const CurveRegs c = CurveOf(ctx, fan);
    if (c.tempBank == kBankAbsent || c.tempReg == kRegAbsent) return VEK_ERR_UNSUPPORTED;
    HwmBank bank(ctx, c.tempBank);
    for (int i = 0; i < HWM_CURVE_POINTS; ++i) HwmWrite(ctx, uint8_t(c.tempReg + i), temps[i]);
    bank.Select(c.dutyBank);
    for (int i = 0; i < HWM_CURVE_POINTS; ++i) HwmWrite(ctx, uint8_t(c.dutyReg + i), dutyBytes[i]);
    return VEK_OK;
}

uint32_t GetSmartfan(DeviceContext& ctx, uint32_t fan, uint32_t* mode, uint32_t* temps, uint32_t* duties, uint32_t*) {
    uint32_t current = 0;
    if (uint32_t r = GetFanMode(ctx, fan, &current)) return r;
    *mode = current;
    if (current != kModeSmart) return VEK_ERR_STATE;
    const CurveRegs c = CurveOf(ctx, fan);
    if (c.tempBank == kBankAbsent || c.tempReg == kRegAbsent) return VEK_ERR_UNSUPPORTED;
    HwmBank bank(ctx, c.tempBank);
    for (int i = 0; i < HWM_CURVE_POINTS; ++i) temps[i] = HwmRead(ctx, uint8_t(c.tempReg + i));
    bank.Select(c.dutyBank);
    for (int i = 0; i < HWM_CURVE_POINTS; ++i) duties[i] = DutyToPercent(HwmRead(ctx, uint8_t(c.dutyReg + i)));
    return VEK_OK;
}

} // namespace

void FillMonitorOps(BackendOps& ops) {
    ops.cpuTemperature = &CpuTemperature;
    ops.temperature = &Temperature;
    ops.voltage = &Voltage;
    ops.fanSpeed = &FanSpeed;
    ops.setFanSpeed = &SetFanSpeed;
    ops.getSmartfan = &GetSmartfan;
    ops.setSmartfan = &SetSmartfan;
    ops.smartfanEnable = &SmartfanEnable;
    ops.smartfanDisable = &SmartfanDisable;
}

} // namespace vek::sio1
