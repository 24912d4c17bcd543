// The EAPI calls, each a small function over vek's public exports and the
// tables of mapping.h.
#include "eapi/EApi.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "eapi/mapping.h"
#include "vek/vek.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <mutex>
#endif
#if defined(__linux__)
#include <dlfcn.h>
#endif

#ifndef EAPI_LIB_VERSION
#define EAPI_LIB_VERSION EAPI_VER_CREATE(1, 0, 0)
#endif

namespace eapi {
namespace {

// Initialise and uninitialise run one at a time. (mingw's win32 thread model
// has no std::mutex; a slim reader/writer lock needs no set-up.)
#if defined(_WIN32)
SRWLOCK g_lifecycleLock = SRWLOCK_INIT;
struct LifecycleGuard {
    LifecycleGuard() { AcquireSRWLockExclusive(&g_lifecycleLock); }
    ~LifecycleGuard() { ReleaseSRWLockExclusive(&g_lifecycleLock); }
};
#else
std::mutex g_lifecycleLock;
struct LifecycleGuard {
    std::lock_guard<std::mutex> held{g_lifecycleLock};
};
#endif
std::atomic<bool> g_ready{false};
// vek cannot read the panel's power state back; the last state set stands for it.
std::atomic<bool> g_backlightOn{true};

// ---- the simulated board of VEK_SIM_BOARD (Linux) ----------------------
#if defined(__linux__)
struct SimLibrary {
    void* handle = nullptr;
    VEK_RESULT (*attach)(const char*) = nullptr;
    VEK_RESULT (*detach)() = nullptr;
    bool attachedHere = false; // we attached it, so we detach it
};
SimLibrary g_sim;

EApiStatus_t AttachSimulatedBoard() {
    const char* board = secure_getenv("VEK_SIM_BOARD");
    if (board == nullptr || *board == '\0') return EAPI_STATUS_SUCCESS;
    if (g_sim.handle == nullptr) {
        // libvek-sim lies beside libEApi (RUNPATH $ORIGIN) or on the loader's path.
        g_sim.handle = dlopen("libvek-sim.so.5", RTLD_NOW | RTLD_GLOBAL);
        if (g_sim.handle == nullptr) g_sim.handle = dlopen("libvek-sim.so", RTLD_NOW | RTLD_GLOBAL);
        if (g_sim.handle == nullptr) return EAPI_STATUS_ERROR;
        g_sim.attach = reinterpret_cast<VEK_RESULT (*)(const char*)>(dlsym(g_sim.handle, "vek_sim_attach"));
        g_sim.detach = reinterpret_cast<VEK_RESULT (*)()>(dlsym(g_sim.handle, "vek_sim_detach"));
        if (g_sim.attach == nullptr || g_sim.detach == nullptr) return EAPI_STATUS_ERROR;
    }
    const VEK_RESULT r = g_sim.attach(board);
    if (r == VEK_OK) {
        g_sim.attachedHere = true;
        return EAPI_STATUS_SUCCESS;
    }
    // 14: the application attached a board itself; it keeps it.
    if (r == VEK_ERR_STATE) return EAPI_STATUS_SUCCESS;
    return r == VEK_ERR_ARGUMENT ? EAPI_STATUS_UNSUPPORTED : EAPI_STATUS_ERROR;
}

void DetachSimulatedBoard() {
    if (g_sim.attachedHere) g_sim.detach();
    g_sim.attachedHere = false;
}
#else
EApiStatus_t AttachSimulatedBoard() { return EAPI_STATUS_SUCCESS; }
void DetachSimulatedBoard() {}
#endif

// ---- helpers -------------------------------------------------------------

// A vek result as EAPI status, where the call has no better reading of it.
EApiStatus_t Status(VEK_RESULT r) {
    switch (r) {
    case VEK_OK: return EAPI_STATUS_SUCCESS;
    case VEK_ERR_NOT_INITIALISED: return EAPI_STATUS_NOT_INITIALIZED;
    case VEK_ERR_ARGUMENT: return EAPI_STATUS_INVALID_PARAMETER;
    case VEK_ERR_READ: return EAPI_STATUS_READ_ERROR;
    case VEK_ERR_WRITE: return EAPI_STATUS_WRITE_ERROR;
    case VEK_ERR_UNSUPPORTED: return EAPI_STATUS_UNSUPPORTED;
    case VEK_ERR_DEVICE: return EAPI_STATUS_READ_ERROR; // a sensor that reads nothing
    default: return EAPI_STATUS_ERROR;
    }
}

bool Ready() { return g_ready.load(std::memory_order_acquire); }

template <typename Row, size_t N>
const Row* Find(const Row (&rows)[N], EApiId_t id) {
    for (const Row& row : rows)
        if (row.id == id) return &row;
    return nullptr;
}

uint32_t ToDeciKelvin(double celsius) {
    const double k = std::round(celsius * 10.0) + EAPI_KELVINS_OFFSET;
    return k <= 0 ? 0u : uint32_t(k);
}

uint32_t ToMillivolts(double volts) {
    const double mv = std::round(volts * 1000.0);
    return mv <= 0 ? 0u : mv >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(mv);
}

// "5.0.1.20260626" -> 5.0.1
uint32_t ParseVekVersion(const char* text) {
    unsigned ver = 0, rev = 0, build = 0;
    if (std::sscanf(text, "%u.%u.%u", &ver, &rev, &build) < 2) return 0;
    return EAPI_VER_CREATE(ver, rev, build);
}

// The platform version holds either the first four characters of the board's
// version text or two version numbers in its top bytes.
void PlatformVersionText(uint32_t v, char* out, size_t size) {
    const unsigned char first = uint8_t(v >> 24);
    if (first >= 0x20 && first < 0x7F) {
        size_t n = 0;
        for (int shift = 24; shift >= 0 && n + 1 < size; shift -= 8) {
            const unsigned char c = uint8_t(v >> shift);
            if (c < 0x20 || c >= 0x7F) break;
            out[n++] = char(c);
        }
        out[n] = '\0';
    } else {
        std::snprintf(out, size, "%u.%u", unsigned(v >> 24), unsigned((v >> 16) & 0xFF));
    }
}

EApiStatus_t ReadString(StringSource source, char* text, size_t size) {
    VEK_RESULT r = VEK_OK;
    switch (source) {
    case StringSource::PlatformName: r = VEK_Board_GetPlatformName(text); break;
    case StringSource::SerialNumber: r = VEK_Board_GetSerialNumber(text); break;
    case StringSource::BiosVersion: r = VEK_Board_GetBIOSVersion(text); break;
    case StringSource::PlatformType: r = VEK_Board_GetPlatformType(text); break;
    case StringSource::EcRevision: r = VEK_Board_GetECInfo(16, text); break;
    case StringSource::PlatformVersion: {
        uint32_t v = 0;
        r = VEK_Get_Platform_Version(&v);
        if (r == VEK_OK && v == 0) r = VEK_ERR_UNSUPPORTED;
        if (r == VEK_OK) PlatformVersionText(v, text, size);
        break;
    }
    }
    if (r != VEK_OK) return Status(r);
    // An empty identity (a failed firmware query) is no answer.
    return text[0] == '\0' ? EAPI_STATUS_UNSUPPORTED : EAPI_STATUS_SUCCESS;
}

// ---- I2C -------------------------------------------------------------------

// The first candidate bus vek offers. A null buffer passes vek's address, bus
// and availability checks and stops at its argument check (7) before any
// transaction, so the probe puts nothing on the wire.
EApiStatus_t ResolveBus(EApiId_t id, uint8_t* bus) {
    const BusRow* row = Find(kBuses, id);
    if (row == nullptr) return EAPI_STATUS_UNSUPPORTED;
    for (uint8_t candidate : row->candidates) {
        const VEK_RESULT r = VEK_I2C_SMBusI2CBlock(1, candidate, 0, 0, 1, nullptr);
        if (r == VEK_ERR_ARGUMENT) {
            *bus = candidate;
            return EAPI_STATUS_SUCCESS;
        }
        if (r != VEK_ERR_UNSUPPORTED) return Status(r);
    }
    return EAPI_STATUS_UNSUPPORTED;
}

// An encoded address as vek's 7-bit address. vek's buses address 7 bits only.
EApiStatus_t DecodeAddress(uint32_t addr, uint8_t* address7) {
    if (EAPI_I2C_IS_10BIT_ADDR(addr) && (addr >> 16) == 0) return EAPI_STATUS_UNSUPPORTED;
    if ((addr & ~uint32_t(0xFF)) != 0) return EAPI_STATUS_INVALID_PARAMETER;
    *address7 = EAPI_I2C_DEC_7BIT_ADDR(addr);
    return EAPI_STATUS_SUCCESS;
}

enum class Direction { Read, Write };

// Whether a device answers its address: a write of the address alone, or where
// the bus has no such transaction (the platform controllers) a one-byte read.
VEK_RESULT Probe(uint8_t bus, uint8_t address7) {
    const VEK_RESULT r = VEK_I2C_Quick(0, bus, address7);
    if (r != VEK_ERR_UNSUPPORTED) return r;
    uint8_t byte = 0;
    return VEK_I2C_SendReceive(1, bus, address7, &byte);
}

// A failed transfer: vek's buses report every failure alike, so ask whether
// anything answers the address at all.
EApiStatus_t TransferFailure(VEK_RESULT r, uint8_t bus, uint8_t address7, Direction dir) {
    switch (r) {
    case VEK_ERR_UNSUPPORTED: return EAPI_STATUS_UNSUPPORTED;
    case VEK_ERR_ARGUMENT: return EAPI_STATUS_INVALID_PARAMETER;
    case VEK_ERR_NOT_INITIALISED: return EAPI_STATUS_NOT_INITIALIZED;
    default: break;
    }
    if (Probe(bus, address7) != VEK_OK) return EAPI_STATUS_NOT_FOUND;
    return dir == Direction::Read ? EAPI_STATUS_READ_ERROR : EAPI_STATUS_WRITE_ERROR;
}

enum class CmdKind { None, Standard, Extended };

struct Command {
    CmdKind kind;
    uint32_t value;
};

EApiStatus_t DecodeCommand(uint32_t cmd, Command* out) {
    const uint32_t type = cmd & EAPI_I2C_CMD_TYPE_MASK;
    if (type == EAPI_I2C_STD_CMD && (cmd & 0x3FFFFF00u) == 0) *out = {CmdKind::Standard, cmd & 0xFF};
    else if (type == EAPI_I2C_EXT_CMD && (cmd & 0x3FFF0000u) == 0) *out = {CmdKind::Extended, cmd & 0xFFFF};
    else if (type == EAPI_I2C_NO_CMD) *out = {CmdKind::None, 0};
    else return EAPI_STATUS_INVALID_PARAMETER;
    return EAPI_STATUS_SUCCESS;
}

// One transfer of count (1..32) bytes after the command.
EApiStatus_t Transfer(Direction dir, uint8_t bus, uint8_t address7, Command cmd, uint8_t* data, uint32_t count) {
    const int32_t vekDir = dir == Direction::Read ? 1 : 0;
    VEK_RESULT r = VEK_ERR_UNSUPPORTED;
    switch (cmd.kind) {
    case CmdKind::Standard:
        r = count == 1 ? VEK_I2C_ByteData(vekDir, bus, address7, cmd.value, data)
                       : VEK_I2C_SMBusI2CBlock(vekDir, bus, address7, cmd.value, count, data);
        break;
    case CmdKind::Extended:
        if (bus != kEcMasterBus) return EAPI_STATUS_UNSUPPORTED;
        r = dir == Direction::Read ? VEK_EC_IIC_Word_Addr_Read(uint8_t(address7 << 1), cmd.value, data, int32_t(count))
                                   : VEK_EC_IIC_Word_Addr_Write(uint8_t(address7 << 1), cmd.value, data, int32_t(count));
        break;
    case CmdKind::None:
        // vek moves a single byte without a command, never more.
        if (count != 1) return EAPI_STATUS_UNSUPPORTED;
        r = VEK_I2C_SendReceive(vekDir, bus, address7, data);
        break;
    }
    return r == VEK_OK ? EAPI_STATUS_SUCCESS : TransferFailure(r, bus, address7, dir);
}

EApiStatus_t BusRead(uint8_t bus, uint8_t address7, Command cmd, uint8_t* data, uint32_t count) {
    return Transfer(Direction::Read, bus, address7, cmd, data, count);
}

// Writes count (1..32, or 33 without a command) bytes after the command.
EApiStatus_t BusWrite(uint8_t bus, uint8_t address7, Command cmd, const uint8_t* data, uint32_t count) {
    uint8_t copy[kMaxBlockLength + 1];
    std::memcpy(copy, data, count);
    if (cmd.kind == CmdKind::None && count >= 2) {
        // On the wire a command byte is just the first data byte.
        cmd = {CmdKind::Standard, copy[0]};
        std::memmove(copy, copy + 1, count - 1);
        --count;
    }
    return Transfer(Direction::Write, bus, address7, cmd, copy, count);
}

// ---- GPIO ------------------------------------------------------------------

struct GpioId {
    uint32_t first; // EAPI GPIO number of mask bit 0
    uint32_t width; // 1 for a single-GPIO ID, 32 for a bank
};

uint32_t SetOf(uint32_t gpio) { return gpio / kPinsPerSet + 1; }
uint32_t PinOf(uint32_t gpio) { return gpio % kPinsPerSet + 1; }

// Mask of the ID's bits that name a pin the board has.
EApiStatus_t GpioCaps(EApiId_t id, GpioId* out, uint32_t* caps) {
    if (id < kBankBase) *out = {id, 1};
    else if (id <= kBankLast) *out = {(id - kBankBase) * kBankWidth, kBankWidth};
    else return EAPI_STATUS_UNSUPPORTED;
    uint32_t sets = 0;
    const VEK_RESULT r = VEK_GPIO_TotalSet(&sets);
    if (r != VEK_OK) return Status(r);
    *caps = 0;
    uint32_t pinsInSet = 0, lastSet = 0;
    for (uint32_t bit = 0; bit < out->width; ++bit) {
        const uint64_t gpio = uint64_t(out->first) + bit;
        if (gpio / kPinsPerSet + 1 > sets) break;
        const uint32_t set = SetOf(uint32_t(gpio));
        if (set != lastSet) {
            pinsInSet = 0;
            if (VEK_GPIO_TotalNumber(int32_t(set), &pinsInSet) != VEK_OK) pinsInSet = 0;
            lastSet = set;
        }
        if (PinOf(uint32_t(gpio)) <= pinsInSet) *caps |= 1u << bit;
    }
    return *caps == 0 ? EAPI_STATUS_UNSUPPORTED : EAPI_STATUS_SUCCESS;
}

// Runs fn(set, setMask, shift) for each vek set the selected bits touch;
// setMask holds the selected pins of that set (bit p-1 for pin p) and shift
// places the set's bit 0 in the EAPI mask.
template <typename Fn>
EApiStatus_t ForEachSet(const GpioId& id, uint32_t bitmask, Fn fn) {
    for (uint32_t bit = 0; bit < id.width;) {
        const uint32_t gpio = id.first + bit;
        const uint32_t set = SetOf(gpio);
        const uint32_t setFirst = (set - 1) * kPinsPerSet;
        const int shift = int(setFirst) - int(id.first); // negative only for single-GPIO IDs
        uint32_t setMask = 0;
        for (uint32_t pin = 0; pin < kPinsPerSet; ++pin) {
            const int64_t b = int64_t(setFirst + pin) - int64_t(id.first);
            if (b >= 0 && b < int64_t(id.width) && ((bitmask >> b) & 1u)) setMask |= 1u << pin;
        }
        if (setMask != 0) {
            const EApiStatus_t s = fn(set, setMask, shift);
            if (s != EAPI_STATUS_SUCCESS) return s;
        }
        bit = setFirst + kPinsPerSet - id.first;
    }
    return EAPI_STATUS_SUCCESS;
}

// Set-relative bits into EAPI-mask position.
uint32_t Place(uint32_t setBits, int shift) { return shift >= 0 ? setBits << shift : setBits >> -shift; }

// The common head of the four GPIO calls.
EApiStatus_t GpioPrepare(EApiId_t id, uint32_t bitmask, GpioId* gpio) {
    if (bitmask == 0) return EAPI_STATUS_INVALID_PARAMETER;
    uint32_t caps = 0;
    const EApiStatus_t s = GpioCaps(id, gpio, &caps);
    if (s != EAPI_STATUS_SUCCESS) return s;
    return (bitmask & ~caps) != 0 ? EAPI_STATUS_INVALID_BITMASK : EAPI_STATUS_SUCCESS;
}

EApiStatus_t GpioStatus(VEK_RESULT r) { return r == VEK_ERR_STATE ? EAPI_STATUS_INVALID_DIRECTION : Status(r); }

// Reads one vek byte per set (direction or level) and gathers the selected
// pins into an EAPI mask; the caller's word is written only on success.
EApiStatus_t GpioGather(EApiId_t id, uint32_t bitmask, uint32_t* out, VEK_RESULT (VEK_CALL* read)(int32_t, uint8_t*)) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (out == nullptr) return EAPI_STATUS_INVALID_PARAMETER;
    GpioId gpio{};
    const EApiStatus_t s = GpioPrepare(id, bitmask, &gpio);
    if (s != EAPI_STATUS_SUCCESS) return s;
    uint32_t result = 0;
    const EApiStatus_t done = ForEachSet(gpio, bitmask, [&](uint32_t set, uint32_t mask, int shift) {
        uint8_t bits = 0;
        const VEK_RESULT r = read(int32_t(set), &bits);
        if (r != VEK_OK) return GpioStatus(r);
        result |= Place(bits & mask, shift);
        return EAPI_STATUS_SUCCESS;
    });
    if (done == EAPI_STATUS_SUCCESS) *out = result;
    return done;
}

// The setters' side: write(set, mask, wanted) gets each set's selected pins
// and the caller's value moved to set-relative bits.
template <class Fn>
EApiStatus_t GpioScatter(EApiId_t id, uint32_t bitmask, uint32_t value, Fn write) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    GpioId gpio{};
    const EApiStatus_t s = GpioPrepare(id, bitmask, &gpio);
    if (s != EAPI_STATUS_SUCCESS) return s;
    return ForEachSet(gpio, bitmask, [&](uint32_t set, uint32_t mask, int shift) {
        return write(set, mask, shift >= 0 ? value >> shift : value << -shift);
    });
}

