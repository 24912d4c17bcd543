// The ChipKind 5 Super I/O: a chip with a movable configuration index port
// (0x2E or 0x4E), unlocked by 0x87 0x87 and locked by 0xAA, whose logical
// devices 4 (hardware monitor), 6 (GPIO) and 7 (watchdog) this backend drives.
#pragma once

#include <cstdint>

#include "backends/backend.h"
#include "backends/superio/superio.h"
#include "platform/context.h"

namespace vek::sio5 {

// ---- configuration space ----
inline constexpr uint16_t PORT_PRIMARY = 0x4E;  // tried first on probing boards
inline constexpr uint16_t PORT_FALLBACK = 0x2E;
inline constexpr uint8_t KEY_ENTER = 0x87;      // written twice
inline constexpr uint8_t KEY_EXIT = 0xAA;

inline constexpr uint8_t CR_DEVICE_SELECT = 0x07;
inline constexpr uint8_t CR_BANK = 0x27;        // bits 2..3 bank of the multi-function registers
inline constexpr uint8_t CR_BANK_KEEP = 0xF2;
inline constexpr int CR_BANK_SHIFT = 2;
inline constexpr uint8_t CR_ACTIVATE = 0x30;
inline constexpr uint8_t CR_BASE_HIGH = 0x60;
inline constexpr uint8_t CR_BASE_LOW = 0x61;

inline constexpr uint8_t LDN_HWM = 4;
inline constexpr uint8_t LDN_GPIO = 6;
inline constexpr uint8_t LDN_WDT = 7;

// Hardware-monitor block: index at base + 5, data at base + 6.
inline constexpr uint16_t HWM_INDEX_OFFSET = 5;

// Logical device 7.
inline constexpr uint8_t WDT_CONTROL = 0xF5;
inline constexpr uint8_t WDT_ENABLE = 0x20;
inline constexpr uint8_t WDT_UNIT_MINUTES = 0x08;
inline constexpr uint8_t WDT_COUNT = 0xF6;
inline constexpr uint8_t WDT_RESET_OUTPUT = 0xFA;
inline constexpr uint8_t WDT_SETUP_VALUE = 0x11; // control: pulse output; 0xFA: reset pin enabled

// Logical device 6: each port p has its base register b; b + 0 output enable
// (bit set = output), b + 1 output data, b + 2 pin status.
inline constexpr uint8_t GPIO_OUTPUT_ENABLE = 0;
inline constexpr uint8_t GPIO_OUTPUT_DATA = 1;
inline constexpr uint8_t GPIO_PIN_STATUS = 2;
inline constexpr int GPIO_PORTS = 10;
inline constexpr uint8_t GPIO_PORT_BASE[GPIO_PORTS] = {0xF0, 0xE0, 0xD0, 0xC0, 0xB0,
                                                       0xA0, 0x90, 0x80, 0x88, 0x98};
inline constexpr uint8_t PIN_NONE = 0xFF;  // empty pin-table slot; else port * 10 + bit

// Hardware-monitor registers.
inline constexpr uint8_t HWM_FAN_LOCK = 0x9F;           // bit 7: fan mode registers write-protected
inline constexpr uint8_t HWM_FAN_LOCK_BIT = 0x80;
inline constexpr uint8_t HWM_VOLTAGE0_ALT = 0x18;       // subtype 3: channel 0 reading
inline constexpr uint8_t HWM_VOLTAGE0_ALT_SCALED = 0x01;
inline constexpr uint8_t BATTERY_SWITCH_ON = 0x00;
inline constexpr uint8_t BATTERY_SWITCH_OFF = 0x80;
inline constexpr int64_t BATTERY_SETTLE_US = 200'000;

// Fan mode field (2 bits at the fan's shift in its mode register).
inline constexpr uint8_t FAN_FIELD_AUTO = 1;
inline constexpr uint8_t FAN_FIELD_MANUAL = 3;
inline constexpr uint8_t FAN_FIELD_MASK = 3;
inline constexpr uint8_t FAN_REG_NONE = 0xFF;

// FanMode codes of the smart-fan exports.
inline constexpr uint32_t FAN_MODE_MANUAL = 0;
inline constexpr uint32_t FAN_MODE_OTHER = 3;
inline constexpr uint32_t FAN_MODE_SMART = 7;

inline constexpr uint32_t CPU_SOURCE_CHIP = 2;   // the CPU temperature register is served
inline constexpr uint32_t VOLTAGE_CHANNELS = 18; // 0..17; 7..13 are not wired on this chip
inline constexpr uint32_t FANS = 2;
inline constexpr uint32_t LAST_FAN = 12;
inline constexpr int SMART_POINTS = 4;
inline constexpr double VOLTAGE_LSB = 0.008;

using superio::Divider;

struct FanDescriptor {
    uint8_t present;
    uint8_t countHigh;
    uint8_t countLow;
    uint8_t duty;          // 0: no duty register
    uint8_t mode;          // FAN_REG_NONE: no mode control
    uint8_t modeShift;
    uint8_t smartTempBase; // FAN_REG_NONE: no curve
    uint8_t smartDutyBase;
};

// This backend's part of a DeviceContext (the watchdog's unit, count and
// range live in DeviceContext::wdtSio5).
struct Sio5Area {
    uint8_t pinMap[9][8];        // sets 1..9, pins 1..8
    uint16_t hwmIndexPort;       // 0 until found
    uint8_t voltageRegister[VOLTAGE_CHANNELS]; // by channel; 0 = absent
    Divider divider[VOLTAGE_CHANNELS];         // by channel; 0/0 unless the board sets one
    double voltageLsb;
    uint8_t batteryControl;      // 0 = no battery switch
    uint8_t cpuTempSource;
    uint8_t cpuTempRegister;
    uint8_t sysTemp[3];          // 0 = absent
    FanDescriptor fans[FANS];
};

inline Sio5Area& Area(DeviceContext& ctx) { return AreaOf<Sio5Area>(ctx); }

// The configuration index port in use (process-wide, kept across contexts).
uint16_t IndexPort();
void SetIndexPort(uint16_t port);

// Port access with the backend's pause after each one.
inline void Pause() { superio::Pause(KIND_SIO5); }
inline void PortWrite(uint16_t port, uint8_t value) { superio::PortWrite(KIND_SIO5, port, value); }
inline uint8_t PortRead(uint16_t port) { return superio::PortRead(KIND_SIO5, port); }

// Configuration mode, held for the guard's lifetime. Exits at the port it
// entered on.
class ConfigMode {
public:
    ConfigMode();
    ~ConfigMode();
    ConfigMode(const ConfigMode&) = delete;
    ConfigMode& operator=(const ConfigMode&) = delete;
    // Give up on the port entered on (nothing answered there) and take another:
    // lock that one first, in case a chip there was left open, then enter it.
    void MoveTo(uint16_t port);

private:
    uint16_t port_;
};

void Write(uint8_t reg, uint8_t value);
uint8_t Read(uint8_t reg);
inline void SelectDevice(uint8_t device) { Write(CR_DEVICE_SELECT, device); }
void SelectBank(uint8_t bank);
uint16_t ReadBase(); // 0x60 high, 0x61 low of the selected device

uint8_t HwmRead(const DeviceContext& ctx, uint8_t reg);
void HwmWrite(const DeviceContext& ctx, uint8_t reg, uint8_t value);

void Configure(DeviceContext& ctx);
const BackendOps& Ops();

} // namespace vek::sio5
