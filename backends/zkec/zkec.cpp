#include "backends/zkec/zkec.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <iterator>

#include "hal/hal.h"
#include "platform/context.h"
#include "vek/vek.h"

namespace vek::zkec {
namespace {

constexpr int32_t kIoDelayUs = 5;

constexpr RegisterMap kNoRegisters = {
    .enabled = 0,
    .voltage11 = {REG_ABSENT, REG_ABSENT},
    .voltage12 = {REG_ABSENT, REG_ABSENT},
    .voltage12Exponent = REG_ABSENT,
    .fan7 = {REG_ABSENT, REG_ABSENT},
    .fan8 = {REG_ABSENT, REG_ABSENT},
    .tempA = {REG_ABSENT, REG_ABSENT},
    .tempB = {REG_ABSENT, REG_ABSENT},
};

constexpr ZkecRow kRows[] = {
    // SBX-870, hardware revision A: the power-management controller beside the EC.
    {.boardId = 70, .subtype = 1,
     .map = {.enabled = 1,
             .voltage11 = {.low = 0x94, .high = 0x95},
             .voltage12 = {.low = 0x96, .high = 0x97},
             .voltage12Exponent = 0x98,
             .fan7 = {.low = 0x90, .high = 0x91},
             .fan8 = {.low = 0xA0, .high = 0xA1},
             .tempA = {.low = 0x92, .high = 0x93},
             .tempB = {.low = 0xA2, .high = 0xA3}}},
};
static_assert(std::size(kRows) == 1, "one board carries the controller");

// The families this chip may serve; everything else a context could offer is cleared.
constexpr Capability kClearedCaps[] = {
    CAP_API, CAP_GPIO, CAP_WDT, CAP_FAN, CAP_VOLTAGE, CAP_TEMPERATURE, CAP_CPU_TEMPERATURE,
    CAP_SMBUS, CAP_BACKLIGHT, CAP_EC_SMARTFAN, CAP_PLATFORM_VERSION_WMI,
};
constexpr Capability kServedCaps[] = {CAP_FAN, CAP_VOLTAGE, CAP_TEMPERATURE};

// Item numbers as the exports count them.
constexpr uint32_t kFan7 = 7, kFan8 = 8;
constexpr uint32_t kVoltage11 = 11, kVoltage12 = 12, kLastVoltage = 17;
constexpr uint32_t kSensorA = 4, kSensorB = 5, kSensorAAlias = 320, kSensorBAlias = 321, kLastPlainSensor = 3;

constexpr int kVersionBytes = 21; // "Rxx.Exx (mm/dd/20yy)" and the terminator

ZkecArea& Area(DeviceContext& ctx) { return AreaOf<ZkecArea>(ctx); }

const ZkecRow* FindRow(uint32_t boardId, uint32_t subtype) {
    for (const ZkecRow& row : kRows)
        if (row.boardId == boardId && row.subtype == subtype) return &row;
    return nullptr;
}

// One begin/end bracket of the driver. End follows every successful begin.
class Session {
public:
    Session() : result_(hal::ZkecBegin()) {}
    ~Session() {
        if (result_ == VEK_OK) hal::ZkecEnd();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    uint32_t result() const { return result_; }

private:
    uint32_t result_;
};

bool Absent(WordRegisters r) { return r.low == REG_ABSENT || r.high == REG_ABSENT; }

// A failed read leaves its byte 0: the reading is then taken as the controller
// having none, which the zero tests below report.
uint16_t ReadWord(WordRegisters r) {
    uint8_t high = 0, low = 0;
    hal::ZkecReadRegister(r.high, &high);
    hal::ZkecReadRegister(r.low, &low);
    return uint16_t((high << 8) | low);
}

// A fan or sensor word: 10 without registers, 17 when the controller reports 0
// (no reading).
uint32_t ReadReading(WordRegisters regs, uint16_t* raw) {
    if (Absent(regs)) return VEK_ERR_UNSUPPORTED;
    *raw = ReadWord(regs);
    return *raw == 0 ? VEK_ERR_DEVICE : VEK_OK;
}

// PMBus number formats. The exponent is five-bit two's complement; LINEAR11's
// mantissa is eleven-bit two's complement. Decoding both as signed (rather than
// as plain bit fields) keeps sub-zero temperatures negative and lets a
// controller report fractional speeds (negative exponent) without the product
// overflowing.
int Exponent5(uint32_t bits) { return (bits & 0x10) ? int(bits & 0x1F) - 32 : int(bits & 0x1F); }
int Mantissa11(uint16_t raw) { return (raw & 0x400) ? int(raw & 0x7FF) - 2048 : int(raw & 0x7FF); }
double Linear11(uint16_t raw) { return std::ldexp(double(Mantissa11(raw)), Exponent5(raw >> 11)); }
double Linear16(uint16_t raw, uint8_t mode) { return std::ldexp(double(raw), Exponent5(mode)); }
// Tachometer counts are magnitudes: the mantissa stays unsigned, fractions are dropped.
uint32_t Linear11Speed(uint16_t raw) {
    return uint32_t(std::ldexp(double(raw & 0x7FF), Exponent5(raw >> 11)));
}

void Configure(DeviceContext& ctx) {
    for (Capability c : kClearedCaps) ctx.caps[c] = 0;
    ctx.ioDelay = kIoDelayUs;
    ctx.gpioSets[0] = 0;
    ctx.gpioSets[1] = 0;
    ZkecArea& a = Area(ctx);
    a = ZkecArea{.map = kNoRegisters};

    const ZkecRow* row = FindRow(ctx.boardId, ctx.subtype);
    if (row == nullptr) return;
    for (Capability c : kServedCaps) ctx.caps[c] = 1;
    a.map = row->map;
    if (!hal::ZkecOpen()) {
        for (Capability c : kServedCaps) ctx.caps[c] = 0;
        a.map.enabled = 0;
    }
}

uint32_t FanSpeed(DeviceContext& ctx, uint32_t fan, uint32_t* rpm) {
    Session session;
    if (session.result() != VEK_OK) return session.result();
    const ZkecArea& a = Area(ctx);
    if (fan > kFan8) return VEK_ERR_ARGUMENT;
    if (fan < kFan7) return VEK_ERR_UNSUPPORTED;
    uint16_t raw = 0;
    if (uint32_t r = ReadReading(fan == kFan7 ? a.map.fan7 : a.map.fan8, &raw)) return r;
    *rpm = Linear11Speed(raw);
    return VEK_OK;
}

uint32_t Temperature(DeviceContext& ctx, uint32_t sensor, double* value) {
    Session session;
    if (session.result() != VEK_OK) return session.result();
    const ZkecArea& a = Area(ctx);
    WordRegisters regs;
    if (sensor == kSensorA || sensor == kSensorAAlias) regs = a.map.tempA;
    else if (sensor == kSensorB || sensor == kSensorBAlias) regs = a.map.tempB;
    else return sensor <= kLastPlainSensor ? VEK_ERR_UNSUPPORTED : VEK_ERR_ARGUMENT;
    uint16_t raw = 0;
    if (uint32_t r = ReadReading(regs, &raw)) return r;
    *value = Linear11(raw);
    return VEK_OK;
}

uint32_t Voltage(DeviceContext& ctx, uint32_t index, double* value) {
    Session session;
    if (session.result() != VEK_OK) return session.result();
    const ZkecArea& a = Area(ctx);
    if (index > kLastVoltage) return VEK_ERR_ARGUMENT;
    if (index != kVoltage11 && index != kVoltage12) return VEK_ERR_UNSUPPORTED;
    const WordRegisters regs = index == kVoltage11 ? a.map.voltage11 : a.map.voltage12;
    if (Absent(regs) || (index == kVoltage12 && a.map.voltage12Exponent == REG_ABSENT)) return VEK_ERR_UNSUPPORTED;
    const uint16_t raw = ReadWord(regs);
    if (index == kVoltage11) {
        *value = Linear11(raw);
        return VEK_OK;
    }
    uint8_t mode = 0;
    hal::ZkecReadRegister(a.map.voltage12Exponent, &mode);
    *value = Linear16(raw, mode);
    return VEK_OK;
}

// Called without ApiLock: the driver's begin/end pair is the only serialisation.
// The caller's buffer size is not passed; the text is always 20 characters.
uint32_t Version(DeviceContext&, char* out) {
    constexpr uint8_t kOrder[] = {REG_FW_RELEASE, REG_FW_REVISION, REG_FW_MONTH, REG_FW_DAY, REG_FW_YEAR};
    uint8_t v[std::size(kOrder)] = {};
    bool failed = false;
    {
        Session session;
        if (session.result() != VEK_OK) return session.result();
        for (size_t i = 0; i < std::size(kOrder); ++i) failed |= hal::ZkecReadRegister(kOrder[i], &v[i]) != VEK_OK;
    }
    std::snprintf(out, kVersionBytes, "R%02X.E%02X (%02X/%02X/20%02X)", v[0], v[1], v[2], v[3], v[4]);
    return failed ? VEK_ERR_READ : VEK_OK;
}

} // namespace

const BackendOps& Ops() {
    static const BackendOps ops = [] {
        BackendOps o{};
        o.configure = &Configure;
        o.fanSpeed = &FanSpeed;
        o.temperature = &Temperature;
        o.voltage = &Voltage;
        return o;
    }();
    return ops;
}

const ZkecOps& VersionOps() {
    static const ZkecOps ops{.version = &Version};
    return ops;
}

} // namespace vek::zkec