// ---- watchdog ----------------------------------------------------------

struct WdtUnit {
    uint32_t unit;   // vek: 0 seconds, 1 minutes
    uint32_t ms;     // one count
    uint8_t min = 0; // counts
    uint8_t max = 0;
};

// vek's seconds and minutes ranges; a unit the chip lacks has max 0.
EApiStatus_t WdtRanges(WdtUnit (&units)[2]) {
    const VEK_RESULT available = VEK_WDT_Available();
    if (available != VEK_OK && available != VEK_ERR_STATE) return Status(available);
    units[0] = {0, 1000};
    units[1] = {1, 60000};
    for (WdtUnit& u : units) {
        if (VEK_WDT_GetRange(u.unit, &u.min, &u.max) != VEK_OK) u.min = u.max = 0;
        if (u.min == 0 && u.max != 0) u.min = 1; // a count of 0 never starts it
    }
    return units[0].max == 0 && units[1].max == 0 ? EAPI_STATUS_UNSUPPORTED : EAPI_STATUS_SUCCESS;
}

uint32_t MaxResetMs(const WdtUnit (&units)[2]) {
    uint64_t best = 0;
    for (const WdtUnit& u : units) best = std::max<uint64_t>(best, uint64_t(u.max) * u.ms);
    return uint32_t(std::min<uint64_t>(best, 0xFFFFFFFFu));
}

} // namespace
} // namespace eapi

