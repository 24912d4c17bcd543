#include "sim/smbus/smbus_model.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "platform/platform_table.h"
#include "sim/board.h"
#include "sim/chip_models.h"

namespace vek::sim {

namespace {

// Status bits of the ICH/FCH map.
constexpr uint8_t kStsBusy = 0x01;
constexpr uint8_t kStsInterrupt = 0x02;
constexpr uint8_t kStsDeviceError = 0x04;
constexpr uint8_t kStsBusCollision = 0x08;
constexpr uint8_t kStsFailed = 0x10;
constexpr uint8_t kStsByteDone = 0x80;
// Status bits of the SCH map: it has no complete, failed or byte-done bit.
constexpr uint8_t kSchDone = 0x01;
constexpr uint8_t kSchDeviceError = 0x02;
constexpr uint8_t kSchBusCollision = 0x04;
constexpr uint8_t kSchBusy = 0x08;

// Control register.
constexpr uint8_t kIchStart = 0x40;
constexpr uint8_t kIchLastByte = 0x20;
constexpr uint8_t kIchKill = 0x02;
constexpr uint8_t kSchStart = 0x10;

// Auxiliary control: 32-byte block buffer.
constexpr uint8_t kAuxBlockBuffer = 0x02;

// ICH host configuration (PCI config 0x40): I2C framing for block writes.
constexpr uint32_t kCfgCommand = 0x04;
constexpr uint8_t kCommandIoSpace = 0x01;
constexpr uint32_t kCfgHostConfig = 0x40;
constexpr uint8_t kHostConfigI2cEnable = 0x04;

constexpr uint8_t kNoRegister = 0xFF;

enum Protocol { kQuick = 0, kByte = 1, kByteData = 2, kWordData = 3, kProcessCall = 4, kBlock = 5, kI2cRead = 6 };

// SCH: block bytes at 0x20..0x3F; ICH/FCH: one block data port with an index.
constexpr uint8_t kSchBlockFirst = 0x20;
constexpr uint32_t kIchPorts = 0x20;
constexpr uint32_t kSchPorts = 0x40;

} // namespace

// ---------------------------------------------------------------- slaves

Eeprom24c::Eeprom24c(Machine& machine) : machine_(machine) {
    for (size_t i = 0; i < kSize; ++i) bytes_[i] = uint8_t(i * 7 + (i >> 8) + 3);
}

bool Eeprom24c::Start(bool read) {
    if (machine_.now_ns() < busyUntilNs_) return false; // write cycle: no ACK
    if (!read) {
        addressBytesSeen_ = 0;
        wrote_ = false;
    }
    return true;
}

bool Eeprom24c::WriteByte(uint8_t value) {
    if (addressBytesSeen_ == 0) {
        pointer_ = uint16_t((value << 8) & (kSize - 1));
        ++addressBytesSeen_;
    } else if (addressBytesSeen_ == 1) {
        pointer_ = uint16_t((pointer_ | value) & (kSize - 1));
        ++addressBytesSeen_;
    } else {
        bytes_[pointer_] = value;
        // Page writes roll over inside the page.
        pointer_ = uint16_t((pointer_ & ~(kPage - 1)) | ((pointer_ + 1) & (kPage - 1)));
        wrote_ = true;
    }
    return true;
}

uint8_t Eeprom24c::ReadByte() {
    const uint8_t v = bytes_[pointer_];
    pointer_ = uint16_t((pointer_ + 1) % kSize);
    return v;
}

void Eeprom24c::Stop() {
    if (!wrote_) return;
    wrote_ = false;
    busyUntilNs_ = machine_.now_ns() + kWriteCycleNs;
    ++writeCycles_;
}

SpdEeprom::SpdEeprom(uint8_t module) {
    // DDR4 SO-DIMM header, then a pattern per module.
    const uint8_t header[] = {0x23, 0x11, 0x0C, 0x03, 0x45, 0x21, 0x00, 0x08};
    for (size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = uint8_t(i ^ (0x5A + module));
    std::copy(std::begin(header), std::end(header), bytes_.begin());
}

bool SpdEeprom::Start(bool read) {
    if (!read) addressed_ = false;
    return true;
}

bool SpdEeprom::WriteByte(uint8_t value) {
    if (!addressed_) {
        pointer_ = value;
        addressed_ = true;
        return true;
    }
    bytes_[pointer_] = value;
    pointer_ = uint8_t((pointer_ & 0xF0) | ((pointer_ + 1) & 0x0F)); // 16-byte pages
    return true;
}

uint8_t SpdEeprom::ReadByte() { return bytes_[pointer_++]; }

TemperatureSensor::TemperatureSensor() {
    regs_[0xFE] = 0x01; // manufacturer id
    SetTemperature(47.75);
}

void TemperatureSensor::SetTemperature(double celsius) {
    const double whole = std::floor(celsius);
    regs_[0x00] = uint8_t(whole);
    regs_[0x29] = uint8_t(int((celsius - whole) * 4) << 6);
}

bool TemperatureSensor::Start(bool read) {
    if (!read) addressed_ = false;
    return true;
}

bool TemperatureSensor::WriteByte(uint8_t value) {
    if (!addressed_) {
        pointer_ = value;
        addressed_ = true;
    } else {
        regs_[pointer_] = value;
    }
    return true;
}

uint8_t TemperatureSensor::ReadByte() { return regs_[pointer_]; }

uint8_t GpioExpanderChip::Port() const {
    const uint8_t driven = uint8_t(direction_ | overdriven_);
    return uint8_t((latch_ & ~driven) | (external_ & driven));
}

uint8_t GpioExpanderChip::Register(uint8_t reg) const {
    switch (reg) {
    case kDirection: return direction_;
    case kPort: return Port();
    case kLatch: return latch_;
    default: return 0;
    }
}

bool GpioExpanderChip::Start(bool read) {
    if (!read) addressed_ = false;
    return true;
}

bool GpioExpanderChip::WriteByte(uint8_t value) {
    if (!addressed_) {
        pointer_ = value;
        addressed_ = true;
        return true;
    }
    ++writes_;
    switch (pointer_) {
    case kDirection: direction_ = value; break;
    case kPort:
    case kLatch: latch_ = value; break;
    default: break;
    }
    return true;
}

uint8_t GpioExpanderChip::ReadByte() { return Register(pointer_); }

bool BlockDevice::Start(bool read) {
    if (!read) {
        writing_ = true;
        haveCommand_ = false;
        current_.clear();
    } else {
        if (haveCommand_ && command_ < 0x80) pointer_ = command_; // repeated start: back to the register
        readIndex_ = 0;
    }
    return true;
}

bool BlockDevice::WriteByte(uint8_t value) {
    if (!haveCommand_) {
        command_ = value;
        pointer_ = uint8_t(value & 0x7F);
        haveCommand_ = true;
        return true;
    }
    current_.push_back(value);
    if (command_ < 0x80) {
        regs_[pointer_ & 0x7F] = value;
        pointer_ = uint8_t((pointer_ + 1) & 0x7F);
    }
    return true;
}

uint8_t BlockDevice::ReadByte() {
    if (haveCommand_ && command_ >= 0x80) {
        const std::vector<uint8_t>& b = blocks_[command_ & 0x7F];
        const size_t i = readIndex_++;
        if (i == 0) return uint8_t(b.size());
        return i - 1 < b.size() ? b[i - 1] : 0xFF;
    }
    const uint8_t v = regs_[pointer_ & 0x7F];
    pointer_ = uint8_t((pointer_ + 1) & 0x7F);
    return v;
}

void BlockDevice::Stop() {
    if (writing_ && haveCommand_) {
        lastWrite_ = current_;
        if (command_ >= 0x80 && !current_.empty()) {
            const size_t n = std::min<size_t>(current_[0], current_.size() - 1);
            blocks_[command_ & 0x7F].assign(current_.begin() + 1, current_.begin() + 1 + long(n));
        }
    }
    writing_ = false;
    haveCommand_ = false;
}

// ---------------------------------------------------------------- controller

SmbusController::SmbusController(Machine& machine, Flavour flavour, uint16_t base, uint32_t pciAddress)
    : machine_(machine), flavour_(flavour), base_(base), pciAddress_(pciAddress) {
    if (flavour == Flavour::Sch)
        map_ = {.status = 0x01, .control = 0x00, .command = 0x05, .address = 0x04, .data0 = 0x06, .data1 = 0x07,
                .block = kSchBlockFirst, .aux = kNoRegister};
    else
        map_ = {.status = 0x00, .control = 0x02, .command = 0x03, .address = 0x04, .data0 = 0x05, .data1 = 0x06,
                .block = 0x07, .aux = 0x0D};
    machine_.ClaimPorts(base_, flavour == Flavour::Sch ? kSchPorts : kIchPorts, this);
}

SmbusController::~SmbusController() { machine_.ReleasePorts(this); }

void SmbusController::SetCollisions(int transactions) { collisions_ = transactions; }

void SmbusController::SetHung(bool hung) {
    hung_ = hung;
    if (!hung && busy_ && event_ == Event::None) busy_ = false; // the stuck transfer is abandoned
}

bool SmbusController::Decodes() const {
    if (pciAddress_ == ~0u) return true;
    const PciFunction* fn = machine_.FindPciFunction(pciAddress_);
    return fn != nullptr && (fn->Load(kCfgCommand, 1) & kCommandIoSpace) != 0;
}

bool SmbusController::I2cEnabled() const {
    if (flavour_ != Flavour::Ich) return false;
    const PciFunction* fn = machine_.FindPciFunction(pciAddress_);
    return fn != nullptr && (fn->Load(kCfgHostConfig, 1) & kHostConfigI2cEnable) != 0;
}

bool SmbusController::BufferMode() const { return flavour_ != Flavour::Ich || (aux_ & kAuxBlockBuffer) != 0; }

uint32_t SmbusController::ReadPort(uint16_t port, unsigned) {
    if (!Decodes()) return 0xFF;
    Tick();
    return ReadRegister(uint8_t(port - base_));
}

void SmbusController::WritePort(uint16_t port, unsigned, uint32_t value) {
    if (!Decodes()) return;
    Tick();
    WriteRegister(uint8_t(port - base_), uint8_t(value));
}

void SmbusController::Schedule(Event e, int64_t wireBytes) {
    event_ = e;
    eventAtNs_ = machine_.now_ns() + wireBytes * kByteNs;
}

void SmbusController::Tick() {
    if (event_ == Event::None || machine_.now_ns() < eventAtNs_) return;
    const Event e = event_;
    event_ = Event::None;
    switch (e) {
    case Event::Complete:
        status_ |= doneStatus_;
        busy_ = false;
        active_ = nullptr;
        i2cRead_ = false;
        break;
    case Event::ByteReady:
        // The controller ACKs or NAKs the byte by what the host asked for
        // before it released the previous one.
        blockHold_ = active_->ReadByte();
        ++i2cReadClocked_;
        if (!lastPending_ || !lastByteCompletesOnly_) status_ |= kStsByteDone;
        if (lastPending_) {
            active_->Stop();
            status_ |= kStsInterrupt;
            busy_ = false;
            active_ = nullptr;
            i2cRead_ = false;
        }
        break;
    case Event::ByteSent:
        status_ |= kStsByteDone;
        break;
    case Event::None:
        break;
    }
}

uint8_t SmbusController::ReadRegister(uint8_t offset) {
    if (offset == map_.status) return uint8_t(status_ | (busy_ ? (flavour_ == Flavour::Sch ? kSchBusy : kStsBusy) : 0));
    if (offset == map_.control) {
        if (flavour_ != Flavour::Sch) blockIndex_ = 0; // reading control rewinds the block buffer
        return control_;
    }
    if (offset == map_.command) return command_;
    if (offset == map_.address) return address_;
    if (offset == map_.data0) return data0_;
    if (offset == map_.data1) return data1_;
    if (offset == map_.aux) return aux_;
    if (flavour_ == Flavour::Sch) {
        if (offset >= kSchBlockFirst && offset < kSchBlockFirst + block_.size()) return block_[offset - kSchBlockFirst];
        return 0xFF;
    }
    if (offset == map_.block) return BufferMode() ? block_[blockIndex_++ & 31] : blockHold_;
    return 0xFF;
}

void SmbusController::WriteRegister(uint8_t offset, uint8_t value) {
    if (offset == map_.status) {
        const bool releasesByte = (value & kStsByteDone) && (status_ & kStsByteDone);
        status_ = uint8_t(status_ & ~value); // write 1 to clear
        if (releasesByte && active_ != nullptr) {
            if (i2cRead_) {
                lastPending_ = (control_ & kIchLastByte) != 0;
                Schedule(Event::ByteReady, 1);
            } else if (remainingWrite_ > 0) {
                --remainingWrite_;
                if (!active_->WriteByte(blockHold_)) {
                    active_->Stop();
                    Finish(1, true);
                } else {
                    Schedule(Event::ByteSent, 1);
                }
            } else {
                active_->Stop();
                Finish(0, false);
            }
        }
        return;
    }
    // A host sets a transaction up (command and data bytes) and then starts it;
    // the controller reset (control written 0) in between is another host's.
    const bool setup = offset == map_.command || offset == map_.address || offset == map_.data0 ||
                       offset == map_.data1;
    const bool start = offset == map_.control && (value & (flavour_ == Flavour::Sch ? kSchStart : kIchStart));
    const bool reset = offset == map_.control && value == 0;
    if (!hung_ && (((setup || start) && busy_) || (reset && !busy_ && setUp_))) ++interleaved_;
    if (setup && offset != map_.address && !busy_) setUp_ = true;
    if (offset == map_.control) setUp_ = false;
    if (offset == map_.control) return WriteControl(value);
    if (offset == map_.command) command_ = value;
    else if (offset == map_.address) address_ = value;
    else if (offset == map_.data0) data0_ = value;
    else if (offset == map_.data1) data1_ = value;
    else if (offset == map_.aux) aux_ = value;
    else if (flavour_ == Flavour::Sch) {
        if (offset >= kSchBlockFirst && offset < kSchBlockFirst + block_.size()) block_[offset - kSchBlockFirst] = value;
    } else if (offset == map_.block) {
        if (BufferMode()) block_[blockIndex_++ & 31] = value;
        else blockHold_ = value;
    }
}

// Ends whatever is on the wire: the slave sees a stop, no pending event fires.
void SmbusController::Abort() {
    if (active_ != nullptr) active_->Stop();
    active_ = nullptr;
    i2cRead_ = false;
    remainingWrite_ = 0;
    event_ = Event::None;
    busy_ = false;
}

void SmbusController::WriteControl(uint8_t value) {
    const bool sch = flavour_ == Flavour::Sch;
    const uint8_t start = sch ? kSchStart : kIchStart;
    control_ = uint8_t(value & ~(start | (sch ? 0 : kIchKill))); // start and kill read back 0
    if (!sch && (value & kIchKill)) {
        // Kill: the running command stops and reports failed.
        if (busy_) {
            Abort();
            status_ |= kStsFailed;
        }
        return;
    }
    if (!(value & start)) return;
    // A start is a new command, also while one runs: the running one is
    // abandoned where it stands (a byte-by-byte read loses its last byte).
    Abort();
    const int protocol = sch ? (value & 7) : ((value >> 2) & 7);
    ++transactions_;
    busy_ = true;
    blockIndex_ = 0;
    if (hung_) return;
    if (collisions_ > 0) {
        // Another master won the arbitration during the address.
        --collisions_;
        doneStatus_ = sch ? kSchBusCollision : kStsBusCollision;
        return Schedule(Event::Complete, 1);
    }
    Run(protocol);
}

I2cSlave* SmbusController::Target(bool read) {
    I2cSlave* s = SlaveAt(uint8_t(address_ >> 1));
    return (s != nullptr && s->Start(read)) ? s : nullptr;
}

// A NAK ends the command with the device-error bit alone: neither map reports
// done for a command that failed.
void SmbusController::Finish(int64_t wireBytes, bool nak) {
    if (flavour_ == Flavour::Sch)
        doneStatus_ = nak ? kSchDeviceError : kSchDone;
    else
        doneStatus_ = nak ? kStsDeviceError : kStsInterrupt;
    Schedule(Event::Complete, wireBytes + 1);
}

// A protocol the controller does not run: ICH/FCH report failed; the SCH map
// has no such bit and reports no answer.
void SmbusController::Unsupported() {
    doneStatus_ = flavour_ == Flavour::Sch ? kSchDeviceError : kStsFailed;
    Schedule(Event::Complete, 0);
}

void SmbusController::Run(int protocol) {
    const bool read = (address_ & 1) != 0;
    // Aborts on a NAK: the stop goes out and the device-error bit comes up.
    auto nak = [&](I2cSlave* s, int64_t bytes) {
        if (s) s->Stop();
        Finish(bytes, true);
    };
    switch (protocol) {
    case kQuick: {
        I2cSlave* s = Target(read);
        if (!s) return nak(nullptr, 1);
        s->Stop();
        return Finish(1, false);
    }
    case kByte: {
        I2cSlave* s = Target(read);
        if (!s) return nak(nullptr, 1);
        if (read) data0_ = s->ReadByte();
        else if (!s->WriteByte(command_)) return nak(s, 2);
        s->Stop();
        return Finish(2, false);
    }
    case kByteData:
    case kWordData:
    case kProcessCall: {
        const int width = protocol == kByteData ? 1 : 2;
        I2cSlave* s = Target(false);
        if (!s) return nak(nullptr, 1);
        if (!s->WriteByte(command_)) return nak(s, 2);
        const bool sends = protocol == kProcessCall || !read;
        if (sends) {
            if (!s->WriteByte(data0_)) return nak(s, 3);
            if (width == 2 && !s->WriteByte(data1_)) return nak(s, 4);
        }
        if (protocol == kProcessCall || read) {
            if (!s->Start(true)) return nak(s, 3);
            data0_ = s->ReadByte();
            if (width == 2) data1_ = s->ReadByte();
        }
        s->Stop();
        return Finish(protocol == kProcessCall ? 7 : 2 + width + (read ? 1 : 0), false);
    }
    case kBlock: {
        I2cSlave* s = Target(false);
        if (!s) return nak(nullptr, 1);
        if (!s->WriteByte(command_)) return nak(s, 2);
        if (read) {
            if (!s->Start(true)) return nak(s, 3);
            const uint8_t length = s->ReadByte();
            data0_ = length;
            const int n = std::min<int>(length, int(block_.size()));
            for (int i = 0; i < n; ++i) block_[size_t(i)] = s->ReadByte();
            s->Stop();
            return Finish(4 + n, false);
        }
        const int count = std::min<int>(data0_, int(block_.size()));
        int64_t wire = 2;
        if (!I2cEnabled()) {
            if (!s->WriteByte(data0_)) return nak(s, 3);
            ++wire;
        }
        if (count == 0) {
            s->Stop();
            return Finish(wire, false);
        }
        if (BufferMode()) {
            for (int i = 0; i < count; ++i)
                if (!s->WriteByte(block_[size_t(i)])) return nak(s, wire + i + 1);
            s->Stop();
            return Finish(wire + count, false);
        }
        // Byte by byte: the host feeds each next byte after byte-done.
        if (!s->WriteByte(blockHold_)) return nak(s, wire + 1);
        active_ = s;
        i2cRead_ = false;
        remainingWrite_ = count - 1;
        return Schedule(Event::ByteSent, wire + 1);
    }
    case kI2cRead: {
        if (flavour_ != Flavour::Ich) return Unsupported();
        I2cSlave* s = Target(false);
        if (!s) return nak(nullptr, 1);
        if (!s->WriteByte(data1_)) return nak(s, 2);
        if (!s->Start(true)) return nak(s, 3);
        active_ = s;
        i2cRead_ = true;
        i2cReadClocked_ = 0;
        lastPending_ = (control_ & kIchLastByte) != 0;
        return Schedule(Event::ByteReady, 4);
    }
    default:
        return Unsupported();
    }
}

// ---------------------------------------------------------------- FCH GPIO pads

ChipsetGpioPads::ChipsetGpioPads(Machine& machine) : bytes_(kPads * 4, 0), inputs_(kPads, false) {
    machine.MapMemoryDevice(kBase, kPads * 4, this);
}

uint8_t ChipsetGpioPads::ReadByte(uint64_t index) const {
    uint8_t v = bytes_[index];
    if (index % 4 != 2) return v;
    const bool level = (v & kOutputEnable) ? (v & kOutputValue) != 0 : bool(inputs_[index / 4]);
    return uint8_t((v & ~kLevel) | (level ? kLevel : 0));
}

uint32_t ChipsetGpioPads::ReadMemory(uint64_t address, unsigned width) {
    uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i) {
        const uint64_t index = address - kBase + i;
        if (index < bytes_.size()) v |= uint32_t(ReadByte(index)) << (8 * i);
    }
    return v;
}

void ChipsetGpioPads::WriteMemory(uint64_t address, unsigned width, uint32_t value) {
    for (unsigned i = 0; i < width; ++i) {
        const uint64_t index = address - kBase + i;
        if (index < bytes_.size()) bytes_[index] = uint8_t(value >> (8 * i));
    }
}

// ---------------------------------------------------------------- board population

namespace {

// What hangs on a board's SMBus.
struct SlaveSet {
    uint8_t spdModules;  // SPD EEPROMs from 0x50, one per memory module
    bool boardEeprom;    // two-byte-offset EEPROM at 0x57
    bool tempSensor;     // processor temperature sensor at 0x4C
    bool gpioExpander;   // GPIO expander at 0x20
    bool blockDevice;    // block-capable device at 0x2C
};

constexpr SlaveSet kTypical = {.spdModules = 2, .boardEeprom = true, .tempSensor = false, .gpioExpander = false,
                               .blockDevice = true};

struct BoardSlaves {
    uint32_t boardId;
    SlaveSet slaves;
};

// Boards that differ from the typical population.
constexpr BoardSlaves kBoardSlaves[] = {
    {79, {.spdModules = 1, .boardEeprom = true, .tempSensor = false, .gpioExpander = true, .blockDevice = true}},
    {107, {.spdModules = 2, .boardEeprom = true, .tempSensor = false, .gpioExpander = true, .blockDevice = true}},
    {109, {.spdModules = 2, .boardEeprom = true, .tempSensor = true, .gpioExpander = true, .blockDevice = true}},
    {111, {.spdModules = 2, .boardEeprom = true, .tempSensor = false, .gpioExpander = true, .blockDevice = true}},
    {126, {.spdModules = 1, .boardEeprom = true, .tempSensor = false, .gpioExpander = true, .blockDevice = true}},
    {128, {.spdModules = 2, .boardEeprom = true, .tempSensor = true, .gpioExpander = false, .blockDevice = true}},
    {144, {.spdModules = 2, .boardEeprom = true, .tempSensor = false, .gpioExpander = true, .blockDevice = true}},
    {146, {.spdModules = 2, .boardEeprom = true, .tempSensor = true, .gpioExpander = false, .blockDevice = true}},
};

const SlaveSet& SlavesFor(uint32_t boardId) {
    for (const BoardSlaves& b : kBoardSlaves)
        if (b.boardId == boardId) return b.slaves;
    return kTypical;
}

void SeedBlockDevice(BlockDevice& d) {
    for (size_t i = 0; i < d.registers().size(); ++i) d.registers()[i] = uint8_t(0xA0 + i);
    d.block(0x80) = {0x10, 0x20, 0x30, 0x40, 0x50};
    d.block(0x81).resize(40); // longer than an SMBus block may be
    for (size_t i = 0; i < 40; ++i) d.block(0x81)[i] = uint8_t(i + 1);
}

} // namespace

void AddSmbusModels(Board& board) {
    const SmbusSite& site = board.smbus();
    if (board.row().chipsetId == CHIPSET_FCH) board.Add<ChipsetGpioPads>();
    if (site.path == SmbusSite::kNone) return;

    const auto flavour = site.path == SmbusSite::kFchPm ? SmbusController::Flavour::Fch
                         : site.schMap                  ? SmbusController::Flavour::Sch
                                                        : SmbusController::Flavour::Ich;
    const uint32_t pci = site.path == SmbusSite::kPci ? PciAddress(site.bus, site.device, site.function) : ~0u;
    SmbusController& host = board.Add<SmbusController>(flavour, site.ioBase, pci);

    const SlaveSet& s = SlavesFor(board.row().boardId);
    for (uint8_t m = 0; m < s.spdModules; ++m) host.Attach<SpdEeprom>(uint8_t(kSpdAddress + m), m);
    if (s.boardEeprom) host.Attach<Eeprom24c>(kBoardEepromAddress, board.machine());
    if (s.tempSensor) host.Attach<TemperatureSensor>(kTempSensorAddress);
    if (s.gpioExpander) host.Attach<GpioExpanderChip>(kGpioExpanderAddress);
    if (s.blockDevice) SeedBlockDevice(host.Attach<BlockDevice>(kBlockDeviceAddress));
}

} // namespace vek::sim
