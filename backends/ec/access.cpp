// Port-level paths to the embedded controller. All run with ApiLock held; the
// multi-byte sequences must never interleave.
#include <initializer_list>

#include "platform/process.h"
#include "backends/ec/ec.h"
#include "hal/hal.h"

namespace vek::ec {

namespace {

// Internal registers of the EC memory bridge behind index/data 0x2E/0x2F.
constexpr uint8_t BRIDGE_INDEX = 0x2E;
constexpr uint8_t BRIDGE_DATA = 0x2F;
constexpr uint8_t BRIDGE_ADDRESS_LOW = 0x10;
constexpr uint8_t BRIDGE_ADDRESS_HIGH = 0x11;
constexpr uint8_t BRIDGE_MEMORY_DATA = 0x12;

uint8_t InByte(uint16_t port) {
    uint8_t v = 0xFF; // a failed request reads as a floating bus
    hal::ReadPortByte(port, &v);
    return v;
}

void OutByte(uint16_t port, uint8_t value) { hal::WritePortByte(port, value); }

// The one status poll: 200 µs before every read, 5000 reads at most (about a
// second). The read that exhausts the budget is not examined.
bool WaitStatus(uint16_t statusPort, uint8_t bit, bool wantSet) {
    for (int count = 1;; ++count) {
        hal::Delay(EC_POLL_INTERVAL_US);
        const uint8_t status = InByte(statusPort);
        if (count >= EC_POLL_RETRIES) return false;
        if (((status & bit) != 0) == wantSet) return true;
    }
}

void IoPause() { hal::Delay(*IoDelayOf(KIND_EC)); }

// Sends the three-register address of the bridge, high byte first.
void SelectMemory(uint16_t address) {
    IndexWrite(BRIDGE_INDEX, BRIDGE_ADDRESS_HIGH);
    IndexWrite(BRIDGE_DATA, uint8_t(address >> 8));
    IndexWrite(BRIDGE_INDEX, BRIDGE_ADDRESS_LOW);
    IndexWrite(BRIDGE_DATA, uint8_t(address));
    IndexWrite(BRIDGE_INDEX, BRIDGE_MEMORY_DATA);
}

} // namespace

bool WaitInputFree(uint16_t statusPort) { return WaitStatus(statusPort, EC_STATUS_IBF, false); }
bool WaitOutputFull(uint16_t statusPort) { return WaitStatus(statusPort, EC_STATUS_OBF, true); }

// ---- register window ----

uint8_t WindowRead(uint8_t reg) { return InByte(uint16_t(EC_WINDOW_BASE + reg)); }
void WindowWrite(uint8_t reg, uint8_t value) { OutByte(uint16_t(EC_WINDOW_BASE + reg), value); }

// ---- ACPI-style command interface ----
// A wait that gives up does not stop the sequence: the EC either catches up or
// the caller gets whatever the data port floats at.

// Beside the kernel's EC driver only RAM bytes pass, through the kernel;
// other commands are never sent.
void AcpiEcCommand(uint8_t command) {
    if (CurrentEcPortRoute() != EcPortRoute::Ports) return;
    WaitInputFree(EC_COMMAND_PORT);
    OutByte(EC_COMMAND_PORT, command);
}

void AcpiEcWrite(uint8_t reg, uint8_t value) {
    if (CurrentEcPortRoute() != EcPortRoute::Ports) return KernelEcWrite(reg, value);
    AcpiEcCommand(EC_CMD_WRITE);
    WaitInputFree(EC_COMMAND_PORT);
    OutByte(EC_DATA_PORT, reg);
    WaitInputFree(EC_COMMAND_PORT);
    OutByte(EC_DATA_PORT, value);
}

uint8_t AcpiEcRead(uint8_t reg) {
    if (CurrentEcPortRoute() != EcPortRoute::Ports) return KernelEcRead(reg);
    AcpiEcCommand(EC_CMD_READ);
    WaitInputFree(EC_COMMAND_PORT);
    OutByte(EC_DATA_PORT, reg);
    WaitOutputFull(EC_COMMAND_PORT);
    return InByte(EC_DATA_PORT);
}

void SelectEcBank(uint8_t bank) { AcpiEcWrite(EC_BANK_REGISTER, bank); }

// ---- indirect path ----

void IndexWrite(uint8_t index, uint8_t value) {
    OutByte(EC_INDEX_PORT, index);
    IoPause();
    OutByte(EC_INDEX_DATA_PORT, value);
    IoPause();
}

uint8_t IndexRead(uint8_t index) {
    OutByte(EC_INDEX_PORT, index);
    IoPause();
    const uint8_t v = InByte(EC_INDEX_DATA_PORT);
    IoPause();
    return v;
}

void EcMemoryWrite(uint16_t address, uint8_t value) {
    SelectMemory(address);
    IndexWrite(BRIDGE_DATA, value);
}

uint8_t EcMemoryRead(uint16_t address) {
    SelectMemory(address);
    return IndexRead(BRIDGE_DATA);
}

// ---- auxiliary channel ----

uint32_t AuxCommand(uint8_t command, uint16_t data) {
    bool ok = WaitInputFree(EC_AUX_COMMAND_PORT);
    OutByte(EC_AUX_COMMAND_PORT, command);
    ok = WaitInputFree(EC_AUX_COMMAND_PORT) && ok;
    OutByte(EC_AUX_DATA_PORT, uint8_t(data));
    ok = WaitInputFree(EC_AUX_COMMAND_PORT) && ok;
    OutByte(EC_AUX_DATA_PORT, uint8_t(data >> 8));
    return ok ? 0u : 9u;
}

uint8_t AuxQuery(uint8_t command, uint8_t p1, uint8_t p2) {
    WaitInputFree(EC_AUX_COMMAND_PORT);
    OutByte(EC_AUX_COMMAND_PORT, command);
    for (uint8_t b : {p1, p2, uint8_t(0)}) {
        WaitInputFree(EC_AUX_COMMAND_PORT);
        OutByte(EC_AUX_DATA_PORT, b);
    }
    WaitOutputFull(EC_AUX_COMMAND_PORT);
    return InByte(EC_AUX_DATA_PORT);
}

// ---- I2C mailbox ----

void MailboxWrite(uint8_t index, uint8_t value) {
    OutByte(EC_MAILBOX_INDEX_PORT, index);
    OutByte(EC_MAILBOX_DATA_PORT, value);
}

uint8_t MailboxRead(uint8_t index) {
    OutByte(EC_MAILBOX_INDEX_PORT, index);
    return InByte(EC_MAILBOX_DATA_PORT);
}

// ---- register-access pairs for the area's operation slots ----

void WindowWriteSlot(uint32_t reg, uint32_t value) { WindowWrite(uint8_t(reg), uint8_t(value)); }
uint8_t WindowReadSlot(uint32_t reg) { return WindowRead(uint8_t(reg)); }
void AcpiWriteSlot(uint32_t reg, uint32_t value) { AcpiEcWrite(uint8_t(reg), uint8_t(value)); }
uint8_t AcpiReadSlot(uint32_t reg) { return AcpiEcRead(uint8_t(reg)); }

} // namespace vek::ec