using namespace eapi;

extern "C" {

EApiStatus_t EAPI_CALLTYPE EApiLibInitialize(void) {
    LifecycleGuard guard;
    if (Ready()) return EAPI_STATUS_INITIALIZED;
    const EApiStatus_t sim = AttachSimulatedBoard();
    if (sim != EAPI_STATUS_SUCCESS) return sim;
    const VEK_RESULT r = VEK_API_Init();
    if (r != VEK_OK) {
        VEK_API_Uninit();
        DetachSimulatedBoard();
        // 10: this board is not one of vek's.
        return r == VEK_ERR_UNSUPPORTED ? EAPI_STATUS_UNSUPPORTED : EAPI_STATUS_ERROR;
    }
    g_backlightOn.store(true);
    g_ready.store(true, std::memory_order_release);
    return EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiLibUnInitialize(void) {
    LifecycleGuard guard;
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    g_ready.store(false, std::memory_order_release);
    VEK_API_Uninit();
    DetachSimulatedBoard();
    return EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiBoardGetStringA(EApiId_t Id, char* pBuffer, uint32_t* pBufLen) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (pBufLen == nullptr || (*pBufLen != 0 && pBuffer == nullptr)) return EAPI_STATUS_INVALID_PARAMETER;
    const StringRow* row = Find(kStrings, Id);
    if (row == nullptr) return EAPI_STATUS_UNSUPPORTED;
    char text[128] = {}; // vek's identity strings fit 80 bytes
    const EApiStatus_t s = ReadString(row->source, text, sizeof text);
    if (s != EAPI_STATUS_SUCCESS) return s;
    const uint32_t needed = uint32_t(std::strlen(text)) + 1;
    const uint32_t room = *pBufLen;
    *pBufLen = needed;
    if (room == 0) return EAPI_STATUS_MORE_DATA;
    const uint32_t copied = std::min(room, needed) - 1;
    std::memcpy(pBuffer, text, copied);
    pBuffer[copied] = '\0';
    return needed > room ? EAPI_STATUS_MORE_DATA : EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiBoardGetValue(EApiId_t Id, uint32_t* pValue) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (pValue == nullptr) return EAPI_STATUS_INVALID_PARAMETER;
    const ValueRow* row = Find(kValues, Id);
    if (row == nullptr) return EAPI_STATUS_UNSUPPORTED;
    VEK_RESULT r = VEK_OK;
    double reading = 0;
    switch (row->source) {
    case ValueSource::EapiRevision: *pValue = EAPI_VER_CREATE(EAPI_VER, EAPI_REVISION, 0); return EAPI_STATUS_SUCCESS;
    case ValueSource::LibVersion: *pValue = EAPI_LIB_VERSION; return EAPI_STATUS_SUCCESS;
    case ValueSource::VekVersion: {
        char text[64] = {};
        r = VEK_API_GetVersion(text);
        if (r != VEK_OK) return Status(r);
        const uint32_t v = ParseVekVersion(text);
        if (v == 0) return EAPI_STATUS_ERROR;
        *pValue = v;
        return EAPI_STATUS_SUCCESS;
    }
    case ValueSource::BootCounter: {
        uint32_t count = 0;
        r = VEK_Get_Boot_Counter(&count);
        if (r == VEK_OK) *pValue = count;
        return Status(r);
    }
    case ValueSource::Fan: {
        uint32_t rpm = 0;
        r = VEK_HWM_GetFanSpeed(row->channel, &rpm);
        if (r == VEK_OK) *pValue = rpm;
        return Status(r);
    }
    case ValueSource::CpuTemp: r = VEK_HWM_CPUTemperature(row->channel, &reading); break;
    case ValueSource::SysTemp: r = VEK_HWM_SysTemperature(&reading); break;
    case ValueSource::Voltage: r = VEK_HWM_Voltage(row->channel, &reading); break;
    }
    if (r != VEK_OK) return Status(r);
    *pValue = row->source == ValueSource::Voltage ? ToMillivolts(reading) : ToDeciKelvin(reading);
    return EAPI_STATUS_SUCCESS;
}

// ---- backlight ----

static EApiStatus_t BacklightLevel(EApiId_t id, uint8_t* level) {
    if (id != kBacklightId) return EAPI_STATUS_UNSUPPORTED;
    const VEK_RESULT r = VEK_BLC_Read_Brightness(kVekDisplay, level);
    // 17: no panel with brightness control answers.
    return r == VEK_ERR_DEVICE ? EAPI_STATUS_UNSUPPORTED : Status(r);
}

EApiStatus_t EAPI_CALLTYPE EApiVgaGetBacklightEnable(EApiId_t Id, uint32_t* pEnable) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (pEnable == nullptr) return EAPI_STATUS_INVALID_PARAMETER;
    uint8_t level = 0;
    const EApiStatus_t s = BacklightLevel(Id, &level);
    if (s != EAPI_STATUS_SUCCESS) return s;
    *pEnable = g_backlightOn.load() ? EAPI_BACKLIGHT_SET_ON : EAPI_BACKLIGHT_SET_OFF;
    return EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiVgaSetBacklightEnable(EApiId_t Id, uint32_t Enable) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (Enable != EAPI_BACKLIGHT_SET_ON && Enable != EAPI_BACKLIGHT_SET_OFF) return EAPI_STATUS_INVALID_PARAMETER;
    uint8_t level = 0;
    const EApiStatus_t s = BacklightLevel(Id, &level);
    if (s != EAPI_STATUS_SUCCESS) return s;
    const bool on = Enable == EAPI_BACKLIGHT_SET_ON;
    const VEK_RESULT r = VEK_Screen_Set(kVekDisplay, on ? 1 : 0);
    if (r != VEK_OK) return r == VEK_ERR_DRIVER_NOT_STARTED ? EAPI_STATUS_UNSUPPORTED : Status(r);
    g_backlightOn.store(on);
    return EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiVgaGetBacklightBrightness(EApiId_t Id, uint32_t* pBright) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (pBright == nullptr) return EAPI_STATUS_INVALID_PARAMETER;
    uint8_t level = 0;
    const EApiStatus_t s = BacklightLevel(Id, &level);
    if (s != EAPI_STATUS_SUCCESS) return s;
    const uint32_t percent = std::min<uint32_t>(level, kVekBrightnessMax);
    *pBright = (percent * EAPI_BACKLIGHT_SET_BRIGHTEST + kVekBrightnessMax / 2) / kVekBrightnessMax;
    return EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiVgaSetBacklightBrightness(EApiId_t Id, uint32_t Bright) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (Bright > EAPI_BACKLIGHT_SET_BRIGHTEST) return EAPI_STATUS_INVALID_PARAMETER;
    uint8_t level = 0;
    const EApiStatus_t s = BacklightLevel(Id, &level);
    if (s != EAPI_STATUS_SUCCESS) return s;
    const uint32_t percent = (Bright * kVekBrightnessMax + EAPI_BACKLIGHT_SET_BRIGHTEST / 2) / EAPI_BACKLIGHT_SET_BRIGHTEST;
    const VEK_RESULT r = VEK_BLC_Set_Brightness(kVekDisplay, uint8_t(percent));
    return r == VEK_ERR_DEVICE ? EAPI_STATUS_UNSUPPORTED : Status(r);
}

// ---- storage ----

static EApiStatus_t StorageSize(EApiId_t id, uint32_t* size) {
    if (id != kStorageId) return EAPI_STATUS_UNSUPPORTED;
    return Status(VEK_StorageArea_Capacity(kStorageArea, size));
}

EApiStatus_t EAPI_CALLTYPE EApiStorageCap(EApiId_t Id, uint32_t* pStorageSize, uint32_t* pBlockLength) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (pStorageSize == nullptr && pBlockLength == nullptr) return EAPI_STATUS_INVALID_PARAMETER;
    uint32_t size = 0;
    const EApiStatus_t s = StorageSize(Id, &size);
    if (s != EAPI_STATUS_SUCCESS) return s;
    if (pStorageSize) *pStorageSize = size;
    if (pBlockLength) *pBlockLength = kStorageBlockLength;
    return EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiStorageAreaRead(EApiId_t Id, uint32_t Offset, void* pBuffer, uint32_t BufLen,
                                               uint32_t ByteCnt) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (pBuffer == nullptr || ByteCnt == 0 || BufLen == 0) return EAPI_STATUS_INVALID_PARAMETER;
    uint32_t size = 0;
    const EApiStatus_t s = StorageSize(Id, &size);
    if (s != EAPI_STATUS_SUCCESS) return s;
    if (uint64_t(Offset) + ByteCnt > size) return EAPI_STATUS_INVALID_BLOCK_LENGTH;
    // Only what fits is read; the rest is the caller's to fetch again.
    const uint32_t count = std::min(ByteCnt, BufLen);
    const VEK_RESULT r = VEK_StorageArea_Read(kStorageArea, Offset, static_cast<uint8_t*>(pBuffer), int32_t(count));
    if (r != VEK_OK) return r == VEK_ERR_ARGUMENT ? EAPI_STATUS_INVALID_BLOCK_LENGTH : EAPI_STATUS_READ_ERROR;
    return ByteCnt > BufLen ? EAPI_STATUS_MORE_DATA : EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiStorageAreaWrite(EApiId_t Id, uint32_t Offset, void* pBuffer, uint32_t ByteCnt) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (pBuffer == nullptr || ByteCnt == 0) return EAPI_STATUS_INVALID_PARAMETER;
    uint32_t size = 0;
    const EApiStatus_t s = StorageSize(Id, &size);
    if (s != EAPI_STATUS_SUCCESS) return s;
    if (Offset % kStorageBlockLength != 0 || ByteCnt % kStorageBlockLength != 0)
        return EAPI_STATUS_INVALID_BLOCK_ALIGNMENT;
    if (uint64_t(Offset) + ByteCnt > size) return EAPI_STATUS_INVALID_BLOCK_LENGTH;
    const VEK_RESULT r = VEK_StorageArea_Write(kStorageArea, Offset, static_cast<uint8_t*>(pBuffer), int32_t(ByteCnt));
    if (r != VEK_OK) return r == VEK_ERR_ARGUMENT ? EAPI_STATUS_INVALID_BLOCK_LENGTH : EAPI_STATUS_WRITE_ERROR;
    return EAPI_STATUS_SUCCESS;
}

