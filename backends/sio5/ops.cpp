// ChipKind 5 operations: GPIO through logical device 6, the watchdog of
// logical device 7, and the hardware monitor of logical device 4.
#include <optional>

#include "platform/process.h"
#include "backends/sio5/sio5.h"
#include "backends/superio/kernel_route.h"
#include "hal/hal.h"
#include "vek/vek.h"

namespace vek::sio5 {

// ---------------------------------------------------------------- access

namespace {
uint16_t g_indexPort = PORT_FALLBACK;
} // namespace

uint16_t IndexPort() { return g_indexPort; }
void SetIndexPort(uint16_t port) { g_indexPort = port; }

ConfigMode::ConfigMode() : port_(g_indexPort) {
    PortWrite(port_, KEY_ENTER);
    PortWrite(port_, KEY_ENTER);
}

ConfigMode::~ConfigMode() { PortWrite(port_, KEY_EXIT); }

void ConfigMode::MoveTo(uint16_t port) {
    port_ = port;
    g_indexPort = port;
    PortWrite(port_, KEY_EXIT);
    PortWrite(port_, KEY_ENTER);
    PortWrite(port_, KEY_ENTER);
}

void Write(uint8_t reg, uint8_t value) {
    PortWrite(g_indexPort, reg);
    PortWrite(uint16_t(g_indexPort + 1), value);
}

uint8_t Read(uint8_t reg) {
    PortWrite(g_indexPort, reg);
    return PortRead(uint16_t(g_indexPort + 1));
}

void SelectBank(uint8_t bank) {
    Write(CR_BANK, uint8_t((Read(CR_BANK) & CR_BANK_KEEP) | ((bank & 3) << CR_BANK_SHIFT)));
}

uint16_t ReadBase() {
    const uint8_t high = Read(CR_BASE_HIGH);
    const uint8_t low = Read(CR_BASE_LOW);
    return uint16_t((high << 8) | low);
}

uint8_t HwmRead(const DeviceContext& ctx, uint8_t reg) {
    const uint16_t port = AreaOf<Sio5Area>(ctx).hwmIndexPort;
    PortWrite(port, reg);
    return PortRead(uint16_t(port + 1));
}

void HwmWrite(const DeviceContext& ctx, uint8_t reg, uint8_t value) {
    const uint16_t port = AreaOf<Sio5Area>(ctx).hwmIndexPort;
    PortWrite(port, reg);
    PortWrite(uint16_t(port + 1), value);
}

namespace {

// Config mode with one logical device selected, for the operations' lifetime.
class DeviceScope {
public:
    explicit DeviceScope(uint8_t device) { SelectDevice(device); }

private:
    ConfigMode config_; // constructed first: entered before the select
};

uint8_t WithBit(uint8_t x, uint8_t bit, bool on) {
    return on ? uint8_t(x | (1u << bit)) : uint8_t(x & ~(1u << bit));
}

// ---------------------------------------------------------------- GPIO

struct Pin {
    uint8_t base; // port base register
    uint8_t bit;
};

// The pin table has no entry for set 0, sets past the board's count or pins
// past a set's count (the frame lets pins 1..8 through for every set): those
// answer 7 before the chip is touched.
bool FindPin(const DeviceContext& ctx, int32_t set, int32_t pin, Pin* out) {
    if (set < 1 || uint32_t(set) > ctx.gpioSets[0] || set > 9) return false;
    if (pin < 1 || uint32_t(pin) > ctx.gpioSets[set]) return false;
    const uint8_t code = AreaOf<Sio5Area>(ctx).pinMap[set - 1][pin - 1];
    if (code == PIN_NONE || code / 10 >= GPIO_PORTS || code % 10 >= 8) return false;
    *out = {GPIO_PORT_BASE[code / 10], uint8_t(code % 10)};
    return true;
}

uint32_t SetPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t direction) {
    Pin p;
    if (!FindPin(ctx, set, pin, &p)) return VEK_ERR_ARGUMENT;
    DeviceScope gpio(LDN_GPIO);
    const uint8_t r = Read(p.base + GPIO_OUTPUT_ENABLE);
    Write(p.base + GPIO_OUTPUT_ENABLE, WithBit(r, p.bit, direction == 0));
    return VEK_OK;
}

uint32_t ReadPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* direction) {
    Pin p;
    if (!FindPin(ctx, set, pin, &p)) return VEK_ERR_ARGUMENT;
    DeviceScope gpio(LDN_GPIO);
    *direction = (Read(p.base + GPIO_OUTPUT_ENABLE) >> p.bit) & 1 ? 0 : 1;
    return VEK_OK;
}

