// Hardware-monitor exports: owner-list routing, the CPU-temperature rule with
// the processor's digital thermal sensor, and the PC speaker.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <limits>

#include "api/frame.h"
#include "backends/superio/kernel_route.h"
#include "hal/hal.h"
#include "hal/kernel_owner.h"

using namespace vek;
using namespace vek::frame;

namespace vek::frame {

Route OwnerListRoute(const uint32_t* list, uint32_t words, uint32_t item, uint32_t splitLimit, bool entryKind) {
    DeviceContext& p = Primary();
    const uint32_t mode = OwnerMode(list);
    const uint32_t entry = OwnerEntry(list, words, item);
    DeviceContext* ctx = &p;
    if (mode == OWNER_SPLIT) {
        if (item >= splitLimit || entry == p.secondaryKind) ctx = Secondary();
    } else if (mode != 0) {
        ctx = Secondary();
    }
    if (ctx == nullptr) return {nullptr, 0};
    return {ctx, (entryKind && entry != 0) ? entry : ctx->chipKind};
}

} // namespace vek::frame

namespace {

constexpr uint32_t kFanSplitLimit = FAN_OWNER_WORDS;
constexpr uint32_t kTempSplitLimit = TEMP_OWNER_WORDS;
constexpr uint32_t kVoltageSplitLimit = 0xFFFFFFFFu; // every valid index stays below
constexpr uint32_t kMaxVoltageIndex = 18;
constexpr uint32_t kMaxCurrentIndex = 2;
constexpr uint32_t kFirstCurrentItem = 18; // current i uses voltage-list entry 19 + i

// Which routine kinds serve each family; a route to any other kind answers 10.
using Kinds = std::initializer_list<uint32_t>;
constexpr Kinds kReadingKinds = {KIND_SIO1, KIND_SIO2, KIND_EC, KIND_EC_ALT, KIND_SIO5, KIND_ZKEC, KIND_EC100};
constexpr Kinds kVoltageKinds = {KIND_SIO1, KIND_SIO2, KIND_EC, KIND_EC_ALT, KIND_SIO5, KIND_ZKEC};
constexpr Kinds kFanDutyKinds = {KIND_SIO1, KIND_SIO2, KIND_EC, KIND_EC_ALT, KIND_SIO5, KIND_EC100};
constexpr Kinds kSmartFanKinds = {KIND_SIO1, KIND_EC, KIND_EC_ALT, KIND_SIO5, KIND_EC100};

// A Super I/O whose monitor block a kernel hwmon driver owns is left to it.
bool MonitorHeldByKernel(const Route& route) {
    const bool superIo = route.kind == KIND_SIO1 || route.kind == KIND_SIO2 || route.kind == KIND_SIO5;
    return superIo && route.ctx != nullptr && superio::MonitorHeldByKernel(*route.ctx);
}

// Readings: a Super I/O backend takes them from the driver holding its block.
template <class Fn, class... Args>
uint32_t CallServing(Kinds kinds, Fn BackendOps::*routine, const Route& route, Args... args) {
    if (std::find(kinds.begin(), kinds.end(), route.kind) == kinds.end()) return VEK_ERR_UNSUPPORTED;
    return CallRoute(routine, route, args...);
}

// Fan control changes (and, for its mode, unlocks) the block under the
// driver, whose own fan control would fight it: refused while it holds it.
template <class Fn, class... Args>
uint32_t CallControlling(Kinds kinds, Fn BackendOps::*routine, const Route& route, Args... args) {
    return MonitorHeldByKernel(route) ? VEK_ERR_UNSUPPORTED : CallServing(kinds, routine, route, args...);
}

// ---- processor digital thermal sensor ----

constexpr uint32_t MSR_TEMPERATURE_TARGET = 0x1A2; // bits 16..23: TjMax
constexpr uint32_t MSR_THERM_STATUS = 0x19C;       // bits 16..22: degrees below TjMax
constexpr double kDefaultTjMax = 100;

struct TjMaxByModel {
    uint32_t model;
    uint32_t tjMax;
};
// Older cores whose TjMax register is absent or unreliable.
constexpr TjMaxByModel kKnownTjMax[] = {
    {14, 100}, {15, 100}, {22, 100}, {26, 100}, {54, 100},
    {23, 90}, {28, 90}, {38, 90}, {39, 90}, {53, 90},
};

uint32_t ProcessorModel() {
    uint32_t regs[4];
    hal::Cpuid(1, regs);
    return ((regs[0] >> 16) & 0xF) * 16 + ((regs[0] >> 4) & 0xF);
}

uint32_t ProcessorTemperature(double* value) {
    const uint32_t model = ProcessorModel();
    uint32_t tjMax = 0;
    bool known = false;
    for (const auto& k : kKnownTjMax)
        if (k.model == model) { tjMax = k.tjMax; known = true; }
    uint32_t low = 0, high = 0;
    if (!known && hal::ReadMsr(MSR_TEMPERATURE_TARGET, &low, &high)) tjMax = (low >> 16) & 0xFF;
    double target = tjMax != 0 ? double(tjMax) : kDefaultTjMax;
    low = 0;
    uint32_t readout = hal::ReadMsr(MSR_THERM_STATUS, &low, &high) ? (low >> 16) & 0x7F : 0;
    *value = target - double(readout);
    return VEK_OK;
}

// Chipsets whose EC boards read the processor sensor for CPU temperature.
bool ChipsetUsesProcessorSensor(uint32_t chipsetId) {
    return chipsetId == 9 || chipsetId == 12 || chipsetId == 18;
}

// External sensor on the chipset SMBus (cpuTempOwner 2).
constexpr uint8_t kExternalSensorAddress = 0x98;
constexpr uint8_t kExternalSensorWhole = 0x00;
constexpr uint8_t kExternalSensorFraction = 0x29; // bits 6..7: quarter degrees
constexpr uint32_t CPU_TEMP_EXTERNAL_SMBUS = 2;

uint32_t ExternalSensorTemperature(double* value) {
    const SmbusOps* smbus = Smbus();
    if (smbus == nullptr || smbus->byteData == nullptr) return VEK_ERR_UNSUPPORTED;
    uint8_t whole = 0, fraction = 0;
    smbus->byteData(Primary(), 1, kExternalSensorAddress, kExternalSensorWhole, &whole);
    smbus->byteData(Primary(), 1, kExternalSensorAddress, kExternalSensorFraction, &fraction);
    *value = whole + (fraction >> 6) * 0.25;
    return VEK_OK;
}

uint32_t CpuTemperatureIndex0(double* value) {
    DeviceContext& p = Primary();
    if (p.cpuTempOwner == CPU_TEMP_EXTERNAL_SMBUS) return ExternalSensorTemperature(value);
    DeviceContext* ctx = (p.cpuTempOwner == 0 || p.cpuTempOwner == OWNER_SPLIT) ? &p : Secondary();
    uint32_t result = VEK_ERR_UNSUPPORTED;
    if (ctx != nullptr) {
        switch (ctx->chipKind) {
        case KIND_SIO1: case KIND_SIO2: case KIND_SIO5:
            result = Call(&BackendOps::cpuTemperature, ctx->chipKind, *ctx, value);
            break;
        case KIND_EC: case KIND_EC_ALT:
            result = ChipsetUsesProcessorSensor(p.chipsetId)
                         ? ProcessorTemperature(value)
                         : Call(&BackendOps::cpuTemperature, ctx->chipKind, *ctx, value);
            break;
        default:
            break;
        }
    }
    if (result == VEK_ERR_UNSUPPORTED && p.chipsetId < 1000) return ProcessorTemperature(value);
    return result;
}

// ---- fans ----

Route FanRoute(uint32_t fan) { return OwnerListRoute(Primary().fanOwners, FAN_OWNER_WORDS, fan, kFanSplitLimit, true); }

// CAP_FAN of the primary, then bit 0 of the serving chip's own word.
uint32_t CheckFan(const Route& r) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Cap(CAP_FAN) == 0) return VEK_ERR_UNSUPPORTED;
    if (r.ctx == nullptr || (r.ctx->caps[CAP_FAN] & 1) == 0) return VEK_ERR_UNSUPPORTED;
    return VEK_OK;
}

