// The routines a ChipKind backend offers the frame. A null entry means the
// backend has no such routine and the export answers 10.
#pragma once

#include <cstdint>

#include "platform/context.h"

namespace vek {

struct BackendOps {
    // Fills the backend area, gpioSets and capability words at initialisation.
    void (*configure)(DeviceContext& ctx);

    // GPIO: sets and pins counted from 1.
    uint32_t (*gpioSetDirection)(DeviceContext& ctx, int32_t set, uint8_t mask);
    uint32_t (*gpioReadDirection)(DeviceContext& ctx, int32_t set, uint8_t* mask);
    uint32_t (*gpioRead)(DeviceContext& ctx, int32_t set, uint8_t* value);
    uint32_t (*gpioWrite)(DeviceContext& ctx, int32_t set, uint8_t value);
    uint32_t (*gpioSetPinDirection)(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t direction);
    uint32_t (*gpioReadPinDirection)(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* direction);
    uint32_t (*gpioReadPin)(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t* value);
    uint32_t (*gpioWritePin)(DeviceContext& ctx, int32_t set, int32_t pin, uint8_t value);

    // Watchdog. A kind without a trigger routine has no watchdog. Without
    // wdtSetConfig the frame stores unit and count for the trigger routine.
    uint32_t (*wdtSetConfig)(DeviceContext& ctx, uint32_t unit, uint8_t count);
    uint32_t (*wdtTrigger)(DeviceContext& ctx);
    uint32_t (*wdtDisable)(DeviceContext& ctx);
    // The timeout the chip itself holds while its watchdog runs (another
    // process may have set it): 0 with unit and count, 14 when the watchdog is
    // stopped. Null where the chip's timeout cannot be read back.
    uint32_t (*wdtReadChip)(DeviceContext& ctx, uint32_t* unit, uint8_t* count);

    // Hardware monitor.
    uint32_t (*temperature)(DeviceContext& ctx, uint32_t sensor, double* value);
    uint32_t (*cpuTemperature)(DeviceContext& ctx, double* value);
    uint32_t (*voltage)(DeviceContext& ctx, uint32_t index, double* value);
    uint32_t (*current)(DeviceContext& ctx, uint32_t index, double* value);
    uint32_t (*fanSpeed)(DeviceContext& ctx, uint32_t fan, uint32_t* rpm);
    uint32_t (*setFanSpeed)(DeviceContext& ctx, uint32_t fan, int32_t percent);
    uint32_t (*getSmartfan)(DeviceContext& ctx, uint32_t fan, uint32_t* a, uint32_t* b, uint32_t* c,
                            uint32_t* d);
    uint32_t (*setSmartfan)(DeviceContext& ctx, uint32_t fan, int32_t mode, uint8_t* a, int32_t* b,
                            int32_t c);
    uint32_t (*smartfanEnable)(DeviceContext& ctx, uint32_t fan);
    uint32_t (*smartfanDisable)(DeviceContext& ctx, uint32_t fan);

    // LEDs and button.
    uint32_t (*ledSet)(DeviceContext& ctx, uint32_t led, uint32_t value);
    uint32_t (*ledGet)(DeviceContext& ctx, uint32_t led, uint32_t* value);
    uint32_t (*buttonGet)(DeviceContext& ctx, uint32_t button, uint32_t* state);

    // Backlight step (ChipKind 1).
    uint32_t (*backlightChange)(DeviceContext& ctx, uint32_t step);

