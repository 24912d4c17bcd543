// ChipKind 1 GPIO pins, watchdog and the backlight step. Every routine runs
// with ApiLock held and leaves the chip out of configuration mode.
#include "backends/sio1/registers.h"
#include "backends/sio1/sio1.h"
#include "vek/vek.h"

namespace vek::sio1 {

namespace {

constexpr int32_t kPinsPerSet = 8;

// Entry of a pin: 0..7 for set 1, 8..15 for any other set; -1 outside 1..8.
int Entry(int32_t set, int32_t pin) {
    if (pin < 1 || pin > kPinsPerSet) return -1;
    return set == 1 ? pin - 1 : pin + 7;
}

// The pin's device, selected in configuration mode for the scope.
class PinAccess {
public:
    PinAccess(const Sio1Area& a, int entry) : a_(a), entry_(entry) { SelectDevice(a.pinLdn[entry]); }
    bool Test(uint8_t reg) const { return (CfgRead(reg) & a_.pinMask[entry_]) != 0; }
    void Put(uint8_t reg, uint8_t level) const {
        const uint8_t v = CfgRead(reg);
        CfgWrite(reg, level ? uint8_t(v | a_.pinMask[entry_]) : uint8_t(v & ~a_.pinMask[entry_]));
    }
    uint8_t dir() const { return a_.pinDirReg[entry_]; }
    uint8_t data() const { return a_.pinDataReg[entry_]; }

private:
    ConfigMode mode_;
    const Sio1Area& a_;
    int entry_;
};

// Entries without registers (a group the chip's map lacks, or no pin at all)
// read 0 and ignore writes, without touching the chip.
bool Wired(const Sio1Area& a, int entry) { return entry >= 0 && a.pinLdn[entry] != LDN_NONE; }

// Which register of the pin's group an operation works on.
enum class PinReg { kDirection, kData };

uint32_t PinGet(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* out, PinReg which) {
    const Sio1Area& a = Area(ctx);
    const int e = Entry(set, pin);
    if (e < 0) return VEK_ERR_ARGUMENT;
    *out = 0;
    if (!Wired(a, e)) return VEK_OK;
    PinAccess p(a, e);
    *out = p.Test(which == PinReg::kDirection ? p.dir() : p.data()) ? 1 : 0;
    return VEK_OK;
}

uint32_t PinPut(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t level, PinReg which) {
    const Sio1Area& a = Area(ctx);
    const int e = Entry(set, pin);
    if (e < 0) return VEK_ERR_ARGUMENT;
    if (!Wired(a, e)) return VEK_OK;
    PinAccess p(a, e);
    p.Put(which == PinReg::kDirection ? p.dir() : p.data(), level);
    return VEK_OK;
}

// Direction 1 = input.
uint32_t SetPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t direction) {
    return PinPut(ctx, set, pin, direction, PinReg::kDirection);
}
uint32_t ReadPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* direction) {
    return PinGet(ctx, set, pin, direction, PinReg::kDirection);
}
uint32_t ReadPin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* value) {
    return PinGet(ctx, set, pin, value, PinReg::kData);
}
uint32_t WritePin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t value) {
    return PinPut(ctx, set, pin, value, PinReg::kData);
}

// Set operations: the pin operation for pins 1..8, each in its own session.
template <class PinOp>
uint32_t ForEachPinWrite(DeviceContext& ctx, int32_t set, uint8_t byte, PinOp op) {
    for (int32_t pin = 1; pin <= kPinsPerSet; ++pin) op(ctx, set, pin, uint8_t((byte >> (pin - 1)) & 1));
    return VEK_OK;
}

template <class PinOp>
uint32_t ForEachPinRead(DeviceContext& ctx, int32_t set, uint8_t* byte, PinOp op) {
    uint8_t result = 0;
    for (int32_t pin = 1; pin <= kPinsPerSet; ++pin) {
        uint8_t bit = 0;
        op(ctx, set, pin, &bit);
        result |= uint8_t(bit << (pin - 1));
    }
    *byte = result;
    return VEK_OK;
}

