#include "sim/speaker.h"

namespace vek::sim {

namespace {
constexpr uint8_t kSelectChannel2LoHi = 0xB0; // bits 7..4 of the control word: channel 2, low then high byte
}

PcSpeaker::PcSpeaker(Machine& machine) : machine_(machine) {
    machine_.ClaimPorts(kChannel2, 2, this); // 0x42, 0x43
    machine_.ClaimPorts(kPortB, 1, this);
}

PcSpeaker::~PcSpeaker() { machine_.ReleasePorts(this); }

uint32_t PcSpeaker::ReadPort(uint16_t port, unsigned) {
    if (port == kPortB) return portB_;
    return 0xFF;
}

void PcSpeaker::WritePort(uint16_t port, unsigned, uint32_t value) {
    const uint8_t v = uint8_t(value);
    switch (port) {
    case kControl:
        if ((v & 0xF0) == kSelectChannel2LoHi) expectHigh_ = false;
        break;
    case kChannel2:
        if (!expectHigh_) {
            divisor_ = uint16_t((divisor_ & 0xFF00) | v);
        } else {
            divisor_ = uint16_t((divisor_ & 0x00FF) | (v << 8));
        }
        expectHigh_ = !expectHigh_;
        break;
    case kPortB:
        Update(v);
        break;
    default:
        break;
    }
}

void PcSpeaker::Update(uint8_t newPortB) {
    const bool was = sounding();
    portB_ = newPortB;
    const bool now = sounding();
    if (!was && now) {
        const double hz = divisor_ ? kPitHz / divisor_ : 0;
        tones_.push_back({divisor_, hz, machine_.now_ns(), -1});
    } else if (was && !now && !tones_.empty()) {
        tones_.back().endNs = machine_.now_ns();
    }
}

} // namespace vek::sim