    // I2C bus operations: the EC's master (bus 1 and the EC_IIC family) and the
    // platform I2C buses of ChipKind 4 (buses 2 and 3; EC_IIC on its bus 2).
    // addressByte is the 8-bit form; protocol 0 byte, 1 word, 2 block.
    uint32_t (*i2cQuick)(DeviceContext& ctx, uint32_t bus, uint8_t addressByte, uint32_t direction);
    uint32_t (*i2cWriteRegister)(DeviceContext& ctx, uint32_t flags, uint32_t protocol, uint32_t bus,
                                 uint8_t addressByte, uint32_t reg, uint32_t length, uint8_t* buffer);
    uint32_t (*i2cReadRegister)(DeviceContext& ctx, uint32_t flags, uint32_t protocol, uint32_t bus,
                                uint8_t addressByte, uint32_t reg, uint32_t length, uint8_t* buffer);
    uint32_t (*i2cSendByte)(DeviceContext& ctx, uint32_t bus, uint8_t addressByte, uint8_t value);
    uint32_t (*i2cReceiveByte)(DeviceContext& ctx, uint32_t bus, uint8_t addressByte, uint8_t* value);
    uint32_t (*i2cBlockWrite)(DeviceContext& ctx, uint32_t bus, uint8_t addressByte, uint8_t command,
                              uint32_t count, uint8_t* buffer);
    uint32_t (*i2cBlockRead)(DeviceContext& ctx, uint32_t bus, uint8_t addressByte, uint8_t command,
                             int32_t* count, uint8_t* buffer);
    uint32_t (*i2cSetFrequency)(DeviceContext& ctx, uint32_t bus, int32_t code);
    // EC master only: 16-bit register addressing.
    uint32_t (*i2cWordAddrWrite)(DeviceContext& ctx, uint8_t addressByte, uint32_t reg, uint8_t* data,
                                 uint32_t length);
    uint32_t (*i2cWordAddrRead)(DeviceContext& ctx, uint8_t addressByte, uint32_t reg, uint8_t* data,
                                uint32_t length);
};

// EC board functions: served by the embedded controller only.
struct EcBoardOps {
    uint32_t (*version)(DeviceContext& ctx, char* out);      // out: 80 bytes
    uint32_t (*versionByFormat)(DeviceContext& ctx, char* out); // version text without the build-number form
    uint32_t (*information)(DeviceContext& ctx, char* out);  // out: 80 bytes
    uint32_t (*platformVersion)(DeviceContext& ctx, uint32_t* out);
    uint32_t (*bootCounter)(DeviceContext& ctx, uint32_t* out);
    uint32_t (*storageCapacity)(DeviceContext& ctx, uint32_t area, uint32_t* size);
    uint32_t (*storageWrite)(DeviceContext& ctx, uint32_t area, uint32_t offset, uint8_t* data, int32_t length);
    uint32_t (*storageRead)(DeviceContext& ctx, uint32_t area, uint32_t offset, uint8_t* data, int32_t length);
    uint32_t (*smartBattery)(DeviceContext& ctx, uint8_t device, uint8_t command, uint8_t* data);
    uint32_t (*lanBypassSet)(DeviceContext& ctx, int32_t segment, uint32_t item, int32_t value);
    uint32_t (*lanBypassGet)(DeviceContext& ctx, uint32_t segment, uint32_t item, uint32_t* value);
    uint32_t (*lanBypassTrigger)(DeviceContext& ctx, int32_t segment);
    uint32_t (*lanBypassDisable)(DeviceContext& ctx, int32_t segment);
    uint32_t (*smfGetConfig)(DeviceContext& ctx, uint32_t* a, uint32_t* b, uint32_t* c, uint32_t* d);
    uint32_t (*smfConfig)(DeviceContext& ctx, uint32_t a, uint32_t b, int32_t c);
    uint32_t (*smfEnable)(DeviceContext& ctx);
    uint32_t (*smfDisable)(DeviceContext& ctx);
    uint32_t (*pmbusGet)(DeviceContext& ctx, uint32_t supply, int32_t item, uint32_t* value);
    uint32_t (*beep)(DeviceContext& ctx, int32_t seconds);
    // Start routine of the kind-100 functions (wdtOwner 100).
    void (*start100)(DeviceContext& ctx);
};

// Secondary-chip version (item 128 of the EC information export), ChipKind 6.
struct ZkecOps {
    uint32_t (*version)(DeviceContext& ctx, char* out);
};

// SMBus host-controller transactions (the chipset controller located in
// ctx.smbus). Addresses are 8-bit address bytes: reads set bit 0 themselves,
// writes send the byte unchanged. Called with ApiLock held.
struct SmbusOps {
    uint32_t (*quick)(DeviceContext& ctx, uint8_t addressByte, uint32_t direction); // 1 read, else write
    uint32_t (*byteData)(DeviceContext& ctx, uint32_t read, uint8_t addressByte, uint8_t command, uint8_t* data);
    // Read stores the word as 32 bits; write sends the low 16 bits, low byte first.
    uint32_t (*wordData)(DeviceContext& ctx, uint32_t read, uint8_t addressByte, uint8_t command, uint32_t* data);
    uint32_t (*processCall)(DeviceContext& ctx, uint8_t addressByte, uint8_t command, uint16_t sent,
                            uint32_t* received);
    // count receives the slave's length cut to 32 (stored before the data); data holds up to 32 bytes.
    uint32_t (*blockRead)(DeviceContext& ctx, uint8_t addressByte, uint8_t command, int32_t* count, uint8_t* data);
    uint32_t (*blockWrite)(DeviceContext& ctx, uint8_t addressByte, uint8_t command, int32_t count,
                           const uint8_t* data);
    uint32_t (*i2cBlockRead)(DeviceContext& ctx, uint8_t addressByte, uint8_t command, uint8_t count, uint8_t* data);
    uint32_t (*i2cBlockWrite)(DeviceContext& ctx, uint8_t addressByte, uint8_t command, uint8_t count,
                              const uint8_t* data);
    uint32_t (*sendByte)(DeviceContext& ctx, uint8_t addressByte, uint8_t value);
    uint32_t (*receiveByte)(DeviceContext& ctx, uint8_t addressByte, uint8_t* value);
    // Two-byte-offset serial EEPROM; mode 0 read, 1 write.
    uint32_t (*eeprom)(DeviceContext& ctx, uint32_t mode, uint8_t addressByte, uint16_t offset, int32_t count,
                       uint8_t* buffer);
};

// Special handlers: GPIO expander (gpioOwner 10) and chipset-GPIO LEDs (ledOwner 8).
// The external CPU temperature sensor (cpuTempOwner 2) needs no handler: the
// frame reads it with SmbusOps::byteData.
struct SpecialOps {
    uint32_t (*gpioStart)(DeviceContext& ctx);
    BackendOps gpio; // the GPIO routines of the expander
    uint32_t (*ledSet)(DeviceContext& ctx, uint32_t led, uint32_t value);
    uint32_t (*ledGet)(DeviceContext& ctx, uint32_t led, uint32_t* value);
};

// Registry: null where a backend is not part of this build.
const BackendOps* BackendFor(uint32_t kind);
const EcBoardOps* EcBoard();
const ZkecOps* Zkec();
const SmbusOps* Smbus();
const SpecialOps* Special();

} // namespace vek
