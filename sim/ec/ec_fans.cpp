#include "sim/ec/ec_fans.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <span>

#include "sim/board.h"
#include "sim/chip_models.h"

namespace vek::sim {

// ---- EcFans ----

EcFans::EcFans(Machine&, EcModel& ec, std::vector<EcFanWiring> fans, uint8_t tempRegister, int tempBias)
    : ec_(ec), tempRegister_(tempRegister), tempBias_(tempBias) {
    for (const EcFanWiring& s : fans) fans_.push_back(Fan{s});
    ec_.OnRamRead([this](int bank, uint8_t reg) -> std::optional<uint8_t> {
        if (bank != 0) return std::nullopt;
        return Tachometer(reg);
    });
}

int EcFans::duty(size_t fan) const {
    const EcFanWiring& s = fans_.at(fan).wiring;
    if (s.control < 0) return s.freeDuty;
    const auto reg = [&](int offset) { return int(ec_.Peek(uint8_t(s.control + offset))); };
    switch (reg(0) & kModeMask) {
    case kModeFixed: return std::min(reg(1), 100);
    case kModeCurve: {
        const int t = ec_.Peek(tempRegister_) - tempBias_;
        const int low = reg(1), high = reg(2), lowDuty = std::min(reg(4), 100);
        if (t >= high) return 100;
        if (t <= low) return lowDuty;
        return lowDuty + (100 - lowDuty) * (t - low) / (high - low);
    }
    default: return 0; // off
    }
}

uint32_t EcFans::rpm(size_t fan) const {
    if (fans_.at(fan).stalled) return 0;
    return fans_[fan].wiring.maxRpm * uint32_t(duty(fan)) / 100;
}

std::optional<uint8_t> EcFans::Tachometer(uint8_t reg) const {
    for (size_t i = 0; i < fans_.size(); ++i) {
        const EcFanWiring& s = fans_[i].wiring;
        if (reg != s.tachHigh && (s.period || reg != s.tachLow)) continue;
        const uint32_t r = rpm(i);
        if (s.period) {
            // The period counter overflows (0xFF) when the fan stands still.
            if (r == 0) return uint8_t(0xFF);
            return uint8_t(std::clamp<uint32_t>(kPeriodCountsPerMinute / r, 1, 254));
        }
        return uint8_t(reg == s.tachHigh ? r >> 8 : r);
    }
    return std::nullopt;
}

// ---- Kind100Fans ----

Kind100Fans::Kind100Fans(Machine&, EcModel& ec, uint8_t fitted) : ec_(ec), fitted_(fitted) {
    // A plausible curve for every fan: 30..100 °C, 20..100 %.
    constexpr uint8_t temps[kPoints] = {30, 40, 50, 60, 70, 80, 90, 100};
    constexpr uint8_t duties[kPoints] = {20, 30, 40, 50, 60, 70, 85, 100};
    for (const Registers& r : kRegisters)
        for (int k = 0; k < kPoints; ++k) {
            ec_.Poke(uint8_t(r.curveBase + 4 * k), temps[k], 2);
            ec_.Poke(uint8_t(r.curveBase + 4 * k + 1), temps[k], 2);
            ec_.Poke(uint8_t(r.curveBase + 4 * k + 2), duties[k], 2);
        }
    ec_.OnRamRead([this](int bank, uint8_t reg) { return Read(bank, reg); });
    // Query 0xDD: page 2, byte 4 (low) or 5 (high) of the board temperature.
    ec_.OnAuxCommand(kAuxSensor, 3, [this](std::span<const uint8_t> d) -> std::optional<uint8_t> {
        if (d[0] != 2) return uint8_t(0);
        if (d[1] == 4) return uint8_t(temperature_);
        if (d[1] == 5) return uint8_t(temperature_ >> 8);
        return uint8_t(0);
    });
}

int Kind100Fans::duty(int fan) const {
    const uint8_t base = kRegisters.at(fan).curveBase;
    const auto temp = [&](int k) { return int(ec_.Peek(uint8_t(base + 4 * k), 2)); };
    const auto dut = [&](int k) { return std::min(int(ec_.Peek(uint8_t(base + 4 * k + 2), 2)), 100); };
    const int t = temperature_;
    if (t <= temp(0)) return dut(0);
    for (int k = 1; k < kPoints; ++k) {
        if (t > temp(k)) continue;
        const int t0 = temp(k - 1), t1 = temp(k);
        if (t1 <= t0) return dut(k);
        return dut(k - 1) + (dut(k) - dut(k - 1)) * (t - t0) / (t1 - t0);
    }
    return dut(kPoints - 1);
}

uint32_t Kind100Fans::rpm(int fan) const { return fitted(fan) ? maxRpm_ * uint32_t(duty(fan)) / 100 : 0; }

std::optional<uint8_t> Kind100Fans::Read(int bank, uint8_t reg) const {
    if (bank != 0) return std::nullopt;
    for (int i = 0; i < kFans; ++i) {
        const Registers& r = kRegisters[i];
        if (reg == r.status) return uint8_t(settled_[i] && fitted(i) ? kStatusValid : 0x00);
        if (reg == r.speedHigh) return uint8_t(rpm(i) >> 8);
        if (reg == r.speedLow) return uint8_t(rpm(i));
    }
    return std::nullopt;
}

// ---- what each EC board carries ----

namespace {

// Where the board's EC firmware keeps its readings (bank 0 registers).
struct SensorSeed {
    uint8_t reg;
    uint8_t value;
};

// Standard firmware: CPU 52 °C, board 38 °C, second sensor 41 °C; core
// 1.2 V, 3.3 V, 5 V, 12 V and 1.05 V through their dividers (10-bit
// converter, 3.0 V full scale).
constexpr SensorSeed kStandardSensors[] = {
    {0x00, 52},                 // CPU temperature
    {0x01, 41},                 // second board sensor
    {0x02, 0x80}, {0x03, 38},   // board temperature (low, main)
    {0x20, 0x99}, {0x21, 0x01}, // channel 0: 409 → 1.20 V
    {0x22, 0x33}, {0x23, 0x02}, // channel 2: 563 × 2.0 → 3.30 V
    {0x24, 0x15}, {0x25, 0x02}, // channel 3: 533 × 3.2 → 5.00 V
    {0x30, 0x6C}, {0x31, 0x02}, // channel 4: 620 × 6.6 → 12.00 V
    {0x32, 0x66}, {0x33, 0x01}, // channel 1: 358 → 1.05 V
};
// Smart fan of fan 0 as the firmware starts: curve 30..80 °C from 30 %.
constexpr SensorSeed kStandardSmartFan[] = {{0x16, 0x01}, {0x17, 30}, {0x18, 80}, {0x19, 0}, {0x1A, 30}};

// Input-current monitors: sign in bit 15, milliamperes below (1.5 A in, 0.25 A out).
constexpr SensorSeed kCurrentSensors[] = {{0x26, 0xDC}, {0x27, 0x05}, {0x28, 0xFA}, {0x29, 0x80}};

// Firmware on the indirect path: the sensors sit in EC memory 0x0300..,
// the RAM's alias. The board thermistor reads 696 (about 35 °C).
constexpr SensorSeed kIndirectSensors[] = {
    {0x0C, 50},                 // CPU temperature (0x030C)
    {0x2D, 0x02}, {0x2E, 0xB8}, // thermistor main/low (0x032D/0x032E)
    {0x20, 0x02}, {0x21, 0xAB}, // channel 4 high/low (0x0320/0x0321): 683 → 12 V
    {0x22, 0x02}, {0x23, 0xAA}, // channel 1: 682 → 3.3 V
    {0x2B, 0x02}, {0x2C, 0xAA}, // channel 3: 682 → 5 V
};

// Firmware with the bytes of each voltage the other way round.
constexpr SensorSeed kSwappedSensors[] = {
    {0x00, 52}, {0x03, 38},
    {0x20, 0x01}, {0x21, 0x66}, // channel 1 high/low
    {0x24, 0x02}, {0x25, 0x15}, // channel 3
    {0x30, 0x02}, {0x31, 0x6C}, // channel 4
};

struct MonitorLayout {
    std::vector<EcFanWiring> fans;
    uint8_t tempRegister = 0x03;
    int tempBias = 0;
    std::vector<SensorSeed> sensors;
};

void Append(std::vector<SensorSeed>& to, std::span<const SensorSeed> seeds) {
    to.insert(to.end(), seeds.begin(), seeds.end());
}

MonitorLayout StandardLayout() {
    MonitorLayout m;
    m.fans = {EcFanWiring{.tachHigh = 0x10, .tachLow = 0x11, .control = 0x16},
              EcFanWiring{.tachHigh = 0x12, .tachLow = 0x13, .maxRpm = 3600}};
    Append(m.sensors, kStandardSensors);
    Append(m.sensors, kStandardSmartFan);
    return m;
}

MonitorLayout LayoutFor(uint32_t boardId) {
    MonitorLayout m;
    switch (boardId) {
    case 5:
        Append(m.sensors, kSwappedSensors);
        return m;
    case 6: case 7: case 8: case 9: case 10:
        Append(m.sensors, kIndirectSensors);
        return m;
    case 81: // GPIO sets occupy 0x30..0x35; channels 4 and 1 moved to 0x3A..0x3D
        m = StandardLayout();
        std::erase_if(m.sensors, [](SensorSeed s) { return s.reg >= 0x30 && s.reg <= 0x35; });
        Append(m.sensors, std::initializer_list<SensorSeed>{{0x3A, 0x6C}, {0x3B, 0x02}, {0x3C, 0x66}, {0x3D, 0x01}});
        return m;
    case 124: case 125: case 129: {
        // Three fans, each with its own curve; board 124 reports its board
        // sensors 64 high.
        const uint8_t bias = boardId == 124 ? 64 : 0;
        m.tempBias = bias;
        m.fans = {EcFanWiring{.tachHigh = 0x11, .tachLow = 0x10, .control = 0x16},
                  EcFanWiring{.tachHigh = 0x13, .tachLow = 0x12, .control = 0x26},
                  EcFanWiring{.tachHigh = 0x15, .tachLow = 0x14, .control = 0x36}};
        Append(m.sensors, std::span(kStandardSensors).subspan(4)); // the voltages
        Append(m.sensors, std::initializer_list<SensorSeed>{
                              {0x00, 52}, {0x01, 41}, {0x03, uint8_t(38 + bias)}, {0x05, uint8_t(45 + bias)}});
        for (uint8_t c : {0x16, 0x26, 0x36})
            for (const SensorSeed& s : kStandardSmartFan) m.sensors.push_back({uint8_t(s.reg - 0x16 + c), s.value});
        return m;
    }
    case 135: // fanless; board temperature at 0x02, battery on the triggered pair
        m.tempRegister = 0x02;
        m.sensors = {{0x00, 52}, {0x02, 38}, {0x03, 0x80}};
        Append(m.sensors, std::span(kStandardSensors).subspan(4, 6)); // channels 0, 2, 3
        Append(m.sensors, std::initializer_list<SensorSeed>{{0x30, 0x6C}, {0x31, 0x02}});
        return m;
    case 140: case 141: case 142:
        m = StandardLayout();
        Append(m.sensors, kCurrentSensors);
        return m;
    default: return StandardLayout();
    }
}

} // namespace

// ---- channel-6 converter of the triggered firmware ----

EcTriggeredConverter::EcTriggeredConverter(Machine& machine, EcModel& ec, uint8_t low, uint8_t high,
                                           uint8_t trigger, uint16_t reading)
    : machine_(machine), low_(low), high_(high), trigger_(trigger), reading_(reading) {
    ec.OnRamWrite([this](int bank, uint8_t reg, uint8_t value) {
        if (bank != 0 || reg != trigger_) return;
        if (value == kStart) {
            ++conversions_;
            readyAtNs_ = machine_.now_ns() + conversionNs_;
        }
    });
    ec.OnRamRead([this](int bank, uint8_t reg) -> std::optional<uint8_t> {
        if (bank != 0 || (reg != low_ && reg != high_)) return std::nullopt;
        if (readyAtNs_ < 0 || machine_.now_ns() < readyAtNs_) return uint8_t(0);
        return uint8_t(reg == high_ ? reading_ >> 8 : reading_);
    });
}

namespace {

// Boards whose second EC firmware drives fan headers, as their schematics
// show: the board fan numbers on its channels 0..3 (board fans 0, 2, 4, 6).
struct Kind100Board {
    uint32_t boardId;
    std::array<uint32_t, Kind100Fans::kFans> fans; // board fan numbers; kNone = no header
};
constexpr uint32_t kNone = 0xFF;
constexpr Kind100Board kKind100Boards[] = {
    {144, {0, 2, 4, 6}},             // four headers beside the Super I/O's
    {151, {0, 2, kNone, kNone}},     // two headers
};

} // namespace

std::vector<uint32_t> Kind100FanHeaders(uint32_t boardId) {
    std::vector<uint32_t> fans;
    for (const Kind100Board& b : kKind100Boards)
        if (b.boardId == boardId)
            for (uint32_t f : b.fans)
                if (f != kNone) fans.push_back(f);
    return fans;
}

void AddEcFanModels(Board& board) {
    EcModel* ec = board.Find<EcModel>();
    if (ec == nullptr) return;
    const PlatformEntry& row = board.row();
    if (row.chipKind == 3 || row.chipKind == 11) {
        MonitorLayout m = LayoutFor(row.boardId);
        for (const SensorSeed& s : m.sensors) ec->Poke(s.reg, s.value);
        if (!m.fans.empty()) board.Add<EcFans>(*ec, m.fans, m.tempRegister, m.tempBias);
        if (row.boardId == 135) board.Add<EcTriggeredConverter>(*ec, 0x32, 0x33, 0x35, 0x0200); // 3.0 V battery
        return;
    }
    for (const Kind100Board& b : kKind100Boards) {
        if (b.boardId != row.boardId) continue;
        uint8_t fitted = 0;
        for (int i = 0; i < Kind100Fans::kFans; ++i)
            if (b.fans[size_t(i)] != kNone) fitted |= uint8_t(1u << i);
        board.Add<Kind100Fans>(*ec, fitted);
    }
}

} // namespace vek::sim