// ---- I2C ----

EApiStatus_t EAPI_CALLTYPE EApiI2CGetBusCap(EApiId_t Id, uint32_t* pMaxBlkLen) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (pMaxBlkLen == nullptr) return EAPI_STATUS_INVALID_PARAMETER;
    uint8_t bus = 0;
    const EApiStatus_t s = ResolveBus(Id, &bus);
    if (s != EAPI_STATUS_SUCCESS) return s;
    *pMaxBlkLen = kMaxBlockLength;
    return EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiI2CWriteReadRaw(EApiId_t Id, uint8_t Addr, void* pWBuffer, uint32_t WriteBCnt,
                                               void* pRBuffer, uint32_t RBufLen, uint32_t ReadBCnt) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if ((WriteBCnt > 1 && pWBuffer == nullptr) || (ReadBCnt > 1 && (pRBuffer == nullptr || RBufLen == 0)) ||
        (WriteBCnt == 0 && ReadBCnt == 0))
        return EAPI_STATUS_INVALID_PARAMETER;
    uint8_t bus = 0;
    EApiStatus_t s = ResolveBus(Id, &bus);
    if (s != EAPI_STATUS_SUCCESS) return s;
    if (WriteBCnt > kMaxBlockLength + 1 || ReadBCnt > kMaxBlockLength + 1) return EAPI_STATUS_INVALID_BLOCK_LENGTH;
    const uint8_t address7 = EAPI_I2C_DEC_7BIT_ADDR(Addr);
    const uint32_t writes = WriteBCnt > 1 ? WriteBCnt - 1 : 0;
    const uint32_t reads = ReadBCnt > 1 ? ReadBCnt - 1 : 0;
    const uint8_t* w = static_cast<const uint8_t*>(pWBuffer);
    if (reads == 0) {
        if (writes == 0) {
            const VEK_RESULT r = Probe(bus, address7);
            return r == VEK_OK ? EAPI_STATUS_SUCCESS : TransferFailure(r, bus, address7, Direction::Write);
        }
        return BusWrite(bus, address7, {CmdKind::None, 0}, w, writes);
    }
    Command cmd{CmdKind::None, 0};
    if (writes == 1) cmd = {CmdKind::Standard, w[0]};
    else if (writes == 2) cmd = {CmdKind::Extended, uint32_t(w[0]) << 8 | w[1]};
    else if (writes > 2) return EAPI_STATUS_UNSUPPORTED; // vek writes at most a 16-bit register before a read
    uint8_t data[kMaxBlockLength];
    s = BusRead(bus, address7, cmd, data, reads);
    if (s != EAPI_STATUS_SUCCESS) return s;
    std::memcpy(pRBuffer, data, std::min(reads, RBufLen));
    return reads > RBufLen ? EAPI_STATUS_MORE_DATA : EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiI2CReadTransfer(EApiId_t Id, uint32_t Addr, uint32_t Cmd, void* pBuffer, uint32_t BufLen,
                                               uint32_t ByteCnt) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (pBuffer == nullptr || BufLen == 0 || ByteCnt == 0) return EAPI_STATUS_INVALID_PARAMETER;
    uint8_t bus = 0;
    EApiStatus_t s = ResolveBus(Id, &bus);
    if (s != EAPI_STATUS_SUCCESS) return s;
    if (ByteCnt > kMaxBlockLength) return EAPI_STATUS_INVALID_BLOCK_LENGTH;
    uint8_t address7 = 0;
    Command cmd{};
    if ((s = DecodeAddress(Addr, &address7)) != EAPI_STATUS_SUCCESS) return s;
    if ((s = DecodeCommand(Cmd, &cmd)) != EAPI_STATUS_SUCCESS) return s;
    uint8_t data[kMaxBlockLength];
    if ((s = BusRead(bus, address7, cmd, data, ByteCnt)) != EAPI_STATUS_SUCCESS) return s;
    std::memcpy(pBuffer, data, std::min(ByteCnt, BufLen));
    return ByteCnt > BufLen ? EAPI_STATUS_MORE_DATA : EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiI2CWriteTransfer(EApiId_t Id, uint32_t Addr, uint32_t Cmd, void* pBuffer,
                                                uint32_t ByteCnt) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (pBuffer == nullptr || ByteCnt == 0) return EAPI_STATUS_INVALID_PARAMETER;
    uint8_t bus = 0;
    EApiStatus_t s = ResolveBus(Id, &bus);
    if (s != EAPI_STATUS_SUCCESS) return s;
    if (ByteCnt > kMaxBlockLength) return EAPI_STATUS_INVALID_BLOCK_LENGTH;
    uint8_t address7 = 0;
    Command cmd{};
    if ((s = DecodeAddress(Addr, &address7)) != EAPI_STATUS_SUCCESS) return s;
    if ((s = DecodeCommand(Cmd, &cmd)) != EAPI_STATUS_SUCCESS) return s;
    return BusWrite(bus, address7, cmd, static_cast<const uint8_t*>(pBuffer), ByteCnt);
}

