// The board's embedded controller, modelled at register level behind all of
// its port paths:
//   - ACPI-style command interface (data 0x62, command/status 0x66) with IBF/OBF
//     timed in virtual time, RD_EC/WR_EC and the bank register 0xFF;
//   - register window 0xE300..0xE3FF onto RAM bank 0;
//   - indirect index/data pair 0x4E/0x4F with the EC-memory bridge (internal
//     registers 0x10 address low, 0x11 address high, 0x12 data behind
//     index 0x2E/data 0x2F) onto a 16-bit memory space whose 0x0300..0x03FF
//     aliases RAM bank 0;
//   - auxiliary command channel (data 0x25C, command/status 0x25D).
// The EC firmware's own behaviour: a watchdog and a LAN-bypass timer counting
// down in virtual time. Other models (fans, mailbox, power supplies) extend it
// through command handlers and RAM hooks instead of claiming its ports.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "sim/devices.h"
#include "sim/machine.h"

namespace vek::sim {

class EcModel : public Device, public PortDevice {
public:
    static constexpr uint16_t kData = 0x62;
    static constexpr uint16_t kCommand = 0x66;
    static constexpr uint16_t kWindowBase = 0xE300;
    static constexpr uint16_t kIndex = 0x4E;
    static constexpr uint16_t kIndexData = 0x4F;
    static constexpr uint16_t kAuxData = 0x25C;
    static constexpr uint16_t kAuxCommand = 0x25D;

    static constexpr uint8_t kObf = 0x01;
    static constexpr uint8_t kIbf = 0x02;
    static constexpr uint8_t kCmdFlag = 0x08; // last byte written went to the command port
    static constexpr uint8_t kReadCommand = 0x80;
    static constexpr uint8_t kWriteCommand = 0x81;
    static constexpr uint8_t kBankRegister = 0xFF;
    static constexpr int kBanks = 4;
    static constexpr uint16_t kRamAlias = 0x0300; // EC memory address of RAM byte 0
    static constexpr uint8_t kAuxWatchdog = 0xA2; // 16-bit seconds, low byte first; 0 stops

    // Which port paths the board decodes. The ACPI and auxiliary interfaces are
    // on every EC; the window and the index pair only where the board uses them
    // (the index pair would collide with a Super I/O at 0x4E otherwise).
    struct Paths {
        bool window = true;
        bool indirect = false;
        bool aux = true;
    };

    // Faults of one command channel (ACPI or auxiliary).
    struct ChannelFaults {
        bool stuckIbf = false; // the EC never takes a byte
        bool noObf = false;    // the EC never produces its answer
        bool floating = false; // nothing answers: status and data read 0xFF
    };

    // Runs when a command's data bytes have all arrived; a returned byte is
    // offered in the data port with OBF set.
    using CommandHandler = std::function<std::optional<uint8_t>(std::span<const uint8_t> data)>;
    // Replaces the stored byte on a read (any path); nullopt keeps it.
    using ReadHook = std::function<std::optional<uint8_t>(int bank, uint8_t reg)>;
    // Sees every RAM write (any path) after the byte is stored.
    using WriteHook = std::function<void(int bank, uint8_t reg, uint8_t value)>;

    using TimerState = sim::TimerState;

    explicit EcModel(Machine& machine) : EcModel(machine, Paths{}) {}
    EcModel(Machine& machine, Paths paths);
    ~EcModel() override;
    const char* name() const override { return "embedded controller"; }

    uint32_t ReadPort(uint16_t port, unsigned width) override;
    void WritePort(uint16_t port, unsigned width, uint32_t value) override;

    // ---- state, without side effects (tests and other models) ----
    std::array<uint8_t, 256>& ram(int bank = 0) { return ram_[bank & 3]; }
    uint8_t Peek(uint8_t reg, int bank = 0) const { return ram_[bank & 3][reg]; }
    void Poke(uint8_t reg, uint8_t value, int bank = 0) { ram_[bank & 3][reg] = value; }
    uint8_t PeekMemory(uint16_t address) const;
    void PokeMemory(uint16_t address, uint8_t value);
    int bank() const { return ram_[0][kBankRegister] & 3; }
    const Paths& paths() const { return paths_; }

