// The EC's I2C master as the host sees it: a mailbox of registers at index
// port 0x200 / data port 0x201, and transaction commands 0xA0..0xA9 taken on
// the EC command port. Slaves attach by 7-bit address and see plain I2C
// transfers (address bytes first), so an 8-bit-address EEPROM addressed with
// two bytes misbehaves as the real part would.
//
// Also the PMBus power supplies the EC polls: it mirrors their model name and
// raw readings into its register file, one column of registers per supply.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/devices.h"
#include "sim/i2c_bus.h"
#include "sim/machine.h"

namespace vek::sim {

class EcModel;

class EcMailbox : public Device, public PortDevice, public I2cSlaves {
public:
    static constexpr uint16_t kIndexPort = 0x200;
    static constexpr uint16_t kDataPort = 0x201;
    static constexpr uint8_t kData = 0x10;
    static constexpr uint8_t kStatus = 0x30;
    static constexpr uint8_t kAddress = 0x32;
    static constexpr uint8_t kCount = 0x37;
    static constexpr uint8_t kRegHigh = 0x38;
    static constexpr uint8_t kRegLow = 0x3A;
    static constexpr uint8_t kSpeed = 0x3F;
    static constexpr uint8_t kDone = 0x02;
    static constexpr uint8_t kNak = 0x04;     // the slave did not acknowledge
    static constexpr uint8_t kBadCount = 0x08; // block count of 0 or above 32

    // One transaction as the master ran it.
    struct Transaction {
        uint8_t command;
        uint8_t address;       // 8-bit form as written
        uint16_t reg;
        std::vector<uint8_t> written; // bytes sent after the address bytes
        std::vector<uint8_t> read;
        uint8_t status;
        int64_t startNs;
    };

    static constexpr size_t kDefaultLogLimit = 4096;

    EcMailbox(Machine& machine, EcModel& ec);
    ~EcMailbox() override;
    const char* name() const override { return "EC I2C mailbox"; }

    uint32_t ReadPort(uint16_t port, unsigned width) override;
    void WritePort(uint16_t port, unsigned width, uint32_t value) override;

    // Slaves attach by 7-bit address (I2cSlaves::Attach).

    // ---- faults ----
    // The next transactions end with this status instead of running (0 = off).
    void FailWith(uint8_t status, int transactions = 1) { failStatus_ = status; failCount_ = transactions; }
    // The EC firmware stops serving the mailbox: status stays 0.
    void SetStalled(bool stalled) { stalled_ = stalled; }

    // ---- inspection ----
    // The newest transactions, at most the log limit; older ones are counted.
    const std::vector<Transaction>& transactions() const { return log_; }
    void SetLogLimit(size_t transactions) { logLimit_ = transactions; }
    size_t log_dropped() const { return logDropped_; }
    uint8_t reg(uint8_t index) const { return regs_[index]; }
    void set_reg(uint8_t index, uint8_t value) { regs_[index] = value; }
    uint8_t speed() const { return regs_[kSpeed]; }
    // Time one transaction keeps the master busy.
    void SetTransferTime(int64_t ns) { transferNs_ = ns; }

private:
    void Start(uint8_t command);
    void Finish();
    uint8_t Execute(Transaction& t);

    Machine& machine_;
    std::array<uint8_t, 256> regs_{};
    uint8_t index_ = 0;
    std::vector<Transaction> log_;
    size_t logLimit_ = kDefaultLogLimit;
    size_t logDropped_ = 0;
    bool pending_ = false;
    uint8_t pendingStatus_ = 0;
    int64_t doneAtNs_ = 0;
    int64_t transferNs_ = 300'000;
    uint8_t failStatus_ = 0;
    int failCount_ = 0;
    bool stalled_ = false;
};

// ---- PMBus power supplies mirrored in EC RAM ----

// Two register columns of readings (see the supply table of the EC firmware).
enum class PsuItem : uint8_t {
    InputVoltage = 0,
    OutputVoltage = 1,
    Status = 2,
    InputCurrent = 3,
    FanStatus = 4,
    StatusWord = 5,
    OutputCurrent = 6,
    OutputPower = 7,
    InputPower = 8,
    Capability = 9,
    Temperature1 = 10,
    Temperature2 = 11,
    FanSpeed = 12,
    Revision = 13,
    FirmwareId = 15,
};

class PowerSupplies : public Device {
public:
    static constexpr uint8_t kName = 0xF0; // 12 bytes
    static constexpr const char* kFirstModel = "YSED0300A-12";
    static constexpr const char* kSecondModel = "FSP300-50RFB";

    PowerSupplies(Machine& machine, EcModel& ec) : ec_(ec) { (void)machine; }
    const char* name() const override { return "PMBus supplies"; }

    // Writes the 12-byte model name, padded with NULs (empty: no supply seen).
    void SetModel(const std::string& name);
    void SetNameBytes(const std::array<uint8_t, 12>& bytes);
    // Raw bytes of one reading in one register column (low byte first).
    void SetRaw(int column, PsuItem item, std::span<const uint8_t> bytes);
    void SetLinear11(int column, PsuItem item, uint8_t lo, uint8_t hi);
    // The second model's output voltage: 16-bit mantissa, separate exponent register.
    void SetOutputLinear16(int column, uint16_t mantissa, int8_t exponent);
    // Fills both columns with plausible readings for the current model.
    void SeedReadings();

    static uint8_t Register(int column, PsuItem item);

private:
    EcModel& ec_;
};

// LINEAR11 bytes (lo, hi) closest to value with an unsigned mantissa.
std::array<uint8_t, 2> EncodeLinear11(double value);

} // namespace vek::sim
