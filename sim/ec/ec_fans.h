// Fans and sensors behind the simulated embedded controller.
//
// EcFans: fans whose tachometer registers follow the duty the EC drives them
// at. The smart-fan control register of a fan picks the duty: bits 0..2 = 7
// runs at the fixed duty in parameter 1, 1 follows the curve (parameter 1
// lower temperature, parameter 2 upper, parameter 4 duty at the lower one,
// 100 % at the upper) against the board temperature register, 0 stops the
// fan. A fan without control register runs at its free-running duty. The
// tachometer answers either the speed in rpm (high/low bytes) or an 8-bit
// period of 245760 counts per minute.
//
// Kind100Fans: the other EC firmware's four fan channels (status and speed in
// bank 0, eight-point curves in bank 2) and its board temperature, queried
// with auxiliary command 0xDD. A channel without a fan on its header reports
// no speed and a status without bits 0..2.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/devices.h"
#include "sim/ec/ec_model.h"

namespace vek::sim {

// The board fans (0, 2, 4, 6) that the second EC firmware drives on a board,
// from the board's own description; empty on every other board.
std::vector<uint32_t> Kind100FanHeaders(uint32_t boardId);

struct EcFanWiring {
    uint8_t tachHigh = 0x10;
    uint8_t tachLow = 0x11;
    bool period = false;    // 8-bit period in tachHigh instead of a 16-bit speed
    int control = -1;       // smart-fan control register; parameters 1..4 follow it; -1 none
    uint32_t maxRpm = 4800; // at 100 % duty
    int freeDuty = 60;      // duty without a control register
};

class EcFans : public Device {
public:
    static constexpr uint8_t kModeMask = 0x07;
    static constexpr uint8_t kModeCurve = 0x01;
    static constexpr uint8_t kModeFixed = 0x07;
    static constexpr uint32_t kPeriodCountsPerMinute = 245760;

    // tempRegister: the EC RAM byte the curves follow, in degrees Celsius plus tempBias.
    EcFans(Machine& machine, EcModel& ec, std::vector<EcFanWiring> fans, uint8_t tempRegister, int tempBias = 0);
    const char* name() const override { return "EC fans"; }

    size_t count() const { return fans_.size(); }
    const EcFanWiring& wiring(size_t fan) const { return fans_.at(fan).wiring; }
    // What the fan does now, from the EC's registers.
    int duty(size_t fan) const;
    uint32_t rpm(size_t fan) const;
    // A seized fan reports no rotation whatever its duty.
    void SetStalled(size_t fan, bool stalled) { fans_.at(fan).stalled = stalled; }
    // The board temperature the curves follow, as the EC's sensor would store it.
    void SetBoardTemperature(int celsius) { ec_.Poke(tempRegister_, uint8_t(celsius + tempBias_)); }

private:
    struct Fan {
        EcFanWiring wiring;
        bool stalled = false;
    };
    std::optional<uint8_t> Tachometer(uint8_t reg) const;

    EcModel& ec_;
    std::vector<Fan> fans_;
    uint8_t tempRegister_;
    int tempBias_;
};

class Kind100Fans : public Device {
public:
    static constexpr int kFans = 4;      // fans 0, 2, 4, 6 of the board
    static constexpr int kPoints = 8;
    static constexpr uint8_t kStatusValid = 0x07;
    static constexpr uint8_t kAuxSensor = 0xDD;
    struct Registers {
        uint8_t status, speedHigh, speedLow, curveBase;
    };
    static constexpr std::array<Registers, kFans> kRegisters = {{
        {0x59, 0x43, 0x42, 0x50},
        {0x5A, 0x45, 0x44, 0x78},
        {0x5B, 0x47, 0x46, 0xA0},
        {0x5C, 0x49, 0x48, 0xC8},
    }};

    // fitted: bit i set when channel i has a fan on its header.
    Kind100Fans(Machine& machine, EcModel& ec, uint8_t fitted = 0x0F);
    const char* name() const override { return "EC fans (kind 100)"; }

    // Board temperature in degrees Celsius (16 bits over the aux channel).
    void SetTemperature(uint16_t celsius) { temperature_ = celsius; }
    uint16_t temperature() const { return temperature_; }
    int duty(int fan) const;      // fan 0..3 (board fans 0, 2, 4, 6)
    uint32_t rpm(int fan) const;
    // A fan whose tachometer has not settled reports a status without bits 0..2.
    void SetSettled(int fan, bool settled) { settled_.at(fan) = settled; }
    bool fitted(int fan) const { return (fitted_ >> fan) & 1; }

private:
    std::optional<uint8_t> Read(int bank, uint8_t reg) const;

    EcModel& ec_;
    uint16_t temperature_ = 41;
    std::array<bool, kFans> settled_{true, true, true, false};
    uint8_t fitted_;
    uint32_t maxRpm_ = 6000;
};

// A voltage pair that converts on demand: writing 8 to the trigger register
// starts a conversion, and the pair reads zero until it completes.
class EcTriggeredConverter : public Device {
public:
    static constexpr uint8_t kStart = 8;
    EcTriggeredConverter(Machine& machine, EcModel& ec, uint8_t low, uint8_t high, uint8_t trigger,
                         uint16_t reading);
    const char* name() const override { return "EC triggered converter"; }

    void SetReading(uint16_t raw) { reading_ = raw; }
    void SetConversionTime(int64_t ns) { conversionNs_ = ns; }
    int conversions() const { return conversions_; }

private:
    Machine& machine_;
    uint8_t low_, high_, trigger_;
    uint16_t reading_;
    int64_t conversionNs_ = 300'000;
    int64_t readyAtNs_ = -1;
    int conversions_ = 0;
};

} // namespace vek::sim
