// The ChipKind 1 Super I/O, modelled at register level as its datasheet
// describes it:
//   - a configuration port pair (strapped to 0x2E or 0x4E) that decodes only
//     after the key 0x87 0x87 is written to the index port; any other byte
//     restarts the key, 0xAA locks the chip again;
//   - global registers 0x00..0x2F and, behind register 0x07, logical devices
//     with registers 0x30..0xFF (0x30 enables their function groups);
//   - GPIO groups whose input pins read what the outside world drives and
//     whose output pins drive it, only while their group is enabled and the
//     pin is routed to GPIO: many pins are shared with other functions, and
//     the pin-function registers among 0x29..0x2D say which one a pin
//     serves (after reset, the other function); a pin that is not GPIO
//     drives nothing and reads 0;
//   - a watchdog on one logical device that counts down in virtual time in
//     seconds or minutes and fires when it reaches zero, only while that
//     device is active; like every logical device but the monitor (which the
//     firmware turns on at its base) it is inactive after reset;
//   - the hardware monitor at (logical device 0x0B base) + 5 / + 6: sixteen
//     banks behind register 0x4E, temperatures, voltage inputs, a battery
//     input measured on a rising edge of its monitor bit, tachometers that
//     follow each fan output's duty or its curve against the temperature.
// The part differs by model (the row's subtype): which GPIO groups exist,
// where the watchdog sits, and whether the fans count on 13 bits with fan
// control or on 8 bits with a divisor.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/devices.h"
#include "sim/machine.h"

namespace vek::sim {

// The pins of a GPIO port that serve GPIO only while a pin-function
// register holds a given value in some bits: (reg & mask) == value.
struct Sio1PinMux {
    uint8_t pins;
    uint8_t reg, mask, value;
};

struct Sio1GpioPort {
    uint8_t ldn, actBit, ioReg, dataReg;
    std::span<const Sio1PinMux> mux = {}; // pins not named are GPIO-only
};

struct Sio1RegValue {
    uint8_t reg, value;
};

// One tachometer input with the fan output that drives it (bank 0 counters,
// bank 1 fan control).
struct Sio1FanChannel {
    uint8_t countReg;
    uint8_t countLowReg;                    // 13-bit counters: low 5 bits; 0 on 8-bit counters
    uint8_t divReg, divShift, divHighShift; // 8-bit counters: divisor bits 0..1 and bit 2 (in 0x5D)
    uint8_t dutyReg, modeReg, tempPoints, dutyPoints; // 0: no output, the fan runs at full speed
};

struct Sio1Variant {
    const char* name;
    uint16_t chipId;
    std::span<const Sio1GpioPort> gpio;
    uint8_t wdtLdn, wdtModeReg, wdtCountReg;
    bool thirteenBit;
    uint8_t cpuBank, cpuReg, cpuFracReg; // cpuFracReg 0: 2 °C per count, else whole degrees + half bit
    uint8_t sysBank, sysReg;             // 2 °C per count
    uint8_t vbatBank, vbatReg;
    uint8_t vbatSeed;                    // the battery's raw reading
    std::span<const Sio1FanChannel> fans;
    bool coarseInputs;                   // 16 mV steps instead of 8 mV
    std::span<const Sio1RegValue> resetGlobals = {}; // pin-function registers after reset (others 0)
};

// The fan headers a board fits: bit i set when a fan turns on tachometer
// channel i of its part.
uint8_t Sio1FittedFans(uint32_t boardId, const Sio1Variant& variant);

// The part a platform row's subtype names.
const Sio1Variant& Sio1VariantFor(uint32_t subtype);

class Sio1Model : public Device, public PortDevice {
public:
    static constexpr uint8_t kKey = 0x87;
    static constexpr uint8_t kExit = 0xAA;
    static constexpr uint8_t kDeviceSelect = 0x07;
    static constexpr uint8_t kActivate = 0x30;
    static constexpr uint8_t kBaseHigh = 0x60;
    static constexpr uint8_t kBaseLow = 0x61;
    static constexpr uint8_t kHwmDevice = 0x0B;
    static constexpr uint8_t kBankSelect = 0x4E;
    static constexpr uint8_t kVbatMonitor = 0x5D; // bank 0, bit 0
    static constexpr uint8_t kWdtMinutes = 0x08;  // watchdog mode register: count in minutes
    static constexpr int kDevices = 16;
    static constexpr int kBanks = 16;

    enum class Tach { kTurning, kStuckZero, kStuckFull };

    using TimerState = sim::TimerState;

    Sio1Model(Machine& machine, const Sio1Variant& variant, uint16_t configPort, uint16_t hwmBase,
              uint8_t fittedFans = 0xFF);
    ~Sio1Model() override;
    const char* name() const override { return "super i/o (kind 1)"; }

    uint32_t ReadPort(uint16_t port, unsigned width) override;
    void WritePort(uint16_t port, unsigned width, uint32_t value) override;

