// The ChipKind 2 Super I/O as its datasheet describes it.
//
// Configuration: index 0x2E, data 0x2F, decoding only after the key 0x87,
// 0x01, 0x55, 0x55 has been written to 0x2E in order (a wrong byte restarts
// the key; until then reads float high and writes vanish). Setting bit 1 of
// register 0x02 returns the chip to waiting for the key. 0x00..0x2F are
// global (0x07 selects the logical device, 0x25..0x29 route pins of chip sets
// 1..5 to GPIO, 0x2C bit 7 routes set 8); 0x30..0xFF belong to the device.
//
// Logical device 7, GPIO and watchdog: 0x62/0x63 simple-I/O base; for chip
// sets 1..6 0xB8.. pull-up, 0xC0.. simple-I/O enable, 0xC8.. output enable
// (0xCE, 0xCF for sets 7 and 8); 0xE9 bit 5 routes set 7. Sets 7 and 8 are the
// parallel port's pins and only work while logical device 3 is inactive. The
// simple-I/O port of set s sits at base + s - 1: a routed output pin reads its
// latch, a routed input what the outside drives, an unrouted pin 0.
// Watchdog: 0x72 bit 7 counts seconds (else minutes); writing 0x73 loads the
// count and starts it, 0 stops it; at zero the chip pulses its reset output
// (recorded as an expiry).
//
// Logical device 4, environment controller: index/data at base + 5 / + 6
// while the device is active (the firmware turns it on; a base of 0 decodes
// nowhere).
// Voltage inputs 0x20..0x28 read zero unless enabled in 0x50; the battery
// input 0x28 additionally needs 0x5C bit 7. Fan tachometers count a 680 kHz
// clock per revolution period (count = 680,000 / rpm; 0xFFFF when stopped),
// low bytes 0x0D/0x0E, high bytes 0x18/0x19. Fan 1's PWM follows 0x6B while
// 0x13 bit 1 enables the output, 0x16 is 0 (software mode) and 0x6C bit 7 is
// clear; otherwise the firmware's automatic duty.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "sim/devices.h"
#include "sim/sio/countdown.h"
#include "sim/machine.h"

namespace vek::sim {

struct Sio2Wiring {
    uint16_t envBase = 0x290;
    uint16_t gpioBase = 0xA00;
    std::array<bool, 2> fans{true, true};
    uint32_t fan0Rpm = 2700;
    uint32_t fan1MaxRpm = 4000;
    int fan1AutoDuty = 40; // percent, under firmware control
    std::vector<std::pair<uint8_t, uint8_t>> monitor;
    std::array<uint8_t, 8> pinsDriven{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
};

class Sio2Model : public Device, public PortDevice {
public:
    static constexpr uint16_t kIndex = 0x2E, kData = 0x2F;
    static constexpr std::array<uint8_t, 4> kKey = {0x87, 0x01, 0x55, 0x55};
    static constexpr uint8_t kGpioDevice = 7, kEnvDevice = 4, kParallelDevice = 3;
    static constexpr uint8_t kWdtControl = 0x72, kWdtCount = 0x73, kWdtSeconds = 0x80;
    static constexpr uint32_t kTachClock = 680'000;

    using Watchdog = Countdown;

    Sio2Model(Machine& machine, Sio2Wiring wiring);
    ~Sio2Model() override;
    const char* name() const override { return "Super I/O (kind 2)"; }

    uint32_t ReadPort(uint16_t port, unsigned width) override;
    void WritePort(uint16_t port, unsigned width, uint32_t value) override;

    // ---- state, without side effects ----
    bool config_mode() const { return unlocked_; }
    uint8_t Global(uint8_t reg) const { return globals_[reg & 0x3F]; }
    uint8_t Device(uint8_t device, uint8_t reg) const { return devices_[device & 15][reg]; }
    void SetDevice(uint8_t device, uint8_t reg, uint8_t value) { devices_[device & 15][reg] = value; }
    const Sio2Wiring& wiring() const { return wiring_; }
    uint8_t Env(uint8_t reg) const { return env_[reg]; }
    void SetEnv(uint8_t reg, uint8_t value) { env_[reg] = value; }
    uint8_t Latch(int set) const { return latch_.at(set - 1); }
    void DrivePins(int set, uint8_t levels) { wiring_.pinsDriven.at(set - 1) = levels; }
    uint8_t Routed(int set) const;   // pins of chip set 1..8 working as GPIO
    uint8_t Outputs(int set) const;  // of those, the ones driving
    uint8_t PinLevels(int set) const;
    int Fan1Duty() const;
    uint32_t FanRpm(int fan) const;
    const Watchdog& watchdog();

    // ---- firmware states ----
    // Firmware that never programmed the environment controller's and the
    // simple-I/O block's bases: both read 0x0000, as after reset, and neither
    // block decodes.
    void FirmwareLeavesBasesUnset();

    // ---- faults ----
    void SetDeaf(bool deaf) { deaf_ = deaf; }
    void LeaveUnlocked() { unlocked_ = true; }
    void SetFanStuck(int fan, std::optional<uint16_t> count) { stuck_.at(fan) = count; }

private:
    uint8_t& Reg(uint8_t reg);
    void WriteRegister(uint8_t reg, uint8_t value);
    uint8_t ReadEnv(uint8_t reg) const;
    uint16_t FanCount(int fan) const;
    void Claim();
    void Tick();

    Machine& machine_;
    Sio2Wiring wiring_;
    bool unlocked_ = false;
    size_t keyBytes_ = 0;
    bool deaf_ = false;
    uint8_t index_ = 0;
    std::array<uint8_t, 0x30> globals_{};
    std::array<std::array<uint8_t, 256>, 16> devices_{};
    std::array<uint8_t, 256> env_{};
    uint8_t envIndex_ = 0;
    std::array<uint8_t, 8> latch_{};
    std::array<std::optional<uint16_t>, 2> stuck_{};
    Watchdog wdt_;
};

Sio2Wiring Sio2WiringFor(uint32_t boardId);

} // namespace vek::sim
