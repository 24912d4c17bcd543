// The EC's I2C master. Parameters and data go into the mailbox, a command byte
// on the EC command port starts the transaction, and the mailbox status is
// polled until the EC reports it finished or failed.
#include "backends/ec/i2c_master.h"

#include "backends/ec/ec.h"
#include "backends/ec/ops.h"
#include "hal/hal.h"
#include "vek/vek.h"

namespace vek::ec {

namespace {

// How long the EC may take: a busy-wait before each status read, 10001 reads.
struct PollBudget {
    int64_t intervalUs;
    int polls;
};
constexpr int kMailboxPolls = 10001;
constexpr PollBudget kReadBudget{1000, kMailboxPolls};        // reads, quick, send/receive: ~10 s
constexpr PollBudget kByteWriteBudget{3000, kMailboxPolls};   // ~30 s
constexpr PollBudget kBlockWriteBudget{10000, kMailboxPolls}; // ~100 s

constexpr int64_t kSpeedSettleUs = 550000; // the master restarts at the new speed

constexpr uint8_t kSpeedSelectors[] = {1, 2, 3};

// Polls the mailbox status; true when the EC reports the transaction done.
// *status keeps the last byte read (an error code names what went wrong).
bool WaitMailbox(const PollBudget& budget, uint8_t* status) {
    for (int poll = 0; poll < budget.polls; ++poll) {
        hal::Delay(budget.intervalUs);
        *status = MailboxRead(MB_STATUS);
        if (*status == MB_STATUS_DONE) return true;
        if (*status & MB_STATUS_ERRORS) return false;
    }
    return false;
}

// Starts the transaction and waits for it; failure answers `error`.
uint32_t Run(MailboxCommand command, const PollBudget& budget, uint32_t error) {
    if (CurrentEcPortRoute() != EcPortRoute::Ports) return VEK_ERR_UNSUPPORTED; // no mailbox command beside the kernel
    AcpiEcCommand(command);
    uint8_t status = 0;
    return WaitMailbox(budget, &status) ? VEK_OK : error;
}

uint8_t Address(uint8_t address) { return uint8_t(address & 0xFE); }

void ClearBuffer(uint32_t length) {
    for (uint32_t k = 0; k < length; ++k) MailboxWrite(uint8_t(MB_DATA + k), 0);
}
void LoadBuffer(const uint8_t* in, uint32_t length) {
    for (uint32_t k = 0; k < length; ++k) MailboxWrite(uint8_t(MB_DATA + k), in[k]);
}
void CopyBuffer(uint8_t* out, uint32_t length) {
    for (uint32_t k = 0; k < length; ++k) out[k] = MailboxRead(uint8_t(MB_DATA + k));
}

// Transactions that carry nothing but the slave address.
uint32_t AddressOnly(MailboxCommand command, uint8_t address) {
    MailboxWrite(MB_STATUS, 0);
    MailboxWrite(MB_ADDRESS, Address(address));
    return Run(command, kReadBudget, VEK_ERR_READ);
}

} // namespace

uint32_t EcI2cRead(uint32_t addressing, uint32_t kind, uint8_t address, uint16_t reg, uint32_t length,
                   uint8_t* out) {
    if (CurrentEcPortRoute() != EcPortRoute::Ports) return VEK_ERR_UNSUPPORTED; // no mailbox command beside the kernel
    if (length > EC_I2C_MAX_BLOCK || out == nullptr) return VEK_ERR_ARGUMENT;
    if (addressing != I2C_REG8 && addressing != I2C_REG16) return VEK_ERR_ARGUMENT;
    MailboxWrite(MB_ADDRESS, Address(address));

    if (addressing == I2C_REG16) {
        if (kind != I2C_KIND_BLOCK) return VEK_ERR_ARGUMENT;
        MailboxWrite(MB_STATUS, 0);
        ClearBuffer(length);
        MailboxWrite(MB_COUNT, uint8_t(length));
        MailboxWrite(MB_REG_LOW, uint8_t(reg));
        MailboxWrite(MB_REG_HIGH, uint8_t(reg >> 8));
        AcpiEcCommand(MB_CMD_READ_BLOCK16);
        uint8_t status = 0;
        if (!WaitMailbox(kReadBudget, &status)) return VEK_ERR_READ;
        CopyBuffer(out, length);
        return VEK_OK;
    }

    if (kind == I2C_KIND_BYTE) {
        MailboxWrite(MB_STATUS, 0);
        MailboxWrite(MB_DATA, 0);
        MailboxWrite(MB_REG_LOW, uint8_t(reg));
        AcpiEcCommand(MB_CMD_READ_BYTE);
        uint8_t status = 0;
        if (!WaitMailbox(kReadBudget, &status)) return EC_I2C_BYTE_READ_ERROR | status;
        out[0] = MailboxRead(MB_DATA);
        return VEK_OK;
    }
    if (kind == I2C_KIND_WORD && length != 2) return VEK_ERR_ARGUMENT;
    if (kind != I2C_KIND_WORD && kind != I2C_KIND_BLOCK) return VEK_ERR_READ;
    MailboxWrite(MB_STATUS, 0);
    ClearBuffer(length);
    MailboxWrite(MB_COUNT, uint8_t(length));
    MailboxWrite(MB_REG_LOW, uint8_t(reg));
    AcpiEcCommand(MB_CMD_READ_BLOCK);
    uint8_t status = 0;
    if (!WaitMailbox(kReadBudget, &status)) return VEK_ERR_READ;
    CopyBuffer(out, length);
    return VEK_OK;
}

uint32_t EcI2cWrite(uint32_t addressing, uint32_t kind, uint8_t address, uint16_t reg, uint32_t length,
                    const uint8_t* in) {
    // The buffer has 32 bytes whatever the addressing.
    if (length > EC_I2C_MAX_BLOCK || in == nullptr) return VEK_ERR_ARGUMENT;
    if (addressing == I2C_REG16) {
        if (kind != I2C_KIND_BLOCK) return VEK_ERR_ARGUMENT;
        MailboxWrite(MB_STATUS, 0);
        MailboxWrite(MB_ADDRESS, Address(address));
        MailboxWrite(MB_COUNT, uint8_t(length));
        MailboxWrite(MB_REG_LOW, uint8_t(reg));
        MailboxWrite(MB_REG_HIGH, uint8_t(reg >> 8));
        LoadBuffer(in, length);
        return Run(MB_CMD_WRITE_BLOCK16, kBlockWriteBudget, VEK_ERR_WRITE);
    }
    if (addressing != I2C_REG8) return VEK_ERR_ARGUMENT;

    if (kind == I2C_KIND_BYTE) {
        MailboxWrite(MB_STATUS, 0);
        MailboxWrite(MB_ADDRESS, Address(address));
        MailboxWrite(MB_REG_LOW, uint8_t(reg));
        MailboxWrite(MB_DATA, in[0]);
        return Run(MB_CMD_WRITE_BYTE, kByteWriteBudget, VEK_ERR_WRITE);
    }
    if (kind == I2C_KIND_WORD && length != 2) return VEK_ERR_ARGUMENT;
    if (kind != I2C_KIND_WORD && kind != I2C_KIND_BLOCK) return VEK_ERR_WRITE;
    MailboxWrite(MB_STATUS, 0);
    MailboxWrite(MB_ADDRESS, Address(address));
    MailboxWrite(MB_COUNT, uint8_t(length));
    MailboxWrite(MB_REG_LOW, uint8_t(reg));
    LoadBuffer(in, length);
    return Run(MB_CMD_WRITE_BLOCK, kBlockWriteBudget, VEK_ERR_WRITE);
}

uint32_t EcI2cQuickRead(uint8_t address) { return AddressOnly(MB_CMD_QUICK_READ, address); }
uint32_t EcI2cQuickWrite(uint8_t address) { return AddressOnly(MB_CMD_QUICK_WRITE, address); }

uint32_t EcI2cReceiveByte(uint8_t address, uint8_t* out) {
    if (out == nullptr) return VEK_ERR_ARGUMENT;
    uint32_t result = AddressOnly(MB_CMD_RECEIVE_BYTE, address);
    if (result == VEK_OK) *out = MailboxRead(MB_DATA);
    return result;
}

uint32_t EcI2cSendByte(uint8_t address, uint8_t value) {
    MailboxWrite(MB_STATUS, 0);
    MailboxWrite(MB_ADDRESS, Address(address));
    MailboxWrite(MB_REG_LOW, value);
    return Run(MB_CMD_SEND_BYTE, kReadBudget, VEK_ERR_READ);
}

uint32_t EcI2cSetSpeed(int32_t selector) {
    if (selector < 0 || selector >= int32_t(sizeof kSpeedSelectors)) return VEK_ERR_ARGUMENT;
    MailboxWrite(MB_SPEED, kSpeedSelectors[selector]);
    hal::Delay(kSpeedSettleUs);
    return VEK_OK;
}

namespace {

// ---- the BackendOps entries (bus 1 and the EC_IIC family) ----

constexpr uint32_t kDirectionRead = 1;

uint32_t Quick(DeviceContext&, uint32_t, uint8_t address, uint32_t direction) {
    return direction == kDirectionRead ? EcI2cQuickRead(address) : EcI2cQuickWrite(address);
}
uint32_t WriteRegister(DeviceContext&, uint32_t, uint32_t kind, uint32_t, uint8_t address, uint32_t reg,
                       uint32_t length, uint8_t* buffer) {
    return EcI2cWrite(I2C_REG8, kind, address, uint16_t(reg), length, buffer);
}
uint32_t ReadRegister(DeviceContext&, uint32_t, uint32_t kind, uint32_t, uint8_t address, uint32_t reg,
                      uint32_t length, uint8_t* buffer) {
    return EcI2cRead(I2C_REG8, kind, address, uint16_t(reg), length, buffer);
}
uint32_t SendByte(DeviceContext&, uint32_t, uint8_t address, uint8_t value) { return EcI2cSendByte(address, value); }
uint32_t ReceiveByte(DeviceContext&, uint32_t, uint8_t address, uint8_t* value) {
    return EcI2cReceiveByte(address, value);
}
uint32_t SetFrequency(DeviceContext&, uint32_t, int32_t selector) { return EcI2cSetSpeed(selector); }
uint32_t WordAddrWrite(DeviceContext&, uint8_t address, uint32_t reg, uint8_t* data, uint32_t length) {
    return EcI2cWrite(I2C_REG16, I2C_KIND_BLOCK, address, uint16_t(reg), length, data);
}
uint32_t WordAddrRead(DeviceContext&, uint8_t address, uint32_t reg, uint8_t* data, uint32_t length) {
    return EcI2cRead(I2C_REG16, I2C_KIND_BLOCK, address, uint16_t(reg), length, data);
}

} // namespace

void FillI2cMasterOps(BackendOps& ops) {
    ops.i2cQuick = &Quick;
    ops.i2cWriteRegister = &WriteRegister;
    ops.i2cReadRegister = &ReadRegister;
    ops.i2cSendByte = &SendByte;
    ops.i2cReceiveByte = &ReceiveByte;
    ops.i2cSetFrequency = &SetFrequency;
    ops.i2cWordAddrWrite = &WordAddrWrite;
    ops.i2cWordAddrRead = &WordAddrRead;
}

} // namespace vek::ec
