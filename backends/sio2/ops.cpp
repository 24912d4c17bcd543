// ChipKind 2 operations: GPIO pins (direction in logical device 7, levels on
// the simple-I/O ports), the watchdog, and the environment controller's
// temperatures, rails and fans.
#include "platform/process.h"
#include "backends/sio2/sio2.h"
#include "backends/superio/kernel_route.h"
#include "hal/hal.h"
#include "vek/vek.h"

namespace vek::sio2 {

// ---------------------------------------------------------------- access

ConfigMode::ConfigMode() {
    for (uint8_t k : KEY) PortWrite(INDEX_PORT, k);
}

ConfigMode::~ConfigMode() { SetBits(CR_CONFIG_CONTROL, CONFIG_LOCK); }

void Write(uint8_t reg, uint8_t value) {
    PortWrite(INDEX_PORT, reg);
    PortWrite(DATA_PORT, value);
}

uint8_t Read(uint8_t reg) {
    PortWrite(INDEX_PORT, reg);
    return PortRead(DATA_PORT);
}

uint8_t EnvRead(const DeviceContext& ctx, uint8_t reg) {
    const uint16_t base = AreaOf<Sio2Area>(ctx).envBase;
    PortWrite(uint16_t(base + ENV_INDEX_OFFSET), reg);
    return PortRead(uint16_t(base + ENV_DATA_OFFSET));
}

void EnvWrite(const DeviceContext& ctx, uint8_t reg, uint8_t value) {
    const uint16_t base = AreaOf<Sio2Area>(ctx).envBase;
    PortWrite(uint16_t(base + ENV_INDEX_OFFSET), reg);
    PortWrite(uint16_t(base + ENV_DATA_OFFSET), value);
}

namespace {

class GpioScope {
public:
    GpioScope() { SelectDevice(LDN_GPIO); }

private:
    ConfigMode config_;
};

// ---------------------------------------------------------------- GPIO

// Entry of (set, pin): set 1 holds entries 0..7, any other set number the
// second eight. Pins without a routed chip set (code 0xF0, or a chip set with
// no simple-I/O port) and pins past the set's count are not in the table: 7.
// Without the simple-I/O block (nothing answered at initialisation): 10.
uint32_t Lookup(const DeviceContext& ctx, int32_t set, int32_t pin, int* entry) {
    const Sio2Area& a = AreaOf<Sio2Area>(ctx);
    if (a.gpioDataBase == NO_BASE) return VEK_ERR_UNSUPPORTED;
    if (pin < 1 || pin > 8) return VEK_ERR_ARGUMENT;
    const int i = (set == 1 ? 0 : 8) + pin - 1;
    if (a.direction[i] == 0) return VEK_ERR_ARGUMENT;
    *entry = i;
    return VEK_OK;
}

uint32_t SetPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t direction) {
    int i = 0;
    if (uint32_t r = Lookup(ctx, set, pin, &i)) return r;
    const Sio2Area& a = Area(ctx);
    GpioScope gpio;
    const uint8_t r = Read(a.direction[i]);
    Write(a.direction[i], direction ? uint8_t(r & ~a.mask[i]) : uint8_t(r | a.mask[i]));
    return VEK_OK;
}

uint32_t ReadPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* direction) {
    int i = 0;
    if (uint32_t r = Lookup(ctx, set, pin, &i)) return r;
    const Sio2Area& a = Area(ctx);
    GpioScope gpio;
    *direction = (Read(a.direction[i]) & a.mask[i]) ? 0 : 1;
    return VEK_OK;
}

uint32_t ReadPin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* value) {
    int i = 0;
    if (uint32_t r = Lookup(ctx, set, pin, &i)) return r;
    const Sio2Area& a = Area(ctx);
    GpioScope gpio;
    *value = (PortRead(uint16_t(a.gpioDataBase + a.dataOffset[i])) & a.mask[i]) ? 1 : 0;
    return VEK_OK;
}

uint32_t WritePin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t value) {
    int i = 0;
    if (uint32_t r = Lookup(ctx, set, pin, &i)) return r;
    const Sio2Area& a = Area(ctx);
    GpioScope gpio;
    const uint16_t port = uint16_t(a.gpioDataBase + a.dataOffset[i]);
    const uint8_t r = PortRead(port);
    PortWrite(port, value ? uint8_t(r | a.mask[i]) : uint8_t(r & ~a.mask[i]));
    return VEK_OK;
}

