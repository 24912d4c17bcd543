#include "sim/chipset/chipset_watchdog.h"

#include "sim/machine.h"

namespace vek::sim {
namespace {
constexpr int64_t kClockHz = 33'000'000;
constexpr int64_t kSlowDivider = 1 << 15, kFastDivider = 1 << 5;
} // namespace

ChipsetWatchdog::ChipsetWatchdog(Machine& machine, uint16_t base) : machine_(machine), base_(base) {
    machine_.ClaimPorts(base_, kPorts, this);
}

ChipsetWatchdog::~ChipsetWatchdog() { machine_.ReleasePorts(this); }

int64_t ChipsetWatchdog::TickNs() const {
    const int64_t divider = (wdtcr_ & kWdtcrFastPrescaler) ? kFastDivider : kSlowDivider;
    return divider * 1'000'000'000 / kClockHz;
}

int64_t ChipsetWatchdog::FiresAt() const {
    if (!running_ || !(wdtcr_ & kWdtcrResetEnable)) return -1;
    return startNs_ + (int64_t(pv1_) + 1 + int64_t(pv2_) + 1) * TickNs();
}

bool ChipsetWatchdog::Fired() {
    const int64_t at = FiresAt();
    if (at >= 0 && machine_.now_ns() >= at) fired_ = true;
    return fired_;
}

void ChipsetWatchdog::Start() {
    Fired(); // a reset already due stays recorded
    running_ = true;
    startNs_ = machine_.now_ns();
}

uint32_t ChipsetWatchdog::ReadPort(uint16_t port, unsigned width) {
    const uint16_t reg = uint16_t(port - base_);
    uint32_t v = 0;
    switch (reg) {
    case kPv1: v = pv1_; break;
    case kPv2: v = pv2_; break;
    case kRr1: v = Fired() ? kRr1Timeout : 0; break;
    case kWdtcr: v = wdtcr_; break;
    case kWdtlr: v = wdtlr_; break;
    default: v = 0; break;
    }
    return width >= 4 ? v : v & ((1u << (8 * width)) - 1);
}

void ChipsetWatchdog::WritePort(uint16_t port, unsigned width, uint32_t value) {
    Write(uint16_t(port - base_), width, value);
}

void ChipsetWatchdog::Write(uint16_t reg, unsigned, uint32_t value) {
    if (reg == kRr0) {
        const uint8_t b = uint8_t(value);
        if (b == kUnlock1) sequence_ = Sequence::FirstByte;
        else if (b == kUnlock2 && sequence_ == Sequence::FirstByte) sequence_ = Sequence::Open;
        else sequence_ = Sequence::Locked;
        return;
    }
    const bool open = sequence_ == Sequence::Open && !(wdtlr_ & kWdtlrLock);
    sequence_ = Sequence::Locked;
    if (reg == kRr1 && (value & kRr1Timeout)) {
        fired_ = false; // the time-out flag clears without the unlock
        return;
    }
    if (reg != kPv1 && reg != kPv2 && reg != kRr1 && reg != kWdtcr && reg != kWdtlr) return;
    if (!open) {
        ++refused_;
        return;
    }
    switch (reg) {
    case kPv1: pv1_ = value & kPreloadMask; break;
    case kPv2: pv2_ = value & kPreloadMask; break;
    case kRr1:
        if ((value & kRr1Reload) && running_) Start();
        break;
    case kWdtcr: wdtcr_ = value; break;
    case kWdtlr:
        if (value & kWdtlrEnable) {
            Start(); // enabling, or enabling again, restarts from the first stage
        } else {
            Fired();
            running_ = false;
        }
        wdtlr_ = uint8_t(value);
        break;
    }
}

} // namespace vek::sim
