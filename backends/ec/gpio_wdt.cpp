// EC GPIO (per-set, per-pin and indirect per-pin layouts) and the EC watchdog
// (EC RAM registers, and the auxiliary channel of the kind-100 board).
#include "backends/ec/ec.h"
#include "backends/ec/ops.h"
#include "vek/vek.h"

namespace vek::ec {

namespace {

// Control byte of an indirect pin: bit 7 input (direction 1), bit 6 output
// (direction 0); neither set means the pin is not configured as GPIO.
constexpr uint8_t PIN_INPUT = 0x80;
constexpr uint8_t PIN_OUTPUT = 0x40;

// Watchdog control values.
constexpr uint8_t WDT_STOP = 0;
constexpr uint8_t WDT_RUN_SECONDS = 1;
constexpr uint8_t WDT_RUN_MINUTES = 3;
constexpr int WDT_ATTEMPTS = 10;

constexpr uint8_t AUX_WATCHDOG = 0xA2;
constexpr uint32_t KIND100_WDT_BOARD = 151;

bool Indirect(const DeviceContext& ctx) { return Area(ctx).flags & EC_INDIRECT; }
bool PerPin(const DeviceContext& ctx) { return Area(ctx).flags & EC_GPIO_PER_PIN; }
bool SubtypeOk(const DeviceContext& ctx) { return ctx.subtype <= 3; }

// Sets 1 and 2 carry per-pin slots; later sets have none.
Slot PinControl(const DeviceContext& ctx, int32_t set, int32_t pin) {
    return set >= 1 && set <= 2 ? Area(ctx).pinControl[set - 1][pin - 1] : SLOT_ABSENT;
}
Slot PinData(const DeviceContext& ctx, int32_t set, int32_t pin) {
    return set >= 1 && set <= 2 ? Area(ctx).pinData[set - 1][pin - 1] : SLOT_ABSENT;
}
uint32_t PinMask(const DeviceContext& ctx, int32_t set, int32_t pin) {
    return set >= 1 && set <= 2 ? Area(ctx).pinMask[set - 1][pin - 1] : 0;
}
uint8_t SetDirectionReg(const DeviceContext& ctx, int32_t set) {
    return set >= 1 && set <= 8 ? Area(ctx).setDirection[set - 1] : REG_ABSENT;
}
uint8_t SetDataReg(const DeviceContext& ctx, int32_t set) {
    return set >= 1 && set <= 8 ? Area(ctx).setData[set - 1] : REG_ABSENT;
}
bool Absent(uint8_t reg) { return reg > 254; }

uint8_t WithBit(uint8_t x, uint8_t bits, bool on) { return on ? uint8_t(x | bits) : uint8_t(x & ~bits); }

// ---- pins ----

uint32_t SetPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t direction) {
    if (Area(ctx).flags & EC_NO_GPIO_DIRECTION) return VEK_ERR_UNSUPPORTED;
    if (!SubtypeOk(ctx)) return VEK_ERR_ARGUMENT;
    if (Indirect(ctx)) {
        const uint16_t control = uint16_t(PinControl(ctx, set, pin));
        const uint8_t x = EcMemoryRead(control);
        const uint8_t mode = direction ? PIN_INPUT : PIN_OUTPUT;
        EcMemoryWrite(control, uint8_t((x & ~(PIN_OUTPUT | PIN_INPUT)) | mode));
        return VEK_OK;
    }
    // Without the bridge, directions live in the set's register even on per-pin boards.
    const uint8_t reg = SetDirectionReg(ctx, set);
    if (Absent(reg)) return VEK_ERR_UNSUPPORTED;
    WriteEcRegister(ctx, reg, WithBit(ReadEcRegister(ctx, reg), uint8_t(1u << (pin - 1)), direction != 0));
    return VEK_OK;
}

uint32_t ReadPinDirection(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* direction) {
    if (!SubtypeOk(ctx)) return VEK_ERR_ARGUMENT;
    if (Indirect(ctx)) {
        const uint8_t x = EcMemoryRead(uint16_t(PinControl(ctx, set, pin)));
        if (x & PIN_INPUT) {
            *direction = 1;
        } else if (x & PIN_OUTPUT) {
            *direction = 0;
        } // neither: the pin is not configured; the caller's byte stays
        return VEK_OK;
    }
    if (PerPin(ctx)) {
        const Slot control = PinControl(ctx, set, pin);
        if (control == SLOT_ABSENT) {
            *direction = 0;
            return VEK_ERR_ARGUMENT;
        }
        *direction = (ReadEcRegister(ctx, control) & PinMask(ctx, set, pin)) ? 1 : 0;
        return VEK_OK;
    }
    const uint8_t reg = SetDirectionReg(ctx, set);
    if (Absent(reg)) return VEK_ERR_UNSUPPORTED;
    *direction = (ReadEcRegister(ctx, reg) >> (pin - 1)) & 1;
    return VEK_OK;
}

uint32_t ReadPin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* value) {
    if (!SubtypeOk(ctx)) return VEK_ERR_ARGUMENT;
    if (Indirect(ctx)) {
        *value = (EcMemoryRead(uint16_t(PinData(ctx, set, pin))) & PinMask(ctx, set, pin)) ? 1 : 0;
        return VEK_OK;
    }
    if (PerPin(ctx)) {
        const Slot data = PinData(ctx, set, pin);
        if (data == SLOT_ABSENT) {
            *value = 0;
            return VEK_ERR_ARGUMENT;
        }
        *value = (ReadEcRegister(ctx, data) & PinMask(ctx, set, pin)) ? 1 : 0;
        return VEK_OK;
    }
    const uint8_t reg = SetDataReg(ctx, set);
    if (Absent(reg)) return VEK_ERR_UNSUPPORTED;
    *value = (ReadEcRegister(ctx, reg) >> (pin - 1)) & 1;
    return VEK_OK;
}

