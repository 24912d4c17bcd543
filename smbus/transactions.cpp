// One SMBus transaction at a time on the chipset's host controller, by
// programmed I/O. Every register write is followed by a 1 ms pause, which gives
// the slowest controllers time to latch it; transactions are therefore paced in
// milliseconds, and a poll that gives up has waited about two seconds.
// Callers hold ApiLock.
#include "smbus/transactions.h"

#include <algorithm>
#include <optional>

#include "hal/hal.h"
#include "smbus/kernel_route.h"
#include "vek/vek.h"

namespace vek::smbus {

Flavour FlavourOf(uint32_t chipsetId) {
    if (chipsetId <= 1) return Flavour::Sch;
    if (chipsetId <= 1000) return Flavour::Ich;
    return Flavour::Fch;
}

namespace {

// Register access and the common steps on one context's controller.
class Host {
public:
    explicit Host(DeviceContext& ctx) : h_(ctx.smbus), flavour_(FlavourOf(ctx.chipsetId)) {}

    Flavour flavour() const { return flavour_; }
    const SmbusHost& regs() const { return h_; }

    void Write(uint8_t reg, uint8_t value) {
        WriteNoPause(reg, value);
        Pause();
    }
    void WriteNoPause(uint8_t reg, uint8_t value) { hal::WritePortByte(uint16_t(h_.ioBase + reg), value); }
    uint8_t Read(uint8_t reg) {
        uint8_t v = 0;
        hal::ReadPortByte(uint16_t(h_.ioBase + reg), &v);
        return v;
    }
    static void Pause() { hal::Delay(kRegisterPauseUs); }

    // Stops the controller and clears whatever status it latched.
    void ResetHost() {
        Write(h_.regControl, 0);
        const uint8_t status = Read(h_.regStatus);
        Pause();
        Write(h_.regStatus, status);
        Write(h_.regAuxControl, 0);
    }
    void ClearData() {
        Write(h_.regData0, 0);
        Write(h_.regData1, 0);
    }
    void Begin() {
        ResetHost();
        ClearData();
    }

    bool Done(uint8_t status) const {
        switch (flavour_) {
        case Flavour::Sch: return (status & kSchStsDone) != 0;
        case Flavour::Ich: return (status & kStsInterrupt) != 0;
        case Flavour::Fch: return (status & kStsHostBusy) == 0;
        }
        return false;
    }
    // The status bits that report a failed transaction on this map.
    uint8_t Errors() const { return flavour_ == Flavour::Sch ? kSchStsErrors : kStsErrors; }
    bool HasErrors(uint8_t status) const { return (status & Errors()) != 0; }

    // The one wait helper. Each pass reads the status register and stops when
    // stop(status) holds; a pass that does not stop pauses and spends one unit.
    // Spending mode Spend::AfterTest gives up once the budget read before the
    // decrement was already below zero (budget + 1 pauses); Spend::PerPass
    // allows exactly budget reads. Nothing on give-up: the caller decides.
    enum class Spend { AfterTest, PerPass };
    template <class Stop>
    std::optional<uint8_t> Wait(int32_t& budget, Spend spend, Stop stop) {
        for (;;) {
            if (spend == Spend::PerPass && budget-- <= 0) return std::nullopt;
            const uint8_t status = Read(h_.regStatus);
            if (stop(status)) return status;
            if (spend == Spend::AfterTest && budget-- < 0) return std::nullopt;
            Pause();
        }
    }
    // The common poll: the flavour's done test, the standard budget. The SCH
    // controller ends a failed transfer with an error bit and no done bit, so
    // there an error ends the poll too and counts as not done.
    std::optional<uint8_t> WaitDone() {
        int32_t budget = kPollBudget;
        return WaitDone(budget);
    }
    std::optional<uint8_t> WaitDone(int32_t& budget) {
        const bool errorsEnd = flavour_ == Flavour::Sch;
        const auto status =
            Wait(budget, Spend::AfterTest, [&](uint8_t s) { return Done(s) || (errorsEnd && HasErrors(s)); });
        if (status && !Done(*status)) return std::nullopt;
        return status;
    }