// ---- speaker ----

constexpr uint16_t PIT_CONTROL = 0x43;
constexpr uint16_t PIT_CHANNEL2 = 0x42;
constexpr uint8_t PIT_CH2_SQUARE_WAVE_LOHI = 0xB6; // channel 2, lo/hi byte, mode 3, binary
constexpr uint16_t SPEAKER_PORT = 0x61;
constexpr uint8_t SPEAKER_GATE_AND_DATA = 0x03;    // bit 0 timer gate, bit 1 speaker data
constexpr double kPitHz = 1193180;
constexpr double kMinBeepHz = 500, kMaxBeepHz = 10000;
constexpr uint32_t SPEAKER_PC = 1, SPEAKER_EC = 2;

struct Note {
    int32_t octave; // -1 = C3..B3, 0 = C4..B4, 1 = C5..B5, 2 = C6 only
    uint32_t degree;
    uint32_t sharp;
    double hz;
};
constexpr Note kNotes[] = {
    {-1, 1, 0, 130.81}, {-1, 1, 1, 138.59}, {-1, 2, 0, 146.83}, {-1, 2, 1, 155.56}, {-1, 3, 0, 164.81},
    {-1, 4, 0, 174.61}, {-1, 4, 1, 185.00}, {-1, 5, 0, 196.00}, {-1, 5, 1, 207.65}, {-1, 6, 0, 220.00},
    {-1, 6, 1, 233.08}, {-1, 7, 0, 246.94},
    {0, 1, 0, 261.63},  {0, 1, 1, 277.18},  {0, 2, 0, 293.66},  {0, 2, 1, 311.13},  {0, 3, 0, 329.63},
    {0, 4, 0, 349.23},  {0, 4, 1, 369.99},  {0, 5, 0, 392.00},  {0, 5, 1, 415.30},  {0, 6, 0, 440.00},
    {0, 6, 1, 466.16},  {0, 7, 0, 493.88},
    {1, 1, 0, 523.25},  {1, 1, 1, 554.37},  {1, 2, 0, 587.33},  {1, 2, 1, 622.25},  {1, 3, 0, 659.26},
    {1, 4, 0, 698.46},  {1, 4, 1, 739.99},  {1, 5, 0, 783.99},  {1, 5, 1, 830.61},  {1, 6, 0, 880.00},
    {1, 6, 1, 932.33},  {1, 7, 0, 987.77},
    {2, 1, 0, 1046.50},
};
static_assert(std::size(kNotes) == 37);

