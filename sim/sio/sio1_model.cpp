#include "sim/sio/sio1_model.h"

#include <algorithm>
#include <cmath>

#include "sim/board.h"
#include "sim/chip_models.h"

namespace vek::sim {

namespace {

constexpr int64_t kSecondNs = 1'000'000'000;
constexpr uint16_t kHwmBase = 0x0290;
constexpr uint8_t kChipIdHigh = 0x20, kChipIdLow = 0x21;
constexpr uint8_t kActiveBit = 0x01;
constexpr uint8_t kVbatMonitorBit = 0x01;
constexpr uint8_t kFanControlBank = 1;
constexpr uint32_t kTachClock = 1'350'000;
constexpr uint32_t kCount13Max = 0x1FFF;
constexpr uint32_t kCount8Max = 0xFF;
constexpr uint8_t kModeSmart = 4;
constexpr uint8_t kFirmwareDuty = 0xB3;   // about 70 %
constexpr uint32_t kFanFullRpm = 4800;
constexpr uint32_t kUncontrolledRpm = 3000;

// ---------------------------------------------------------------- the parts

constexpr Sio1GpioPort Uniform(uint8_t g) {
    return {0x07, uint8_t(1u << g), uint8_t(0xE0 + 4 * g), uint8_t(0xE1 + 4 * g)};
}
constexpr Sio1GpioPort kGpioNew[] = {Uniform(0), Uniform(1), Uniform(2), Uniform(3),
                                     Uniform(4), Uniform(5), Uniform(6), Uniform(7)};
// Chip part 1: device 9 groups at E3, F0, F4, E0 and device 7's at F4. Group 2's
// pins 0..1 are GPIO while 0x29 bits 2..1 read 01 and pins 4..7 while 0x2A
// bit 0 is set; group 3's pins 2, 3, 4 while 0x2C bits 5, 6, 7 are clear;
// group 4 while 0x2C bits 1..0 read 10; each pin of group 5 while its own bit
// of 0x29 is set.
constexpr Sio1PinMux kMux1Group2[] = {{0x03, 0x29, 0x06, 0x02}, {0xF0, 0x2A, 0x01, 0x01}};
constexpr Sio1PinMux kMux1Group3[] = {{0x04, 0x2C, 0x20, 0}, {0x08, 0x2C, 0x40, 0}, {0x10, 0x2C, 0x80, 0}};
constexpr Sio1PinMux kMux1Group4[] = {{0xFF, 0x2C, 0x03, 0x02}};
constexpr Sio1PinMux kMux1Group5[] = {{0x01, 0x29, 0x01, 0x01}, {0x02, 0x29, 0x02, 0x02}, {0x04, 0x29, 0x04, 0x04},
                                      {0x08, 0x29, 0x08, 0x08}, {0x10, 0x29, 0x10, 0x10}, {0x20, 0x29, 0x20, 0x20},
                                      {0x40, 0x29, 0x40, 0x40}, {0x80, 0x29, 0x80, 0x80}};
constexpr Sio1GpioPort kGpio1[] = {{0x09, 0x01, 0xE3, 0xE4, kMux1Group2}, {0x09, 0x02, 0xF0, 0xF1, kMux1Group3},
                                   {0x09, 0x04, 0xF4, 0xF5, kMux1Group4}, {0x09, 0x08, 0xE0, 0xE1, kMux1Group5},
                                   {0x07, 0x08, 0xF4, 0xF5}};
constexpr Sio1RegValue kReset1[] = {{0x2C, 0xE0}};

// Chip part 2: the groups of devices 7 and 8 share their pins with the parallel
// and serial ports; 0x29 bits 7, 4, 5 and 7 give them to GPIO.
constexpr Sio1PinMux kMux2Bit7[] = {{0xFF, 0x29, 0x80, 0x80}};
constexpr Sio1PinMux kMux2Bit4[] = {{0xFF, 0x29, 0x10, 0x10}};
constexpr Sio1PinMux kMux2Bit5[] = {{0xFF, 0x29, 0x20, 0x20}};
constexpr Sio1GpioPort kGpio2[] = {{0x09, 0x01, 0xE0, 0xE1}, {0x09, 0x02, 0xE4, 0xE5},
                                   {0x07, 0x01, 0xE0, 0xE1, kMux2Bit7}, {0x07, 0x02, 0xE4, 0xE5, kMux2Bit4},
                                   {0x08, 0x02, 0xE0, 0xE1, kMux2Bit5}, {0x08, 0x04, 0xE4, 0xE5, kMux2Bit7}};

// Chip part 3: nearly every pin is shared; each has its own field.
constexpr Sio1PinMux kMux3Group1[] = {{0xFF, 0x29, 0xC0, 0x40}};
constexpr Sio1PinMux kMux3Group2[] = {{0x01, 0x29, 0x03, 0x01}, {0x02, 0x2A, 0xC0, 0x40}, {0x04, 0x2A, 0x20, 0},
                                      {0x08, 0x2A, 0x10, 0},    {0x10, 0x2A, 0x08, 0},    {0x20, 0x2A, 0x04, 0},
                                      {0x40, 0x2A, 0x02, 0}};
constexpr Sio1PinMux kMux3Group3[] = {{0x01, 0x2C, 0x30, 0},    {0x02, 0x2C, 0xC0, 0}, {0x04, 0x2B, 0x03, 0},
                                      {0x08, 0x2B, 0x0C, 0},    {0x10, 0x2B, 0x30, 0x10}, {0x20, 0x2B, 0x40, 0},
                                      {0x80, 0x2C, 0x0C, 0x04}};
constexpr Sio1PinMux kMux3Group4[] = {{0x01, 0x2D, 0x01, 0}, {0x02, 0x2D, 0x02, 0}, {0x04, 0x2D, 0x04, 0},
                                      {0x08, 0x2D, 0x08, 0}, {0x10, 0x2D, 0x10, 0}, {0x20, 0x2D, 0x20, 0},
                                      {0x40, 0x2D, 0x40, 0}, {0x80, 0x2D, 0x80, 0}};
constexpr Sio1GpioPort kGpio3[] = {{0x07, 0x01, 0xF0, 0xF1, kMux3Group1}, {0x08, 0x01, 0xF0, 0xF1, kMux3Group2},
                                   {0x09, 0x01, 0xF0, 0xF1, kMux3Group3}, {0x09, 0x02, 0xF4, 0xF5, kMux3Group4},
                                   {0x07, 0x08, 0xF3, 0xF4}};
constexpr Sio1RegValue kReset3[] = {{0x2A, 0x3E}, {0x2B, 0x4F}, {0x2C, 0xF0}, {0x2D, 0xFF}};

// Chip part 4: three whole groups, each behind its own pin-function register.
constexpr Sio1PinMux kMux4Group1[] = {{0xFF, 0x2A, 0xFC, 0xFC}};
constexpr Sio1PinMux kMux4Group2[] = {{0xFF, 0x2B, 0xF7, 0xF7}};
constexpr Sio1PinMux kMux4Group3[] = {{0xFF, 0x29, 0xFC, 0xFC}};
constexpr Sio1GpioPort kGpio4[] = {{0x07, 0x01, 0xF0, 0xF1, kMux4Group1}, {0x08, 0x01, 0xF0, 0xF1, kMux4Group2},
                                   {0x09, 0x01, 0xF0, 0xF1, kMux4Group3}};
constexpr Sio1GpioPort kGpio7[] = {{0x08, 0x01, 0xE0, 0xE1}, {0x08, 0x80, 0xF0, 0xF1}, {0x09, 0x01, 0xE0, 0xE1},
                                   {0x09, 0x02, 0xE4, 0xE5}, {0x09, 0x04, 0xF0, 0xF1}, {0x09, 0x08, 0xF4, 0xF5},
                                   {0x07, 0x01, 0xF0, 0xF1}, {0x07, 0x02, 0xE0, 0xE1}, {0x07, 0x04, 0xE4, 0xE5}};

// 13-bit tachometers, each with its fan output (duty, mode, curve points) in bank 1.
constexpr Sio1FanChannel kFansNew[] = {
    {0x20, 0x21, 0, 0, 0, 0x19, 0x13, 0x60, 0x64},
    {0x22, 0x23, 0, 0, 0, 0x29, 0x23, 0x70, 0x74},
    {0x24, 0x25, 0, 0, 0, 0x39, 0x33, 0x80, 0x84},
    {0x26, 0x27, 0, 0, 0, 0x89, 0x93, 0xD0, 0xD4},
    {0x28, 0x29, 0, 0, 0, 0x99, 0xA3, 0xE0, 0xE4},
    {0x2A, 0x2B, 0, 0, 0, 0, 0, 0, 0},
};
// 8-bit tachometers with a divisor 2^e: e bits 0..1 in 0x47/0x4B, bit 2 in 0x5D.
constexpr Sio1FanChannel kFansOld[] = {
    {0x28, 0, 0x47, 4, 5, 0, 0, 0, 0},
    {0x29, 0, 0x47, 6, 6, 0, 0, 0, 0},
    {0x2A, 0, 0x4B, 6, 7, 0, 0, 0, 0},
};

constexpr Sio1Variant kNew = {"13-bit part", 0xC333, kGpioNew, 0x08, 0xF0, 0xF1, true,
                              3, 0x0D, 0, 3, 0x0C, 0, 0x05, 196, kFansNew, false};
constexpr Sio1Variant kOld1 = {"part 1", 0x5217, kGpio1, 0x08, 0xF5, 0xF6, false,
                               1, 0x50, 0x51, 0, 0x27, 5, 0x51, 196, kFansOld, false, kReset1};
constexpr Sio1Variant kOld2 = {"part 2", 0x5217, kGpio2, 0x08, 0xF5, 0xF6, false,
                               1, 0x50, 0x51, 0, 0x27, 5, 0x51, 92, kFansOld, false};
constexpr Sio1Variant kOld3 = {"part 3", 0x8850, kGpio3, 0x08, 0xF5, 0xF6, false,
                               1, 0x50, 0x51, 0, 0x27, 5, 0x51, 98, kFansOld, true, kReset3};
constexpr Sio1Variant kOld4 = {"part 4", 0x8860, kGpio4, 0x08, 0xF5, 0xF6, false,
                               1, 0x50, 0x51, 0, 0x27, 5, 0x51, 98, kFansOld, true};
constexpr Sio1Variant kOld6 = {"part 6", 0x5217, {}, 0x08, 0xF5, 0xF6, false,
                               1, 0x50, 0x51, 0, 0x27, 5, 0x51, 196, kFansOld, false};
constexpr Sio1Variant kOld7 = {"part 7", 0xB470, kGpio7, 0x08, 0xF5, 0xF6, false,
                               3, 0x0D, 0, 3, 0x0C, 5, 0x51, 196, kFansOld, false};

// Raw readings of the voltage inputs as the board's rails present them.
struct VoltageSeed {
    uint8_t bank, reg, raw;
};
constexpr VoltageSeed kVoltagesNew[] = {{3, 0x00, 0x6E}, {3, 0x01, 0x7D}, {3, 0x02, 0xCE}, {3, 0x03, 0xCE},
                                        {3, 0x04, 0x7F}, {3, 0x06, 0x9C}, {3, 0x07, 0x92}, {3, 0x08, 0x64},
                                        {3, 0x09, 0x60}};
constexpr VoltageSeed kVoltagesOld[] = {{0, 0x18, 0x5C}, {0, 0x20, 0x70}, {0, 0x21, 0x88}, {0, 0x22, 0xBB},
                                        {0, 0x23, 0x92}, {0, 0x24, 0xD0}, {0, 0x25, 0xD0}, {0, 0x26, 0x9C}};

// Fan headers fitted per board, where a board differs from its part's usual
// three (the first three tachometer channels): by counter register, so the
// list reads like the board's schematic.
struct FanHeaders {
    uint32_t boardId;
    std::array<uint8_t, 6> counters; // 0 = unused slot
};
constexpr FanHeaders kFanHeaders[] = {
    {4, {0x29}},                                   // one header, on the 0x29 counter
    {33, {}},                                      // fanless
    {2, {}},                                       // no board description of its own: no header known
    {130, {0x20, 0x22, 0x24, 0x26, 0x28, 0x2A}},   // six headers
    {132, {0x20, 0x22, 0x24, 0x26, 0x28, 0x2A}},
    {144, {0x20, 0x22, 0x24, 0x26, 0x28, 0x2A}},
    {151, {0x20, 0x22, 0x24, 0x26, 0x28, 0x2A}},
};
constexpr uint8_t kUsualFans = 0x07;

// Boards strapped to the alternate configuration port.
constexpr uint32_t kAlternatePortBoards[] = {58, 130, 132};

// Boards with a panel backlight controller on GPIO pins: device, data
// register, up and down pins.
struct BacklightWiring {
    uint32_t boardId;
    uint8_t ldn, dataReg, upBit, downBit;
};
constexpr BacklightWiring kBacklights[] = {{43, 0x07, 0xF9, 0x10, 0x08}};
constexpr int kBacklightStartLevel = 50;

} // namespace

const Sio1Variant& Sio1VariantFor(uint32_t subtype) {
    switch (subtype) {
    case 1: return kOld1;
    case 2: return kOld2;
    case 3: return kOld3;
    case 4: return kOld4;
    case 6: return kOld6;
    case 7: return kOld7;
    default: return kNew; // 0, 5, 8
    }
}

uint8_t Sio1FittedFans(uint32_t boardId, const Sio1Variant& variant) {
    for (const FanHeaders& h : kFanHeaders) {
        if (h.boardId != boardId) continue;
        uint8_t fitted = 0;
        for (uint8_t counter : h.counters)
            for (size_t i = 0; i < variant.fans.size(); ++i)
                if (counter != 0 && variant.fans[i].countReg == counter) fitted |= uint8_t(1u << i);
        return fitted;
    }
    return kUsualFans;
}

uint16_t Sio1ConfigPortFor(uint32_t boardId) {
    for (uint32_t b : kAlternatePortBoards)
        if (b == boardId) return 0x4E;
    return 0x2E;
}

// ---------------------------------------------------------------- construction

Sio1Model::Sio1Model(Machine& machine, const Sio1Variant& variant, uint16_t configPort, uint16_t hwmBase,
                     uint8_t fittedFans)
    : machine_(machine), variant_(variant), configPort_(configPort), vbatRaw_(variant.vbatSeed),
      fitted_(fittedFans) {
    machine_.ClaimPorts(configPort_, 2, this);
    global_[kChipIdHigh] = uint8_t(variant.chipId >> 8);
    global_[kChipIdLow] = uint8_t(variant.chipId);
    for (const Sio1RegValue& r : variant.resetGlobals) global_[r.reg & 0x3F] = r.value;
    // As the firmware leaves it: monitor enabled at its base, fans in manual
    // mode at the firmware's duty, divisors 2. Every other device is as reset
    // leaves it, inactive.
    devices_[kHwmDevice][kBaseHigh] = uint8_t(hwmBase >> 8);
    devices_[kHwmDevice][kBaseLow] = uint8_t(hwmBase);
    devices_[kHwmDevice][kActivate] = kActiveBit;
    for (const Sio1FanChannel& c : variant.fans)
        if (c.dutyReg) hwm_[kFanControlBank][c.dutyReg] = kFirmwareDuty;
    if (!variant.thirteenBit) {
        hwm_[0][0x47] = 0x50;
        hwm_[0][0x4B] = 0x40;
    }
    for (const VoltageSeed& v : variant.thirteenBit ? std::span<const VoltageSeed>(kVoltagesNew)
                                                    : std::span<const VoltageSeed>(kVoltagesOld))
        hwm_[v.bank][v.reg] = variant.coarseInputs ? uint8_t(v.raw / 2) : v.raw;
    hwm_[variant.vbatBank][variant.vbatReg] = vbatRaw_; // measured once at power-on
    fanFullRpm_.assign(variant.fans.size(), kFanFullRpm);
    for (size_t i = 0; i < variant.fans.size(); ++i)
        if (variant.fans[i].dutyReg == 0) fanFullRpm_[i] = kUncontrolledRpm - 100 * uint32_t(i);
    tach_.assign(variant.fans.size(), Tach::kTurning);
    PlaceMonitor();
}

Sio1Model::~Sio1Model() {
    machine_.ReleasePorts(this);
    machine_.ReleasePorts(&hwmPorts_);
}

// The monitor decodes its index/data pair while its device is enabled.
void Sio1Model::PlaceMonitor() {
    machine_.ReleasePorts(&hwmPorts_);
    hwmIndex_ = 0;
    const auto& d = devices_[kHwmDevice];
    const uint16_t base = uint16_t(d[kBaseHigh] << 8 | d[kBaseLow]);
    if (!(d[kActivate] & kActiveBit) || base == 0) return;
    const uint16_t index = uint16_t(base + 5);
    for (uint16_t p = index; p <= index + 1; ++p)
        if (machine_.PortOwner(p) != nullptr) return; // a clash leaves the monitor unreachable
    machine_.ClaimPorts(index, 2, &hwmPorts_);
    hwmIndex_ = index;
}

// ---------------------------------------------------------------- configuration ports

uint32_t Sio1Model::ReadPort(uint16_t port, unsigned) {
    Tick();
    if (silent_ || locked_) return 0xFF;
    return port == configPort_ ? index_ : ReadConfig(index_);
}

void Sio1Model::WritePort(uint16_t port, unsigned, uint32_t value) {
    Tick();
    if (silent_) return;
    const uint8_t v = uint8_t(value);
    if (locked_) {
        // Only the index port listens, and only to the key.
        if (port != configPort_) return;
        if (v == kKey) {
            if (++keyProgress_ == 2) {
                locked_ = false;
                keyProgress_ = 0;
            }
        } else {
            keyProgress_ = 0;
            ++rejectedKey_;
        }
        return;
    }
    if (port == configPort_) {
        if (v == kExit) {
            locked_ = true;
            return;
        }
        index_ = v;
        return;
    }
    WriteConfig(index_, v);
}

const Sio1GpioPort* Sio1Model::PortAt(uint8_t ldn, uint8_t reg) const {
    for (const Sio1GpioPort& p : variant_.gpio)
        if (p.ldn == ldn && (p.dataReg == reg || p.ioReg == reg)) return &p;
    return nullptr;
}

bool Sio1Model::Enabled(const Sio1GpioPort& p) const { return (devices_[p.ldn][kActivate] & p.actBit) != 0; }

uint8_t Sio1Model::GpioPins(uint8_t ldn, uint8_t dataReg) const {
    const Sio1GpioPort* p = PortAt(ldn % kDevices, dataReg);
    if (p == nullptr || !Enabled(*p)) return 0;
    uint8_t pins = 0xFF;
    for (const Sio1PinMux& m : p->mux)
        if ((global_[m.reg & 0x3F] & m.mask) != m.value) pins = uint8_t(pins & ~m.pins);
    return pins;
}

uint8_t Sio1Model::ReadConfig(uint8_t reg) {
    if (reg < kActivate) return global_[reg];
    const uint8_t ldn = global_[kDeviceSelect] % kDevices;
    if (const Sio1GpioPort* p = PortAt(ldn, reg); p && p->dataReg == reg && Enabled(*p)) {
        // Input pins read the board's levels, output pins their latch; pins
        // serving another function read 0.
        const uint8_t io = devices_[ldn][p->ioReg];
        const uint8_t levels = uint8_t((devices_[ldn][reg] & ~io) | (inputs_[ldn * 256 + reg] & io));
        return uint8_t(levels & GpioPins(ldn, reg));
    }
    if (ldn == variant_.wdtLdn && reg == variant_.wdtCountReg && wdt_.running) {
        const int64_t unitNs = (devices_[ldn][variant_.wdtModeReg] & kWdtMinutes) ? 60 * kSecondNs : kSecondNs;
        const int64_t left = wdt_.deadlineNs - machine_.now_ns();
        return uint8_t((left + unitNs - 1) / unitNs);
    }
    return devices_[ldn][reg];
}

void Sio1Model::WriteConfig(uint8_t reg, uint8_t value) {
    if (reg < kActivate) {
        if (reg != kChipIdHigh && reg != kChipIdLow) global_[reg] = value;
        return;
    }
    const uint8_t ldn = global_[kDeviceSelect] % kDevices;
    devices_[ldn][reg] = value;
    if (ldn == kHwmDevice && (reg == kActivate || reg == kBaseHigh || reg == kBaseLow)) PlaceMonitor();
    if (ldn == variant_.wdtLdn && reg == variant_.wdtCountReg) {
        const bool enabled = (devices_[ldn][kActivate] & kActiveBit) != 0;
        wdt_.running = value != 0 && enabled;
        if (wdt_.running) {
            const int64_t unitNs = (devices_[ldn][variant_.wdtModeReg] & kWdtMinutes) ? 60 * kSecondNs : kSecondNs;
            wdt_.timeoutNs = value * unitNs;
            wdt_.deadlineNs = machine_.now_ns() + wdt_.timeoutNs;
        }
    }
    PinsChanged();
}

// ---------------------------------------------------------------- GPIO and backlight

void Sio1Model::DriveInputs(uint8_t ldn, uint8_t dataReg, uint8_t levels) {
    inputs_[(ldn % kDevices) * 256 + dataReg] = levels;
}

uint8_t Sio1Model::DrivenMask(uint8_t ldn, uint8_t dataReg) const {
    const Sio1GpioPort* p = PortAt(ldn, dataReg);
    if (p == nullptr) return 0;
    return uint8_t(~devices_[ldn][p->ioReg] & GpioPins(ldn, dataReg));
}

uint8_t Sio1Model::DrivenLevels(uint8_t ldn, uint8_t dataReg) const {
    return uint8_t(devices_[ldn % kDevices][dataReg] & DrivenMask(ldn, dataReg));
}

void Sio1Model::AttachBacklight(uint8_t ldn, uint8_t dataReg, uint8_t upBit, uint8_t downBit, int level) {
    backlight_ = Backlight{.attached = true, .ldn = ldn, .dataReg = dataReg, .upBit = upBit, .downBit = downBit,
                           .level = level};
}

void Sio1Model::PinsChanged() {
    Backlight& b = backlight_;
    if (!b.attached) return;
    const uint8_t high = DrivenLevels(b.ldn, b.dataReg);
    const int64_t now = machine_.now_ns();
    auto edge = [&](bool nowHigh, bool& wasHigh, int64_t& since, int delta) {
        if (nowHigh && !wasHigh) since = now;
        if (!nowHigh && wasHigh && now - since >= kMinPulseNs) {
            b.level = std::clamp(b.level + delta, 0, 100);
            ++b.steps;
        }
        wasHigh = nowHigh;
    };
    edge((high & b.upBit) != 0, b.upHigh, b.upSinceNs, +10);
    edge((high & b.downBit) != 0, b.downHigh, b.downSinceNs, -10);
}

// ---------------------------------------------------------------- watchdog

void Sio1Model::Tick() {
    if (wdt_.running && machine_.now_ns() >= wdt_.deadlineNs) {
        wdt_.running = false;
        ++wdt_.expiries;
        wdt_.lastExpiryNs = wdt_.deadlineNs;
        devices_[variant_.wdtLdn][variant_.wdtCountReg] = 0;
    }
}

const Sio1Model::TimerState& Sio1Model::watchdog() {
    Tick();
    return wdt_;
}

// ---------------------------------------------------------------- hardware monitor

uint32_t Sio1Model::HwmPorts::ReadPort(uint16_t port, unsigned) {
    if (chip_.silent_) return 0xFF;
    return port == chip_.hwmIndex_ ? chip_.hwmIndexReg_ : chip_.ReadMonitor(chip_.hwmIndexReg_);
}

void Sio1Model::HwmPorts::WritePort(uint16_t port, unsigned, uint32_t value) {
    if (chip_.silent_) return;
    if (port == chip_.hwmIndex_)
        chip_.hwmIndexReg_ = uint8_t(value);
    else
        chip_.WriteMonitor(chip_.hwmIndexReg_, uint8_t(value));
}

void Sio1Model::SetTemperatures(double cpuC, double sysC) {
    cpuC_ = cpuC;
    sysC_ = sysC;
}

void Sio1Model::SetFanFullSpeed(int channel, uint32_t rpm) { fanFullRpm_.at(size_t(channel)) = rpm; }
void Sio1Model::SetTach(int channel, Tach state) { tach_.at(size_t(channel)) = state; }

// Manual mode drives the duty register's value; smart mode follows the curve
// against the CPU temperature, flat outside its end points.
uint8_t Sio1Model::FanDuty(const Sio1FanChannel& c) const {
    if (c.dutyReg == 0) return 0xFF;
    const auto& bank = hwm_[kFanControlBank];
    if ((bank[c.modeReg] >> 4) != kModeSmart) return bank[c.dutyReg];
    const double t = cpuC_;
    const uint8_t* tp = &bank[c.tempPoints];
    const uint8_t* dp = &bank[c.dutyPoints];
    if (t <= tp[0]) return dp[0];
    for (int i = 1; i < 4; ++i) {
        if (t <= tp[i]) {
            const double span = tp[i] - tp[i - 1];
            const double f = span > 0 ? (t - tp[i - 1]) / span : 1.0;
            return uint8_t(std::lround(dp[i - 1] + f * (dp[i] - dp[i - 1])));
        }
    }
    return dp[3];
}

uint32_t Sio1Model::FanRpm(int channel) const {
    if (!FanFitted(channel)) return 0;
    const Sio1FanChannel& c = variant_.fans[size_t(channel)];
    return uint32_t(uint64_t(fanFullRpm_[size_t(channel)]) * FanDuty(c) / 255);
}

// The counter value latched for one revolution, saturating when the fan is too slow.
uint32_t Sio1Model::Count(int channel) const {
    const Sio1FanChannel& c = variant_.fans[size_t(channel)];
    const uint32_t max = c.countLowReg ? kCount13Max : kCount8Max;
    switch (tach_[size_t(channel)]) {
    case Tach::kStuckZero: return 0;
    case Tach::kStuckFull: return max;
    case Tach::kTurning: break;
    }
    uint32_t divisor = 1;
    if (!c.countLowReg) {
        const uint32_t low = (hwm_[0][c.divReg] >> c.divShift) & 3;
        const uint32_t high = (hwm_[0][kVbatMonitor] >> c.divHighShift) & 1; // 0x5D holds divisor bit 2 too
        const uint32_t e = low | high << 2;
        divisor = 1u << e;
    }
    const uint32_t rpm = FanRpm(channel);
    if (rpm == 0) return max;
    return std::min(max, kTachClock / (rpm * divisor));
}

uint8_t Sio1Model::ReadMonitor(uint8_t reg) {
    if (reg == kBankSelect) return bankSelect_;
    const uint8_t bank = bankSelect_ % kBanks;
    const Sio1Variant& v = variant_;
    if (bank == v.cpuBank && reg == v.cpuReg)
        return uint8_t(v.cpuFracReg ? std::floor(cpuC_) : std::lround(cpuC_ / 2));
    if (v.cpuFracReg && bank == v.cpuBank && reg == v.cpuFracReg)
        return uint8_t((hwm_[bank][reg] & 0x7F) | (cpuC_ - std::floor(cpuC_) >= 0.5 ? 0x80 : 0));
    if (bank == v.sysBank && reg == v.sysReg) return uint8_t(std::lround(sysC_ / 2));
    if (bank == 0) {
        for (size_t i = 0; i < v.fans.size(); ++i) {
            const Sio1FanChannel& c = v.fans[i];
            if (reg == c.countReg) return uint8_t(c.countLowReg ? Count(int(i)) >> 5 : Count(int(i)));
            if (c.countLowReg && reg == c.countLowReg) return uint8_t(Count(int(i)) & 0x1F);
        }
    }
    return hwm_[bank][reg];
}

void Sio1Model::WriteMonitor(uint8_t reg, uint8_t value) {
    if (reg == kBankSelect) {
        bankSelect_ = value;
        return;
    }
    const uint8_t bank = bankSelect_ % kBanks;
    const uint8_t old = hwm_[bank][reg];
    hwm_[bank][reg] = value;
    // A rising edge of the monitor bit takes one battery measurement.
    if (bank == 0 && reg == kVbatMonitor && !(old & kVbatMonitorBit) && (value & kVbatMonitorBit)) {
        hwm_[variant_.vbatBank][variant_.vbatReg] = vbatRaw_;
        ++vbatMeasurements_;
    }
}

// ---------------------------------------------------------------- per row

void AddSio1Models(Board& board) {
    const PlatformEntry& row = board.row();
    if (row.chipKind != 1) return;
    const Sio1Variant& variant = Sio1VariantFor(row.subtype);
    Sio1Model& chip = board.Add<Sio1Model>(variant, Sio1ConfigPortFor(row.boardId), kHwmBase,
                                           Sio1FittedFans(row.boardId, variant));
    for (const BacklightWiring& w : kBacklights)
        if (w.boardId == row.boardId) chip.AttachBacklight(w.ldn, w.dataReg, w.upBit, w.downBit, kBacklightStartLevel);
}

} // namespace vek::sim