EApiStatus_t EAPI_CALLTYPE EApiI2CProbeDevice(EApiId_t Id, uint32_t Addr) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    uint8_t bus = 0;
    EApiStatus_t s = ResolveBus(Id, &bus);
    if (s != EAPI_STATUS_SUCCESS) return s;
    uint8_t address7 = 0;
    if ((s = DecodeAddress(Addr, &address7)) != EAPI_STATUS_SUCCESS) return s;
    const VEK_RESULT r = Probe(bus, address7);
    if (r == VEK_OK) return EAPI_STATUS_SUCCESS;
    return r == VEK_ERR_UNSUPPORTED ? EAPI_STATUS_UNSUPPORTED : EAPI_STATUS_NOT_FOUND;
}

// ---- watchdog ----

EApiStatus_t EAPI_CALLTYPE EApiWDogGetCap(uint32_t* pMaxDelay, uint32_t* pMaxEventTimeout, uint32_t* pMaxResetTimeout) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    WdtUnit units[2];
    const EApiStatus_t s = WdtRanges(units);
    if (s != EAPI_STATUS_SUCCESS) return s;
    if (pMaxDelay == nullptr && pMaxEventTimeout == nullptr && pMaxResetTimeout == nullptr)
        return EAPI_STATUS_INVALID_PARAMETER;
    // vek's watchdogs reset the board at the end of one timeout: no delay stage, no event stage.
    if (pMaxDelay) *pMaxDelay = 0;
    if (pMaxEventTimeout) *pMaxEventTimeout = 0;
    if (pMaxResetTimeout) *pMaxResetTimeout = MaxResetMs(units);
    return EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiWDogStart(uint32_t Delay, uint32_t EventTimeout, uint32_t ResetTimeout) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    WdtUnit units[2];
    const EApiStatus_t s = WdtRanges(units);
    if (s != EAPI_STATUS_SUCCESS) return s;
    if (Delay != 0 || EventTimeout != 0 || ResetTimeout == 0 || ResetTimeout > MaxResetMs(units))
        return EAPI_STATUS_INVALID_PARAMETER;
    if (VEK_WDT_Available() == VEK_OK) return EAPI_STATUS_RUNNING;
    // The finest unit whose range holds the timeout, rounded up to whole counts:
    // the board never resets before the time asked for.
    for (const WdtUnit& u : units) {
        if (u.max == 0) continue;
        const uint64_t counts = (uint64_t(ResetTimeout) + u.ms - 1) / u.ms;
        if (counts > u.max) continue;
        const uint8_t count = uint8_t(std::max<uint64_t>(counts, u.min));
        VEK_RESULT r = VEK_WDT_SetConfig(u.unit, count);
        if (r == VEK_OK) r = VEK_WDT_Trigger();
        return Status(r);
    }
    return EAPI_STATUS_INVALID_PARAMETER;
}