// pcspkr or snd-pcsp program the same PIT channel and port 0x61 under their
// own lock: while either is loaded, tones go through its input device or are
// refused (10), never to the ports beside it.
enum class ToneRoute { Ports, Kernel, Refused };

ToneRoute SpeakerRoute() {
    const hal::KernelOwner owner = hal::OwnerOf(VEK_HOST_RES_SPEAKER, 0, 0);
    if (!owner.claimed) return ToneRoute::Ports;
    if (hal::Platform().speaker_tone != nullptr) return ToneRoute::Kernel;
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) hal::ReportRefusal("the PC speaker", owner, "tones answer 10");
    return ToneRoute::Refused;
}

uint32_t KernelTone(double hz) {
    const vek_host_platform& p = hal::Platform();
    return p.speaker_tone(p.user, uint32_t(std::lround(hz))) == 0 ? VEK_OK : VEK_ERR_UNSUPPORTED;
}

void PortToneOn(double hz) {
    const uint32_t divisor = uint32_t(kPitHz / hz);
    hal::WritePortByte(PIT_CONTROL, PIT_CH2_SQUARE_WAVE_LOHI);
    hal::WritePortByte(PIT_CHANNEL2, uint8_t(divisor));
    hal::WritePortByte(PIT_CHANNEL2, uint8_t(divisor >> 8));
    uint8_t gate = 0;
    hal::ReadPortByte(SPEAKER_PORT, &gate);
    if ((gate & SPEAKER_GATE_AND_DATA) != SPEAKER_GATE_AND_DATA)
        hal::WritePortByte(SPEAKER_PORT, uint8_t(gate | SPEAKER_GATE_AND_DATA));
}

void PortToneOff() {
    uint8_t gate = 0;
    hal::ReadPortByte(SPEAKER_PORT, &gate);
    hal::WritePortByte(SPEAKER_PORT, uint8_t(gate & ~SPEAKER_GATE_AND_DATA));
}

// 0, or 10 when the speaker belongs to a kernel driver that cannot be used.
uint32_t ToneOn(double hz) {
    switch (SpeakerRoute()) {
    case ToneRoute::Ports: PortToneOn(hz); return VEK_OK;
    case ToneRoute::Kernel: return KernelTone(hz);
    case ToneRoute::Refused: break;
    }
    return VEK_ERR_UNSUPPORTED;
}

uint32_t ToneOff() {
    switch (SpeakerRoute()) {
    case ToneRoute::Ports: PortToneOff(); return VEK_OK;
    case ToneRoute::Kernel: return KernelTone(0);
    case ToneRoute::Refused: break;
    }
    return VEK_ERR_UNSUPPORTED;
}

