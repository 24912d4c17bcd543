// The PC speaker: PIT channel 2 (ports 0x42/0x43) and the gate/data bits of
// port 0x61. Records each tone with its frequency and virtual duration.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/devices.h"
#include "sim/machine.h"

namespace vek::sim {

class PcSpeaker : public Device, public PortDevice {
public:
    static constexpr uint16_t kChannel2 = 0x42;
    static constexpr uint16_t kControl = 0x43;
    static constexpr uint16_t kPortB = 0x61;
    static constexpr uint8_t kGate2 = 0x01;    // timer 2 gate
    static constexpr uint8_t kSpeakerOn = 0x02; // speaker data enable
    static constexpr double kPitHz = 1193180.0;

    struct Tone {
        uint16_t divisor;
        double hz;
        int64_t startNs;
        int64_t endNs; // -1 while sounding
    };

    explicit PcSpeaker(Machine& machine);
    ~PcSpeaker() override;
    const char* name() const override { return "PC speaker"; }

    uint32_t ReadPort(uint16_t port, unsigned width) override;
    void WritePort(uint16_t port, unsigned width, uint32_t value) override;

    const std::vector<Tone>& tones() const { return tones_; }
    bool sounding() const { return (portB_ & (kGate2 | kSpeakerOn)) == (kGate2 | kSpeakerOn); }
    uint16_t divisor() const { return divisor_; }

private:
    void Update(uint8_t newPortB);

    Machine& machine_;
    uint8_t portB_ = 0x20; // refresh toggle set, speaker off
    uint16_t divisor_ = 0;
    bool expectHigh_ = false;
    std::vector<Tone> tones_;
};

} // namespace vek::sim
