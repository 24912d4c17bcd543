// The chipset SMBus host controller in its three register flavours (SCH map,
// ICH/PCH map, AMD FCH), the slaves on its bus, and the FCH GPIO pads.
//
// The controller runs a transaction the way the silicon does: a start bit in
// the control register kicks it off, the bytes go out at 100 kHz of virtual
// time, and only then do the status bits (done, device error, byte done) and the
// data registers change. Status bits are write-1-to-clear; the start bit reads
// back 0. Slaves see the wire: address phases, bytes, stops.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "sim/devices.h"
#include "sim/i2c_bus.h"
#include "sim/machine.h"

namespace vek::sim {

class Board;

// Serial EEPROM with a two-byte word address (24C32 class): sequential reads
// wrap at the end of the array, page writes wrap inside their page, and the
// part NAKs its address while the write cycle runs after a stop.
class Eeprom24c : public I2cSlave {
public:
    static constexpr size_t kSize = 4096;
    static constexpr size_t kPage = 32;
    static constexpr int64_t kWriteCycleNs = 5'000'000;

    explicit Eeprom24c(Machine& machine);
    bool Start(bool read) override;
    bool WriteByte(uint8_t value) override;
    uint8_t ReadByte() override;
    void Stop() override;

    std::array<uint8_t, kSize>& bytes() { return bytes_; }
    uint16_t pointer() const { return pointer_; }
    int writeCycles() const { return writeCycles_; }

private:
    Machine& machine_;
    std::array<uint8_t, kSize> bytes_{};
    uint16_t pointer_ = 0;
    int addressBytesSeen_ = 0;
    bool wrote_ = false;
    int64_t busyUntilNs_ = 0;
    int writeCycles_ = 0;
};

// Memory-module SPD EEPROM: 256 bytes, one-byte word address, 16-byte pages.
class SpdEeprom : public I2cSlave {
public:
    explicit SpdEeprom(uint8_t module);
    bool Start(bool read) override;
    bool WriteByte(uint8_t value) override;
    uint8_t ReadByte() override;
    std::array<uint8_t, 256>& bytes() { return bytes_; }

private:
    std::array<uint8_t, 256> bytes_{};
    uint8_t pointer_ = 0;
    bool addressed_ = false;
};

// Register-pointer devices: the first byte written selects the register.
// Temperature sensor: register 0x00 whole degrees, 0x29 quarter degrees in bits 7..6.
class TemperatureSensor : public I2cSlave {
public:
    TemperatureSensor();
    bool Start(bool read) override;
    bool WriteByte(uint8_t value) override;
    uint8_t ReadByte() override;
    void SetTemperature(double celsius);
    std::array<uint8_t, 256>& registers() { return regs_; }

private:
    std::array<uint8_t, 256> regs_{};
    uint8_t pointer_ = 0;
    bool addressed_ = false;
};

// 8-bit GPIO expander: 0x00 direction (1 = input, resets to all inputs),
// 0x09 port (reads the pins, writes the latch), 0x0A output latch.
class GpioExpanderChip : public I2cSlave {
public:
    static constexpr uint8_t kDirection = 0x00, kPort = 0x09, kLatch = 0x0A;
    bool Start(bool read) override;
    bool WriteByte(uint8_t value) override;
    uint8_t ReadByte() override;

    uint8_t direction() const { return direction_; }
    uint8_t latch() const { return latch_; }
    uint8_t Port() const;
    // Levels driven from outside: on input pins, and on the pins in overdriven
    // even when they are outputs (a shorted or overloaded pin).
    void SetExternal(uint8_t levels, uint8_t overdriven = 0) { external_ = levels; overdriven_ = overdriven; }
    void SetRegisters(uint8_t direction, uint8_t latch) { direction_ = direction; latch_ = latch; }
    int writes() const { return writes_; }

private:
    uint8_t Register(uint8_t reg) const;
    uint8_t direction_ = 0xFF, latch_ = 0, external_ = 0, overdriven_ = 0;
    uint8_t pointer_ = 0;
    bool addressed_ = false;
    int writes_ = 0;
};

// A device with a byte/word register file (0x00..0x7F, auto-incrementing
// pointer; a repeated start for a read returns to the addressed register) and
// block registers (0x80..0xFF) that read back as a length byte plus data and
// store what a block write sends after its length byte.
class BlockDevice : public I2cSlave {
public:
    bool Start(bool read) override;
    bool WriteByte(uint8_t value) override;
    uint8_t ReadByte() override;
    void Stop() override;

    std::array<uint8_t, 128>& registers() { return regs_; }
    std::vector<uint8_t>& block(uint8_t command) { return blocks_[command & 0x7F]; }
    // Bytes of the last write transaction after the command byte, as they came off the wire.
    const std::vector<uint8_t>& lastWrite() const { return lastWrite_; }

private:
    std::array<uint8_t, 128> regs_{};
    std::array<std::vector<uint8_t>, 128> blocks_{};
    std::vector<uint8_t> lastWrite_, current_;
    uint8_t command_ = 0;
    uint8_t pointer_ = 0;
    size_t readIndex_ = 0;
    bool haveCommand_ = false;
    bool writing_ = false;
};

// The host controller.
class SmbusController : public Device, public PortDevice, public I2cSlaves {
public:
    enum class Flavour { Sch, Ich, Fch };
    static constexpr int64_t kByteNs = 90'000; // nine bit times at 100 kHz