uint32_t CheckSpeakerIs(uint32_t word) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Cap(CAP_SPEAKER) != word) return VEK_ERR_UNSUPPORTED;
    return VEK_OK;
}

bool BeepHzInRange(double hz) { return hz >= kMinBeepHz && hz <= kMaxBeepHz; }

} // namespace

extern "C" {

VEK_RESULT VEK_CALL VEK_HWM_Temperature(uint32_t sensor, double* value) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Cap(CAP_TEMPERATURE) == 0) return VEK_ERR_UNSUPPORTED;
    if (value == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    return CallServing(kReadingKinds, &BackendOps::temperature,
                       OwnerListRoute(Primary().tempOwners, TEMP_OWNER_WORDS, sensor, kTempSplitLimit, true),
                       sensor, value);
}

VEK_RESULT VEK_CALL VEK_HWM_SysTemperature(double* value) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Cap(CAP_TEMPERATURE) == 0) return VEK_ERR_UNSUPPORTED;
    if (value == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    Route r = OwnerListRoute(Primary().tempOwners, TEMP_OWNER_WORDS, 0, kTempSplitLimit, true);
    if (r.kind == KIND_ZKEC) return VEK_ERR_UNSUPPORTED;
    return CallServing(kReadingKinds, &BackendOps::temperature, r, 0u, value);
}

VEK_RESULT VEK_CALL VEK_HWM_CPUTemperature(uint32_t index, double* value) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Cap(CAP_CPU_TEMPERATURE) == 0) return VEK_ERR_UNSUPPORTED;
    if (value == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    switch (index) {
    case 0: return CpuTemperatureIndex0(value);
    case 1: return ProcessorTemperature(value);
    case 2: case 3: case 4: return VEK_ERR_UNSUPPORTED;
    default: return VEK_ERR_ARGUMENT;
    }
}

VEK_RESULT VEK_CALL VEK_HWM_Voltage(uint32_t index, double* value) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Cap(CAP_VOLTAGE) == 0) return VEK_ERR_UNSUPPORTED;
    if (index > kMaxVoltageIndex || value == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    return CallServing(kVoltageKinds, &BackendOps::voltage,
                       OwnerListRoute(Primary().voltageOwners, VOLTAGE_OWNER_WORDS, index, kVoltageSplitLimit, false),
                       index, value);
}

VEK_RESULT VEK_CALL VEK_HWM_Current(uint32_t index, double* value) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Cap(CAP_CURRENT) == 0) return VEK_ERR_UNSUPPORTED;
    if (index > kMaxCurrentIndex || value == nullptr) return VEK_ERR_ARGUMENT;
    Route r = OwnerListRoute(Primary().voltageOwners, VOLTAGE_OWNER_WORDS, kFirstCurrentItem + index,
                             kVoltageSplitLimit, false);
    if (r.ctx == nullptr || (r.ctx->caps[CAP_CURRENT] & 1) == 0) return VEK_ERR_UNSUPPORTED;
    if (!IsEcKind(r.kind)) return VEK_ERR_UNSUPPORTED;
    ApiLockGuard lock;
    return CallRoute(&BackendOps::current, r, index, value);
}