uint32_t ReadPin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* value) {
    Pin p;
    if (!FindPin(ctx, set, pin, &p)) return VEK_ERR_ARGUMENT;
    DeviceScope gpio(LDN_GPIO);
    const uint8_t r = Read(p.base + GPIO_PIN_STATUS);
    Pause();
    *value = (r >> p.bit) & 1;
    return VEK_OK;
}

uint32_t WritePin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t value) {
    Pin p;
    if (!FindPin(ctx, set, pin, &p)) return VEK_ERR_ARGUMENT;
    DeviceScope gpio(LDN_GPIO);
    const uint8_t r = Read(p.base + GPIO_OUTPUT_DATA);
    Pause();
    Write(p.base + GPIO_OUTPUT_DATA, WithBit(r, p.bit, value != 0));
    Pause();
    return VEK_OK;
}

int32_t PinsOf(const DeviceContext& ctx, int32_t set) {
    return set >= 1 && set <= 9 ? int32_t(ctx.gpioSets[set]) : 0;
}

uint32_t SetDirection(DeviceContext& ctx, int32_t set, uint8_t mask) {
    if (PinsOf(ctx, set) == 0) return VEK_ERR_ARGUMENT;
    for (int32_t p = 1; p <= PinsOf(ctx, set); ++p)
        if (uint32_t r = SetPinDirection(ctx, set, p, uint8_t(mask & (1u << (p - 1))))) return r;
    return VEK_OK;
}

uint32_t ReadDirection(DeviceContext& ctx, int32_t set, uint8_t* mask) {
    if (PinsOf(ctx, set) == 0) return VEK_ERR_ARGUMENT;
    uint8_t m = 0;
    for (int32_t p = 1; p <= PinsOf(ctx, set); ++p) {
        uint8_t d = 0;
        if (uint32_t r = ReadPinDirection(ctx, set, p, &d)) return r;
        m = WithBit(m, uint8_t(p - 1), d != 0);
    }
    *mask = m;
    return VEK_OK;
}

uint32_t ReadSet(DeviceContext& ctx, int32_t set, uint8_t* value) {
    if (PinsOf(ctx, set) == 0) return VEK_ERR_ARGUMENT;
    uint8_t v = 0;
    for (int32_t p = 1; p <= PinsOf(ctx, set); ++p) {
        uint8_t level = 0;
        if (uint32_t r = ReadPin(ctx, set, p, &level)) return r;
        v = WithBit(v, uint8_t(p - 1), level != 0);
    }
    *value = v;
    return VEK_OK;
}

uint32_t WriteSet(DeviceContext& ctx, int32_t set, uint8_t value) {
    if (PinsOf(ctx, set) == 0) return VEK_ERR_ARGUMENT;
    for (int32_t p = 1; p <= PinsOf(ctx, set); ++p)
        if (uint32_t r = WritePin(ctx, set, p, uint8_t((value >> (p - 1)) & 1))) return r;
    return VEK_OK;
}

// ---------------------------------------------------------------- watchdog

uint32_t WdtTrigger(DeviceContext& ctx) {
    DeviceScope wdt(LDN_WDT);
    Write(WDT_COUNT, ctx.wdtSio5.count);
    const uint8_t r = Read(WDT_CONTROL);
    const uint8_t unit = ctx.wdtSio5.unit != 0 ? uint8_t(r | WDT_UNIT_MINUTES) : uint8_t(r & ~WDT_UNIT_MINUTES);
    Write(WDT_CONTROL, uint8_t(unit | WDT_ENABLE));
    return VEK_OK;
}