    // PCI configuration byte of the controller (ICH host configuration).
    uint8_t ReadConfig(uint8_t offset) {
        uint8_t v = 0;
        hal::ReadPciByte(PciAddress(), offset, &v);
        return v;
    }
    void WriteConfig(uint8_t offset, uint8_t value) { hal::WritePciByte(PciAddress(), offset, value); }

private:
    uint32_t PciAddress() const { return hal::PciAddress(h_.pciBus, h_.pciDevice, h_.pciFunction); }

    const SmbusHost& h_;
    Flavour flavour_;
};

constexpr uint8_t ReadAddress(uint8_t addressByte) { return uint8_t(addressByte | 1); }
constexpr uint8_t WriteAddress(uint8_t addressByte) { return uint8_t(addressByte & ~1); }

// ---------------------------------------------------------------- transactions

uint32_t Quick(DeviceContext& ctx, uint8_t addressByte, uint32_t direction) {
    Host host(ctx);
    if (host.flavour() == Flavour::Sch) return VEK_ERR_UNSUPPORTED;
    const SmbusHost& r = host.regs();
    host.Begin();
    host.Write(r.regAddress, direction == 1 ? ReadAddress(addressByte) : WriteAddress(addressByte));
    host.Write(r.regControl, r.protoQuick);
    // A NAK of the address is the answer to a quick command, so stop on it too.
    int32_t budget = kPollBudget;
    const auto status = host.Wait(budget, Host::Spend::PerPass,
                                  [&](uint8_t s) { return (s & kStsDeviceError) || host.Done(s); });
    if (!status || (*status & kStsDeviceError)) return VEK_ERR_WRITE;
    if (host.flavour() == Flavour::Ich && host.HasErrors(*status)) return VEK_ERR_WRITE;
    return VEK_OK;
}

uint32_t ByteDataRead(Host& host, uint8_t addressByte, uint8_t command, uint8_t* data) {
    const SmbusHost& r = host.regs();
    host.Begin();
    host.Write(r.regAddress, ReadAddress(addressByte));
    host.Write(r.regCommand, command);
    host.Write(r.regControl, r.protoByteData);
    const auto status = host.WaitDone();
    if (!status) return VEK_ERR_READ;
    if (host.flavour() != Flavour::Ich && host.HasErrors(*status)) return VEK_ERR_READ;
    *data = host.Read(r.regData0);
    return VEK_OK;
}

uint32_t ByteDataWrite(Host& host, uint8_t addressByte, uint8_t command, uint8_t data) {
    const SmbusHost& r = host.regs();
    host.Begin();
    host.Write(r.regAddress, addressByte);
    host.Write(r.regCommand, command);
    host.Write(r.regData0, data);
    host.Write(r.regControl, r.protoByteData);
    const auto status = host.WaitDone();
    if (!status) return VEK_ERR_WRITE;
    if (host.flavour() == Flavour::Fch && host.HasErrors(*status)) return VEK_ERR_WRITE;
    return VEK_OK;
}

uint32_t ByteData(DeviceContext& ctx, uint32_t read, uint8_t addressByte, uint8_t command, uint8_t* data) {
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    Host host(ctx);
    return read ? ByteDataRead(host, addressByte, command, data) : ByteDataWrite(host, addressByte, command, *data);
}

uint32_t WordData(DeviceContext& ctx, uint32_t read, uint8_t addressByte, uint8_t command, uint32_t* data) {
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    Host host(ctx);
    const SmbusHost& r = host.regs();
    host.Begin();
    if (read) {
        host.Write(r.regAddress, ReadAddress(addressByte));
        host.Write(r.regCommand, command);
        host.Write(r.regControl, r.protoWordData);
        const auto status = host.WaitDone();
        if (!status) return VEK_ERR_READ;
        if (host.flavour() == Flavour::Fch && host.HasErrors(*status)) return VEK_ERR_READ;
        const uint8_t low = host.Read(r.regData0);
        Host::Pause();
        const uint8_t high = host.Read(r.regData1);
        Host::Pause();
        *data = uint32_t(high) << 8 | low;
        return VEK_OK;
    }
    host.Write(r.regAddress, addressByte);
    host.Write(r.regCommand, command);
    host.Write(r.regData0, uint8_t(*data));
    host.Write(r.regData1, uint8_t(*data >> 8));
    host.Write(r.regControl, r.protoWordData);
    const auto status = host.WaitDone();
    if (!status) return VEK_ERR_WRITE;
    if (host.flavour() == Flavour::Fch && host.HasErrors(*status)) return VEK_ERR_WRITE;
    return VEK_OK;
}

uint32_t ProcessCall(DeviceContext& ctx, uint8_t addressByte, uint8_t command, uint16_t sent, uint32_t* received) {
    if (received == nullptr) return VEK_ERR_ARGUMENT;
    Host host(ctx);
    if (host.flavour() == Flavour::Fch) return VEK_ERR_UNSUPPORTED;
    const SmbusHost& r = host.regs();
    host.Begin();
    host.Write(r.regAddress, addressByte);
    host.Write(r.regCommand, command);
    host.Write(r.regData0, uint8_t(sent));
    host.Write(r.regData1, uint8_t(sent >> 8));
    host.Write(r.regControl, r.protoProcessCall);
    // No error bits are tested: a failed call never reports done and runs out
    // its budget.
    if (!host.WaitDone()) return VEK_ERR_READ;
    const uint8_t low = host.Read(r.regData0);
    const uint8_t high = host.Read(r.regData1);
    *received = uint32_t(high) << 8 | low;
    return VEK_OK;
}

uint32_t BlockRead(DeviceContext& ctx, uint8_t addressByte, uint8_t command, int32_t* count, uint8_t* data) {
    if (count == nullptr || data == nullptr) return VEK_ERR_ARGUMENT;
    Host host(ctx);
    const SmbusHost& r = host.regs();
    host.Begin();
    if (host.flavour() == Flavour::Ich) host.Write(r.regAuxControl, r.auxBlockMode);
    host.Write(r.regCommand, command);
    host.Write(r.regAddress, ReadAddress(addressByte));
    host.Write(r.regControl, r.protoBlock);
    const auto status = host.WaitDone();
    if (!status) return VEK_ERR_READ;
    if (host.flavour() != Flavour::Sch && host.HasErrors(*status)) return VEK_ERR_READ;
    const int32_t n = std::min<int32_t>(host.Read(r.regData0), kMaxBlock);
    *count = n;
    if (host.flavour() == Flavour::Sch) {
        for (int32_t i = 0; i < n; ++i) {
            data[i] = host.Read(uint8_t(r.regBlockData + i));
            Host::Pause();
        }
        return VEK_OK;
    }
    // Reading the control register rewinds the block buffer's index.
    if (host.flavour() == Flavour::Fch) host.Read(r.regControl);
    for (int32_t i = 0; i < n; ++i) {
        data[i] = host.Read(r.regBlockData);
        Host::Pause();
    }
    host.Write(r.regAuxControl, 0);
    return VEK_OK;
}

uint32_t BlockWrite(DeviceContext& ctx, uint8_t addressByte, uint8_t command, int32_t count, const uint8_t* data) {
    if (count < 0 || count > kMaxBlock) return VEK_ERR_ARGUMENT;
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    Host host(ctx);
    const SmbusHost& r = host.regs();
    host.Begin();
    if (host.flavour() == Flavour::Ich) host.Write(r.regAuxControl, r.auxBlockMode);
    host.Write(r.regCommand, command);
    host.Write(r.regAddress, addressByte);
    host.WriteNoPause(r.regData0, uint8_t(count));
    if (host.flavour() == Flavour::Sch) {
        for (int32_t i = 0; i < count; ++i) host.Write(uint8_t(r.regBlockData + i), data[i]);
        host.Write(r.regControl, r.protoBlock);
        const auto status = host.WaitDone();
        if (!status || host.HasErrors(*status)) return VEK_ERR_WRITE;
        return VEK_OK;
    }
    host.Read(r.regControl);
    for (int32_t i = 0; i < count; ++i) host.Write(r.regBlockData, data[i]);
    host.Write(r.regControl, r.protoBlock);
    const auto status = host.WaitDone();
    if (!status) return VEK_ERR_WRITE;
    host.Write(r.regAuxControl, 0);
    return host.HasErrors(*status) ? VEK_ERR_WRITE : VEK_OK;
}

uint32_t ReceiveByte(DeviceContext& ctx, uint8_t addressByte, uint8_t* value) {
    if (value == nullptr) return VEK_ERR_ARGUMENT;
    Host host(ctx);
    const SmbusHost& r = host.regs();
    host.Begin();
    host.Write(r.regAddress, ReadAddress(addressByte));
    host.Write(r.regCommand, 0);
    host.Write(r.regControl, r.protoByte);
    if (!host.WaitDone()) return VEK_ERR_READ;
    *value = host.Read(r.regData0);
    return VEK_OK;
}

uint32_t SendByte(DeviceContext& ctx, uint8_t addressByte, uint8_t value) {
    Host host(ctx);
    const SmbusHost& r = host.regs();
    host.Begin();
    host.Write(r.regAddress, addressByte);
    host.Write(r.regCommand, value);
    host.Write(r.regControl, r.protoByte);
    return host.WaitDone() ? VEK_OK : VEK_ERR_WRITE;
}

// A serial EEPROM with a two-byte word address, one byte per transaction:
// read = set the address with a byte-data write (offset high as the command,
// low as the data), then receive one byte; write = a word-data write carrying
// offset high, offset low and the data byte. The first byte gets a long
// budget: the part may still be finishing an earlier write cycle.
uint32_t Eeprom(DeviceContext& ctx, uint32_t mode, uint8_t addressByte, uint16_t offset, int32_t count,
                uint8_t* buffer) {
    Host host(ctx);
    if (host.flavour() == Flavour::Fch) return VEK_ERR_UNSUPPORTED;
    if (mode > 1 || count <= 0) return VEK_OK;
    if (buffer == nullptr) return VEK_ERR_ARGUMENT;
    const SmbusHost& r = host.regs();
    // The same three transactions in the SCH map's own protocol values.
    const bool sch = host.flavour() == Flavour::Sch;
    const uint8_t setOffset = sch ? r.protoByteData : kCtlEepromSetOffset;
    const uint8_t readByte = sch ? r.protoByte : kCtlEepromReadByte;
    const uint8_t writeByte = sch ? r.protoWordData : kCtlEepromWriteByte;
    int32_t budget = kEepromFirstByteBudget;
    if (mode == 1) host.Write(r.regAddress, addressByte);
    for (int32_t i = 0; i < count; ++i, ++offset) {
        host.Begin();
        if (mode == 0) {
            host.Write(r.regAddress, addressByte);
            host.Write(r.regCommand, uint8_t(offset >> 8));
            host.Write(r.regData0, uint8_t(offset));
            host.Write(r.regControl, setOffset);
            if (!host.WaitDone(budget)) return VEK_ERR_READ;
            host.ResetHost();
            host.Write(r.regAddress, ReadAddress(addressByte));
            host.Write(r.regControl, readByte);
            if (!host.WaitDone(budget)) return VEK_ERR_READ;
            buffer[i] = host.Read(r.regData0);
        } else {
            host.Write(r.regCommand, uint8_t(offset >> 8));
            host.Write(r.regData0, uint8_t(offset));
            host.Write(r.regData1, buffer[i]);
            host.Write(r.regControl, writeByte);
            if (!host.WaitDone(budget)) return VEK_ERR_READ;
        }
        budget = kPollBudget;
    }
    return VEK_OK;
}

// I2C block read with the byte-done handshake: the controller stops after each
// byte until the host acknowledges it by writing the byte-done bit; the
// last-byte bit must be in place before the final byte is clocked, so it is
// set while acknowledging the one before it, without the start bit, which
// would abort the running read and begin a new one. A count of 0 would start
// a read that no byte ever finishes, so it is refused before any access.
uint32_t I2cBlockRead(DeviceContext& ctx, uint8_t addressByte, uint8_t command, uint8_t count, uint8_t* data) {
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    Host host(ctx);
    if (host.flavour() != Flavour::Ich) return VEK_ERR_UNSUPPORTED;
    if (count == 0) return VEK_ERR_ARGUMENT;
    const SmbusHost& r = host.regs();
    host.Begin();
    host.Write(r.regAddress, ReadAddress(addressByte));
    host.Write(r.regData1, command); // this mode sends the command from data 1
    const int n = std::min<int>(count, kMaxBlock);
    host.Write(r.regControl, n == 1 ? uint8_t(r.protoI2cRead | kCtlLastByte) : r.protoI2cRead);
    constexpr uint8_t kByteEvent = kStsByteDone | kStsErrors;
    for (int i = 0; i < n; ++i) {
        // The NAKed last byte ends the command: Intel's controllers raise
        // byte-done for it and then complete; others (QEMU's) raise complete
        // alone with the byte in the block data register. Either ends its wait.
        const uint8_t event = i == n - 1 ? uint8_t(kByteEvent | kStsInterrupt) : kByteEvent;
        int32_t budget = kPollBudget;
        const auto status = host.Wait(budget, Host::Spend::PerPass, [=](uint8_t s) { return (s & event) != 0; });
        if (!status || host.HasErrors(*status)) return VEK_ERR_READ;
        data[i] = host.Read(r.regBlockData);
        if (i == n - 2) host.Write(r.regControl, uint8_t((r.protoI2cRead & ~kCtlStart) | kCtlLastByte));
        host.WriteNoPause(r.regStatus, kStsByteDone);
    }
    int32_t budget = kPollBudget;
    const auto status =
        host.Wait(budget, Host::Spend::PerPass, [](uint8_t s) { return (s & (kStsInterrupt | kStsErrors)) != 0; });
    if (status && host.HasErrors(*status)) return VEK_ERR_READ;
    host.Write(r.regStatus, kStsInterrupt);
    return VEK_OK;
}

// Switches the controller's block protocol to I2C framing (no count byte) for
// as long as it lives, on every path out of the write.
class I2cEnable {
public:
    explicit I2cEnable(Host& host) : host_(host) {
        host_.WriteConfig(kCfgHostConfig, uint8_t(host_.ReadConfig(kCfgHostConfig) | kHostConfigI2cEnable));
    }
    ~I2cEnable() {
        host_.WriteConfig(kCfgHostConfig, uint8_t(host_.ReadConfig(kCfgHostConfig) & ~kHostConfigI2cEnable));
    }
    I2cEnable(const I2cEnable&) = delete;
    I2cEnable& operator=(const I2cEnable&) = delete;

private:
    Host& host_;
};

uint32_t I2cBlockWrite(DeviceContext& ctx, uint8_t addressByte, uint8_t command, uint8_t count, const uint8_t* data) {
    Host host(ctx);
    if (host.flavour() != Flavour::Ich) return VEK_ERR_UNSUPPORTED;
    // Nothing to send would leave the host waiting for a byte-done that never comes.
    if (count == 0 || count > kMaxBlock) return VEK_ERR_ARGUMENT;
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    const SmbusHost& r = host.regs();
    host.Begin();
    uint32_t result = VEK_OK;
    {
        I2cEnable i2c(host);
        host.Write(r.regCommand, command);
        host.Write(r.regAddress, WriteAddress(addressByte));
        host.WriteNoPause(r.regData0, count);
        host.WriteNoPause(r.regBlockData, data[0]);
        host.WriteNoPause(r.regControl, r.protoBlock);
        constexpr uint8_t kByteEvent = kStsByteDone | kStsErrors;
        for (int i = 1; i <= count; ++i) {
            int32_t budget = kPollBudget;
            const auto status =
                host.Wait(budget, Host::Spend::PerPass, [](uint8_t s) { return (s & kByteEvent) != 0; });
            if (!status || host.HasErrors(*status)) {
                result = VEK_ERR_WRITE;
                break;
            }
            if (i < count) host.Write(r.regBlockData, data[i]);
            host.Write(r.regStatus, kStsByteDone);
        }
        if (result == VEK_OK) {
            int32_t budget = kPollBudget;
            const auto status = host.Wait(budget, Host::Spend::PerPass,
                                          [](uint8_t s) { return (s & (kStsInterrupt | kStsErrors)) != 0; });
            if (status && host.HasErrors(*status)) result = VEK_ERR_WRITE;
        }
        host.Write(r.regStatus, kStsInterrupt);
    }
    return result;
}

} // namespace

// Each transaction goes to the kernel's driver when it owns the controller,
// else to the registers.
const SmbusOps& Ops() {
    static const SmbusOps ops{
        .quick = [](DeviceContext& c, uint8_t a, uint32_t d) {
            const SmbusOps* k = KernelOps(c);
            return k ? k->quick(c, a, d) : Quick(c, a, d);
        },
        .byteData = [](DeviceContext& c, uint32_t rd, uint8_t a, uint8_t cmd, uint8_t* v) {
            const SmbusOps* k = KernelOps(c);
            return k ? k->byteData(c, rd, a, cmd, v) : ByteData(c, rd, a, cmd, v);
        },
        .wordData = [](DeviceContext& c, uint32_t rd, uint8_t a, uint8_t cmd, uint32_t* v) {
            const SmbusOps* k = KernelOps(c);
            return k ? k->wordData(c, rd, a, cmd, v) : WordData(c, rd, a, cmd, v);
        },
        .processCall = [](DeviceContext& c, uint8_t a, uint8_t cmd, uint16_t sent, uint32_t* got) {
            const SmbusOps* k = KernelOps(c);
            return k ? k->processCall(c, a, cmd, sent, got) : ProcessCall(c, a, cmd, sent, got);
        },
        .blockRead = [](DeviceContext& c, uint8_t a, uint8_t cmd, int32_t* n, uint8_t* d) {
            const SmbusOps* k = KernelOps(c);
            return k ? k->blockRead(c, a, cmd, n, d) : BlockRead(c, a, cmd, n, d);
        },
        .blockWrite = [](DeviceContext& c, uint8_t a, uint8_t cmd, int32_t n, const uint8_t* d) {
            const SmbusOps* k = KernelOps(c);
            return k ? k->blockWrite(c, a, cmd, n, d) : BlockWrite(c, a, cmd, n, d);
        },
        .i2cBlockRead = [](DeviceContext& c, uint8_t a, uint8_t cmd, uint8_t n, uint8_t* d) {
            const SmbusOps* k = KernelOps(c);
            return k ? k->i2cBlockRead(c, a, cmd, n, d) : I2cBlockRead(c, a, cmd, n, d);
        },
        .i2cBlockWrite = [](DeviceContext& c, uint8_t a, uint8_t cmd, uint8_t n, const uint8_t* d) {
            const SmbusOps* k = KernelOps(c);
            return k ? k->i2cBlockWrite(c, a, cmd, n, d) : I2cBlockWrite(c, a, cmd, n, d);
        },
        .sendByte = [](DeviceContext& c, uint8_t a, uint8_t v) {
            const SmbusOps* k = KernelOps(c);
            return k ? k->sendByte(c, a, v) : SendByte(c, a, v);
        },
        .receiveByte = [](DeviceContext& c, uint8_t a, uint8_t* v) {
            const SmbusOps* k = KernelOps(c);
            return k ? k->receiveByte(c, a, v) : ReceiveByte(c, a, v);
        },
        .eeprom = [](DeviceContext& c, uint32_t mode, uint8_t a, uint16_t off, int32_t n, uint8_t* b) {
            const SmbusOps* k = KernelOps(c);
            return k ? k->eeprom(c, mode, a, off, n, b) : Eeprom(c, mode, a, off, n, b);
        },
    };
    return ops;
}

} // namespace vek::smbus
