#include "sim/sio/sio5_model.h"

#include <algorithm>

#include "sim/board.h"
#include "sim/chip_models.h"

namespace vek::sim {
namespace {

constexpr uint8_t kDeviceSelect = 0x07;
constexpr uint8_t kBankSelect = 0x27;
constexpr int kBankShift = 2;
constexpr uint8_t kFirstBanked = 0x28, kLastBanked = 0x2F;
constexpr uint8_t kFirstDeviceReg = 0x30;
constexpr uint8_t kActivate = 0x30;
constexpr uint8_t kBaseHigh = 0x60, kBaseLow = 0x61;
constexpr uint8_t kChipIdHigh = 0x20, kChipIdLow = 0x21;
constexpr uint16_t kHwmIndexOffset = 5;
constexpr uint8_t kFieldAuto = 1, kFieldManual = 3;
constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr uint8_t kBatteryOff = 0x80;

} // namespace

Sio5Model::Sio5Model(Machine& machine, Sio5Wiring wiring) : machine_(machine), wiring_(std::move(wiring)) {
    globals_[kDeviceSelect] = wiring_.powerOnDevice;
    globals_[kChipIdHigh] = 0x10;
    globals_[kChipIdLow] = 0x10;
    // The firmware turns the monitor on at its base; every other device
    // stays as reset leaves it, inactive.
    devices_[kHwmDevice][kActivate] = 1;
    devices_[kHwmDevice][kBaseHigh] = uint8_t(wiring_.hwmBase >> 8);
    devices_[kHwmDevice][kBaseLow] = uint8_t(wiring_.hwmBase);
    devices_[kWdtDevice][kWdtCount] = 0;
    for (uint8_t base : kPortBase) devices_[kGpioDevice][base] = 0x00; // every pin an input
    for (const auto& [reg, value] : wiring_.monitor) hwm_[reg] = value;
    if (wiring_.batterySwitch != 0) hwm_[wiring_.batterySwitch] = kBatteryOff;
    Claim();
}

Sio5Model::~Sio5Model() { machine_.ReleasePorts(this); }

// The monitor decodes at its base while active; a base of 0 disables it.
void Sio5Model::Claim() {
    machine_.ReleasePorts(this);
    machine_.ClaimPorts(wiring_.configPort, 2, this);
    const bool active = devices_[kHwmDevice][kActivate] & 1;
    claimedHwm_ = active ? hwm_base() : 0;
    if (claimedHwm_ != 0) machine_.ClaimPorts(uint16_t(claimedHwm_ + kHwmIndexOffset), 2, this);
}

void Sio5Model::FirmwareLeavesBasesUnset() {
    devices_[kHwmDevice][kBaseHigh] = 0;
    devices_[kHwmDevice][kBaseLow] = 0;
    Claim();
}

uint16_t Sio5Model::hwm_base() const {
    return uint16_t((devices_[kHwmDevice][kBaseHigh] << 8) | devices_[kHwmDevice][kBaseLow]);
}

uint8_t Sio5Model::Global(uint8_t reg, int bank) const {
    if (reg >= kFirstBanked && reg <= kLastBanked) {
        const int b = bank >= 0 ? bank & 3 : (globals_[kBankSelect] >> kBankShift) & 3;
        return banked_[b][reg - kFirstBanked];
    }
    return globals_[reg];
}

void Sio5Model::SetGlobal(uint8_t reg, int bank, uint8_t value) {
    if (reg >= kFirstBanked && reg <= kLastBanked) banked_[bank & 3][reg - kFirstBanked] = value;
    else globals_[reg % globals_.size()] = value;
}

// ---------------------------------------------------------------- ports

uint32_t Sio5Model::ReadPort(uint16_t port, unsigned) {
    Tick();
    if (deaf_) return 0xFF;
    if (port == wiring_.configPort) return unlocked_ ? index_ : 0xFF;
    if (port == wiring_.configPort + 1) return unlocked_ ? ReadRegister(index_) : 0xFF;
    if (port == claimedHwm_ + kHwmIndexOffset) return hwmIndex_;
    return ReadMonitor(hwmIndex_);
}

void Sio5Model::WritePort(uint16_t port, unsigned, uint32_t value) {
    Tick();
    if (deaf_) return;
    const uint8_t v = uint8_t(value);
    if (port == wiring_.configPort) {
        if (!unlocked_) {
            keyBytes_ = v == kEnterKey ? keyBytes_ + 1 : 0;
            if (keyBytes_ == 2) {
                unlocked_ = true;
                keyBytes_ = 0;
            }
        } else if (v == kExitKey) {
            unlocked_ = false;
        } else {
            index_ = v;
        }
        return;
    }
    if (port == wiring_.configPort + 1) {
        if (unlocked_) WriteRegister(index_, v);
        return;
    }
    if (port == claimedHwm_ + kHwmIndexOffset) {
        hwmIndex_ = v;
        return;
    }
    WriteMonitor(hwmIndex_, v);
}

// ---------------------------------------------------------------- configuration registers

uint8_t& Sio5Model::Reg(uint8_t reg) {
    if (reg < kFirstDeviceReg) {
        if (reg >= kFirstBanked) return banked_[(globals_[kBankSelect] >> kBankShift) & 3][reg - kFirstBanked];
        return globals_[reg];
    }
    return devices_[globals_[kDeviceSelect] & 15][reg];
}

uint8_t Sio5Model::ReadRegister(uint8_t reg) {
    const uint8_t device = globals_[kDeviceSelect] & 15;
    if (device == kGpioDevice && reg >= kFirstDeviceReg) {
        for (int p = 0; p < 10; ++p)
            if (reg == kPortBase[p] + 2) return uint8_t(PinLevels(p) & WorkingPins(p));
    }
    return Reg(reg);
}

void Sio5Model::WriteRegister(uint8_t reg, uint8_t value) {
    const uint8_t device = globals_[kDeviceSelect] & 15;
    if (reg >= kFirstDeviceReg && device == kGpioDevice) {
        for (int p = 0; p < 10; ++p)
            if (reg == kPortBase[p] + 2) return; // pin status is read-only
    }
    if (reg >= kFirstDeviceReg && device == kWdtDevice) {
        uint8_t& control = devices_[kWdtDevice][kWdtControl];
        if (reg == kWdtControl) {
            const bool wasEnabled = control & kWdtEnable;
            const uint8_t fired = uint8_t(control & kWdtFired & ~value); // write 1 clears
            const bool unitChanged = ((control ^ value) & kWdtMinutes) != 0;
            control = uint8_t((value & ~kWdtFired) | fired);
            if (!(control & kWdtEnable)) wdt_.Stop();
            else if (!wasEnabled || unitChanged) StartWatchdog();
            return;
        }
        if (reg == kWdtCount) {
            devices_[kWdtDevice][kWdtCount] = value;
            if (control & kWdtEnable) StartWatchdog();
            return;
        }
    }
    Reg(reg) = value;
    if (device == kHwmDevice && (reg == kActivate || reg == kBaseHigh || reg == kBaseLow)) Claim();
    if (device == kWdtDevice && reg == kActivate) {
        if (!(value & 1)) wdt_.Stop();
        else if (devices_[kWdtDevice][kWdtControl] & kWdtEnable) StartWatchdog();
    }
}

// ---------------------------------------------------------------- watchdog

void Sio5Model::StartWatchdog() {
    const uint8_t count = devices_[kWdtDevice][kWdtCount];
    const bool active = devices_[kWdtDevice][kActivate] & 1;
    if (count == 0 || !active) {
        wdt_.Stop();
        return;
    }
    const int64_t unitNs = (devices_[kWdtDevice][kWdtControl] & kWdtMinutes) ? 60 * kNsPerSecond : kNsPerSecond;
    wdt_.Start(machine_.now_ns(), count * unitNs);
}

void Sio5Model::Tick() {
    if (wdt_.Poll(machine_.now_ns())) devices_[kWdtDevice][kWdtControl] |= kWdtFired;
}

const Sio5Model::Watchdog& Sio5Model::watchdog() {
    Tick();
    return wdt_;
}

// ---------------------------------------------------------------- GPIO

namespace {
constexpr uint8_t kSerial2Pins = 0x28, kSerial2ToGpio = 0x20; // bank 0
} // namespace

uint8_t Sio5Model::WorkingPins(int port) const {
    if (!(devices_[kGpioDevice][kActivate] & 1)) return 0;
    if (port == 8 || port == 9) return (banked_[0][kSerial2Pins - kFirstBanked] & kSerial2ToGpio) ? 0xFF : 0x00;
    return 0xFF;
}

// What the pins carry: working outputs drive their latch, everything else
// shows what the outside world drives.
uint8_t Sio5Model::PinLevels(int port) const {
    const uint8_t base = kPortBase.at(port);
    const uint8_t drive = uint8_t(devices_[kGpioDevice][base] & WorkingPins(port));
    const uint8_t data = devices_[kGpioDevice][base + 1];
    return uint8_t((drive & data) | (~drive & wiring_.pinsDriven[port]));
}

// ---------------------------------------------------------------- hardware monitor

int Sio5Model::FanDuty(int fan) const {
    const Sio5FanWiring& f = wiring_.fans.at(fan);
    if (!f.fitted) return 0;
    if (f.mode == 0xFF) return f.duty != 0 ? hwm_[f.duty] * 100 / 255 : f.freeDuty;
    const uint8_t field = (hwm_[f.mode] >> f.modeShift) & 3;
    if (field == kFieldManual) return f.duty != 0 ? (hwm_[f.duty] * 100 + 127) / 255 : f.freeDuty;
    if (field != kFieldAuto || f.tempBase == 0xFF) return 100;
    // Point k (k = 0 lowest) sits at base + 3 - k; the fan runs at the duty of
    // the highest point whose temperature has been reached.
    const int t = hwm_[f.sensor];
    int k = 0;
    for (int i = 1; i < 4; ++i)
        if (t >= hwm_[f.tempBase + 3 - i]) k = i;
    const uint8_t raw = hwm_[f.dutyBase + 3 - k];
    return f.inverseDuty ? std::min(100, 3200 / (raw + 32)) : (raw * 100 + 127) / 255;
}

uint32_t Sio5Model::FanRpm(int fan) const {
    return wiring_.fans.at(fan).maxRpm * uint32_t(FanDuty(fan)) / 100;
}

uint16_t Sio5Model::FanCount(int fan) const {
    if (stuck_[fan]) return *stuck_[fan];
    const uint32_t rpm = FanRpm(fan);
    if (rpm == 0) return 0xFFFF;
    return uint16_t(std::min<uint32_t>(kTachClock / rpm, 0xFFFF));
}

uint8_t Sio5Model::ReadMonitor(uint8_t reg) {
    for (int fan = 0; fan < 2; ++fan) {
        const Sio5FanWiring& f = wiring_.fans[fan];
        if (!f.fitted && !stuck_[fan]) continue;
        if (reg == f.countHigh) return uint8_t(FanCount(fan) >> 8);
        if (reg == f.countLow) return uint8_t(FanCount(fan));
    }
    if (wiring_.batterySwitch != 0 && reg == wiring_.batteryInput) {
        const bool settled = batteryOnAtNs_ >= 0 && machine_.now_ns() - batteryOnAtNs_ >= kBatterySettleNs;
        return settled ? wiring_.batteryReading : 0;
    }
    return hwm_[reg];
}

void Sio5Model::WriteMonitor(uint8_t reg, uint8_t value) {
    for (const Sio5FanWiring& f : wiring_.fans)
        if (f.fitted && f.mode == reg && (hwm_[kFanLock] & kFanLockBit)) return; // write-protected
    if (wiring_.batterySwitch != 0 && reg == wiring_.batterySwitch) {
        const bool on = !(value & kBatteryOff);
        const bool wasOn = !(hwm_[reg] & kBatteryOff);
        if (on && !wasOn) batteryOnAtNs_ = machine_.now_ns();
        if (!on) batteryOnAtNs_ = -1;
    }
    hwm_[reg] = value;
}

// ---------------------------------------------------------------- boards

namespace {

// Fans as each chip generation wires them.
constexpr Sio5FanWiring kFreeFan0{.fitted = true, .countHigh = 0xA0, .countLow = 0xA1, .maxRpm = 4200};
constexpr Sio5FanWiring kFreeFan1{.fitted = true, .countHigh = 0xB0, .countLow = 0xB1, .maxRpm = 3600};
constexpr Sio5FanWiring kCurveFan0{.fitted = true, .countHigh = 0xA0, .countLow = 0xA1, .duty = 0xA3,
                                   .mode = 0x96, .modeShift = 0, .tempBase = 0xA6, .dutyBase = 0xAB,
                                   .sensor = 0x72, .maxRpm = 5000};
constexpr Sio5FanWiring kCurveFan1{.fitted = true, .countHigh = 0xC0, .countLow = 0xC1, .duty = 0xC3,
                                   .mode = 0x96, .modeShift = 4, .tempBase = 0xC6, .dutyBase = 0xCB,
                                   .inverseDuty = true, .sensor = 0x74, .maxRpm = 3000};

// Readings the monitor shows at power-on: rails, sensors (degrees C), the
// fan-control lock the firmware sets, fans in manual mode with a 50 % duty and
// factory curves.
std::vector<std::pair<uint8_t, uint8_t>> Readings() {
    return {{0x18, 0xA3}, {0x20, 0x7D}, {0x21, 0x6A}, {0x22, 0xCE}, {0x23, 0x9A}, {0x24, 0x8F},
            {0x25, 0x7F}, {0x26, 0xBE}, {0x27, 0x96}, {0x70, 50},   {0x72, 45},   {0x74, 38},
            {0x7E, 52},   {0x96, 0x33}, {0x9F, 0x80}, {0xA3, 0x80}, {0xC3, 0x80},
            {0xA6, 80},   {0xA7, 70},   {0xA8, 60},   {0xA9, 50},   {0xAB, 255},  {0xAC, 204},
            {0xAD, 153},  {0xAE, 102},  {0xC6, 80},   {0xC7, 70},   {0xC8, 60},   {0xC9, 50},
            {0xCB, 0},    {0xCC, 8},    {0xCD, 21},   {0xCE, 48}};
}

struct Sio5Board {
    uint32_t boardId;
    uint16_t configPort;
    uint16_t hwmBase;
    uint8_t powerOnDevice;
    uint8_t batterySwitch;
    Sio5FanWiring fan0, fan1;
};

// Where each board's chip decodes, and what is wired to it.
constexpr Sio5Board kBoards[] = {
    {74, 0x2E, 0x290, 0, 0, kFreeFan0, kFreeFan1},
    {93, 0x4E, 0xA30, 0, 0, kFreeFan0, kFreeFan1},
    // The firmware leaves the hardware monitor (at 0x290) selected.
    {106, 0x4E, 0x290, 4, 0, kFreeFan0, kFreeFan1},
    {128, 0x2E, 0x290, 0, 0, {}, {}},
    {131, 0x2E, 0x290, 0, 0x04, {}, {}},
    {133, 0x4E, 0x290, 0, 0x04, kCurveFan0, kCurveFan1},
    {143, 0x4E, 0x290, 0, 0, kCurveFan0, {}},
    {145, 0x4E, 0x290, 0, 0, kCurveFan0, {}},
    {146, 0x4E, 0x290, 0, 0, kCurveFan0, {}},
    {148, 0x4E, 0x290, 0, 0x04, kCurveFan0, {}},
};

} // namespace

Sio5Wiring Sio5WiringFor(uint32_t boardId) {
    Sio5Wiring w;
    w.monitor = Readings();
    for (const Sio5Board& b : kBoards) {
        if (b.boardId != boardId) continue;
        w.configPort = b.configPort;
        w.hwmBase = b.hwmBase;
        w.powerOnDevice = b.powerOnDevice;
        w.batterySwitch = b.batterySwitch;
        w.fans = {b.fan0, b.fan1};
    }
    return w;
}

void AddSio5Models(Board& board) {
    const PlatformEntry& row = board.row();
    if (row.chipKind == 5 || row.secondaryKind == 5) board.Add<Sio5Model>(Sio5WiringFor(row.boardId));
}

} // namespace vek::sim