// The control register's enable bit says whether the watchdog runs, its unit
// bit whether the count register counts minutes.
uint32_t WdtReadChip(DeviceContext&, uint32_t* unit, uint8_t* count) {
    DeviceScope wdt(LDN_WDT);
    const uint8_t control = Read(WDT_CONTROL);
    const uint8_t c = Read(WDT_COUNT);
    if (!(control & WDT_ENABLE) || c == 0) return VEK_ERR_STATE;
    *unit = (control & WDT_UNIT_MINUTES) ? 1 : 0;
    *count = c;
    return VEK_OK;
}

uint32_t WdtDisable(DeviceContext&) {
    DeviceScope wdt(LDN_WDT);
    Write(WDT_CONTROL, uint8_t(Read(WDT_CONTROL) & ~WDT_ENABLE));
    return VEK_OK;
}

// ---------------------------------------------------------------- temperatures

// Without a monitor block (no chip answered at initialisation) nothing here
// can be read.
bool NoMonitor(const DeviceContext& ctx) { return AreaOf<Sio5Area>(ctx).hwmIndexPort == 0; }

// While a kernel hwmon driver holds the block, readings are the driver's and
// the chip is not entered at all.
bool Held(const DeviceContext& ctx) { return superio::MonitorHeldByKernel(ctx); }

uint32_t HeldTemperature(const DeviceContext& ctx, uint8_t reg, double* value) {
    return superio::HeldReading(ctx, VEK_HOST_HWMON_TEMPERATURE, 0, reg, value);
}

uint32_t CpuTemperature(DeviceContext& ctx, double* value) {
    const Sio5Area& a = Area(ctx);
    if (a.cpuTempSource != CPU_SOURCE_CHIP || NoMonitor(ctx)) return VEK_ERR_UNSUPPORTED;
    if (Held(ctx)) return HeldTemperature(ctx, a.cpuTempRegister, value);
    DeviceScope hwm(LDN_HWM);
    *value = HwmRead(ctx, a.cpuTempRegister);
    return VEK_OK;
}

uint32_t Temperature(DeviceContext& ctx, uint32_t index, double* value) {
    const Sio5Area& a = Area(ctx);
    if (NoMonitor(ctx)) return VEK_ERR_UNSUPPORTED;
    const bool absent = index > 2 || a.sysTemp[index] == 0;
    if (Held(ctx) && !absent) return HeldTemperature(ctx, a.sysTemp[index], value);
    // The register path enters the chip even for an absent sensor; a held chip is not entered.
    std::optional<DeviceScope> hwm;
    if (!Held(ctx)) hwm.emplace(LDN_HWM);
    if (absent) {
        *value = 0.0;
        return VEK_ERR_UNSUPPORTED;
    }
    *value = HwmRead(ctx, a.sysTemp[index]);
    return VEK_OK;
}

// ---------------------------------------------------------------- voltages

constexpr uint32_t kFirstUnwired = 7, kLastUnwired = 13;
constexpr double kChannel3Scale = 4.28;   // the chip's own 3.3 V-class input scaling
constexpr double kAltVoltage0Lsb = 0.00488;
constexpr double kAltVoltage0Offset = 0.69;

double ChannelScale(const Sio5Area& a, uint32_t channel) {
    const Divider& d = a.divider[channel];
    switch (channel) {
    case 0: return 1.0;
    case 3: return d.upper == 0 ? kChannel3Scale : d.Scale();
    case 4: case 5: return d.Scale();
    default: return d.upper == 0 ? 1.0 : d.Scale();
    }
}

// The same checks and scaling as the register path. The alternate core
// reading (a status register, not an input) and a battery that must be
// switched in by a write have no driver input: 10.
uint32_t HeldVoltage(const DeviceContext& ctx, uint32_t channel, double* value) {
    const Sio5Area& a = AreaOf<Sio5Area>(ctx);
    if (channel >= VOLTAGE_CHANNELS) return VEK_ERR_ARGUMENT;
    if (channel >= kFirstUnwired && channel <= kLastUnwired) return VEK_ERR_UNSUPPORTED;
    const uint8_t reg = a.voltageRegister[channel];
    if (reg == 0) return VEK_ERR_UNSUPPORTED;
    if ((channel == 0 && ctx.subtype == 3) || (channel == 6 && a.batteryControl != 0)) return VEK_ERR_UNSUPPORTED;
    double raw = 0;
    if (uint32_t r = superio::HeldReading(ctx, VEK_HOST_HWMON_VOLTAGE, 0, reg, &raw)) return r;
    *value = raw * a.voltageLsb * ChannelScale(a, channel);
    return VEK_OK;
}

