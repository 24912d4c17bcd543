// GPIO and watchdog exports: set limits, split routing, the watchdog rule.
#include "api/frame.h"

using namespace vek;
using namespace vek::frame;

namespace {

constexpr int32_t kMaxPin = 8;

// Sets the board offers, the same count VEK_GPIO_TotalSet reports: the
// primary's, plus the secondary's when split, the secondary's alone when the
// owner names the second chip (its sets are the only ones routed). Without
// that chip the primary's count stands and the routed calls answer 10.
int64_t GpioLimit() {
    const DeviceContext& p = Primary();
    const DeviceContext* s = Secondary();
    switch (p.gpioOwner) {
    case 0: case OWNER_GPIO_EXPANDER: return p.gpioSets[0];
    case OWNER_SPLIT: return int64_t(p.gpioSets[0]) + (s ? s->gpioSets[0] : 0);
    default: return s ? s->gpioSets[0] : p.gpioSets[0];
    }
}

bool SetInRange(int32_t set) { return set >= 1 && set <= GpioLimit(); }
bool PinInRange(int32_t pin) { return pin >= 1 && pin <= kMaxPin; }

struct GpioRoute {
    DeviceContext* ctx;
    int32_t set;
    bool expander; // served by the GPIO expander handler
};

GpioRoute RouteGpio(int32_t set) {
    DeviceContext& p = Primary();
    switch (p.gpioOwner) {
    case 0:
        return {&p, set, false};
    case OWNER_SPLIT:
        if (set <= int64_t(p.gpioSets[0])) return {&p, set, false};
        return {Secondary(), set - int32_t(p.gpioSets[0]), false};
    case OWNER_GPIO_EXPANDER:
        return {&p, set, true};
    default:
        return {Secondary(), set, false};
    }
}

// Runs one GPIO routine on the serving context under the lock.
template <class Fn, class... Args>
uint32_t GpioDispatch(Fn BackendOps::*routine, int32_t set, Args... args) {
    ApiLockGuard lock;
    GpioRoute r = RouteGpio(set);
    if (r.ctx == nullptr) return VEK_ERR_UNSUPPORTED;
    if (r.expander) {
        const SpecialOps* special = Special();
        if (special == nullptr || special->gpio.*routine == nullptr) return VEK_ERR_UNSUPPORTED;
        return (special->gpio.*routine)(*r.ctx, r.set, args...);
    }
    return Call(routine, r.ctx->chipKind, *r.ctx, r.set, args...);
}

// Common checks of the set-addressed exports.
uint32_t CheckSet(int32_t set) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Cap(CAP_GPIO) == 0) return VEK_ERR_UNSUPPORTED;
    if (!SetInRange(set)) return VEK_ERR_ARGUMENT;
    return VEK_OK;
}

uint32_t CheckBit(uint8_t v) { return v <= 1 ? VEK_OK : VEK_ERR_ARGUMENT; }

// ---- watchdog ----

Route RouteWdt() {
    DeviceContext& p = Primary();
    DeviceContext* s = Secondary();
    DeviceContext* ctx = (s != nullptr && s->chipKind == p.wdtOwner) ? s : &p;
    return {ctx, ctx->wdtOwner != 0 ? ctx->wdtOwner : ctx->chipKind};
}

// The bookkeeping a routine kind shares with its group; null for kinds with no
// watchdog in this build.
WdtState* WdtStateOf(const Route& r) {
    const BackendOps* ops = BackendFor(r.kind);
    if (ops == nullptr || ops->wdtTrigger == nullptr) return nullptr;
    switch (r.kind) {
    case KIND_SIO1: case KIND_SIO2: return &r.ctx->wdtSio12;
    case KIND_EC: case KIND_CHIPSET: case KIND_EC_ALT: case KIND_EC100: return &r.ctx->wdtEc;
    case KIND_SIO5: return &r.ctx->wdtSio5;
    default: return nullptr;
    }
}

uint32_t CheckWdt() {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Cap(CAP_WDT) == 0) return VEK_ERR_UNSUPPORTED;
    return VEK_OK;
}