// Group operations visit the set's eight entries but skip those without a
// pin: their bit reads 0 and is ignored on writes.
template <class PinOp>
uint32_t ForEachPin(DeviceContext& ctx, int32_t set, PinOp op) {
    for (int32_t p = 1; p <= 8; ++p) {
        int i = 0;
        const uint32_t found = Lookup(ctx, set, p, &i);
        if (found == VEK_ERR_ARGUMENT) continue;
        if (found != VEK_OK) return found;
        if (uint32_t r = op(p)) return r;
    }
    return VEK_OK;
}

uint32_t SetDirection(DeviceContext& ctx, int32_t set, uint8_t mask) {
    return ForEachPin(ctx, set,
                      [&](int32_t p) { return SetPinDirection(ctx, set, p, uint8_t(mask & (1u << (p - 1)))); });
}

uint32_t ReadDirection(DeviceContext& ctx, int32_t set, uint8_t* mask) {
    uint8_t m = 0;
    const uint32_t r = ForEachPin(ctx, set, [&](int32_t p) {
        uint8_t d = 0;
        const uint32_t rc = ReadPinDirection(ctx, set, p, &d);
        if (d) m |= uint8_t(1u << (p - 1));
        return rc;
    });
    if (r == VEK_OK) *mask = m;
    return r;
}

uint32_t ReadSet(DeviceContext& ctx, int32_t set, uint8_t* value) {
    uint8_t v = 0;
    const uint32_t r = ForEachPin(ctx, set, [&](int32_t p) {
        uint8_t level = 0;
        const uint32_t rc = ReadPin(ctx, set, p, &level);
        if (level) v |= uint8_t(1u << (p - 1));
        return rc;
    });
    if (r == VEK_OK) *value = v;
    return r;
}

uint32_t WriteSet(DeviceContext& ctx, int32_t set, uint8_t value) {
    return ForEachPin(ctx, set, [&](int32_t p) { return WritePin(ctx, set, p, uint8_t((value >> (p - 1)) & 1)); });
}

// ---------------------------------------------------------------- watchdog

uint32_t WdtTrigger(DeviceContext& ctx) {
    GpioScope wdt; // the watchdog shares logical device 7
    Write(WDT_CONTROL, ctx.wdtSio12.unit == 0 ? uint8_t(WDT_CONTROL_BASE | WDT_UNIT_SECONDS)
                                              : uint8_t(WDT_CONTROL_BASE & ~WDT_UNIT_SECONDS));
    Write(WDT_COUNT, ctx.wdtSio12.count);
    return VEK_OK;
}

// The count register holds the running timeout (0 = stopped); the control
// register's unit bit is set for seconds.
uint32_t WdtReadChip(DeviceContext&, uint32_t* unit, uint8_t* count) {
    GpioScope wdt;
    const uint8_t control = Read(WDT_CONTROL);
    const uint8_t c = Read(WDT_COUNT);
    if (c == 0) return VEK_ERR_STATE;
    *unit = (control & WDT_UNIT_SECONDS) ? 0 : 1;
    *count = c;
    return VEK_OK;
}

uint32_t WdtDisable(DeviceContext&) {
    GpioScope wdt;
    Write(WDT_COUNT, 0);
    return VEK_OK;
}

// ---------------------------------------------------------------- temperatures

constexpr uint8_t kServedHere = 1;

bool NoMonitor(const DeviceContext& ctx) { return AreaOf<Sio2Area>(ctx).envBase == NO_BASE; }

// A temperature register, or the hwmon driver's reading of it while the
// driver holds the block.
uint32_t ReadTemperature(const DeviceContext& ctx, uint8_t reg, double* value) {
    if (superio::MonitorHeldByKernel(ctx))
        return superio::HeldReading(ctx, VEK_HOST_HWMON_TEMPERATURE, 0, reg, value);
    *value = EnvRead(ctx, reg);
    return VEK_OK;
}

uint32_t CpuTemperature(DeviceContext& ctx, double* value) {
    const Sio2Area& a = Area(ctx);
    if (a.cpuTempSource != kServedHere || NoMonitor(ctx)) return VEK_ERR_UNSUPPORTED;
    return ReadTemperature(ctx, a.cpuTempRegister, value);
}

uint32_t Temperature(DeviceContext& ctx, uint32_t index, double* value) {
    const Sio2Area& a = Area(ctx);
    if (a.tempEnable != kServedHere) return VEK_ERR_UNSUPPORTED;
    if (index > 5) return VEK_ERR_ARGUMENT;
    if (index > 2 || a.sysTemp[index] == REG_NONE || NoMonitor(ctx)) return VEK_ERR_UNSUPPORTED;
    return ReadTemperature(ctx, a.sysTemp[index], value);
}