uint32_t Voltage(DeviceContext& ctx, uint32_t channel, double* value) {
    const Sio5Area& a = Area(ctx);
    if (NoMonitor(ctx)) return channel >= VOLTAGE_CHANNELS ? VEK_ERR_ARGUMENT : VEK_ERR_UNSUPPORTED;
    if (Held(ctx)) return HeldVoltage(ctx, channel, value);
    DeviceScope hwm(LDN_HWM);
    if (channel >= VOLTAGE_CHANNELS) return VEK_ERR_ARGUMENT;
    if (channel >= kFirstUnwired && channel <= kLastUnwired) return VEK_ERR_UNSUPPORTED;
    const uint8_t reg = a.voltageRegister[channel];
    if (reg == 0) return VEK_ERR_UNSUPPORTED;

    if (channel == 0 && ctx.subtype == 3) {
        SelectBank(0);
        const uint8_t raw = HwmRead(ctx, HWM_VOLTAGE0_ALT);
        *value = (raw & HWM_VOLTAGE0_ALT_SCALED) ? raw * kAltVoltage0Lsb + kAltVoltage0Offset : raw * a.voltageLsb;
        return VEK_OK;
    }
    // The battery divider is switched in only while it is read, to spare the
    // cell. Boards without the switch would aim these writes at monitor
    // register 0x00 (its configuration register): they skip them and the wait.
    const bool battery = channel == 6 && a.batteryControl != 0;
    if (battery) {
        HwmWrite(ctx, a.batteryControl, BATTERY_SWITCH_ON);
        hal::Delay(BATTERY_SETTLE_US);
    }
    const uint8_t raw = HwmRead(ctx, reg);
    if (battery) HwmWrite(ctx, a.batteryControl, BATTERY_SWITCH_OFF);
    *value = raw * a.voltageLsb * ChannelScale(a, channel);
    return VEK_OK;
}

// ---------------------------------------------------------------- fans

constexpr uint32_t kRpmPerCount = 1'500'000;
constexpr uint8_t kNoPulseLow = 0xFF;

uint32_t CheckFanIndex(uint32_t fan) {
    if (fan > LAST_FAN) return VEK_ERR_ARGUMENT;
    if (fan >= FANS) return VEK_ERR_UNSUPPORTED;
    return VEK_OK;
}

uint32_t FanSpeed(DeviceContext& ctx, uint32_t fan, uint32_t* rpm) {
    if (uint32_t r = CheckFanIndex(fan)) return r;
    const FanDescriptor& f = Area(ctx).fans[fan];
    if (!f.present || NoMonitor(ctx)) return VEK_ERR_UNSUPPORTED;
    if (Held(ctx)) return superio::HeldFanRpm(ctx, 0, f.countHigh, rpm);
    DeviceScope hwm(LDN_HWM);
    const uint8_t hi = HwmRead(ctx, f.countHigh);
    const uint8_t lo = HwmRead(ctx, f.countLow);
    const uint32_t count = (uint32_t(hi) << 8) | lo;
    // A zero count (nothing latched yet) is reported as a stopped fan rather
    // than divided by.
    *rpm = (lo == kNoPulseLow || count == 0) ? 0 : kRpmPerCount / count;
    return VEK_OK;
}

// Fan 0 has mode control when its mode register exists; fan 1 whenever it is fitted.
uint32_t CheckModeControl(const Sio5Area& a, uint32_t fan) {
    if (uint32_t r = CheckFanIndex(fan)) return r;
    if (a.hwmIndexPort == 0) return VEK_ERR_UNSUPPORTED;
    const bool control = fan == 0 ? a.fans[0].mode != FAN_REG_NONE : a.fans[1].present != 0;
    if (!control) return VEK_ERR_UNSUPPORTED;
    // Fan 1 fitted but without a mode register: nothing to read or write.
    if (a.fans[fan].mode == FAN_REG_NONE) return VEK_ERR_UNSUPPORTED;
    return VEK_OK;
}

