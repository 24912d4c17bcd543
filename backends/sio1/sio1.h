// The ChipKind 1 Super I/O backend: its per-chip area of the device context,
// port access with its configuration-mode and bank guards, and the routines.
#pragma once

#include <cstdint>

#include "backends/backend.h"
#include "platform/context.h"

namespace vek::sio1 {

inline constexpr int PIN_ENTRIES = 16;   // pins 1..8 of set 1, then of set 2
inline constexpr int VOLTAGE_CHANNELS = 11; // channels 0..10 have registers
inline constexpr int FANS = 6;            // fans 0..5
inline constexpr uint8_t GROUP_NONE = 0xF; // pin-code high nibble of an unmapped entry
inline constexpr uint8_t PIN_NONE = 0xF0;

// Resistor divider: volts = reading * (upper + lower) / lower.
struct Divider {
    double upper;
    double lower;
};

// Tachometer and control registers of one fan. The divisor fields serve the
// 8-bit counters, countLow the 13-bit ones, duty the fan-control output.
struct FanRegs {
    uint8_t present;
    uint8_t bank;
    uint8_t div1Reg, div1Shift;
    uint8_t div2Reg, div2Shift;
    uint8_t count;     // count register (high part on the 13-bit counters)
    uint8_t countLow;
    uint8_t duty;      // 0 = no duty output
};

// A GPIO pulse pair that steps the panel backlight up or down.
struct BacklightPulse {
    uint8_t ldn;       // LDN_NONE: the board has none
    uint8_t actReg, actBit;
    uint8_t ioReg, ioAndMask;
    uint8_t dataReg, upBit, downBit;
    uint32_t pulseUs;
};

struct BitRef {
    uint8_t bank, reg, bit;
};

// The kind-1 area of a DeviceContext. gpioSets, ioDelay and the watchdog
// bookkeeping (unit, count, range, running) live in the common header.
struct Sio1Area {
    uint8_t pinLdn[PIN_ENTRIES];   // LDN_NONE: no registers behind the entry
    uint8_t pinCode[PIN_ENTRIES];  // high nibble group, low nibble bit
    uint8_t pinDirReg[PIN_ENTRIES];
    uint8_t pinDataReg[PIN_ENTRIES];
    uint8_t pinMask[PIN_ENTRIES];

    uint8_t wdtLdn, wdtActReg, wdtActBit;
    uint8_t wdtModeReg, wdtCountReg, wdtUnitBit;

    uint16_t hwmIndexPort;         // 0 until found
    uint8_t voltBank;
    uint8_t voltReg[VOLTAGE_CHANNELS]; // by channel; 0 = absent (channel 0: see the monitor)
    uint8_t vbatBank;
    uint8_t batteryDirect;         // battery read without a measurement pulse, through channel 5's divider
    double voltageLsb;
    double vcoreScale;
    Divider divider[VOLTAGE_CHANNELS];
    BitRef vbatTrigger;

    uint8_t cpuTempBank, cpuTempState, cpuTempReg, cpuTempFracReg;
    uint8_t sysTempBank, sysTempReg; // sysTempReg 0 = absent

    FanRegs fan[FANS];
    BacklightPulse backlight;
    uint32_t altConfigPort;        // 1: the chip answers at 0x4E
};

inline Sio1Area& Area(DeviceContext& ctx) { return AreaOf<Sio1Area>(ctx); }
inline const Sio1Area& Area(const DeviceContext& ctx) { return AreaOf<Sio1Area>(ctx); }

// CPU temperature source states.
inline constexpr uint8_t CPU_TEMP_PRESENT = 1;
inline constexpr uint8_t CPU_TEMP_ABSENT = 2;

// Subtypes with 13-bit fan counters, fan control and the doubled CPU reading;
// the others count 8 bits through a divisor.
constexpr bool Has13BitMonitor(uint32_t subtype) { return subtype == 0 || subtype == 5 || subtype == 8; }
// Fans 3..5 are wired only on these.
constexpr bool HasExtraFans(uint32_t subtype) { return subtype == 5 || subtype == 8; }

// ---- port access (ApiLock held) ----

// The configuration index port in use (process-wide; 0x4E once a board chose it).
uint16_t ConfigPort();
void SetConfigPort(uint16_t port);
// Back to 0x2E. Only a fresh process starts there; tests that walk boards call this.
void ResetProcessState();

void CfgWrite(uint8_t reg, uint8_t value);
uint8_t CfgRead(uint8_t reg);
void SelectDevice(uint8_t ldn);
void HwmWrite(const DeviceContext& ctx, uint8_t reg, uint8_t value);
uint8_t HwmRead(const DeviceContext& ctx, uint8_t reg);
void Pause(int64_t microseconds);

// Configuration mode for the length of a scope: the key on entry, the exit
// byte on every way out.
class ConfigMode {
public:
    ConfigMode();
    ~ConfigMode();
    ConfigMode(const ConfigMode&) = delete;
    ConfigMode& operator=(const ConfigMode&) = delete;
};

// A hardware-monitor bank for the length of a scope. Selecting another bank
// while inside moves the guard along; leaving returns the block to bank 0,
// where the firmware's own monitor code expects it.
class HwmBank {
public:
    HwmBank(const DeviceContext& ctx, uint8_t bank);
    ~HwmBank();
    void Select(uint8_t bank);
    HwmBank(const HwmBank&) = delete;
    HwmBank& operator=(const HwmBank&) = delete;

private:
    const DeviceContext& ctx_;
    uint8_t bank_;
};

// ---- routines ----
void Configure(DeviceContext& ctx);
const BackendOps& Ops();
void FillGpioWatchdogOps(BackendOps& ops);
void FillMonitorOps(BackendOps& ops);

} // namespace vek::sio1
