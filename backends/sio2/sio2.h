// The ChipKind 2 Super I/O at 0x2E/0x2F: unlocked by the key 0x87 0x01 0x55
// 0x55, locked by bit 1 of its configuration-control register. GPIO pins are
// set up through logical device 7 and driven as plain I/O ports; the
// environment controller (logical device 4) sits at its base + 5 / + 6.
#pragma once

#include <cstdint>

#include "backends/backend.h"
#include "backends/superio/superio.h"
#include "platform/context.h"

namespace vek::sio2 {

inline constexpr uint16_t INDEX_PORT = 0x2E;
inline constexpr uint16_t DATA_PORT = 0x2F;
inline constexpr uint8_t KEY[4] = {0x87, 0x01, 0x55, 0x55};

// Global configuration registers.
inline constexpr uint8_t CR_CONFIG_CONTROL = 0x02;
inline constexpr uint8_t CONFIG_LOCK = 0x02;         // back to wait-for-key
inline constexpr uint8_t CR_DEVICE_SELECT = 0x07;
inline constexpr uint8_t CR_PIN_SELECT_BASE = 0x24;  // + chip set 1..5: pin is GPIO
inline constexpr uint8_t CR_MULTI_FUNCTION = 0x2C;   // LDN 7: bit 7 set-8 pins, bit 0 cleared except subtype 4
inline constexpr uint8_t MF_SET8_GPIO = 0x80;
inline constexpr uint8_t MF_KEEP_BIT0 = 0x01;
inline constexpr uint8_t CR_ACTIVATE = 0x30;
inline constexpr uint8_t CR_BASE_HIGH = 0x60;
inline constexpr uint8_t CR_BASE_LOW = 0x61;

inline constexpr uint8_t LDN_PARALLEL = 3;
inline constexpr uint8_t LDN_ENV = 4;
inline constexpr uint8_t LDN_GPIO = 7;

// Logical device 7 (GPIO and watchdog).
inline constexpr uint8_t GPIO_BASE_HIGH = 0x62;
inline constexpr uint8_t GPIO_BASE_LOW = 0x63;
inline constexpr uint8_t GPIO_PULLUP_BASE = 0xB7;      // + chip set 1..6
inline constexpr uint8_t GPIO_SIMPLE_IO_BASE = 0xBF;   // + chip set 1..6
inline constexpr uint8_t GPIO_OUTPUT_ENABLE_BASE = 0xC7; // + chip set 1..6 (bit set = output)
inline constexpr uint8_t GPIO_SET7_OUTPUT_ENABLE = 0xCE;
inline constexpr uint8_t GPIO_SET8_OUTPUT_ENABLE = 0xCF;
inline constexpr uint8_t GPIO_SET7_SELECT = 0xE9;
inline constexpr uint8_t SET7_GPIO = 0x20;
inline constexpr uint8_t WDT_CONTROL = 0x72;
inline constexpr uint8_t WDT_CONTROL_BASE = 0xC0;
inline constexpr uint8_t WDT_UNIT_SECONDS = 0x80;
inline constexpr uint8_t WDT_COUNT = 0x73;

// Logical device 3 (board 26): its mode register's bit 3 shares the port's pins.
inline constexpr uint8_t PARALLEL_MODE = 0xF0;
inline constexpr uint8_t PARALLEL_PINS_SHARED = 0x08;

// Environment-controller registers.
inline constexpr uint16_t ENV_INDEX_OFFSET = 5;
inline constexpr uint16_t ENV_DATA_OFFSET = 6;
inline constexpr uint8_t ENV_FAN_CONTROL = 0x13;     // bit 1: fan 1 PWM output on
inline constexpr uint8_t FAN1_PWM_ON = 0x02;
inline constexpr uint8_t ENV_FAN1_PWM_MODE = 0x16;   // 0: software-driven
inline constexpr uint8_t ENV_ADC_ENABLE = 0x50;
inline constexpr uint8_t ENV_VBAT_CONTROL = 0x5C;
inline constexpr uint8_t VBAT_ENABLE = 0x80;
inline constexpr uint8_t ENV_FAN1_DUTY = 0x6B;
inline constexpr uint8_t ENV_FAN1_AUTO = 0x6C;
inline constexpr uint8_t FAN1_AUTO_BIT = 0x80;

inline constexpr uint8_t PIN_NONE = 0xF0;  // else (chip set << 4) | bit
inline constexpr uint8_t REG_NONE = 0xFF;
inline constexpr int PIN_ENTRIES = 16;     // entries 1..8 set 1, 9..16 set 2
inline constexpr uint32_t VOLTAGE_CHANNELS = 7;

using superio::Divider;

// This backend's part of a DeviceContext (watchdog bookkeeping lives in
// DeviceContext::wdtSio12).
struct Sio2Area {
    uint16_t gpioDataBase;
    uint8_t direction[PIN_ENTRIES];  // 0: entry has no register
    uint8_t dataOffset[PIN_ENTRIES];
    uint8_t pinCode[PIN_ENTRIES];
    uint32_t mask[PIN_ENTRIES];
    uint8_t companion[PIN_ENTRIES];

