#include "sim/ec/ec_model.h"

#include "sim/board.h"
#include "sim/chip_models.h"

namespace vek::sim {

namespace {

// Bridge behind the index pair: index 0x2E selects an internal register,
// index 0x2F carries its value.
constexpr uint8_t kBridgeIndex = 0x2E;
constexpr uint8_t kBridgeData = 0x2F;
constexpr uint8_t kBridgeAddressLow = 0x10;
constexpr uint8_t kBridgeAddressHigh = 0x11;
constexpr uint8_t kBridgeMemoryData = 0x12;

constexpr int64_t kSecondNs = 1'000'000'000;

} // namespace

EcModel::EcModel(Machine& machine, Paths paths) : machine_(machine), paths_(paths) {
    machine_.ClaimPorts(kData, 1, this);
    machine_.ClaimPorts(kCommand, 1, this);
    if (paths_.window) machine_.ClaimPorts(kWindowBase, 0x100, this);
    if (paths_.indirect) machine_.ClaimPorts(kIndex, 2, this);
    if (paths_.aux) machine_.ClaimPorts(kAuxData, 2, this);
    OnAuxCommand(kAuxWatchdog, 2, [this](std::span<const uint8_t> d) -> std::optional<uint8_t> {
        const int64_t seconds = d[0] | (d[1] << 8);
        if (seconds == 0) {
            wdt_.running = false;
        } else {
            wdt_.running = true;
            wdt_.timeoutNs = seconds * kSecondNs;
            wdt_.deadlineNs = machine_.now_ns() + wdt_.timeoutNs;
        }
        return std::nullopt;
    });
}

EcModel::~EcModel() { machine_.ReleasePorts(this); }

// ---- ports ----

uint32_t EcModel::ReadPort(uint16_t port, unsigned) {
    Tick();
    if (port == kCommand) return Status(acpi_);
    if (port == kData) return ReadData(acpi_);
    if (port == kAuxCommand) return Status(aux_);
    if (port == kAuxData) return ReadData(aux_);
    if (port == kIndex) return index_;
    if (port == kIndexData) return index_ == kBridgeData ? BridgeRead() : indexRegs_[index_];
    if (port >= kWindowBase && port < kWindowBase + 0x100) return RamRead(0, uint8_t(port - kWindowBase));
    return 0xFF;
}

void EcModel::WritePort(uint16_t port, unsigned, uint32_t value) {
    Tick();
    const uint8_t v = uint8_t(value);
    if (port == kCommand) {
        WriteCommand(acpi_, v);
    } else if (port == kData) {
        WriteData(acpi_, v);
    } else if (port == kAuxCommand) {
        WriteCommand(aux_, v);
    } else if (port == kAuxData) {
        WriteData(aux_, v);
    } else if (port == kIndex) {
        index_ = v;
    } else if (port == kIndexData) {
        if (index_ == kBridgeData) {
            BridgeWrite(v);
        } else {
            indexRegs_[index_] = v;
            if (index_ == kBridgeIndex) bridgeSelect_ = v;
        }
    } else if (port >= kWindowBase && port < kWindowBase + 0x100) {
        RamWrite(0, uint8_t(port - kWindowBase), v);
    }
}

// ---- command channels ----

uint8_t EcModel::Status(Channel& c) {
    if (c.faults.floating) return 0xFF;
    const int64_t now = machine_.now_ns();
    uint8_t s = 0;
    if (c.faults.stuckIbf || now < c.busyUntilNs) s |= kIbf;
    if (!c.faults.noObf && c.output && now >= c.outputAtNs) s |= kObf;
    if (c.lastWasCommand) s |= kCmdFlag;
    return s;
}

uint8_t EcModel::ReadData(Channel& c) {
    if (c.faults.floating) return 0xFF;
    if (!c.faults.noObf && c.output && machine_.now_ns() >= c.outputAtNs) {
        c.latch = *c.output;
        c.output.reset();
    }
    return c.latch;
}

// A byte lands in the input buffer; the EC takes it after the processing time
// (never, with the stuck-IBF fault, in which case nothing happens).
void EcModel::Accept(Channel& c) {
    if (machine_.now_ns() < c.busyUntilNs || c.faults.stuckIbf) ++overruns_;
    c.busyUntilNs = machine_.now_ns() + processNs_;
}

void EcModel::Offer(Channel& c, uint8_t value) {
    c.output = value;
    c.outputAtNs = machine_.now_ns() + processNs_;
}

void EcModel::WriteCommand(Channel& c, uint8_t command) {
    if (c.faults.floating) return;
    Accept(c);
    c.lastWasCommand = true;
    if (c.faults.stuckIbf) return;
    if (c.collecting || (c.output && !c.faults.noObf)) ++interleaved_;
    c.output.reset();
    c.command = command;
    c.data.clear();
    c.collecting = false;
    if (&c == &acpi_ && command == kReadCommand) {
        c.collecting = true;
        c.expected = 1;
        return;
    }
    if (&c == &acpi_ && command == kWriteCommand) {
        c.collecting = true;
        c.expected = 2;
        return;
    }
    auto it = c.handlers.find(command);
    if (it == c.handlers.end()) return; // unknown commands are dropped
    c.expected = it->second.first;
    c.collecting = true;
    if (c.expected == 0) Complete(c);
}

void EcModel::WriteData(Channel& c, uint8_t value) {
    if (c.faults.floating) return;
    Accept(c);
    c.lastWasCommand = false;
    if (c.faults.stuckIbf) return;
    if (!c.collecting) {
        ++interleaved_;
        return;
    }
    c.data.push_back(value);
    if (int(c.data.size()) == c.expected) Complete(c);
}

void EcModel::Complete(Channel& c) {
    c.collecting = false;
    if (&c == &acpi_ && c.command == kReadCommand) {
        Offer(c, RamRead(bank(), c.data[0]));
        return;
    }
    if (&c == &acpi_ && c.command == kWriteCommand) {
        RamWrite(bank(), c.data[0], c.data[1]);
        return;
    }
    auto it = c.handlers.find(c.command);
    if (it == c.handlers.end()) return;
    if (std::optional<uint8_t> out = it->second.second(c.data)) Offer(c, *out);
}

void EcModel::OnAcpiCommand(uint8_t command, int dataBytes, CommandHandler handler) {
    acpi_.handlers[command] = {dataBytes, std::move(handler)};
}

void EcModel::OnAuxCommand(uint8_t command, int dataBytes, CommandHandler handler) {
    aux_.handlers[command] = {dataBytes, std::move(handler)};
}

// ---- RAM and memory ----

uint8_t EcModel::RamRead(int bank, uint8_t reg) {
    ++readCounts_[reg];
    uint8_t v = ram_[bank & 3][reg];
    if (reg == kBankRegister) v = ram_[0][kBankRegister];
    for (const ReadHook& hook : readHooks_) {
        if (std::optional<uint8_t> r = hook(bank & 3, reg)) v = *r;
    }
    if (reg == failReg_) {
        ++failReads_;
        if (failMatchRead_ == 0 || failReads_ < failMatchRead_) v = uint8_t(~v);
    }
    return v;
}

void EcModel::RamWrite(int bank, uint8_t reg, uint8_t value) {
    // The bank register is one byte seen from every bank.
    const int b = reg == kBankRegister ? 0 : bank & 3;
    ram_[b][reg] = value;
    if (b == 0) AfterRamWrite(reg, value);
    for (const WriteHook& hook : writeHooks_) hook(b, reg, value);
}

uint8_t EcModel::PeekMemory(uint16_t address) const {
    if (address >= kRamAlias && address < kRamAlias + 0x100) return ram_[0][address - kRamAlias];
    return memory_[address];
}

void EcModel::PokeMemory(uint16_t address, uint8_t value) {
    if (address >= kRamAlias && address < kRamAlias + 0x100) {
        ram_[0][address - kRamAlias] = value;
    } else {
        memory_[address] = value;
    }
}

uint8_t EcModel::MemoryRead(uint16_t address) {
    if (address >= kRamAlias && address < kRamAlias + 0x100) return RamRead(0, uint8_t(address - kRamAlias));
    return memory_[address];
}

void EcModel::MemoryWrite(uint16_t address, uint8_t value) {
    if (address >= kRamAlias && address < kRamAlias + 0x100) {
        RamWrite(0, uint8_t(address - kRamAlias), value);
    } else {
        memory_[address] = value;
    }
}

uint8_t EcModel::BridgeRead() {
    switch (bridgeSelect_) {
    case kBridgeAddressLow: return uint8_t(bridgeAddress_);
    case kBridgeAddressHigh: return uint8_t(bridgeAddress_ >> 8);
    case kBridgeMemoryData: return MemoryRead(bridgeAddress_);
    default: return 0xFF;
    }
}

void EcModel::BridgeWrite(uint8_t value) {
    switch (bridgeSelect_) {
    case kBridgeAddressLow: bridgeAddress_ = uint16_t((bridgeAddress_ & 0xFF00) | value); break;
    case kBridgeAddressHigh: bridgeAddress_ = uint16_t((bridgeAddress_ & 0x00FF) | (value << 8)); break;
    case kBridgeMemoryData: MemoryWrite(bridgeAddress_, value); break;
    default: break;
    }
}

void EcModel::FailReadBack(uint8_t reg, int matchOnRead) {
    failReg_ = reg;
    failMatchRead_ = matchOnRead;
    failReads_ = 0;
}

// ---- firmware timers ----

void EcModel::SetWatchdogRegisters(uint8_t control, uint8_t minutes, uint8_t seconds) {
    wdtControl_ = control;
    wdtMinutes_ = minutes;
    wdtSeconds_ = seconds;
}

void EcModel::SetLanTimerRegisters(uint8_t control, uint8_t minutes, uint8_t seconds) {
    lanControl_ = control;
    lanMinutes_ = minutes;
    lanSeconds_ = seconds;
}

// The firmware acts on the control byte: the count registers are latched when
// the timer starts, so rewriting them later only matters at the next start.
void EcModel::AfterRamWrite(uint8_t reg, uint8_t value) {
    if (reg == wdtControl_) {
        const uint8_t* r = ram_[0].data();
        if (value == 1 || value == 3) {
            const int64_t count = value == 3 ? r[wdtMinutes_] * 60 : r[wdtSeconds_];
            wdt_.running = count != 0;
            wdt_.timeoutNs = count * kSecondNs;
            wdt_.deadlineNs = machine_.now_ns() + wdt_.timeoutNs;
        } else {
            wdt_.running = false;
        }
    }
    if (reg == lanControl_) {
        const uint8_t* r = ram_[0].data();
        if (value & 1) {
            const int64_t seconds = r[lanMinutes_] * 60 + r[lanSeconds_];
            lan_.running = true;
            lan_.timeoutNs = seconds * kSecondNs;
            lan_.deadlineNs = machine_.now_ns() + lan_.timeoutNs;
        } else {
            lan_.running = false;
        }
    }
}

void EcModel::Tick() {
    const int64_t now = machine_.now_ns();
    if (wdt_.running && now >= wdt_.deadlineNs) {
        // The board would reset here; the model records it and stops.
        wdt_.running = false;
        ++wdt_.expiries;
        wdt_.lastExpiryNs = wdt_.deadlineNs;
        ram_[0][wdtControl_] = 0;
    }
    if (lan_.running && now >= lan_.deadlineNs) {
        lan_.running = false;
        ++lan_.expiries;
        lan_.lastExpiryNs = lan_.deadlineNs;
        ram_[0][lanControl_] &= uint8_t(~1u);
    }
}

const EcModel::TimerState& EcModel::watchdog() {
    Tick();
    return wdt_;
}

const EcModel::TimerState& EcModel::lan_timer() {
    Tick();
    return lan_;
}

// ---- boards ----

namespace {

bool HasKind100(const PlatformEntry& row) {
    if (row.wdtOwner == 100 || row.cpuTempOwner == 100) return true;
    for (size_t i = 1; i < FAN_OWNER_WORDS; ++i)
        if (row.fanOwners[i] == 100) return true;
    for (size_t i = 1; i < TEMP_OWNER_WORDS; ++i)
        if (row.tempOwners[i] == 100) return true;
    return false;
}

// Boards whose EC GPIO, watchdog and sensors sit in EC memory behind 0x4E/0x4F.
bool Indirect(uint32_t boardId) { return boardId >= 6 && boardId <= 10; }

} // namespace

void AddEcModels(Board& board) {
    const PlatformEntry& row = board.row();
    if (row.chipKind == 3 || row.chipKind == 11) {
        EcModel::Paths paths;
        paths.indirect = Indirect(row.boardId);
        EcModel& ec = board.Add<EcModel>(paths);
        // GPIO header as the firmware leaves it: pins 1..4 inputs, 5..8 outputs low.
        ec.Poke(0x2B, 0x0F);
        ec.Poke(0x2C, 0x03);
        if (paths.indirect) {
            constexpr uint16_t kPinControl[8] = {0x165C, 0x1646, 0x162D, 0x163B, 0x1637, 0x1658, 0x1659, 0x165A};
            for (int pin = 0; pin < 8; ++pin) ec.PokeMemory(kPinControl[pin], pin < 4 ? 0x80 : 0x40);
            ec.PokeMemory(0x160A, 0x10);
        }
        switch (row.boardId) {
        case 70: ec.Poke(0x0D, 1); break; // hardware revision A: the one with the ZKEC controller's layout
        case 104: ec.Poke(0xB0, 2); break; // the LAN-bypass variant
        default: break;
        }
        if (row.boardId == 104 || row.boardId == 124 || row.boardId == 125 || row.boardId == 129)
            ec.SetLanTimerRegisters(0x50, 0x51, 0x52);
    } else if (HasKind100(row)) {
        // Boards with another main chip reach their EC over the command channels only.
        board.Add<EcModel>(EcModel::Paths{.window = false, .indirect = false, .aux = true});
    }
}

} // namespace vek::sim
