#include "sim/sio/sio2_model.h"

#include <algorithm>

#include "sim/board.h"
#include "sim/chip_models.h"

namespace vek::sim {
namespace {

constexpr uint8_t kConfigControl = 0x02, kReturnToWaitForKey = 0x02;
constexpr uint8_t kDeviceSelect = 0x07;
constexpr uint8_t kPinSelectBase = 0x24;   // + set 1..5
constexpr uint8_t kMultiFunction = 0x2C, kSet8Gpio = 0x80;
constexpr uint8_t kFirstDeviceReg = 0x30, kActivate = 0x30;
constexpr uint8_t kEnvBaseHigh = 0x60, kEnvBaseLow = 0x61;
constexpr uint8_t kGpioBaseHigh = 0x62, kGpioBaseLow = 0x63;
constexpr uint8_t kSimpleIoBase = 0xBF;    // + set 1..6
constexpr uint8_t kOutputEnableBase = 0xC7; // + set 1..8 (0xCE, 0xCF for 7, 8)
constexpr uint8_t kSet7Select = 0xE9, kSet7Gpio = 0x20;
constexpr uint8_t kAdcEnable = 0x50, kVbatControl = 0x5C, kVbatEnable = 0x80;
constexpr uint8_t kFirstVoltage = 0x20, kBatteryVoltage = 0x28;
constexpr uint8_t kFanControl = 0x13, kFan1PwmOn = 0x02;
constexpr uint8_t kFan1PwmMode = 0x16, kFan1Duty = 0x6B, kFan1Auto = 0x6C, kFan1AutoBit = 0x80;
constexpr uint8_t kFanLow[2] = {0x0D, 0x0E}, kFanHigh[2] = {0x18, 0x19};
constexpr int64_t kNsPerSecond = 1'000'000'000;

} // namespace

Sio2Model::Sio2Model(Machine& machine, Sio2Wiring wiring) : machine_(machine), wiring_(std::move(wiring)) {
    globals_[0x20] = 0x87;
    globals_[0x21] = 0x86;
    globals_[kMultiFunction] = 0x01;
    devices_[kEnvDevice][kActivate] = 1;
    devices_[kEnvDevice][kEnvBaseHigh] = uint8_t(wiring_.envBase >> 8);
    devices_[kEnvDevice][kEnvBaseLow] = uint8_t(wiring_.envBase);
    devices_[kGpioDevice][kGpioBaseHigh] = uint8_t(wiring_.gpioBase >> 8);
    devices_[kGpioDevice][kGpioBaseLow] = uint8_t(wiring_.gpioBase);
    devices_[kParallelDevice][kActivate] = 1; // the parallel port owns sets 7 and 8 at power-on
    for (const auto& [reg, value] : wiring_.monitor) env_[reg] = value;
    Claim();
}

Sio2Model::~Sio2Model() { machine_.ReleasePorts(this); }

// A block whose base is 0 is disabled and decodes nowhere; the environment
// controller decodes only while its device is active.
void Sio2Model::Claim() {
    machine_.ReleasePorts(this);
    machine_.ClaimPorts(kIndex, 2, this);
    const bool envActive = devices_[kEnvDevice][kActivate] & 1;
    if (envActive && wiring_.envBase != 0) machine_.ClaimPorts(uint16_t(wiring_.envBase + 5), 2, this);
    if (wiring_.gpioBase != 0) machine_.ClaimPorts(wiring_.gpioBase, 8, this);
}

void Sio2Model::FirmwareLeavesBasesUnset() {
    for (uint8_t reg : {kEnvBaseHigh, kEnvBaseLow}) devices_[kEnvDevice][reg] = 0;
    for (uint8_t reg : {kGpioBaseHigh, kGpioBaseLow}) devices_[kGpioDevice][reg] = 0;
    wiring_.envBase = wiring_.gpioBase = 0;
    Claim();
}

// ---------------------------------------------------------------- ports

uint32_t Sio2Model::ReadPort(uint16_t port, unsigned) {
    Tick();
    if (deaf_) return 0xFF;
    if (port == kIndex) return unlocked_ ? index_ : 0xFF;
    if (port == kData) return unlocked_ ? Reg(index_) : 0xFF;
    if (port == wiring_.envBase + 5) return envIndex_;
    if (port == wiring_.envBase + 6) return ReadEnv(envIndex_);
    return PinLevels(port - wiring_.gpioBase + 1);
}

void Sio2Model::WritePort(uint16_t port, unsigned, uint32_t value) {
    Tick();
    if (deaf_) return;
    const uint8_t v = uint8_t(value);
    if (port == kIndex) {
        if (unlocked_) {
            index_ = v;
        } else if (v == kKey[keyBytes_]) {
            if (++keyBytes_ == kKey.size()) {
                unlocked_ = true;
                keyBytes_ = 0;
            }
        } else {
            keyBytes_ = v == kKey[0] ? 1 : 0;
        }
        return;
    }
    if (port == kData) {
        if (unlocked_) WriteRegister(index_, v);
        return;
    }
    if (port == wiring_.envBase + 5) {
        envIndex_ = v;
        return;
    }
    if (port == wiring_.envBase + 6) {
        env_[envIndex_] = v;
        return;
    }
    const int set = port - wiring_.gpioBase + 1;
    latch_[set - 1] = v;
}

// ---------------------------------------------------------------- configuration registers

uint8_t& Sio2Model::Reg(uint8_t reg) {
    if (reg < kFirstDeviceReg) return globals_[reg];
    return devices_[globals_[kDeviceSelect] & 15][reg];
}

void Sio2Model::WriteRegister(uint8_t reg, uint8_t value) {
    if (reg == kConfigControl) {
        if (value & kReturnToWaitForKey) unlocked_ = false;
        return; // its bits act, they are not stored
    }
    const uint8_t device = globals_[kDeviceSelect] & 15;
    Reg(reg) = value;
    if (device == kGpioDevice && reg == kWdtCount) {
        const int64_t unit = (devices_[kGpioDevice][kWdtControl] & kWdtSeconds) ? kNsPerSecond : 60 * kNsPerSecond;
        if (value == 0) wdt_.Stop();
        else wdt_.Start(machine_.now_ns(), value * unit);
    }
    const bool moved = (device == kEnvDevice && (reg == kActivate || reg == kEnvBaseHigh || reg == kEnvBaseLow)) ||
                       (device == kGpioDevice && (reg == kGpioBaseHigh || reg == kGpioBaseLow));
    if (moved) {
        wiring_.envBase = uint16_t((devices_[kEnvDevice][kEnvBaseHigh] << 8) | devices_[kEnvDevice][kEnvBaseLow]);
        wiring_.gpioBase =
            uint16_t((devices_[kGpioDevice][kGpioBaseHigh] << 8) | devices_[kGpioDevice][kGpioBaseLow]);
        Claim();
    }
}

void Sio2Model::Tick() {
    if (wdt_.Poll(machine_.now_ns())) devices_[kGpioDevice][kWdtCount] = 0;
}

const Sio2Model::Watchdog& Sio2Model::watchdog() {
    Tick();
    return wdt_;
}

// ---------------------------------------------------------------- GPIO

uint8_t Sio2Model::Routed(int set) const {
    const auto& gpio = devices_[kGpioDevice];
    const bool parallelOff = (devices_[kParallelDevice][kActivate] & 1) == 0;
    if (set >= 1 && set <= 5) return uint8_t(globals_[kPinSelectBase + set] & gpio[kSimpleIoBase + set]);
    if (set == 6) return gpio[kSimpleIoBase + 6];
    if (set == 7) return parallelOff && (gpio[kSet7Select] & kSet7Gpio) ? 0xFF : 0x00;
    if (set == 8) return parallelOff && (globals_[kMultiFunction] & kSet8Gpio) ? 0xFF : 0x00;
    return 0;
}

uint8_t Sio2Model::Outputs(int set) const {
    return uint8_t(Routed(set) & devices_[kGpioDevice][kOutputEnableBase + set]);
}

uint8_t Sio2Model::PinLevels(int set) const {
    const uint8_t out = Outputs(set);
    const uint8_t in = uint8_t(Routed(set) & ~out);
    return uint8_t((out & latch_[set - 1]) | (in & wiring_.pinsDriven[set - 1]));
}

// ---------------------------------------------------------------- environment controller

int Sio2Model::Fan1Duty() const {
    const bool software = (env_[kFanControl] & kFan1PwmOn) && env_[kFan1PwmMode] == 0 &&
                          !(env_[kFan1Auto] & kFan1AutoBit);
    return software ? env_[kFan1Duty] * 100 / 255 : wiring_.fan1AutoDuty;
}

uint32_t Sio2Model::FanRpm(int fan) const {
    if (!wiring_.fans.at(fan)) return 0;
    return fan == 0 ? wiring_.fan0Rpm : wiring_.fan1MaxRpm * uint32_t(Fan1Duty()) / 100;
}

uint16_t Sio2Model::FanCount(int fan) const {
    if (stuck_[fan]) return *stuck_[fan];
    const uint32_t rpm = FanRpm(fan);
    return rpm == 0 ? 0xFFFF : uint16_t(std::min<uint32_t>(kTachClock / rpm, 0xFFFF));
}

uint8_t Sio2Model::ReadEnv(uint8_t reg) const {
    for (int fan = 0; fan < 2; ++fan) {
        if (reg == kFanLow[fan]) return uint8_t(FanCount(fan));
        if (reg == kFanHigh[fan]) return uint8_t(FanCount(fan) >> 8);
    }
    if (reg == kBatteryVoltage) return (env_[kVbatControl] & kVbatEnable) ? env_[reg] : 0;
    if (reg >= kFirstVoltage && reg < kBatteryVoltage && !(env_[kAdcEnable] & (1u << (reg - kFirstVoltage))))
        return 0;
    return env_[reg];
}

// ---------------------------------------------------------------- boards

namespace {

std::vector<std::pair<uint8_t, uint8_t>> Readings() {
    return {{0x20, 0x5C}, {0x21, 0x6E}, {0x22, 0xD2}, {0x23, 0x9B}, {0x24, 0x4B}, {0x25, 0x80},
            {0x26, 0x7A}, {0x28, 0x60}, {0x29, 36},   {0x2A, 47},   {0x2B, 31},   {0x13, 0x70},
            {0x16, 0x80}, {0x6C, 0x80}, {0x6B, 0x40}, {0x5C, 0x00}, {0x50, 0x00}};
}

// Boards whose second fan header is not fitted.
constexpr uint32_t kNoFan1Boards[] = {60};

} // namespace

Sio2Wiring Sio2WiringFor(uint32_t boardId) {
    Sio2Wiring w;
    w.monitor = Readings();
    for (uint32_t b : kNoFan1Boards)
        if (b == boardId) w.fans[1] = false;
    return w;
}

void AddSio2Models(Board& board) {
    const PlatformEntry& row = board.row();
    if (row.chipKind == 2 || row.secondaryKind == 2) board.Add<Sio2Model>(Sio2WiringFor(row.boardId));
}

} // namespace vek::sim
