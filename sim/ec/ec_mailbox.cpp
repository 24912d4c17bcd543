#include "sim/ec/ec_mailbox.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/board.h"
#include "sim/chip_models.h"
#include "sim/ec/ec_model.h"

namespace vek::sim {

namespace {

constexpr uint8_t kCmdReadByte = 0xA0, kCmdWriteByte = 0xA1, kCmdReadBlock16 = 0xA2, kCmdWriteBlock16 = 0xA3,
                  kCmdReadBlock = 0xA4, kCmdWriteBlock = 0xA5, kCmdQuickRead = 0xA6, kCmdQuickWrite = 0xA7,
                  kCmdReceive = 0xA8, kCmdSend = 0xA9;
constexpr int kMaxBlock = 32;

} // namespace

// ---------------------------------------------------------------- mailbox

EcMailbox::EcMailbox(Machine& machine, EcModel& ec) : machine_(machine) {
    machine_.ClaimPorts(kIndexPort, 2, this);
    for (uint8_t command = kCmdReadByte; command <= kCmdSend; ++command) {
        ec.OnAcpiCommand(command, 0, [this, command](std::span<const uint8_t>) -> std::optional<uint8_t> {
            Start(command);
            return std::nullopt;
        });
    }
}

EcMailbox::~EcMailbox() { machine_.ReleasePorts(this); }

uint32_t EcMailbox::ReadPort(uint16_t port, unsigned) {
    Finish();
    return port == kIndexPort ? index_ : regs_[index_];
}

void EcMailbox::WritePort(uint16_t port, unsigned, uint32_t value) {
    Finish();
    if (port == kIndexPort)
        index_ = uint8_t(value);
    else
        regs_[index_] = uint8_t(value);
}

void EcMailbox::Start(uint8_t command) {
    if (stalled_) return;
    Transaction t{};
    t.command = command;
    t.address = regs_[kAddress];
    t.startNs = machine_.now_ns();
    if (failCount_ > 0) {
        --failCount_;
        t.status = failStatus_;
    } else {
        t.status = Execute(t);
    }
    if (log_.size() >= logLimit_) {
        // Keep the newest: drop the older half at once (amortised, like a ring).
        const size_t drop = log_.size() - logLimit_ / 2;
        log_.erase(log_.begin(), log_.begin() + std::ptrdiff_t(drop));
        logDropped_ += drop;
    }
    if (logLimit_ > 0) log_.push_back(t);
    else ++logDropped_;
    if (t.status == 0) return; // a hung slave: the master never finishes
    pending_ = true;
    pendingStatus_ = t.status;
    doneAtNs_ = machine_.now_ns() + transferNs_;
}

void EcMailbox::Finish() {
    if (pending_ && machine_.now_ns() >= doneAtNs_) {
        pending_ = false;
        regs_[kStatus] = pendingStatus_;
    }
}

uint8_t EcMailbox::Execute(Transaction& t) {
    const uint8_t reg8 = regs_[kRegLow];
    const uint16_t reg16 = uint16_t(regs_[kRegHigh] << 8 | reg8);
    const bool block = t.command >= kCmdReadBlock16 && t.command <= kCmdWriteBlock;
    const int count = regs_[kCount];
    if (block && (count == 0 || count > kMaxBlock)) return kBadCount;

    I2cSlave* slave = SlaveAt(uint8_t(t.address >> 1));
    if (slave != nullptr && slave->Hangs()) return 0;

    std::vector<uint8_t> out; // address bytes + data of the write phase
    int readBytes = -1;       // -1: no read phase
    switch (t.command) {
    case kCmdReadByte: t.reg = reg8; out = {reg8}; readBytes = 1; break;
    case kCmdWriteByte: t.reg = reg8; out = {reg8, regs_[kData]}; break;
    case kCmdReadBlock16: t.reg = reg16; out = {uint8_t(reg16 >> 8), reg8}; readBytes = count; break;
    case kCmdWriteBlock16:
        t.reg = reg16;
        out = {uint8_t(reg16 >> 8), reg8};
        out.insert(out.end(), regs_.begin() + kData, regs_.begin() + kData + count);
        break;
    case kCmdReadBlock: t.reg = reg8; out = {reg8}; readBytes = count; break;
    case kCmdWriteBlock:
        t.reg = reg8;
        out = {reg8};
        out.insert(out.end(), regs_.begin() + kData, regs_.begin() + kData + count);
        break;
    case kCmdQuickRead: readBytes = 0; break;
    case kCmdQuickWrite: break;
    case kCmdReceive: readBytes = 1; break;
    case kCmdSend: t.reg = reg8; out = {reg8}; break;
    default: return kNak;
    }
    t.written = out;
    if (slave == nullptr) return kNak;
    // A pure read (quick read, receive byte) has no write phase.
    const bool writePhase = !(readBytes >= 0 && out.empty());
    if (writePhase && !WriteMessage(*slave, out)) {
        slave->Stop();
        return kNak;
    }
    if (readBytes >= 0) {
        t.read.assign(size_t(readBytes), 0);
        if (!ReadMessage(*slave, t.read)) {
            slave->Stop();
            return kNak;
        }
        std::copy(t.read.begin(), t.read.end(), regs_.begin() + kData);
    } else {
        slave->Stop();
    }
    return kDone;
}

// ---------------------------------------------------------------- power supplies

namespace {

// First register of each reading: column 0, column 1.
constexpr uint8_t kPsuRegisters[16][2] = {
    {0x75, 0x95}, {0x77, 0x97}, {0x60, 0x90}, {0x7A, 0x4A}, {0x61, 0x91}, {0x7C, 0x93},
    {0x8C, 0xA0}, {0x9C, 0xB0}, {0x9A, 0xC0}, {0x62, 0x92}, {0xCE, 0xDE}, {0xCC, 0xDC},
    {0xAC, 0xD0}, {0x88, 0x39}, {0x00, 0x00}, {0x83, 0xED},
};
constexpr uint8_t kOutputExponent[2] = {0x79, 0x99};

} // namespace

std::array<uint8_t, 2> EncodeLinear11(double value) {
    int exponent = -16;
    while (exponent < 15 && std::lround(std::ldexp(value, -exponent)) > 2047) ++exponent;
    const long mantissa = std::clamp(std::lround(std::ldexp(value, -exponent)), 0L, 2047L);
    return {uint8_t(mantissa & 0xFF), uint8_t(((exponent & 0x1F) << 3) | (mantissa >> 8))};
}

uint8_t PowerSupplies::Register(int column, PsuItem item) { return kPsuRegisters[int(item)][column & 1]; }

void PowerSupplies::SetModel(const std::string& name) {
    std::array<uint8_t, 12> bytes{};
    std::memcpy(bytes.data(), name.data(), std::min(name.size(), bytes.size()));
    SetNameBytes(bytes);
}

void PowerSupplies::SetNameBytes(const std::array<uint8_t, 12>& bytes) {
    for (size_t k = 0; k < bytes.size(); ++k) ec_.Poke(uint8_t(kName + k), bytes[k]);
}

void PowerSupplies::SetRaw(int column, PsuItem item, std::span<const uint8_t> bytes) {
    const uint8_t first = Register(column, item);
    for (size_t k = 0; k < bytes.size(); ++k) ec_.Poke(uint8_t(first + k), bytes[k]);
}

void PowerSupplies::SetLinear11(int column, PsuItem item, uint8_t lo, uint8_t hi) {
    const uint8_t bytes[2] = {lo, hi};
    SetRaw(column, item, bytes);
}

void PowerSupplies::SetOutputLinear16(int column, uint16_t mantissa, int8_t exponent) {
    const uint8_t bytes[2] = {uint8_t(mantissa), uint8_t(mantissa >> 8)};
    SetRaw(column, PsuItem::OutputVoltage, bytes);
    ec_.Poke(kOutputExponent[column & 1], uint8_t(exponent & 0x1F));
}

void PowerSupplies::SeedReadings() {
    const struct {
        PsuItem item;
        double value[2];
    } linear[] = {
        {PsuItem::InputVoltage, {230, 229.5}},  {PsuItem::OutputVoltage, {12.0, 12.125}},
        {PsuItem::InputCurrent, {1.25, 1.0}},   {PsuItem::OutputCurrent, {18.5, 15.25}},
        {PsuItem::OutputPower, {222, 185}},     {PsuItem::InputPower, {240, 201}},
        {PsuItem::Temperature1, {41, 39.5}},    {PsuItem::Temperature2, {38.5, 36}},
        {PsuItem::FanSpeed, {5400, 5120}},
    };
    for (int column = 0; column < 2; ++column) {
        for (const auto& l : linear) {
            const auto b = EncodeLinear11(l.value[column]);
            SetLinear11(column, l.item, b[0], b[1]);
        }
        const uint8_t status[1] = {0x00}, fan[1] = {0x00}, capability[1] = {0xB0};
        const uint8_t word[2] = {0x00, 0x00}, revision[3] = {0x22, 0x01, 0x00}, firmware[3] = {'A', '0', '3'};
        SetRaw(column, PsuItem::Status, status);
        SetRaw(column, PsuItem::FanStatus, fan);
        SetRaw(column, PsuItem::Capability, capability);
        SetRaw(column, PsuItem::StatusWord, word);
        SetRaw(column, PsuItem::Revision, revision);
        SetRaw(column, PsuItem::FirmwareId, firmware);
    }
}

// ---------------------------------------------------------------- board wiring

namespace {
constexpr uint32_t kPsuBoard = 122;
constexpr uint8_t kBoardEeprom = 0x50; // configuration EEPROM on the EC's bus
}

void AddEcMailboxModels(Board& board) {
    EcModel* ec = board.Find<EcModel>();
    const uint32_t kind = board.row().chipKind;
    if (ec == nullptr || (kind != 3 && kind != 11)) return;
    EcMailbox& mailbox = board.Add<EcMailbox>(*ec);
    mailbox.Attach<I2cEeprom>(kBoardEeprom, 256, 1);
    if (board.row().boardId == kPsuBoard) {
        PowerSupplies& psu = board.Add<PowerSupplies>(*ec);
        psu.SetModel(PowerSupplies::kFirstModel);
        psu.SeedReadings();
    }
}

} // namespace vek::sim
