// The ChipKind 5 Super I/O as its datasheet describes it.
//
// Configuration: an index/data pair at 0x2E/0x2F or 0x4E/0x4F. After reset the
// pair does not decode (reads float high, writes vanish) until 0x87 is written
// twice in a row to the index port; any other byte in between restarts the
// key. 0xAA written to the index port locks it again. Registers 0x00..0x2F are
// global (0x07 selects the logical device, 0x27 bits 2..3 bank the
// multi-function registers 0x28..0x2F); 0x30..0xFF belong to the selected
// logical device (0x30 activate, 0x60/0x61 base address).
//
// Logical device 4, hardware monitor: index/data at base + 5 / + 6; moves
// when the base registers are rewritten. Fans count tachometer periods of a
// 1.5 MHz clock (count = 1,500,000 / rpm, 0xFFFF when stopped); a fan with a
// mode field runs at its manual duty (field 3), along its four-point curve
// against its temperature register (field 1), or at full speed (0 and 2). The
// mode register ignores writes while register 0x9F bit 7 is set. Fan 0's curve
// duties are 0..255 for 0..100 %, fan 1's are (100 - p) * 32 / p. The battery
// input is switched in by clearing bit 7 of its switch register and reads
// zero until the divider has settled.
//
// Logical device 6, GPIO: ports 0..9 with base registers F0, E0, D0, C0, B0,
// A0, 90, 80, 88, 98; base + 0 output enable (1 = drive), + 1 output data,
// + 2 pin status (read-only: the driven level for outputs, what the outside
// world drives for inputs). Pins work only while the device is active (0x30
// bit 0) and the pin is routed to GPIO: ports 8 and 9 share their pins with
// the second serial port until bank-0 register 0x28 bit 5 hands them over;
// ports 0..7 are GPIO-only pins. A pin that does not work drives nothing and
// its status bit reads 0.
//
// Logical device 7, watchdog: F5 bit 5 enables, bit 3 counts minutes instead
// of seconds, bit 6 latches a timeout (write 1 to clear); F6 holds the count
// and reloads the counter when written. The counter runs in virtual time while
// the device is active and enabled, and on reaching zero raises the reset
// output (recorded as an expiry) and stops.
//
// After reset every logical device is inactive (0x30 = 0). The firmware
// activates the hardware monitor at its base; GPIO and watchdog are left to
// the operating system. An inactive monitor decodes no ports.
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

struct Sio5FanWiring {
    bool fitted = false;
    uint8_t countHigh = 0xA0, countLow = 0xA1;
    uint8_t duty = 0;         // 0: no duty register, the fan free-runs
    uint8_t mode = 0xFF;      // mode register, 0xFF none
    uint8_t modeShift = 0;
    uint8_t tempBase = 0xFF;  // curve temperatures, 0xFF none
    uint8_t dutyBase = 0;
    bool inverseDuty = false; // curve duties encoded as (100 - p) * 32 / p
    uint8_t sensor = 0x74;    // temperature register the curve follows
    uint32_t maxRpm = 5000;
    int freeDuty = 60;        // percent, without duty register
};

struct Sio5Wiring {
    uint16_t configPort = 0x4E;
    uint16_t hwmBase = 0x290;
    uint8_t powerOnDevice = 0;       // logical device the firmware leaves selected
    uint8_t batterySwitch = 0;       // 0: battery input always connected
    uint8_t batteryInput = 0x26;
    uint8_t batteryReading = 0xBE;
    std::array<Sio5FanWiring, 2> fans{};
    std::vector<std::pair<uint8_t, uint8_t>> monitor; // monitor registers at power-on
    std::array<uint8_t, 10> pinsDriven{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
};

class Sio5Model : public Device, public PortDevice {
public:
    static constexpr uint8_t kEnterKey = 0x87;
    static constexpr uint8_t kExitKey = 0xAA;
    static constexpr int kDevices = 16;
    static constexpr uint8_t kWdtDevice = 7, kGpioDevice = 6, kHwmDevice = 4;
    static constexpr uint8_t kWdtControl = 0xF5, kWdtCount = 0xF6;
    static constexpr uint8_t kWdtEnable = 0x20, kWdtMinutes = 0x08, kWdtFired = 0x40;
    static constexpr uint8_t kFanLock = 0x9F, kFanLockBit = 0x80;
    static constexpr int64_t kBatterySettleNs = 100'000'000;
    static constexpr uint32_t kTachClock = 1'500'000;
    static constexpr std::array<uint8_t, 10> kPortBase = {0xF0, 0xE0, 0xD0, 0xC0, 0xB0,
                                                          0xA0, 0x90, 0x80, 0x88, 0x98};