uint32_t SetDirection(DeviceContext& ctx, int32_t set, uint8_t mask) {
    return ForEachPinWrite(ctx, set, mask, &SetPinDirection);
}
uint32_t ReadDirection(DeviceContext& ctx, int32_t set, uint8_t* mask) {
    return ForEachPinRead(ctx, set, mask, &ReadPinDirection);
}
uint32_t Read(DeviceContext& ctx, int32_t set, uint8_t* value) { return ForEachPinRead(ctx, set, value, &ReadPin); }
uint32_t Write(DeviceContext& ctx, int32_t set, uint8_t value) { return ForEachPinWrite(ctx, set, value, &WritePin); }

// ---- watchdog: unit and count come from the frame's bookkeeping ----

// Unit first, then the count: writing a non-zero count starts the timer.
uint32_t WdtTrigger(DeviceContext& ctx) {
    const Sio1Area& a = Area(ctx);
    ConfigMode cfg;
    SelectDevice(a.wdtLdn);
    const uint8_t mode = CfgRead(a.wdtModeReg);
    CfgWrite(a.wdtModeReg, ctx.wdtSio12.unit ? uint8_t(mode | a.wdtUnitBit) : uint8_t(mode & ~a.wdtUnitBit));
    CfgWrite(a.wdtCountReg, ctx.wdtSio12.count);
    return VEK_OK;
}

// The count register holds the running timeout (0 = stopped); the mode
// register's unit bit says whether it counts minutes.
uint32_t WdtReadChip(DeviceContext& ctx, uint32_t* unit, uint8_t* count) {
    const Sio1Area& a = Area(ctx);
    ConfigMode cfg;
    SelectDevice(a.wdtLdn);
    const uint8_t mode = CfgRead(a.wdtModeReg);
    const uint8_t c = CfgRead(a.wdtCountReg);
    if (c == WDT_STOP) return VEK_ERR_STATE;
    *unit = (mode & a.wdtUnitBit) ? 1 : 0;
    *count = c;
    return VEK_OK;
}

uint32_t WdtDisable(DeviceContext& ctx) {
    const Sio1Area& a = Area(ctx);
    ConfigMode cfg;
    SelectDevice(a.wdtLdn);
    CfgWrite(a.wdtCountReg, WDT_STOP);
    return VEK_OK;
}

// ---- backlight: one pulse on the up or down pin of the panel controller ----

constexpr uint32_t kStepDown = 0, kStepUp = 1;
constexpr uint8_t kAllInputs = 0xFF;

uint32_t BacklightChange(DeviceContext& ctx, uint32_t step) {
    const BacklightPulse& b = Area(ctx).backlight;
    if (b.ldn == LDN_NONE) return VEK_ERR_UNSUPPORTED;
    if (step != kStepDown && step != kStepUp) return VEK_ERR_ARGUMENT;
    ConfigMode cfg;
    SelectDevice(b.ldn);
    CfgWrite(b.ioReg, uint8_t(CfgRead(b.ioReg) & b.ioAndMask)); // both pulse pins drive
    const uint8_t old = CfgRead(b.dataReg);
    const uint8_t idle = uint8_t(old & ~(b.upBit | b.downBit));
    CfgWrite(b.dataReg, idle);
    CfgWrite(b.dataReg, uint8_t(old | (step == kStepUp ? b.upBit : b.downBit)));
    Pause(b.pulseUs);
    CfgWrite(b.dataReg, idle);
    CfgWrite(b.ioReg, kAllInputs);
    return VEK_OK;
}

} // namespace

void FillGpioWatchdogOps(BackendOps& ops) {
    ops.gpioSetDirection = &SetDirection;
    ops.gpioReadDirection = &ReadDirection;
    ops.gpioRead = &Read;
    ops.gpioWrite = &Write;
    ops.gpioSetPinDirection = &SetPinDirection;
    ops.gpioReadPinDirection = &ReadPinDirection;
    ops.gpioReadPin = &ReadPin;
    ops.gpioWritePin = &WritePin;
    ops.wdtTrigger = &WdtTrigger;
    ops.wdtDisable = &WdtDisable;
    ops.wdtReadChip = &WdtReadChip;
    ops.backlightChange = &BacklightChange;
}

} // namespace vek::sio1