    double voltageLsb;
    uint16_t envBase;
    uint8_t voltageRegister[VOLTAGE_CHANNELS]; // by channel; 0 = absent
    double adcFullScale;
    Divider divider[VOLTAGE_CHANNELS];         // by channel (2..5 used)
    uint8_t fanCountHigh[2];
    uint8_t fanCountLow[2];
    uint8_t fan0DutyControl;                   // REG_NONE: no duty control
    uint8_t fan1KeepControl;
    uint8_t cpuTempRegister;
    uint8_t sysTemp[3];                        // REG_NONE = absent
    uint8_t fanPresent[3];
    uint8_t cpuTempSource;                     // 1: served here
    uint8_t tempEnable;                        // 1: system temperatures served
};

inline Sio2Area& Area(DeviceContext& ctx) { return AreaOf<Sio2Area>(ctx); }

// A block without a usable base counts as absent and is stored as NO_BASE:
// 0xFFFF (nothing answered at initialisation) would wrap the port offsets
// round to the DMA controller, and a base below 0x100 (firmware that left the
// device unprogrammed, 0x0000 after reset) lands among the legacy
// controllers, where no Super I/O block decodes.
inline constexpr uint16_t NO_BASE = 0xFFFF;
inline constexpr uint16_t FIRST_DECODED_PORT = 0x100;
inline constexpr uint16_t BLOCK_SPAN = 8; // simple-I/O ports base + 0..7
constexpr uint16_t UsableBase(uint16_t base) {
    return base < FIRST_DECODED_PORT || base > 0xFFFF - BLOCK_SPAN ? NO_BASE : base;
}

inline void Pause() { superio::Pause(KIND_SIO2); }
inline void PortWrite(uint16_t port, uint8_t value) { superio::PortWrite(KIND_SIO2, port, value); }
inline uint8_t PortRead(uint16_t port) { return superio::PortRead(KIND_SIO2, port); }

// Configuration mode for the guard's lifetime: the key on entry, the lock bit on exit.
class ConfigMode {
public:
    ConfigMode();
    ~ConfigMode();
    ConfigMode(const ConfigMode&) = delete;
    ConfigMode& operator=(const ConfigMode&) = delete;
};

void Write(uint8_t reg, uint8_t value);
uint8_t Read(uint8_t reg);
inline void SelectDevice(uint8_t device) { Write(CR_DEVICE_SELECT, device); }
inline void SetBits(uint8_t reg, uint8_t bits) { Write(reg, uint8_t(Read(reg) | bits)); }
// A 16-bit base from its register pair, the high register read first.
inline uint16_t ReadPair(uint8_t highReg, uint8_t lowReg) {
    const uint8_t high = Read(highReg);
    const uint8_t low = Read(lowReg);
    return uint16_t(high << 8 | low);
}

uint8_t EnvRead(const DeviceContext& ctx, uint8_t reg);
void EnvWrite(const DeviceContext& ctx, uint8_t reg, uint8_t value);

void Configure(DeviceContext& ctx);
const BackendOps& Ops();

} // namespace vek::sio2