// No subtype check here: a write never depends on the layout revision.
uint32_t WritePin(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t level) {
    if (Indirect(ctx)) {
        const uint16_t data = uint16_t(PinData(ctx, set, pin));
        const uint8_t x = EcMemoryRead(data);
        EcMemoryWrite(data, WithBit(x, uint8_t(PinMask(ctx, set, pin)), level != 0));
        return VEK_OK;
    }
    if (PerPin(ctx)) {
        const Slot data = PinData(ctx, set, pin);
        if (data == SLOT_ABSENT) return VEK_ERR_ARGUMENT;
        WriteEcRegister(ctx, data, WithBit(ReadEcRegister(ctx, data), uint8_t(PinMask(ctx, set, pin)), level != 0));
        return VEK_OK;
    }
    const uint8_t reg = SetDataReg(ctx, set);
    if (Absent(reg)) return VEK_ERR_UNSUPPORTED;
    WriteEcRegister(ctx, reg, WithBit(ReadEcRegister(ctx, reg), uint8_t(1u << (pin - 1)), level != 0));
    return VEK_OK;
}

// ---- whole sets ----
// Per-pin boards compose a set from its eight pins; a pin that is absent
// contributes 0 and does not fail the set.

template <class PinOp>
void EachPinWrite(DeviceContext& ctx, int32_t set, uint8_t bits, PinOp op) {
    for (int32_t pin = 1; pin <= 8; ++pin) op(ctx, set, pin, uint8_t((bits >> (pin - 1)) & 1));
}

template <class PinOp>
uint8_t EachPinRead(DeviceContext& ctx, int32_t set, PinOp op) {
    uint8_t bits = 0;
    for (int32_t pin = 1; pin <= 8; ++pin) {
        uint8_t v = 0;
        op(ctx, set, pin, &v);
        bits |= uint8_t((v & 1) << (pin - 1));
    }
    return bits;
}

uint32_t SetSetDirection(DeviceContext& ctx, int32_t set, uint8_t mask) {
    if (Area(ctx).flags & EC_NO_GPIO_DIRECTION) return VEK_ERR_UNSUPPORTED;
    if (!SubtypeOk(ctx)) return VEK_ERR_ARGUMENT;
    if (PerPin(ctx)) {
        EachPinWrite(ctx, set, mask, SetPinDirection);
        return VEK_OK;
    }
    const uint8_t reg = SetDirectionReg(ctx, set);
    if (Absent(reg)) return VEK_ERR_UNSUPPORTED;
    WriteEcRegister(ctx, reg, mask);
    return VEK_OK;
}

uint32_t ReadSetDirection(DeviceContext& ctx, int32_t set, uint8_t* mask) {
    if (!SubtypeOk(ctx)) return VEK_ERR_ARGUMENT;
    if (PerPin(ctx)) {
        *mask = EachPinRead(ctx, set, ReadPinDirection);
        return VEK_OK;
    }
    const uint8_t reg = SetDirectionReg(ctx, set);
    if (Absent(reg)) return VEK_ERR_UNSUPPORTED;
    *mask = ReadEcRegister(ctx, reg);
    return VEK_OK;
}

uint32_t ReadSet(DeviceContext& ctx, int32_t set, uint8_t* value) {
    if (!SubtypeOk(ctx)) return VEK_ERR_ARGUMENT;
    if (PerPin(ctx)) {
        *value = EachPinRead(ctx, set, ReadPin);
        return VEK_OK;
    }
    const uint8_t reg = SetDataReg(ctx, set);
    if (Absent(reg)) return VEK_ERR_UNSUPPORTED;
    *value = ReadEcRegister(ctx, reg);
    return VEK_OK;
}

uint32_t WriteSet(DeviceContext& ctx, int32_t set, uint8_t value) {
    if (!SubtypeOk(ctx)) return VEK_ERR_ARGUMENT;
    if (PerPin(ctx)) {
        EachPinWrite(ctx, set, value, WritePin);
        return VEK_OK;
    }
    const uint8_t reg = SetDataReg(ctx, set);
    if (Absent(reg)) return VEK_ERR_UNSUPPORTED;
    WriteEcRegister(ctx, reg, value);
    return VEK_OK;
}

// ---- watchdog ----