void UnlockFanControl(const DeviceContext& ctx) {
    const uint8_t r = HwmRead(ctx, HWM_FAN_LOCK);
    if (r & HWM_FAN_LOCK_BIT) HwmWrite(ctx, HWM_FAN_LOCK, uint8_t(r & ~HWM_FAN_LOCK_BIT));
}

uint32_t ReadFanMode(DeviceContext& ctx, uint32_t fan, uint32_t* mode) {
    const Sio5Area& a = Area(ctx);
    if (uint32_t r = CheckModeControl(a, fan)) return r;
    const FanDescriptor& f = a.fans[fan];
    DeviceScope hwm(LDN_HWM);
    UnlockFanControl(ctx);
    const uint8_t m = (HwmRead(ctx, f.mode) >> f.modeShift) & FAN_FIELD_MASK;
    *mode = m == FAN_FIELD_AUTO ? FAN_MODE_SMART : m == FAN_FIELD_MANUAL ? FAN_MODE_MANUAL : FAN_MODE_OTHER;
    return VEK_OK;
}

uint32_t WriteFanMode(DeviceContext& ctx, uint32_t fan, uint32_t mode) {
    if (mode != FAN_MODE_MANUAL && mode != FAN_MODE_SMART) return VEK_ERR_ARGUMENT;
    const Sio5Area& a = Area(ctx);
    if (uint32_t r = CheckModeControl(a, fan)) return r;
    const FanDescriptor& f = a.fans[fan];
    DeviceScope hwm(LDN_HWM);
    UnlockFanControl(ctx);
    const uint8_t field = mode == FAN_MODE_MANUAL ? FAN_FIELD_MANUAL : FAN_FIELD_AUTO;
    const uint8_t r = HwmRead(ctx, f.mode);
    HwmWrite(ctx, f.mode,
             uint8_t((r & ~(FAN_FIELD_MASK << f.modeShift)) | (field << f.modeShift)));
    return VEK_OK;
}

// Duty byte of a percentage, rounded to nearest: trunc(p * 255 / 100 + 0.5).
uint8_t DutyByte(int32_t percent) { return uint8_t((percent * 255 + 50) / 100); }
// Percentage of a duty byte, rounded to nearest: trunc(raw * 100 / 255 + 0.5).
uint32_t DutyPercent(uint8_t raw) { return (raw * 200u + 255u) / 510u; }

uint32_t SetFanSpeed(DeviceContext& ctx, uint32_t fan, int32_t percent) {
    if (percent < 0 || percent > 100) return VEK_ERR_ARGUMENT;
    if (uint32_t r = CheckFanIndex(fan)) return r;
    const FanDescriptor& f = Area(ctx).fans[fan];
    if (!f.present || NoMonitor(ctx)) return VEK_ERR_UNSUPPORTED;
    // Boards whose fans have no duty register would aim the write at monitor
    // register 0x00: they have no duty control to offer.
    if (f.duty == 0) return VEK_ERR_UNSUPPORTED;
    // The duty register works whatever the mode write said (a fan without a
    // mode field is driven by its duty alone).
    (void)WriteFanMode(ctx, fan, FAN_MODE_MANUAL);
    ConfigMode config;
    HwmWrite(ctx, f.duty, DutyByte(percent));
    return VEK_OK;
}

uint32_t SmartfanEnable(DeviceContext& ctx, uint32_t fan) {
    uint32_t mode = 0;
    if (uint32_t r = ReadFanMode(ctx, fan, &mode)) return r;
    return mode == FAN_MODE_SMART ? VEK_OK : WriteFanMode(ctx, fan, FAN_MODE_SMART);
}

uint32_t SmartfanDisable(DeviceContext& ctx, uint32_t fan) {
    uint32_t mode = 0;
    if (uint32_t r = ReadFanMode(ctx, fan, &mode)) return r;
    return mode == FAN_MODE_MANUAL ? VEK_OK : WriteFanMode(ctx, fan, FAN_MODE_MANUAL);
}

// Fan 1's curve holds each duty point as (100 - p) * 32 / p: larger is slower,
// and 255 is the slowest the register holds (about 11 %). Points below that,
// 0 % included (which the formula would divide by), are written as 255.
constexpr uint32_t kSlowestEncoded = 255;
uint8_t EncodeFan1Duty(int32_t percent) {
    if (percent <= 0) return uint8_t(kSlowestEncoded);
    const uint32_t d = uint32_t(100 - percent) * 32 / uint32_t(percent);
    return uint8_t(d > kSlowestEncoded ? kSlowestEncoded : d);
}
uint32_t DecodeFan1Duty(uint8_t raw) { return 3200u / (raw + 32u); }

