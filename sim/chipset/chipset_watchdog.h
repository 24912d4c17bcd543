// The chipset watchdog timer of SCH-class parts: an I/O block of 0x20 ports
// whose base the LPC bridge holds at config offset 0x84.
//
//   0x00 PV1  first-stage preload (20 bits)     0x0C RR0  unlock sequence 0x80, 0x86
//   0x04 PV2  second-stage preload (20 bits)    0x0D RR1  bit 0 reload, bit 1 time-out seen (write 1 clears)
//   0x10 WDTCR configuration: bit 1 watchdog mode, bit 2 1 MHz prescaler, bit 4 reset enable
//   0x18 WDTLR bit 0 lock (until reset), bit 1 enable
//
// PV1, PV2, the reload, WDTCR and WDTLR take a write only right after the
// two-byte unlock sequence on RR0; any other write in between breaks the
// sequence. Enabling the timer (or reloading it) starts the first stage from
// PV1; when it expires the second stage runs from PV2, and its expiry resets
// the system when WDTCR enables the reset. A stage of preload n lasts n + 1
// ticks of the 33 MHz clock divided by 2^15 (or 2^5 with the 1 MHz prescaler).
#pragma once

#include <cstdint>

#include "sim/devices.h"

namespace vek::sim {

class Machine;

class ChipsetWatchdog : public Device, public PortDevice {
public:
    static constexpr uint16_t kPorts = 0x20;
    static constexpr uint16_t kPv1 = 0x00, kPv2 = 0x04, kRr0 = 0x0C, kRr1 = 0x0D, kWdtcr = 0x10, kWdtlr = 0x18;
    static constexpr uint8_t kUnlock1 = 0x80, kUnlock2 = 0x86;
    static constexpr uint32_t kWdtcrWatchdogMode = 0x02, kWdtcrFastPrescaler = 0x04, kWdtcrResetEnable = 0x10;
    static constexpr uint8_t kWdtlrLock = 0x01, kWdtlrEnable = 0x02;
    static constexpr uint8_t kRr1Reload = 0x01, kRr1Timeout = 0x02;
    static constexpr uint32_t kPreloadMask = 0xFFFFF;

    ChipsetWatchdog(Machine& machine, uint16_t base);
    ~ChipsetWatchdog() override;
    const char* name() const override { return "chipset watchdog"; }

    uint32_t ReadPort(uint16_t port, unsigned width) override;
    void WritePort(uint16_t port, unsigned width, uint32_t value) override;

    uint16_t base() const { return base_; }
    uint32_t preload1() const { return pv1_; }
    uint32_t preload2() const { return pv2_; }
    uint32_t config() const { return wdtcr_; }
    bool running() const { return running_; }
    // Writes the block refused for want of the unlock sequence.
    int refused_writes() const { return refused_; }
    // The moment the running timer resets the system (virtual ns), or -1.
    int64_t FiresAt() const;
    // True once the reset has happened (checked against the machine's clock).
    bool Fired();
    int64_t TickNs() const;

private:
    void Write(uint16_t reg, unsigned width, uint32_t value);
    void Start();

    Machine& machine_;
    uint16_t base_;
    uint32_t pv1_ = kPreloadMask, pv2_ = kPreloadMask, wdtcr_ = 0;
    uint8_t wdtlr_ = 0;
    enum class Sequence { Locked, FirstByte, Open } sequence_ = Sequence::Locked;
    bool running_ = false;
    int64_t startNs_ = 0;
    bool fired_ = false;
    int refused_ = 0;
};

} // namespace vek::sim