EApiStatus_t EAPI_CALLTYPE EApiWDogTrigger(void) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    const VEK_RESULT running = VEK_WDT_Available();
    // 14: not started; triggering would start it with whatever was configured.
    if (running == VEK_ERR_STATE) return EAPI_STATUS_ERROR;
    if (running != VEK_OK) return Status(running);
    return Status(VEK_WDT_Trigger());
}

EApiStatus_t EAPI_CALLTYPE EApiWDogStop(void) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    const VEK_RESULT running = VEK_WDT_Available();
    if (running != VEK_OK && running != VEK_ERR_STATE) return Status(running);
    return Status(VEK_WDT_Disable());
}

// ---- GPIO ----

EApiStatus_t EAPI_CALLTYPE EApiGPIOGetDirectionCaps(EApiId_t Id, uint32_t* pInputs, uint32_t* pOutputs) {
    if (!Ready()) return EAPI_STATUS_NOT_INITIALIZED;
    if (pInputs == nullptr && pOutputs == nullptr) return EAPI_STATUS_INVALID_PARAMETER;
    GpioId gpio{};
    uint32_t caps = 0;
    const EApiStatus_t s = GpioCaps(Id, &gpio, &caps);
    if (s != EAPI_STATUS_SUCCESS) return s;
    // Every pin vek serves takes either direction.
    if (pInputs) *pInputs = caps;
    if (pOutputs) *pOutputs = caps;
    return EAPI_STATUS_SUCCESS;
}