    // ---- extension points ----
    void OnAcpiCommand(uint8_t command, int dataBytes, CommandHandler handler);
    void OnAuxCommand(uint8_t command, int dataBytes, CommandHandler handler);
    void OnRamRead(ReadHook hook) { readHooks_.push_back(std::move(hook)); }
    void OnRamWrite(WriteHook hook) { writeHooks_.push_back(std::move(hook)); }

    // ---- timing and faults ----
    // How long the EC takes over each byte (IBF set) and to produce an answer.
    void SetProcessingTime(int64_t ns) { processNs_ = ns; }
    ChannelFaults& acpi_faults() { return acpi_.faults; }
    ChannelFaults& aux_faults() { return aux_.faults; }
    // Reads of RAM byte reg return a wrong value until the n-th read from now
    // (n = 0: never right). Counts reads on every path.
    void FailReadBack(uint8_t reg, int matchOnRead);
    int reads_of(uint8_t reg) const { return readCounts_[reg]; }
    // Bytes written while the EC still held IBF: a correct host never does this.
    int overruns() const { return overruns_; }
    // Command sequences broken into by another: a command arriving while the
    // previous one still waits for data bytes or its answer is unread, or a data
    // byte no command asked for. One host at a time never does this.
    int interleaved() const { return interleaved_; }

    // ---- firmware timers ----
    // EC RAM registers of the watchdog (control: 0 stop, 1 seconds, 3 minutes).
    void SetWatchdogRegisters(uint8_t control, uint8_t minutes, uint8_t seconds);
    const TimerState& watchdog();
    // LAN-bypass timer: control bit 0 runs it with minutes * 60 + seconds; the
    // EC clears the bit when the time is up.
    void SetLanTimerRegisters(uint8_t control, uint8_t minutes, uint8_t seconds);
    const TimerState& lan_timer();

private:
    struct Channel {
        Channel(uint16_t data, uint16_t command) : dataPort(data), commandPort(command) {}
        uint16_t dataPort;
        uint16_t commandPort;
        ChannelFaults faults;
        int64_t busyUntilNs = 0;
        std::optional<uint8_t> output;
        int64_t outputAtNs = 0;
        uint8_t latch = 0xFF;
        bool lastWasCommand = false;
        // Command in progress.
        uint8_t command = 0;
        bool collecting = false;
        int expected = 0;
        std::vector<uint8_t> data;
        std::map<uint8_t, std::pair<int, CommandHandler>> handlers;
    };

    uint8_t Status(Channel& c);
    uint8_t ReadData(Channel& c);
    void WriteCommand(Channel& c, uint8_t command);
    void WriteData(Channel& c, uint8_t value);
    void Offer(Channel& c, uint8_t value);
    void Accept(Channel& c);
    void Complete(Channel& c);

    uint8_t RamRead(int bank, uint8_t reg);
    void RamWrite(int bank, uint8_t reg, uint8_t value);
    uint8_t MemoryRead(uint16_t address);
    void MemoryWrite(uint16_t address, uint8_t value);
    uint8_t BridgeRead();
    void BridgeWrite(uint8_t value);
    void AfterRamWrite(uint8_t reg, uint8_t value);
    void Tick();

    Machine& machine_;
    Paths paths_;
    std::array<std::array<uint8_t, 256>, kBanks> ram_{};
    std::vector<uint8_t> memory_ = std::vector<uint8_t>(0x10000);
    int64_t processNs_ = 20'000;
    Channel acpi_{kData, kCommand};
    Channel aux_{kAuxData, kAuxCommand};

    // Index pair and bridge.
    uint8_t index_ = 0;
    std::array<uint8_t, 256> indexRegs_{};
    uint8_t bridgeSelect_ = 0;
    uint16_t bridgeAddress_ = 0;

    std::vector<ReadHook> readHooks_;
    std::vector<WriteHook> writeHooks_;
    std::array<int, 256> readCounts_{};
    int failReg_ = -1;
    int failMatchRead_ = 0;
    int failReads_ = 0;
    int overruns_ = 0;
    int interleaved_ = 0;

    uint8_t wdtControl_ = 0x06, wdtMinutes_ = 0x07, wdtSeconds_ = 0x08;
    TimerState wdt_;
    int lanControl_ = -1, lanMinutes_ = -1, lanSeconds_ = -1;
    TimerState lan_;
};

} // namespace vek::sim
