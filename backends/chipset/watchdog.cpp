// The chipset watchdog: a two-stage down-counter in an I/O block whose
// registers take a write only right after the two-byte unlock sequence.
#include <cstdint>

#include "platform/process.h"
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

// Second-stage preload for the configured time-out. The timer ticks at
// 33 MHz / 2^15 (1007.08 Hz); a stage of preload n lasts n + 1 ticks and the
// first stage (preload 0) one tick. The time-out is counted in whole ticks,
// rounded up, so the reset comes within one tick after the asked time and never
// before it: 1007 ticks a second would run 47 ms short at 10 minutes. The range
// the frame enforces (255 seconds, 10 minutes) keeps the preload inside the
// 20-bit register, where 18 minutes would wrap to 38.7 seconds.
constexpr uint32_t PreloadForSeconds(uint32_t seconds) {
    const uint64_t ticks = (uint64_t(seconds) * WDT_CLOCK_HZ + WDT_CLOCK_DIVIDER - 1) / WDT_CLOCK_DIVIDER;
    return uint32_t(ticks - WDT_FIRST_STAGE_TICKS - 1);
}
static_assert(PreloadForSeconds(1) == 1006); // the same as 1007 - 1 at one second
static_assert(PreloadForSeconds(WDT_MAX_MINUTES * kSecondsPerMinute) <= WDT_PRELOAD_MASK);
static_assert(PreloadForSeconds(WDT_MAX_SECONDS) <= WDT_PRELOAD_MASK);

uint32_t Preload(const WdtState& wdt) {
    return PreloadForSeconds(wdt.unit != 0 ? wdt.count * kSecondsPerMinute : wdt.count);
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
