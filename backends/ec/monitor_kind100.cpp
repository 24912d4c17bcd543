// Kind-100 fans and temperature: a second EC firmware whose fans sit at fixed
// addresses in banks 0 and 2 of the ACPI-style interface and whose temperature
// is queried over the auxiliary channel. Called with ApiLock held.

#include "backends/ec/ec.h"
#include "backends/ec/ops.h"
#include "vek/vek.h"

namespace vek::ec {

namespace {

constexpr uint8_t BANK_FAN_STATUS = 0;
// The curve routines give bank 0 back when they are done (EcBankGuard), one
// write more than selecting bank 2 alone: the bank register is state shared
// with every other ACPI-interface access on these boards, and the EC routines
// that share them address bank 0 without selecting it.
constexpr uint8_t BANK_FAN_CURVE = 2;

// Bank 0: per fan a status register (bits 0..2 all set = tachometer valid) and
// the speed pair. Bank 2: per fan a curve of eight points, four registers each:
// temperature, a copy of it, duty, unused.
constexpr uint8_t FAN_STATUS_VALID = 0x07;
constexpr int CURVE_POINTS = 8;
constexpr uint8_t CURVE_POINT_STRIDE = 4;
constexpr uint8_t CURVE_TEMP = 0, CURVE_TEMP_COPY = 1, CURVE_DUTY = 2;
constexpr int32_t CURVE_MODE = 9; // the only smart-fan mode this firmware has
constexpr int32_t kMaxDuty = 100;

struct Kind100Fan {
    uint32_t fan;
    uint8_t status;
    uint8_t speedHigh, speedLow;
    uint8_t curveBase;
};
constexpr Kind100Fan kFans[] = {
    {0, 0x59, 0x43, 0x42, 0x50},
    {2, 0x5A, 0x45, 0x44, 0x78},
    {4, 0x5B, 0x47, 0x46, 0xA0},
    {6, 0x5C, 0x49, 0x48, 0xC8},
};

const Kind100Fan* FindFan(uint32_t fan) {
    for (const Kind100Fan& f : kFans)
        if (f.fan == fan) return &f;
    return nullptr;
}

uint32_t FanSpeed(DeviceContext&, uint32_t fan, uint32_t* rpm) {
    const Kind100Fan* f = FindFan(fan);
    if (f == nullptr) return VEK_ERR_ARGUMENT;
    SelectEcBank(BANK_FAN_STATUS); // bank 0 is also where the EC rests; nothing to restore
    if ((AcpiEcRead(f->status) & FAN_STATUS_VALID) != FAN_STATUS_VALID) {
        *rpm = 0;
        return VEK_OK;
    }
    const uint8_t high = AcpiEcRead(f->speedHigh);
    *rpm = uint32_t(high) << 8 | AcpiEcRead(f->speedLow);
    return VEK_OK;
}

// The firmware runs its fans on the curve only.
uint32_t SetFanDuty(DeviceContext&, uint32_t fan, int32_t) {
    return FindFan(fan) ? VEK_ERR_UNSUPPORTED : VEK_ERR_ARGUMENT;
}

uint8_t PointRegister(const Kind100Fan& f, int point, uint8_t field) {
    return uint8_t(f.curveBase + CURVE_POINT_STRIDE * point + field);
}

// a = mode (always the curve), b = eight temperatures, c = eight duties.
uint32_t GetCurve(DeviceContext&, uint32_t fan, uint32_t* mode, uint32_t* temps, uint32_t* duties, uint32_t*) {
    *mode = CURVE_MODE;
    const Kind100Fan* f = FindFan(fan);
    if (f == nullptr) return VEK_ERR_ARGUMENT;
    EcBankGuard bank(BANK_FAN_CURVE);
    for (int k = 0; k < CURVE_POINTS; ++k) {
        temps[k] = AcpiEcRead(PointRegister(*f, k, CURVE_TEMP));
        duties[k] = AcpiEcRead(PointRegister(*f, k, CURVE_DUTY));
    }
    return VEK_OK;
}

// a = eight temperatures, b = eight duties in percent.
uint32_t SetCurve(DeviceContext&, uint32_t fan, int32_t mode, uint8_t* temps, int32_t* duties, int32_t) {
    if (mode != CURVE_MODE) return VEK_ERR_UNSUPPORTED;
    for (int k = 0; k < CURVE_POINTS; ++k)
        if (duties[k] < 0 || duties[k] > kMaxDuty) return VEK_ERR_ARGUMENT;
    const Kind100Fan* f = FindFan(fan);
    if (f == nullptr) return VEK_ERR_ARGUMENT;
    EcBankGuard bank(BANK_FAN_CURVE);
    for (int k = 0; k < CURVE_POINTS; ++k) {
        AcpiEcWrite(PointRegister(*f, k, CURVE_TEMP), temps[k]);
        AcpiEcWrite(PointRegister(*f, k, CURVE_TEMP_COPY), temps[k]);
        AcpiEcWrite(PointRegister(*f, k, CURVE_DUTY), uint8_t(duties[k]));
    }
    return VEK_OK;
}

uint32_t EnableCurve(DeviceContext&, uint32_t) { return VEK_OK; } // always on the curve
uint32_t DisableCurve(DeviceContext&, uint32_t) { return VEK_ERR_UNSUPPORTED; }

// Board temperature over the auxiliary channel: query 0xDD, page 2, bytes 4 (low) and 5 (high).
constexpr uint8_t AUX_READ_SENSOR = 0xDD;
constexpr uint8_t AUX_SENSOR_PAGE = 2;
constexpr uint8_t AUX_SENSOR_LOW = 4, AUX_SENSOR_HIGH = 5;
constexpr uint32_t SENSOR_SYSTEM = 0;

uint32_t Temperature(DeviceContext&, uint32_t sensor, double* value) {
    if (sensor != SENSOR_SYSTEM) return VEK_ERR_UNSUPPORTED;
    const uint8_t low = AuxQuery(AUX_READ_SENSOR, AUX_SENSOR_PAGE, AUX_SENSOR_LOW);
    const uint8_t high = AuxQuery(AUX_READ_SENSOR, AUX_SENSOR_PAGE, AUX_SENSOR_HIGH);
    *value = double(uint32_t(high) << 8 | low);
    return VEK_OK;
}

} // namespace

void FillKind100MonitorOps(BackendOps& ops) {
    ops.temperature = &Temperature;
    ops.fanSpeed = &FanSpeed;
    ops.setFanSpeed = &SetFanDuty;
    ops.getSmartfan = &GetCurve;
    ops.setSmartfan = &SetCurve;
    ops.smartfanEnable = &EnableCurve;
    ops.smartfanDisable = &DisableCurve;
}

} // namespace vek::ec