// The number of sets the owner serves: the primary's, both chips' when split,
// the second chip's when it is the owner (10 when there is none).
uint32_t SetCount(uint32_t* count) {
    const DeviceContext& p = Primary();
    switch (p.gpioOwner) {
    case 0: case OWNER_GPIO_EXPANDER: *count = p.gpioSets[0]; break;
    case OWNER_SPLIT: *count = uint32_t(GpioLimit()); break;
    default:
        if (Secondary() == nullptr) return VEK_ERR_UNSUPPORTED;
        *count = Secondary()->gpioSets[0];
    }
    return VEK_OK;
}

} // namespace

extern "C" {

VEK_RESULT VEK_CALL VEK_GPIO_TotalSet(uint32_t* count) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Cap(CAP_GPIO) == 0) return VEK_ERR_UNSUPPORTED;
    if (count == nullptr) return VEK_ERR_ARGUMENT;
    return SetCount(count);
}

// Set 0 answers the number of sets the board offers (the sum of both chips
// when split); set n the pin count of set n on the chip that serves it.
VEK_RESULT VEK_CALL VEK_GPIO_TotalNumber(int32_t set, uint32_t* count) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (set < 0 || set > GpioLimit()) return VEK_ERR_ARGUMENT;
    if (Cap(CAP_GPIO) == 0) return VEK_ERR_UNSUPPORTED;
    if (count == nullptr) return VEK_ERR_ARGUMENT;
    const DeviceContext& p = Primary();
    if (set == 0) return SetCount(count);
    const DeviceContext* ctx = &p;
    int32_t entry = set;
    if (p.gpioOwner == OWNER_SPLIT && set > int64_t(p.gpioSets[0])) {
        ctx = Secondary();
        entry = set - int32_t(p.gpioSets[0]);
    } else if (p.gpioOwner != 0 && p.gpioOwner != OWNER_SPLIT && p.gpioOwner != OWNER_GPIO_EXPANDER) {
        ctx = Secondary();
    }
    if (ctx == nullptr) return VEK_ERR_UNSUPPORTED;
    if (entry < 1 || entry > 9) return VEK_ERR_ARGUMENT;
    *count = ctx->gpioSets[entry];
    return VEK_OK;
}

VEK_RESULT VEK_CALL VEK_GPIO_SetDirection(int32_t set, uint8_t mask) {
    if (uint32_t r = CheckSet(set)) return r;
    return GpioDispatch(&BackendOps::gpioSetDirection, set, mask);
}

VEK_RESULT VEK_CALL VEK_GPIO_ReadDirection(int32_t set, uint8_t* mask) {
    if (uint32_t r = CheckSet(set)) return r;
    if (mask == nullptr) return VEK_ERR_ARGUMENT;
    return GpioDispatch(&BackendOps::gpioReadDirection, set, mask);
}

VEK_RESULT VEK_CALL VEK_GPIO_Read(int32_t set, uint8_t* value) {
    if (uint32_t r = CheckSet(set)) return r;
    if (value == nullptr) return VEK_ERR_ARGUMENT;
    return GpioDispatch(&BackendOps::gpioRead, set, value);
}

VEK_RESULT VEK_CALL VEK_GPIO_Write(int32_t set, uint8_t value) {
    if (uint32_t r = CheckSet(set)) return r;
    return GpioDispatch(&BackendOps::gpioWrite, set, value);
}

VEK_RESULT VEK_CALL VEK_GPIO_SetPinDirection(int32_t set, int32_t pin, uint8_t direction) {
    if (uint32_t r = CheckSet(set)) return r;
    if (uint32_t r = CheckBit(direction)) return r;
    if (!PinInRange(pin)) return VEK_ERR_ARGUMENT;
    return GpioDispatch(&BackendOps::gpioSetPinDirection, set, pin, direction);
}

VEK_RESULT VEK_CALL VEK_GPIO_ReadPinDirection(int32_t set, int32_t pin, uint8_t* direction) {
    if (uint32_t r = CheckSet(set)) return r;
    if (!PinInRange(pin) || direction == nullptr) return VEK_ERR_ARGUMENT;
    return GpioDispatch(&BackendOps::gpioReadPinDirection, set, pin, direction);
}

VEK_RESULT VEK_CALL VEK_GPIO_ReadPin(int32_t set, int32_t pin, uint8_t* value) {
    if (uint32_t r = CheckSet(set)) return r;
    if (!PinInRange(pin) || value == nullptr) return VEK_ERR_ARGUMENT;
    return GpioDispatch(&BackendOps::gpioReadPin, set, pin, value);
}