// ---------------------------------------------------------------- voltages

constexpr uint32_t kLastVoltageIndex = 17;
constexpr double kNarrowAdcLimit = 3.3;
constexpr uint32_t kBoardDividedChannel2 = 53; // wide ADC, yet its channel 2 is divided

uint32_t Voltage(DeviceContext& ctx, uint32_t channel, double* value) {
    if (channel > kLastVoltageIndex) return VEK_ERR_ARGUMENT;
    if (channel >= VOLTAGE_CHANNELS) return VEK_ERR_UNSUPPORTED;
    const Sio2Area& a = Area(ctx);
    const uint8_t reg = a.voltageRegister[channel];
    if (reg == 0 || NoMonitor(ctx)) return VEK_ERR_UNSUPPORTED;
    double raw = 0;
    if (!superio::MonitorHeldByKernel(ctx)) {
        raw = EnvRead(ctx, reg);
    } else if (uint32_t r = superio::HeldReading(ctx, VEK_HOST_HWMON_VOLTAGE, 0, reg, &raw)) {
        return r;
    }
    switch (channel) {
    case 0: case 1:
        *value = raw * a.voltageLsb;
        break;
    case 2: {
        const bool divided = a.adcFullScale <= kNarrowAdcLimit || ctx.boardId == kBoardDividedChannel2;
        *value = raw / 255.0 * a.adcFullScale * (divided ? a.divider[2].Scale() : 1.0);
        break;
    }
    case 6:
        *value = raw * 2 * a.voltageLsb;
        break;
    default:
        *value = raw * a.divider[channel].Scale() * a.voltageLsb;
        break;
    }
    return VEK_OK;
}

// ---------------------------------------------------------------- fans

constexpr uint32_t kLastFan = 8;
constexpr uint32_t kTachFactor = 1'360'000;
constexpr uint32_t kCountZeroRpm = 0xFFFFFFFF;

uint32_t FanSpeed(DeviceContext& ctx, uint32_t fan, uint32_t* rpm) {
    if (fan > kLastFan) return VEK_ERR_ARGUMENT;
    if (fan > 2) return VEK_ERR_UNSUPPORTED;
    const Sio2Area& a = Area(ctx);
    if (!a.fanPresent[fan]) return VEK_ERR_UNSUPPORTED;
    // A third fan has no tachometer registers on this chip.
    if (fan == 2 || NoMonitor(ctx)) return VEK_ERR_UNSUPPORTED;
    if (superio::MonitorHeldByKernel(ctx)) return superio::HeldFanRpm(ctx, 0, a.fanCountLow[fan], rpm);
    const uint8_t hi = EnvRead(ctx, a.fanCountHigh[fan]);
    if (hi == 0xFF) {
        *rpm = 0;
        return VEK_OK;
    }
    const uint32_t count = (uint32_t(hi) << 8) | EnvRead(ctx, a.fanCountLow[fan]);
    *rpm = count == 0 ? kCountZeroRpm : kTachFactor / (count * 2);
    return VEK_OK;
}

uint32_t SetFanSpeed(DeviceContext& ctx, uint32_t fan, int32_t percent) {
    if (fan > kLastFan || fan == 2) return VEK_ERR_ARGUMENT;
    if (fan > 2) return VEK_ERR_UNSUPPORTED;
    if (percent < 0 || percent > 100) return VEK_ERR_ARGUMENT;
    const Sio2Area& a = Area(ctx);
    // Fan 0 has no duty register on any board; a fan that is not fitted has
    // nothing to drive. Neither claims a duty it did not set.
    if (fan == 0 || !a.fanPresent[fan] || NoMonitor(ctx)) return VEK_ERR_UNSUPPORTED;
    const uint8_t duty = uint8_t(percent * 255 / 100); // truncated
    const uint8_t control = a.fan1KeepControl == 1 ? EnvRead(ctx, ENV_FAN_CONTROL) : 0;
    EnvWrite(ctx, ENV_FAN_CONTROL, uint8_t(control | FAN1_PWM_ON));
    EnvWrite(ctx, ENV_FAN1_AUTO, uint8_t(EnvRead(ctx, ENV_FAN1_AUTO) & ~FAN1_AUTO_BIT));
    EnvWrite(ctx, ENV_FAN1_PWM_MODE, 0x00);
    EnvWrite(ctx, ENV_FAN1_DUTY, duty);
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
        return o;
    }();
    return ops;
}

} // namespace vek::sio2