uint32_t SmartTempBase(const Sio5Area& a, uint32_t fan) {
    return fan < FANS ? a.fans[fan].smartTempBase : FAN_REG_NONE;
}

// temperatures: four bytes, the curve's points in degrees C;
// duties: four percentages 0..100 (7 otherwise, nothing written).
uint32_t SetSmartfan(DeviceContext& ctx, uint32_t fan, int32_t mode, uint8_t* temperatures, int32_t* duties,
                     int32_t) {
    if (uint32_t(mode) != FAN_MODE_SMART) return VEK_ERR_UNSUPPORTED;
    const Sio5Area& a = Area(ctx);
    if (SmartTempBase(a, fan) == FAN_REG_NONE || NoMonitor(ctx)) return VEK_ERR_UNSUPPORTED;
    for (int i = 0; i < SMART_POINTS; ++i)
        if (duties[i] < 0 || duties[i] > 100) return VEK_ERR_ARGUMENT;
    const FanDescriptor& f = a.fans[fan];
    (void)WriteFanMode(ctx, fan, FAN_MODE_SMART); // the curve is written either way
    DeviceScope hwm(LDN_HWM);
    for (int i = 0; i < SMART_POINTS; ++i) {
        HwmWrite(ctx, uint8_t(f.smartTempBase + 3 - i), temperatures[i]);
        HwmWrite(ctx, uint8_t(f.smartDutyBase + 3 - i),
                 fan == 0 ? DutyByte(duties[i]) : EncodeFan1Duty(duties[i]));
    }
    return VEK_OK;
}

// mode: the fan's FanMode; temperatures and duties: four u32 each (out).
uint32_t GetSmartfan(DeviceContext& ctx, uint32_t fan, uint32_t* mode, uint32_t* temperatures, uint32_t* duties,
                     uint32_t*) {
    uint32_t m = 0;
    if (uint32_t r = ReadFanMode(ctx, fan, &m)) return r;
    *mode = m;
    if (m != FAN_MODE_SMART) return VEK_ERR_STATE;
    const Sio5Area& a = Area(ctx);
    if (SmartTempBase(a, fan) == FAN_REG_NONE) return VEK_ERR_UNSUPPORTED;
    const FanDescriptor& f = a.fans[fan];
    DeviceScope hwm(LDN_HWM);
    for (int i = 0; i < SMART_POINTS; ++i) {
        temperatures[i] = HwmRead(ctx, uint8_t(f.smartTempBase + 3 - i));
        const uint8_t raw = HwmRead(ctx, uint8_t(f.smartDutyBase + 3 - i));
        duties[i] = fan == 0 ? DutyPercent(raw) : DecodeFan1Duty(raw);
    }
    return VEK_OK;
}

} // namespace

const BackendOps& Ops() {
    static const BackendOps ops = [] {
        BackendOps o{};
        o.configure = &Configure;
        o.gpioSetDirection = &SetDirection;
        o.gpioReadDirection = &ReadDirection;
        o.gpioRead = &ReadSet;
        o.gpioWrite = &WriteSet;
        o.gpioSetPinDirection = &SetPinDirection;
        o.gpioReadPinDirection = &ReadPinDirection;
        o.gpioReadPin = &ReadPin;
        o.gpioWritePin = &WritePin;
        o.wdtTrigger = &WdtTrigger;
        o.wdtDisable = &WdtDisable;
        o.wdtReadChip = &WdtReadChip;
        o.temperature = &Temperature;
        o.cpuTemperature = &CpuTemperature;
        o.voltage = &Voltage;
        o.fanSpeed = &FanSpeed;
        o.setFanSpeed = &SetFanSpeed;
        o.getSmartfan = &GetSmartfan;
        o.setSmartfan = &SetSmartfan;
        o.smartfanEnable = &SmartfanEnable;
        o.smartfanDisable = &SmartfanDisable;
        return o;
    }();
    return ops;
}

} // namespace vek::sio5
