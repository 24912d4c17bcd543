// EC hardware monitor and fan control of ChipKind 3/11: temperatures, voltages,
// currents, fan tachometers, fixed duty and the smart-fan curve of each fan.
// Every routine runs with ApiLock held; the read-modify-write of the fan
// control registers relies on it.
#include "backends/ec/monitor.h"

#include <cstddef>
#include <iterator>

#include "platform/process.h"
#include "backends/ec/ec.h"
#include "backends/ec/ops.h"
#include "hal/hal.h"
#include "vek/vek.h"

namespace vek::ec {

// ---- thermistor ----

namespace {

constexpr double kThermistorReferenceVolts = 0.6;  // full-scale reading of the tap
constexpr double kThermistorPullupKohm = 10.0;
constexpr int kThermistorFirstCelsius = 15;
constexpr double kThermistorBand = 0.4;             // degrees either side of a row's temperature

struct ThermistorRow {
    double upper, nominal, lower; // kΩ
};
// Row i is i + 15 °C.
constexpr ThermistorRow kThermistor[] = {
    {15.04, 14.83, 14.62}, {14.44, 14.24, 14.05}, {13.86, 13.68, 13.5},   {13.31, 13.14, 12.97},
    {12.79, 12.63, 12.47}, {12.29, 12.14, 11.99}, {11.81, 11.68, 11.54},  {11.35, 11.23, 11.1},
    {10.92, 10.8, 10.68},  {10.5, 10.39, 10.28},  {10.1, 10.0, 9.9},      {9.725, 9.625, 9.525},
    {9.367, 9.267, 9.167}, {9.024, 8.924, 8.825}, {8.696, 8.597, 8.497},  {8.381, 8.283, 8.184},
    {8.08, 7.982, 7.884},  {7.791, 7.693, 7.596}, {7.514, 7.417, 7.321},  {7.249, 7.153, 7.057},
    {6.994, 6.899, 6.805}, {6.75, 6.656, 6.563},  {6.517, 6.424, 6.331},  {6.292, 6.2, 6.108},
    {6.077, 5.986, 5.895}, {5.87, 5.781, 5.691},  {5.672, 5.583, 5.494},  {5.48, 5.393, 5.306},
    {5.297, 5.211, 5.124}, {5.121, 5.035, 4.951}, {4.952, 4.867, 4.784},  {4.789, 4.706, 4.623},
    {4.632, 4.551, 4.469}, {4.482, 4.401, 4.321}, {4.338, 4.258, 4.179},  {4.198, 4.12, 4.042},
    {4.065, 3.987, 3.911}, {3.936, 3.86, 3.784},  {3.812, 3.737, 3.663},  {3.692, 3.619, 3.546},
    {3.577, 3.505, 3.433}, {3.466, 3.395, 3.325}, {3.36, 3.29, 3.22},     {3.257, 3.188, 3.12},
    {3.158, 3.09, 3.023},  {3.062, 2.996, 2.93},  {2.97, 2.904, 2.839},   {2.88, 2.816, 2.752},
    {2.794, 2.731, 2.668}, {2.711, 2.649, 2.587}, {2.631, 2.57, 2.509},   {2.554, 2.493, 2.434},
    {2.479, 2.42, 2.361},  {2.407, 2.349, 2.291}, {2.337, 2.28, 2.224},   {2.27, 2.214, 2.159},
    {2.205, 2.15, 2.096},  {2.143, 2.089, 2.035}, {2.082, 2.029, 1.976},  {2.024, 1.971, 1.92},
    {1.967, 1.916, 1.865}, {1.913, 1.862, 1.812}, {1.86, 1.81, 1.761},    {1.809, 1.76, 1.712},
    {1.759, 1.711, 1.664}, {1.712, 1.665, 1.618}, {1.665, 1.619, 1.573},  {1.62, 1.575, 1.53},
    {1.577, 1.532, 1.488}, {1.535, 1.491, 1.448}, {1.494, 1.451, 1.409},  {1.455, 1.413, 1.371},
    {1.417, 1.375, 1.334}, {1.38, 1.339, 1.299},  {1.344, 1.304, 1.265},  {1.31, 1.271, 1.232},
    {1.276, 1.238, 1.199}, {1.244, 1.206, 1.168}, {1.212, 1.175, 1.138},  {1.182, 1.145, 1.109},
};
static_assert(std::size(kThermistor) == 80);

} // namespace

double ThermistorResistanceKohm(uint32_t adc) {
    // The reading scales the tap to the full-scale count, so counts above 1023
    // are colder than the table's first row and still on the divider's curve.
    // At the count where the tap reaches the pull-up side (1705) the divider
    // has its pole: there and above (an open thermistor, a floating bus) the
    // reading is held just below it so the value stays finite.
    constexpr uint32_t kLastBelowPole = 1704;
    static_assert(kLastBelowPole / EC_ADC_FULL_SCALE * kThermistorReferenceVolts < 1 &&
                  (kLastBelowPole + 1) / EC_ADC_FULL_SCALE * kThermistorReferenceVolts >= 1);
    if (adc > kLastBelowPole) adc = kLastBelowPole;
    const double v = adc / EC_ADC_FULL_SCALE * kThermistorReferenceVolts;
    return kThermistorPullupKohm * v / (1 - v);
}

double ThermistorCelsius(double r) {
    constexpr size_t last = std::size(kThermistor) - 1;
    size_t i = 0;
    while (i < last && !(kThermistor[i].lower < r)) ++i;
    const ThermistorRow& row = kThermistor[i];
    // Hotter than the last row: hold at the edge of its band instead of
    // extrapolating its line towards r = 0.
    if (i == last && !(row.lower < r)) r = row.lower;
    const double t = double(i) + kThermistorFirstCelsius;
    if (r > row.nominal) return t + kThermistorBand * (row.upper - r) / (row.upper - row.nominal);
    return t - kThermistorBand * (row.nominal - r) / (row.nominal - row.lower);
}

// ---- currents and tachometers ----

namespace {
constexpr uint16_t CURRENT_SIGN = 0x8000;
constexpr double kAmperesPerCount = 0.001;
constexpr uint32_t kTachPeriodCountsPerMinute = 245760;
} // namespace

double CurrentAmperes(uint8_t high, uint8_t low) {
    const uint16_t raw = uint16_t(high << 8 | low);
    const double magnitude = (raw & ~CURRENT_SIGN) * kAmperesPerCount;
    return (raw & CURRENT_SIGN) ? -magnitude : magnitude;
}

uint32_t RpmFromPeriod(uint8_t period) {
    // 0 is a stopped counter and 0xFF an overflowed one: both mean no rotation.
    if (period == 0 || period == 0xFF) return 0;
    return kTachPeriodCountsPerMinute / period;
}

namespace {

// ---- register access by path ----

bool Indirect(const DeviceContext& ctx) { return (Area(ctx).flags & EC_INDIRECT) != 0; }

uint8_t ReadMemory(Slot slot) { return EcMemoryRead(uint16_t(slot)); }

uint16_t Word(uint8_t high, uint8_t low) { return uint16_t(high << 8 | low); }

// A 16-bit reading, high byte read first.
uint16_t ReadRegisterPair(const DeviceContext& ctx, Slot high, Slot low) {
    const uint8_t h = ReadEcRegister(ctx, high);
    return Word(h, ReadEcRegister(ctx, low));
}
uint16_t ReadMemoryPair(Slot high, Slot low) {
    const uint8_t h = ReadMemory(high);
    return Word(h, ReadMemory(low));
}

// ---- CPU and board temperatures ----

uint32_t ReadCpuTemperature(DeviceContext& ctx, double* value) {
    const Slot slot = Area(ctx).cpuTemp;
    uint8_t raw;
    if (Indirect(ctx)) {
        if (slot == 0) return VEK_ERR_UNSUPPORTED; // EC memory address 0 is no sensor
        raw = ReadMemory(slot);
    } else {
        if (slot == SLOT_ABSENT) return VEK_ERR_UNSUPPORTED;
        raw = ReadEcRegister(ctx, slot);
    }
    *value = raw;
    return VEK_OK;
}

constexpr uint32_t SENSOR_SYSTEM = 0;
constexpr uint32_t SENSOR_1 = 1;
constexpr uint32_t SENSOR_6 = 6;

// A byte sensor reads 0 only when nothing is connected.
uint32_t ByteSensor(const DeviceContext& ctx, Slot slot, int32_t offset, double* value) {
    if (slot == SLOT_ABSENT) return VEK_ERR_UNSUPPORTED;
    const double t = double(ReadEcRegister(ctx, slot)) + offset;
    if (t == 0.0) return VEK_ERR_UNSUPPORTED;
    *value = t;
    return VEK_OK;
}

uint32_t ReadTemperature(DeviceContext& ctx, uint32_t sensor, double* value) {
    const EcArea& a = Area(ctx);
    switch (sensor) {
    case SENSOR_SYSTEM:
        if (Indirect(ctx)) {
            const uint32_t adc = ReadMemoryPair(a.sysTempMain, a.sysTempLow);
            *value = ThermistorCelsius(ThermistorResistanceKohm(adc));
            return VEK_OK;
        }
        return ByteSensor(ctx, a.sysTempMain, a.sysTempOffset, value);
    case SENSOR_1: return ByteSensor(ctx, a.temp1, 0, value);
    case SENSOR_6: return ByteSensor(ctx, a.temp6, a.temp6Offset, value);
    default: return VEK_ERR_UNSUPPORTED;
    }
}

// ---- voltages ----

// How a channel is reached when the board uses the indirect path.
enum class OnIndirect : uint8_t {
    Registers, // still through the register pair
    Memory,    // through EC memory, and scaled by the divider
    Absent,
};

enum class Scale : uint8_t {
    Adc,         // raw / 1023 × 3.0
    AdcDivided,  // raw / 1023 × 3.0 × (upper + lower) / lower
    AdcDividedOnMemory, // divided only when read through EC memory
    Millivolts125,      // raw × 1.25 mV
};

struct VoltageChannel {
    Slot VoltageSlots::*low;
    Slot VoltageSlots::*high; // null: the channel has one slot, its high byte is the next register
    Divider Dividers::*divider;
    Scale scale;
    OnIndirect indirect;
};

constexpr uint32_t VOLTAGE_CHANNELS = 18;
constexpr uint32_t VOLTAGE_CORE = 0;
constexpr uint32_t VOLTAGE_TRIGGERED = 6;
constexpr VoltageChannel kNoChannel{};
constexpr double kVoltsPerCount11 = 0.00125; // channel 11 reports millivolts / 1.25

using VS = VoltageSlots;
using DV = Dividers;
// Channels 0..17; a channel without low slot has no input on any board.
constexpr VoltageChannel kVoltage[VOLTAGE_CHANNELS] = {
    /* 0 */ {&VS::ch0Low, &VS::ch0High, nullptr, Scale::Adc, OnIndirect::Registers},
    /* 1 */ {&VS::ch1Low, &VS::ch1High, &DV::ch1, Scale::AdcDividedOnMemory, OnIndirect::Memory},
    /* 2 */ {&VS::ch2Low, &VS::ch2High, &DV::ch2, Scale::AdcDivided, OnIndirect::Absent},
    /* 3 */ {&VS::ch3Low, &VS::ch3High, &DV::ch3, Scale::AdcDivided, OnIndirect::Memory},
    /* 4 */ {&VS::ch4Low, &VS::ch4High, &DV::ch4, Scale::AdcDivided, OnIndirect::Memory},
    /* 5 */ {&VS::ch5, nullptr, &DV::ch5, Scale::AdcDivided, OnIndirect::Registers},
    /* 6 */ {&VS::ch6Low, &VS::ch6High, &DV::ch6, Scale::AdcDivided, OnIndirect::Registers},
    /* 7 */ kNoChannel,
    /* 8 */ kNoChannel,
    /* 9 */ {&VS::ch9, nullptr, &DV::ch9, Scale::AdcDivided, OnIndirect::Registers},
    /* 10 */ {&VS::ch10, nullptr, &DV::ch10, Scale::AdcDivided, OnIndirect::Registers},
    /* 11 */ {&VS::ch11, nullptr, nullptr, Scale::Millivolts125, OnIndirect::Registers},
    /* 12 */ kNoChannel,
    /* 13 */ {&VS::ch13Low, &VS::ch13High, &DV::ch13, Scale::AdcDivided, OnIndirect::Registers},
    /* 14 */ kNoChannel,
    /* 15 */ kNoChannel,
    /* 16 */ kNoChannel,
    /* 17 */ kNoChannel,
};

// On boards whose channel 0 is the processor core voltage, the chipset
// backend reads it from the processor.
uint32_t ProcessorCoreVoltage(DeviceContext& ctx, double* value) {
    const BackendOps* chipset = BackendFor(KIND_CHIPSET);
    if (chipset == nullptr || chipset->voltage == nullptr) return VEK_ERR_UNSUPPORTED;
    return chipset->voltage(ctx, VOLTAGE_CORE, value);
}

// Channel 6 converts on demand: the trigger register starts a conversion and
// the pair reads zero until it completes.
constexpr uint8_t VOLTAGE_TRIGGER_START = 8;
constexpr uint8_t VOLTAGE_TRIGGER_IDLE = 0;
constexpr int kTriggeredConversionPolls = 32768;

uint16_t ReadTriggered(const DeviceContext& ctx, Slot low, Slot high) {
    const Slot trigger = Area(ctx).voltage.ch6Trigger;
    const bool triggered = trigger != SLOT_ABSENT;
    if (triggered) WriteEcRegister(ctx, trigger, VOLTAGE_TRIGGER_START);
    uint8_t h = 0, l = 0;
    for (int polls = triggered ? kTriggeredConversionPolls : 1; polls > 0; --polls) {
        hal::Delay(*IoDelayOf(KIND_EC));
        h = ReadEcRegister(ctx, high);
        l = ReadEcRegister(ctx, low);
        if (h != 0 || l != 0) break;
    }
    if (triggered) WriteEcRegister(ctx, trigger, VOLTAGE_TRIGGER_IDLE);
    return Word(h, l);
}

uint32_t ReadVoltage(DeviceContext& ctx, uint32_t index, double* value) {
    if (index >= VOLTAGE_CHANNELS) return VEK_ERR_ARGUMENT;
    const EcArea& a = Area(ctx);
    if (index == VOLTAGE_CORE && (a.flags & EC_VOLTAGE0_EXTERNAL)) return ProcessorCoreVoltage(ctx, value);

    const VoltageChannel& ch = kVoltage[index];
    if (ch.low == nullptr) return VEK_ERR_UNSUPPORTED;
    const bool memory = Indirect(ctx) && ch.indirect == OnIndirect::Memory;
    if (Indirect(ctx) && ch.indirect == OnIndirect::Absent) return VEK_ERR_UNSUPPORTED;

    const Slot low = a.voltage.*ch.low;
    const Slot high = ch.high ? a.voltage.*ch.high : (low + 1) & 0xFF;
    if (low == SLOT_ABSENT || high == SLOT_ABSENT) return VEK_ERR_UNSUPPORTED;

    uint16_t raw;
    if (index == VOLTAGE_TRIGGERED) raw = ReadTriggered(ctx, low, high);
    else if (memory) raw = ReadMemoryPair(high, low);
    else raw = ReadRegisterPair(ctx, high, low);

    double volts;
    if (ch.scale == Scale::Millivolts125) {
        volts = raw * kVoltsPerCount11;
    } else {
        volts = raw / EC_ADC_FULL_SCALE * EC_ADC_VOLTS;
        const bool divided = ch.scale == Scale::AdcDivided || (ch.scale == Scale::AdcDividedOnMemory && memory);
        // A row without resistor values reads the pin directly rather than dividing by zero.
        if (divided) {
            const Divider& d = a.dividers.*ch.divider;
            if (d.lower > 0) volts *= (d.upper + d.lower) / d.lower;
        }
    }
    *value = volts;
    return VEK_OK;
}

// ---- currents ----

// The pair is read as the EC reports it: sign in bit 15, magnitude in
// milliamperes (see CurrentAmperes).
uint32_t ReadCurrent(DeviceContext& ctx, uint32_t index, double* value) {
    if (index > 1) return VEK_ERR_ARGUMENT;
    const EcArea& a = Area(ctx);
    const Slot low = index == 0 ? a.current0Low : a.current1Low;
    const Slot high = index == 0 ? a.current0High : a.current1High;
    if (low == SLOT_ABSENT || high == SLOT_ABSENT) return VEK_ERR_UNSUPPORTED;
    const uint8_t h = ReadEcRegister(ctx, high);
    const uint8_t l = ReadEcRegister(ctx, low);
    *value = CurrentAmperes(h, l);
    return VEK_OK;
}

// ---- fans ----

constexpr uint32_t TACH_SPEED16 = 0;  // high/low bytes hold the rpm
constexpr uint32_t TACH_PERIOD8 = 1;  // high byte holds the period
// A row naming a tachometer mode this code does not know answers 1.
constexpr uint32_t RESULT_UNKNOWN_TACH_MODE = VEK_ERR_DRIVER_NOT_STARTED;

// Smart-fan control register: bits 0..2 the mode, bits 3..7 belong to the EC.
constexpr uint8_t FAN_MODE_MASK = 0x07;
constexpr uint8_t FAN_MODE_CURVE = 0x01;
constexpr uint8_t FAN_MODE_FIXED = 0x07;
// Parameters: 1 lower curve temperature (or the fixed duty), 2 upper curve
// temperature, 3 a third curve value, 4 the duty at the lower temperature.
constexpr int PARAM_LOW_TEMP = 0, PARAM_HIGH_TEMP = 1, PARAM_THIRD = 2, PARAM_LOW_DUTY = 3;
constexpr uint8_t kDefaultLowTemp = 30;
constexpr uint8_t kDefaultHighTemp = 80;
constexpr uint32_t USER_LOW_TEMP = 0x01;
constexpr uint32_t USER_HIGH_TEMP = 0x02;

bool FanInRange(uint32_t fan) { return fan < uint32_t(EC_FANS); }

uint32_t ReadFanSpeed(DeviceContext& ctx, uint32_t fan, uint32_t* rpm) {
    if (!FanInRange(fan)) return VEK_ERR_ARGUMENT;
    const EcArea& a = Area(ctx);
    if (Indirect(ctx) || a.fanTachHigh[fan] == SLOT_ABSENT) return VEK_ERR_UNSUPPORTED;
    switch (a.fanTachMode[fan]) {
    case TACH_SPEED16: *rpm = ReadRegisterPair(ctx, a.fanTachHigh[fan], a.fanTachLow[fan]); return VEK_OK;
    case TACH_PERIOD8: *rpm = RpmFromPeriod(ReadEcRegister(ctx, a.fanTachHigh[fan])); return VEK_OK;
    default: return RESULT_UNKNOWN_TACH_MODE;
    }
}

uint32_t SetFanDuty(DeviceContext& ctx, uint32_t fan, int32_t duty) {
    if (!FanInRange(fan)) return VEK_ERR_ARGUMENT;
    EcArea& a = Area(ctx);
    const Slot control = a.smartFanControl[fan];
    if (a.fanTachHigh[fan] == SLOT_ABSENT || control == SLOT_ABSENT) return VEK_ERR_UNSUPPORTED;
    WriteEcRegister(ctx, control, ReadEcRegister(ctx, control) | FAN_MODE_FIXED);
    WriteEcRegister(ctx, a.smartFanParam[PARAM_LOW_TEMP][fan], uint8_t(duty));
    a.smartFanUserFlags[fan] &= ~USER_LOW_TEMP; // the duty took the lower temperature's register
    return VEK_OK;
}

// Checks shared by the smart-fan routines.
uint32_t CheckSmartFan(const DeviceContext& ctx, uint32_t fan) {
    if (ctx.caps[CAP_EC_SMARTFAN] == 0) return VEK_ERR_UNSUPPORTED;
    if (!FanInRange(fan)) return VEK_ERR_ARGUMENT;
    if (Area(ctx).smartFanControl[fan] == SLOT_ABSENT) return VEK_ERR_UNSUPPORTED;
    return VEK_OK;
}

struct SmartFanState {
    uint32_t mode; // 1 curve, 0 anything else
    uint32_t param[4];
};

SmartFanState ReadSmartFan(const DeviceContext& ctx, uint32_t fan) {
    const EcArea& a = Area(ctx);
    SmartFanState s{};
    s.mode = (ReadEcRegister(ctx, a.smartFanControl[fan]) & FAN_MODE_MASK) == FAN_MODE_CURVE ? 1 : 0;
    for (int p = 0; p < 4; ++p) {
        // Fans without a fourth register report 0 rather than whatever 0xFF holds.
        if (a.smartFanParam[p][fan] == SLOT_ABSENT) continue;
        s.param[p] = ReadEcRegister(ctx, a.smartFanParam[p][fan]);
    }
    return s;
}

uint32_t SetSmartFanCurve(DeviceContext& ctx, uint32_t fan, uint8_t lowTemp, uint8_t highTemp, int32_t third,
                          int32_t lowDuty) {
    if (uint32_t r = CheckSmartFan(ctx, fan)) return r;
    EcArea& a = Area(ctx);
    const Slot control = a.smartFanControl[fan];
    WriteEcRegister(ctx, control, (ReadEcRegister(ctx, control) & ~FAN_MODE_MASK) | FAN_MODE_CURVE);
    WriteEcRegister(ctx, a.smartFanParam[PARAM_LOW_TEMP][fan], lowTemp);
    WriteEcRegister(ctx, a.smartFanParam[PARAM_HIGH_TEMP][fan], highTemp);
    if (third >= 0) WriteEcRegister(ctx, a.smartFanParam[PARAM_THIRD][fan], uint32_t(third));
    if (lowDuty >= 0 && a.smartFanParam[PARAM_LOW_DUTY][fan] != SLOT_ABSENT)
        WriteEcRegister(ctx, a.smartFanParam[PARAM_LOW_DUTY][fan], uint32_t(lowDuty));
    a.smartFanUserFlags[fan] = USER_LOW_TEMP | USER_HIGH_TEMP;
    return VEK_OK;
}

// Back to the curve; a temperature the caller never set (or that a fixed duty
// overwrote) is restored to its default first.
uint32_t EnableSmartFan(DeviceContext& ctx, uint32_t fan) {
    if (uint32_t r = CheckSmartFan(ctx, fan)) return r;
    const EcArea& a = Area(ctx);
    const Slot control = a.smartFanControl[fan];
    const uint32_t kept = ReadEcRegister(ctx, control) & ~FAN_MODE_MASK;
    if (!(a.smartFanUserFlags[fan] & USER_LOW_TEMP))
        WriteEcRegister(ctx, a.smartFanParam[PARAM_LOW_TEMP][fan], kDefaultLowTemp);
    if (!(a.smartFanUserFlags[fan] & USER_HIGH_TEMP))
        WriteEcRegister(ctx, a.smartFanParam[PARAM_HIGH_TEMP][fan], kDefaultHighTemp);
    WriteEcRegister(ctx, control, kept | FAN_MODE_CURVE);
    return VEK_OK;
}

uint32_t DisableSmartFan(DeviceContext& ctx, uint32_t fan) {
    if (uint32_t r = CheckSmartFan(ctx, fan)) return r;
    const Slot control = Area(ctx).smartFanControl[fan];
    WriteEcRegister(ctx, control, ReadEcRegister(ctx, control) & ~FAN_MODE_MASK);
    return VEK_OK;
}

// VEK_HWM_GetSmartfan: a = mode, b = the two curve temperatures, c = the duty
// at the lower one (the frame adds the fixed 100 at the upper), d = the third value.
uint32_t GetSmartfan(DeviceContext& ctx, uint32_t fan, uint32_t* a, uint32_t* b, uint32_t* c, uint32_t* d) {
    if (uint32_t r = CheckSmartFan(ctx, fan)) return r;
    const SmartFanState s = ReadSmartFan(ctx, fan);
    a[0] = s.mode;
    b[0] = s.param[PARAM_LOW_TEMP];
    b[1] = s.param[PARAM_HIGH_TEMP];
    c[0] = s.param[PARAM_LOW_DUTY];
    d[0] = s.param[PARAM_THIRD];
    return VEK_OK;
}

// VEK_HWM_SetSmartfan: a = the two temperatures, b = the two duties (the frame
// has checked the upper one is 100), c = the third value; mode is not used.
uint32_t SetSmartfan(DeviceContext& ctx, uint32_t fan, int32_t, uint8_t* a, int32_t* b, int32_t c) {
    return SetSmartFanCurve(ctx, fan, a[0], a[1], c, b[0]);
}

// ---- fan 0 through the VEK_EC_SMF exports ----

constexpr uint32_t SMF_FAN = 0;

uint32_t SmfGetConfig(DeviceContext& ctx, uint32_t* mode, uint32_t* lowTemp, uint32_t* highTemp, uint32_t* third) {
    if (uint32_t r = CheckSmartFan(ctx, SMF_FAN)) return r;
    const SmartFanState s = ReadSmartFan(ctx, SMF_FAN);
    *mode = s.mode;
    *lowTemp = s.param[PARAM_LOW_TEMP];
    *highTemp = s.param[PARAM_HIGH_TEMP];
    *third = s.param[PARAM_THIRD];
    return VEK_OK;
}

uint32_t SmfConfig(DeviceContext& ctx, uint32_t lowTemp, uint32_t highTemp, int32_t third) {
    return SetSmartFanCurve(ctx, SMF_FAN, uint8_t(lowTemp), uint8_t(highTemp), third, -1);
}

uint32_t SmfEnable(DeviceContext& ctx) { return EnableSmartFan(ctx, SMF_FAN); }
uint32_t SmfDisable(DeviceContext& ctx) { return DisableSmartFan(ctx, SMF_FAN); }

} // namespace

void FillMonitorOps(BackendOps& ops) {
    ops.temperature = &ReadTemperature;
    ops.cpuTemperature = &ReadCpuTemperature;
    ops.voltage = &ReadVoltage;
    ops.current = &ReadCurrent;
    ops.fanSpeed = &ReadFanSpeed;
    ops.setFanSpeed = &SetFanDuty;
    ops.getSmartfan = &GetSmartfan;
    ops.setSmartfan = &SetSmartfan;
    ops.smartfanEnable = &EnableSmartFan;
    ops.smartfanDisable = &DisableSmartFan;
}

void FillMonitorBoardOps(EcBoardOps& ops) {
    ops.smfGetConfig = &SmfGetConfig;
    ops.smfConfig = &SmfConfig;
    ops.smfEnable = &SmfEnable;
    ops.smfDisable = &SmfDisable;
}

} // namespace vek::ec