VEK_RESULT VEK_CALL VEK_HWM_GetFanSpeed(uint32_t fan, uint32_t* rpm) {
    const Route r = FanRoute(fan);
    if (uint32_t c = CheckFan(r)) return c;
    if (rpm == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    return CallServing(kReadingKinds, &BackendOps::fanSpeed, r, fan, rpm);
}

VEK_RESULT VEK_CALL VEK_HWM_SetFanSpeed(uint32_t fan, int32_t percent) {
    const Route r = FanRoute(fan);
    if (uint32_t c = CheckFan(r)) return c;
    if (percent < 0 || percent > 100) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    return CallControlling(kFanDutyKinds, &BackendOps::setFanSpeed, r, fan, percent);
}

VEK_RESULT VEK_CALL VEK_HWM_GetSmartfan(uint32_t fan, uint32_t* a, uint32_t* b, uint32_t* c, uint32_t* d) {
    const Route r = FanRoute(fan);
    if (uint32_t rc = CheckFan(r)) return rc;
    if (a == nullptr || b == nullptr || c == nullptr || d == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    const uint32_t result = CallControlling(kSmartFanKinds, &BackendOps::getSmartfan, r, fan, a, b, c, d);
    if (IsEcKind(r.kind)) c[1] = 100; // the EC's curve always ends at full duty
    return result;
}

VEK_RESULT VEK_CALL VEK_HWM_SetSmartfan(uint32_t fan, int32_t mode, uint8_t* a, int32_t* b, int32_t c) {
    const Route r = FanRoute(fan);
    if (uint32_t rc = CheckFan(r)) return rc;
    if (a == nullptr || b == nullptr) return VEK_ERR_ARGUMENT;
    ApiLockGuard lock;
    if (IsEcKind(r.kind) && b[1] != 100) return VEK_ERR_ARGUMENT;
    return CallControlling(kSmartFanKinds, &BackendOps::setSmartfan, r, fan, mode, a, b, c);
}

VEK_RESULT VEK_CALL VEK_HWM_Smartfan_Enable(uint32_t fan) {
    const Route r = FanRoute(fan);
    if (uint32_t c = CheckFan(r)) return c;
    ApiLockGuard lock;
    return CallControlling(kSmartFanKinds, &BackendOps::smartfanEnable, r, fan);
}

VEK_RESULT VEK_CALL VEK_HWM_Smartfan_Disable(uint32_t fan) {
    const Route r = FanRoute(fan);
    if (uint32_t c = CheckFan(r)) return c;
    ApiLockGuard lock;
    return CallControlling(kSmartFanKinds, &BackendOps::smartfanDisable, r, fan);
}

// ---- speaker: no lock; tones wait on the calling thread ----

// A tone blocks its caller for its whole length; past this bound a length is
// taken for a caller's mistake (a seconds count of years) rather than a sound.
constexpr double kMaxToneUs = double(VEK_MAX_TONE_SECONDS) * 1e6;

VEK_RESULT VEK_CALL VEK_HWM_SetMetronome(int32_t bpm) {
    if (uint32_t r = CheckSpeakerIs(SPEAKER_PC)) return r;
    Primary().beatMs = bpm < 20 ? 3000 : bpm > 1000 ? 60 : 60000 / bpm;
    return VEK_OK;
}

VEK_RESULT VEK_CALL VEK_HWM_PlayNote(uint32_t octave, uint32_t degree, uint32_t sharp, double beats) {
    if (uint32_t r = CheckSpeakerIs(SPEAKER_PC)) return r;
    const Note* note = nullptr;
    for (const Note& n : kNotes)
        if (uint32_t(n.octave) == octave && n.degree == degree && n.sharp == sharp) note = &n;
    if (note == nullptr) return VEK_ERR_SPEAKER_ARGUMENT;
    const double us = double(Primary().beatMs) * beats * 1000.0;
    if (std::isnan(us)) return VEK_ERR_SPEAKER_ARGUMENT;
    if (us > kMaxToneUs) return VEK_ERR_ARGUMENT;
    if (uint32_t r = ToneOn(note->hz)) return r;
    hal::Delay(us <= 0 ? 0 : int64_t(us));
    ToneOff();
    return VEK_OK;
}

VEK_RESULT VEK_CALL VEK_HWM_SetBeep(double hz, int32_t seconds) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    const uint32_t word = Cap(CAP_SPEAKER);
    if (word == 0) return VEK_ERR_UNSUPPORTED;
    if (seconds < 1) return VEK_ERR_SPEAKER_ARGUMENT;
    if (seconds > VEK_MAX_TONE_SECONDS) return VEK_ERR_ARGUMENT;
    if (word == SPEAKER_EC) {
        const EcBoardOps* ec = EcBoard();
        if (ec == nullptr || ec->beep == nullptr) return VEK_ERR_UNSUPPORTED;
        ec->beep(Primary(), seconds);
        return VEK_OK;
    }
    if (!BeepHzInRange(hz)) return VEK_ERR_SPEAKER_ARGUMENT;
    if (uint32_t r = ToneOn(hz)) return r;
    hal::Delay(int64_t(seconds) * 1000000);
    ToneOff();
    return VEK_OK;
}

VEK_RESULT VEK_CALL VEK_HWM_StartBeep(double hz) {
    if (uint32_t r = CheckSpeakerIs(SPEAKER_PC)) return r;
    if (!BeepHzInRange(hz)) return VEK_ERR_SPEAKER_ARGUMENT;
    return ToneOn(hz);
}

VEK_RESULT VEK_CALL VEK_HWM_StopBeep(void) {
    if (uint32_t r = CheckSpeakerIs(SPEAKER_PC)) return r;
    return ToneOff();
}

} // extern "C"