    // pciAddress: the function whose command register gates the I/O decode and
    // whose config byte 0x40 holds the I2C-enable bit (ICH); ~0u for none.
    SmbusController(Machine& machine, Flavour flavour, uint16_t base, uint32_t pciAddress);
    ~SmbusController() override;
    const char* name() const override { return "SMBus host controller"; }

    uint32_t ReadPort(uint16_t port, unsigned width) override;
    void WritePort(uint16_t port, unsigned width, uint32_t value) override;

    // Slaves attach by 7-bit address (I2cSlaves::Attach, SlaveAt, Detach).

    // Fault: transactions start but never finish (a slave holding the clock low).
    void SetHung(bool hung);
    // Fault: the next n commands lose the bus to another master during the address.
    void SetCollisions(int transactions);
    // Variant: the NAKed last byte of an I2C block read raises complete alone,
    // without byte-done (as QEMU's ICH9 model does); Intel's parts raise both.
    void SetLastByteCompletesOnly(bool on) { lastByteCompletesOnly_ = on; }

    Flavour flavour() const { return flavour_; }
    uint16_t base() const { return base_; }
    // Bytes clocked in by the last I2C block read before the controller NAKed.
    int i2cReadBytesClocked() const { return i2cReadClocked_; }
    int transactions() const { return transactions_; }
    // Transaction registers written or a start given while a transaction runs,
    // or a reset between a transaction's setup and its start: another host broke
    // into it. One host at a time never does this.
    int interleaved() const { return interleaved_; }

private:
    enum class Event { None, Complete, ByteReady, ByteSent };
    struct Map {
        uint8_t status, control, command, address, data0, data1, block, aux;
    };

    bool Decodes() const;
    void Tick();
    uint8_t ReadRegister(uint8_t offset);
    void WriteRegister(uint8_t offset, uint8_t value);
    void WriteControl(uint8_t value);
    void Run(int protocol);
    void Finish(int64_t wireBytes, bool nak);
    void Unsupported();
    void Abort();
    bool I2cEnabled() const;
    bool BufferMode() const;
    I2cSlave* Target(bool read);
    void Schedule(Event e, int64_t wireBytes);

    Machine& machine_;
    Flavour flavour_;
    uint16_t base_;
    uint32_t pciAddress_;
    Map map_;

    uint8_t status_ = 0, control_ = 0, command_ = 0, address_ = 0, data0_ = 0, data1_ = 0, aux_ = 0;
    std::array<uint8_t, 32> block_{};
    uint8_t blockIndex_ = 0;
    uint8_t blockHold_ = 0; // byte-by-byte mode's single block data register
    bool busy_ = false;
    bool hung_ = false;
    int collisions_ = 0;
    bool lastByteCompletesOnly_ = false;
    Event event_ = Event::None;
    int64_t eventAtNs_ = 0;
    uint8_t doneStatus_ = 0; // status bits the pending completion raises

    // Byte-by-byte transfers.
    I2cSlave* active_ = nullptr;
    bool i2cRead_ = false;
    bool lastPending_ = false; // the byte just clocked was NAKed as the last
    int remainingWrite_ = 0;
    int i2cReadClocked_ = 0;
    int transactions_ = 0;
    int interleaved_ = 0;
    bool setUp_ = false; // command or data written since the last control write
};

// The FCH's GPIO control registers: one dword per pad from MMIO 0xFED81500.
// In the third byte bit 0 is the pad level (read-only: the output value while
// the output is enabled, else the outside level), bit 6 the output value and
// bit 7 the output enable.
class ChipsetGpioPads : public Device, public MemoryDevice {
public:
    static constexpr uint64_t kBase = 0xFED81500;
    static constexpr uint64_t kPads = 256;
    static constexpr uint8_t kLevel = 0x01, kOutputValue = 0x40, kOutputEnable = 0x80;

    explicit ChipsetGpioPads(Machine& machine);
    const char* name() const override { return "chipset GPIO pads"; }
    uint32_t ReadMemory(uint64_t address, unsigned width) override;
    void WriteMemory(uint64_t address, unsigned width, uint32_t value) override;

    uint8_t control(uint32_t pad) const { return bytes_[pad * 4 + 2]; }
    void SetInputLevel(uint32_t pad, bool high) { inputs_[pad] = high; }

private:
    uint8_t ReadByte(uint64_t index) const;
    std::vector<uint8_t> bytes_;
    std::vector<bool> inputs_;
};

// Addresses the board population uses (7-bit).
inline constexpr uint8_t kSpdAddress = 0x50;        // first module; one address per module
inline constexpr uint8_t kBoardEepromAddress = 0x57;
inline constexpr uint8_t kTempSensorAddress = 0x4C; // address byte 0x98
inline constexpr uint8_t kGpioExpanderAddress = 0x20; // address byte 0x40
inline constexpr uint8_t kBlockDeviceAddress = 0x2C;

} // namespace vek::sim
