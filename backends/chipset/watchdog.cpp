// The chipset watchdog: a two-stage down-counter in an I/O block whose
// registers take a write only right after the two-byte unlock sequence.
#include <cstdint>

#include "api/library.h"
#include "backends/chipset/chipset.h"
#include "hal/hal.h"
#include "vek/vek.h"

namespace vek::chipset {
namespace {

constexpr uint32_t kSecondsPerMinute = 60;

void Pause() { hal::Delay(*IoDelayOf(KIND_CHIPSET)); }

// Every port write of the block is followed by the chipset pause.
class WatchdogBlock {
public:
    explicit WatchdogBlock(uint16_t base) : base_(base) {}
    void WriteByte(uint16_t reg, uint8_t value) const {
        hal::WritePortByte(uint16_t(base_ + reg), value);
        Pause();
    }
    void WriteDword(uint16_t reg, uint32_t value) const {
        hal::WritePortDword(uint16_t(base_ + reg), value);
        Pause();
    }
    void Unlock() const {
        WriteByte(WDT_RELOAD0, WDT_UNLOCK_FIRST);
        WriteByte(WDT_RELOAD0, WDT_UNLOCK_SECOND);
    }
    // One register write behind its own unlock.
    void UnlockedByte(uint16_t reg, uint8_t value) const {
        Unlock();
        WriteByte(reg, value);
    }
    void UnlockedDword(uint16_t reg, uint32_t value) const {
        Unlock();
        WriteDword(reg, value);
    }

private:
    uint16_t base_;
};

// Ticks of the second stage for the configured time-out, less one: the counter
// expires on the tick after it reaches zero. Computed in 32 bits, so the whole
// advertised range (up to 10 minutes, 604,199 ticks) fits the 20-bit register
// instead of wrapping at 16 bits. A watchdog triggered before it was ever
// configured (count 0) gets the longest preload the register holds rather
// than an immediate reset.
uint32_t Preload(const WdtState& wdt) {
    const uint32_t seconds = wdt.unit != 0 ? wdt.count * kSecondsPerMinute : wdt.count;
    return (seconds * WDT_TICKS_PER_SECOND - 1) & WDT_PRELOAD_MASK;
}

uint32_t Trigger(DeviceContext& ctx) {
    const uint16_t base = Area(ctx).wdtBlockBase;
    if (base == 0) return VEK_ERR_UNSUPPORTED;
    const WatchdogBlock wdt(base);
    wdt.UnlockedDword(WDT_CONFIG, WDT_CONFIG_RESET_ENABLE | WDT_CONFIG_WATCHDOG_MODE);
    wdt.UnlockedDword(WDT_PRELOAD1, 0); // first stage expires at once
    wdt.UnlockedDword(WDT_PRELOAD2, Preload(ctx.wdtEc));
    wdt.UnlockedByte(WDT_LOCK, WDT_LOCK_ENABLE);
    return VEK_OK;
}

uint32_t Disable(DeviceContext& ctx) {
    const uint16_t base = Area(ctx).wdtBlockBase;
    if (base == 0) return VEK_ERR_UNSUPPORTED;
    WatchdogBlock(base).UnlockedByte(WDT_LOCK, WDT_LOCK_STOPPED);
    return VEK_OK;
}

} // namespace

// The frame stores unit and count (no wdtSetConfig): the trigger reads them.
void FillWatchdogOps(BackendOps& ops) {
    ops.wdtTrigger = &Trigger;
    ops.wdtDisable = &Disable;
}

} // namespace vek::chipset