uint32_t WdtSetConfig(DeviceContext& ctx, uint32_t unit, uint8_t count) {
    if (unit > 1 || count == 0) return VEK_ERR_ARGUMENT;
    ctx.wdtEc.unit = unit;
    ctx.wdtEc.count = count;
    return VEK_OK;
}

// The EC latches the count when the control byte starts it; the count is read
// back to confirm the EC took it (its firmware drops writes while busy).
uint32_t WdtTrigger(DeviceContext& ctx) {
    const EcArea& a = Area(ctx);
    const bool minutes = ctx.wdtEc.unit == 1;
    const uint8_t count = ctx.wdtEc.count;
    const Slot countSlot = minutes ? a.wdtMinutes : a.wdtSeconds;
    const Slot otherSlot = minutes ? a.wdtSeconds : a.wdtMinutes;
    const uint8_t run = minutes ? WDT_RUN_MINUTES : WDT_RUN_SECONDS;
    for (int attempt = 0; attempt < WDT_ATTEMPTS; ++attempt) {
        uint8_t back;
        if (Indirect(ctx)) {
            EcMemoryWrite(uint16_t(countSlot), count);
            EcMemoryWrite(uint16_t(a.wdtControl), run);
            back = EcMemoryRead(uint16_t(countSlot));
        } else {
            WriteEcRegister(ctx, countSlot, count);
            WriteEcRegister(ctx, otherSlot, 0);
            WriteEcRegister(ctx, a.wdtControl, run);
            back = ReadEcRegister(ctx, countSlot);
        }
        if (back == count) return VEK_OK;
    }
    return VEK_ERR_WRITE;
}

// The EC RAM control byte says whether the watchdog runs and which of the
// minutes (0x07) and seconds (0x08) registers holds its timeout.
uint32_t WdtReadChip(DeviceContext& ctx, uint32_t* unit, uint8_t* count) {
    const EcArea& a = Area(ctx);
    const auto read = [&](Slot slot) {
        return Indirect(ctx) ? EcMemoryRead(uint16_t(slot)) : ReadEcRegister(ctx, slot);
    };
    const uint8_t control = read(a.wdtControl);
    if (control != WDT_RUN_SECONDS && control != WDT_RUN_MINUTES) return VEK_ERR_STATE;
    const bool minutes = control == WDT_RUN_MINUTES;
    const uint8_t c = read(minutes ? a.wdtMinutes : a.wdtSeconds);
    if (c == 0) return VEK_ERR_STATE;
    *unit = minutes ? 1 : 0;
    *count = c;
    return VEK_OK;
}

uint32_t WdtDisable(DeviceContext& ctx) {
    const EcArea& a = Area(ctx);
    for (Slot slot : {a.wdtControl, a.wdtSeconds, a.wdtMinutes}) {
        if (Indirect(ctx)) {
            EcMemoryWrite(uint16_t(slot), WDT_STOP);
        } else {
            WriteEcRegister(ctx, slot, WDT_STOP);
        }
    }
    return VEK_OK;
}

// Kind 100: the timeout goes to the EC in seconds over the auxiliary channel.
uint32_t Kind100WdtTrigger(DeviceContext& ctx) {
    const uint16_t seconds = uint16_t(ctx.wdtEc.unit == 1 ? ctx.wdtEc.count * 60u : ctx.wdtEc.count);
    for (int attempt = 0; attempt < WDT_ATTEMPTS; ++attempt) {
        if (AuxCommand(AUX_WATCHDOG, seconds) == VEK_OK) return VEK_OK;
    }
    return VEK_ERR_WRITE;
}

uint32_t Kind100WdtDisable(DeviceContext&) {
    AuxCommand(AUX_WATCHDOG, 0);
    return VEK_OK;
}

} // namespace

uint32_t Kind100Start(DeviceContext& ctx) {
    if (ctx.boardId != KIND100_WDT_BOARD) return VEK_ERR_UNSUPPORTED;
    ctx.caps[CAP_WDT] = 1;
    ctx.wdtEc = WdtState{.minCount = {1, 1}, .maxCount = {255, 255}, .unit = 0, .count = 0, .running = 0, .configured = 0};
    return VEK_OK;
}

void FillGpioWatchdogOps(BackendOps& ops) {
    ops.gpioSetDirection = &SetSetDirection;
    ops.gpioReadDirection = &ReadSetDirection;
    ops.gpioRead = &ReadSet;
    ops.gpioWrite = &WriteSet;
    ops.gpioSetPinDirection = &SetPinDirection;
    ops.gpioReadPinDirection = &ReadPinDirection;
    ops.gpioReadPin = &ReadPin;
    ops.gpioWritePin = &WritePin;
    ops.wdtSetConfig = &WdtSetConfig;
    ops.wdtTrigger = &WdtTrigger;
    ops.wdtDisable = &WdtDisable;
    ops.wdtReadChip = &WdtReadChip;
}

void FillKind100WatchdogOps(BackendOps& ops) {
    ops.wdtSetConfig = &WdtSetConfig;
    ops.wdtTrigger = &Kind100WdtTrigger;
    ops.wdtDisable = &Kind100WdtDisable;
}

} // namespace vek::ec