    using Watchdog = Countdown;

    Sio5Model(Machine& machine, Sio5Wiring wiring);
    ~Sio5Model() override;
    const char* name() const override { return "Super I/O (kind 5)"; }

    uint32_t ReadPort(uint16_t port, unsigned width) override;
    void WritePort(uint16_t port, unsigned width, uint32_t value) override;

    // ---- state, without side effects ----
    bool config_mode() const { return unlocked_; }
    uint8_t Global(uint8_t reg, int bank = -1) const; // bank -1: the selected one
    void SetGlobal(uint8_t reg, int bank, uint8_t value);
    uint8_t Device(uint8_t device, uint8_t reg) const { return devices_[device & 15][reg]; }
    void SetDevice(uint8_t device, uint8_t reg, uint8_t value) { devices_[device & 15][reg] = value; }
    uint8_t Monitor(uint8_t reg) const { return hwm_[reg]; }
    void SetMonitor(uint8_t reg, uint8_t value) { hwm_[reg] = value; }
    uint16_t hwm_base() const;
    const Sio5Wiring& wiring() const { return wiring_; }
    // What the world outside drives onto port p's pins.
    void DrivePins(int port, uint8_t levels) { wiring_.pinsDriven.at(port) = levels; }
    uint8_t PinLevels(int port) const;
    uint8_t WorkingPins(int port) const; // active device, pins routed to GPIO
    int FanDuty(int fan) const; // percent
    uint32_t FanRpm(int fan) const;
    const Watchdog& watchdog();

    // ---- firmware states ----
    // Firmware that never programmed the monitor's base: it reads 0x0000, as
    // after reset, and the block decodes nowhere.
    void FirmwareLeavesBasesUnset();

    // ---- faults ----
    void SetDeaf(bool deaf) { deaf_ = deaf; }            // the chip never answers
    void LeaveUnlocked() { unlocked_ = true; }           // another process left it in configuration mode
    void SetFanStuck(int fan, std::optional<uint16_t> count) { stuck_.at(fan) = count; }

private:
    uint8_t& Reg(uint8_t reg);
    uint8_t ReadRegister(uint8_t reg);
    void WriteRegister(uint8_t reg, uint8_t value);
    uint8_t ReadMonitor(uint8_t reg);
    void WriteMonitor(uint8_t reg, uint8_t value);
    uint16_t FanCount(int fan) const;
    void Claim();
    void Tick();
    void StartWatchdog();

    Machine& machine_;
    Sio5Wiring wiring_;
    bool unlocked_ = false;
    int keyBytes_ = 0;
    bool deaf_ = false;
    uint8_t index_ = 0;
    std::array<uint8_t, 0x30> globals_{};
    std::array<std::array<uint8_t, 8>, 4> banked_{}; // 0x28..0x2F per bank
    std::array<std::array<uint8_t, 256>, kDevices> devices_{};
    std::array<uint8_t, 256> hwm_{};
    uint8_t hwmIndex_ = 0;
    uint16_t claimedHwm_ = 0;
    int64_t batteryOnAtNs_ = -1;
    std::array<std::optional<uint16_t>, 2> stuck_{};
    Watchdog wdt_;
};

// How a board's firmware leaves its chip, from the board id (row data).
Sio5Wiring Sio5WiringFor(uint32_t boardId);

} // namespace vek::sim