    // ---- state without side effects (tests) ----
    bool locked() const { return locked_; }
    uint16_t config_port() const { return configPort_; }
    uint16_t hwm_index_port() const { return hwmIndex_; }
    uint8_t Global(uint8_t reg) const { return global_[reg & 0x3F]; }
    void SetGlobal(uint8_t reg, uint8_t value) { global_[reg & 0x3F] = value; }
    uint8_t DeviceReg(uint8_t ldn, uint8_t reg) const { return devices_[ldn % kDevices][reg]; }
    void SetDeviceReg(uint8_t ldn, uint8_t reg, uint8_t value) { devices_[ldn % kDevices][reg] = value; }
    uint8_t Hwm(uint8_t bank, uint8_t reg) const { return hwm_[bank % kBanks][reg]; }
    void SetHwm(uint8_t bank, uint8_t reg, uint8_t value) { hwm_[bank % kBanks][reg] = value; }
    uint8_t hwm_bank() const { return bankSelect_; }
    const Sio1Variant& variant() const { return variant_; }

    // ---- the outside world ----
    // Levels the board drives onto a GPIO group's pins (seen by its input pins).
    void DriveInputs(uint8_t ldn, uint8_t dataReg, uint8_t levels);
    // Pins of the group that drive the board (enabled group, output direction) and their levels.
    uint8_t DrivenMask(uint8_t ldn, uint8_t dataReg) const;
    uint8_t DrivenLevels(uint8_t ldn, uint8_t dataReg) const;
    void SetTemperatures(double cpuC, double sysC);
    void SetBattery(uint8_t raw) { vbatRaw_ = raw; }
    void SetFanFullSpeed(int channel, uint32_t rpm);
    // Counts latched by a tachometer, from the fan's speed or stuck at 0 / all ones.
    void SetTach(int channel, Tach state);
    uint32_t FanRpm(int channel) const;
    bool FanFitted(int channel) const { return (fitted_ >> channel) & 1; }
    // Pins of the port at (ldn, dataReg) that currently serve GPIO.
    uint8_t GpioPins(uint8_t ldn, uint8_t dataReg) const;
    const TimerState& watchdog();
    int battery_measurements() const { return vbatMeasurements_; }

    // A panel backlight controller on two output pins: a high pulse of at
    // least kMinPulseNs on the up (down) pin steps it up (down).
    static constexpr int64_t kMinPulseNs = 10'000'000;
    void AttachBacklight(uint8_t ldn, uint8_t dataReg, uint8_t upBit, uint8_t downBit, int level);
    int backlight_level() const { return backlight_.level; }
    int backlight_steps() const { return backlight_.steps; }

    // ---- faults ----
    // Nothing answers: the ports float (reads 0xFF) and writes are lost.
    void SetSilent(bool silent) { silent_ = silent; }
    // Another process entered configuration mode and never left.
    void LeaveUnlocked() { locked_ = false; }
    // Wrong bytes seen on the index port while locked (a key that did not take).
    int rejected_key_bytes() const { return rejectedKey_; }

private:
    class HwmPorts : public PortDevice {
    public:
        explicit HwmPorts(Sio1Model& chip) : chip_(chip) {}
        uint32_t ReadPort(uint16_t port, unsigned width) override;
        void WritePort(uint16_t port, unsigned width, uint32_t value) override;

    private:
        Sio1Model& chip_;
    };

    struct Backlight {
        bool attached = false;
        uint8_t ldn = 0, dataReg = 0, upBit = 0, downBit = 0;
        int level = 0;
        int steps = 0;
        bool upHigh = false, downHigh = false;
        int64_t upSinceNs = 0, downSinceNs = 0;
    };

    uint8_t ReadConfig(uint8_t reg);
    void WriteConfig(uint8_t reg, uint8_t value);
    uint8_t ReadMonitor(uint8_t reg);
    void WriteMonitor(uint8_t reg, uint8_t value);
    const Sio1GpioPort* PortAt(uint8_t ldn, uint8_t reg) const;
    bool Enabled(const Sio1GpioPort& p) const;
    void PlaceMonitor();
    void Tick();
    void PinsChanged();
    uint8_t FanDuty(const Sio1FanChannel& c) const;
    uint32_t Count(int channel) const;

    Machine& machine_;
    const Sio1Variant& variant_;
    uint16_t configPort_;
    HwmPorts hwmPorts_{*this};
    uint16_t hwmIndex_ = 0;
    bool locked_ = true;
    int keyProgress_ = 0;
    int rejectedKey_ = 0;
    bool silent_ = false;
    uint8_t index_ = 0;
    std::array<uint8_t, 0x40> global_{};
    std::array<std::array<uint8_t, 256>, kDevices> devices_{};
    std::vector<uint8_t> inputs_ = std::vector<uint8_t>(kDevices * 256, 0);

    uint8_t hwmIndexReg_ = 0;
    uint8_t bankSelect_ = 0;
    std::array<std::array<uint8_t, 256>, kBanks> hwm_{};
    double cpuC_ = 42.0, sysC_ = 36.0;
    uint8_t vbatRaw_;
    int vbatMeasurements_ = 0;
    std::vector<uint32_t> fanFullRpm_;
    std::vector<Tach> tach_;
    uint8_t fitted_;

    TimerState wdt_;
    Backlight backlight_;
};

// Boards whose chip is strapped to the alternate configuration port.
uint16_t Sio1ConfigPortFor(uint32_t boardId);

} // namespace vek::sim