EApiStatus_t EAPI_CALLTYPE EApiGPIOGetDirection(EApiId_t Id, uint32_t Bitmask, uint32_t* pDirection) {
    return GpioGather(Id, Bitmask, pDirection, VEK_GPIO_ReadDirection);
}

EApiStatus_t EAPI_CALLTYPE EApiGPIOSetDirection(EApiId_t Id, uint32_t Bitmask, uint32_t Direction) {
    // Pins the caller did not select keep their direction.
    return GpioScatter(Id, Bitmask, Direction, [](uint32_t set, uint32_t mask, uint32_t wanted) {
        uint8_t dir = 0;
        VEK_RESULT r = VEK_GPIO_ReadDirection(int32_t(set), &dir);
        if (r != VEK_OK) return GpioStatus(r);
        r = VEK_GPIO_SetDirection(int32_t(set), uint8_t((dir & ~mask) | (wanted & mask)));
        return GpioStatus(r);
    });
}

EApiStatus_t EAPI_CALLTYPE EApiGPIOGetLevel(EApiId_t Id, uint32_t Bitmask, uint32_t* pLevel) {
    return GpioGather(Id, Bitmask, pLevel, VEK_GPIO_Read);
}

EApiStatus_t EAPI_CALLTYPE EApiGPIOSetLevel(EApiId_t Id, uint32_t Bitmask, uint32_t Level) {
    // Pin by pin: a set-wide write would also drive the pins not selected.
    return GpioScatter(Id, Bitmask, Level, [](uint32_t set, uint32_t mask, uint32_t wanted) {
        for (uint32_t pin = 0; pin < kPinsPerSet; ++pin) {
            if (!((mask >> pin) & 1u)) continue;
            const VEK_RESULT r = VEK_GPIO_WritePin(int32_t(set), int32_t(pin + 1), uint8_t((wanted >> pin) & 1u));
            if (r != VEK_OK) return GpioStatus(r);
        }
        return EAPI_STATUS_SUCCESS;
    });
}

} // extern "C"