VEK_RESULT VEK_CALL VEK_GPIO_WritePin(int32_t set, int32_t pin, uint8_t value) {
    if (uint32_t r = CheckSet(set)) return r;
    if (!PinInRange(pin)) return VEK_ERR_ARGUMENT;
    if (uint32_t r = CheckBit(value)) return r;
    return GpioDispatch(&BackendOps::gpioWritePin, set, pin, value);
}

// ---- watchdog ----

VEK_RESULT VEK_CALL VEK_WDT_Available(void) {
    if (uint32_t r = CheckWdt()) return r;
    const WdtState* state = WdtStateOf(RouteWdt());
    if (state == nullptr) return VEK_ERR_UNSUPPORTED;
    return state->running ? VEK_OK : VEK_ERR_STATE;
}

VEK_RESULT VEK_CALL VEK_WDT_GetRange(uint32_t unit, uint8_t* min, uint8_t* max) {
    if (uint32_t r = CheckWdt()) return r;
    if (unit > 1 || min == nullptr || max == nullptr) return VEK_ERR_ARGUMENT;
    const WdtState* state = WdtStateOf(RouteWdt());
    if (state == nullptr) return VEK_ERR_UNSUPPORTED;
    *min = state->minCount[unit];
    *max = state->maxCount[unit];
    return VEK_OK;
}

VEK_RESULT VEK_CALL VEK_WDT_SetConfig(uint32_t unit, uint8_t count) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (unit > 1 || count == 0) return VEK_ERR_ARGUMENT;
    if (Cap(CAP_WDT) == 0) return VEK_ERR_UNSUPPORTED;
    ApiLockGuard lock;
    const Route r = RouteWdt();
    WdtState* state = WdtStateOf(r);
    if (state == nullptr) return VEK_ERR_UNSUPPORTED;
    // The range is what the chip's counter holds for that unit: anything
    // beyond it would wrap or be cut short in the count register.
    if (count < state->minCount[unit] || count > state->maxCount[unit]) return VEK_ERR_ARGUMENT;
    if (const auto set = BackendFor(r.kind)->wdtSetConfig) {
        if (uint32_t rc = set(*r.ctx, unit, count)) return rc;
    } else {
        state->unit = unit;
        state->count = count;
    }
    state->configured = 1;
    return VEK_OK;
}

VEK_RESULT VEK_CALL VEK_WDT_GetConfig(uint32_t* unit, uint8_t* count) {
    if (uint32_t r = CheckWdt()) return r;
    if (unit == nullptr || count == nullptr) return VEK_ERR_ARGUMENT;
    const WdtState* state = WdtStateOf(RouteWdt());
    if (state == nullptr) return VEK_ERR_UNSUPPORTED;
    *unit = state->unit;
    *count = state->count;
    return VEK_OK;
}

VEK_RESULT VEK_CALL VEK_WDT_Trigger(void) {
    if (uint32_t r = CheckWdt()) return r;
    ApiLockGuard lock;
    const Route r = RouteWdt();
    WdtState* state = WdtStateOf(r);
    if (state == nullptr) return VEK_ERR_UNSUPPORTED;
    const BackendOps* ops = BackendFor(r.kind);
    if (!state->configured) {
        // Nothing configured in this process: a feed must not replace a timeout
        // another process set (or the defaults' 0, which stops an EC watchdog).
        // Re-arm with what the chip holds; where that cannot be read, leave the
        // chip alone.
        if (ops->wdtReadChip == nullptr) return VEK_ERR_STATE;
        uint32_t unit = 0;
        uint8_t count = 0;
        if (uint32_t rc = ops->wdtReadChip(*r.ctx, &unit, &count)) return rc;
        state->unit = unit;
        state->count = count;
    }
    state->running = 1;
    return ops->wdtTrigger(*r.ctx);
}

VEK_RESULT VEK_CALL VEK_WDT_Disable(void) {
    if (uint32_t r = CheckWdt()) return r;
    ApiLockGuard lock;
    const Route r = RouteWdt();
    WdtState* state = WdtStateOf(r);
    if (state == nullptr) return VEK_ERR_UNSUPPORTED;
    state->running = 0;
    return Call(&BackendOps::wdtDisable, r.kind, *r.ctx);
}

} // extern "C"
