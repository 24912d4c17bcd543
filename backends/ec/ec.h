// The embedded-controller backend (ChipKind 3 and 11, and the kind-100
// routines): its per-chip area, its flag bits and its port-level access paths.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "backends/ec/ec_area.h"
#include "platform/context.h"

namespace vek::ec {

// ---- ports and protocol constants ----
inline constexpr uint16_t EC_DATA_PORT = 0x62;
inline constexpr uint16_t EC_COMMAND_PORT = 0x66;    // write: command, read: status
inline constexpr uint8_t EC_STATUS_OBF = 0x01;       // a byte waits in the data port
inline constexpr uint8_t EC_STATUS_IBF = 0x02;       // the EC has not taken the last byte
inline constexpr uint8_t EC_CMD_READ = 0x80;         // RD_EC
inline constexpr uint8_t EC_CMD_WRITE = 0x81;        // WR_EC
inline constexpr uint16_t EC_WINDOW_BASE = 0xE300;   // EC RAM byte r at port 0xE300 + r
inline constexpr uint16_t EC_INDEX_PORT = 0x4E;      // indirect path; data port 0x4F
inline constexpr uint16_t EC_INDEX_DATA_PORT = 0x4F;
inline constexpr uint16_t EC_AUX_DATA_PORT = 0x25C;
inline constexpr uint16_t EC_AUX_COMMAND_PORT = 0x25D;
inline constexpr uint8_t EC_BANK_REGISTER = 0xFF;
inline constexpr uint16_t EC_MAILBOX_INDEX_PORT = 0x200;
inline constexpr uint16_t EC_MAILBOX_DATA_PORT = 0x201;
inline constexpr int EC_POLL_RETRIES = 5000;
inline constexpr int64_t EC_POLL_INTERVAL_US = 200;

// ---- EcFlags ----
inline constexpr uint32_t EC_GPIO_PER_PIN = 0x01;
inline constexpr uint32_t EC_INDIRECT = 0x02;
inline constexpr uint32_t EC_VOLTAGE0_EXTERNAL = 0x04;
inline constexpr uint32_t EC_ACPI_PORTS = 0x08;
inline constexpr uint32_t EC_NO_GPIO_DIRECTION = 0x10;

inline EcArea& Area(DeviceContext& ctx) { return AreaOf<EcArea>(ctx); }
inline const EcArea& Area(const DeviceContext& ctx) { return AreaOf<EcArea>(ctx); }

// ---- access paths (called with ApiLock held) ----
bool WaitInputFree(uint16_t statusPort);
bool WaitOutputFull(uint16_t statusPort);
uint8_t WindowRead(uint8_t reg);
void WindowWrite(uint8_t reg, uint8_t value);
uint8_t AcpiEcRead(uint8_t reg);
void AcpiEcWrite(uint8_t reg, uint8_t value);
void AcpiEcCommand(uint8_t command);
void SelectEcBank(uint8_t bank);
void IndexWrite(uint8_t index, uint8_t value);
uint8_t IndexRead(uint8_t index);
void EcMemoryWrite(uint16_t address, uint8_t value);
uint8_t EcMemoryRead(uint16_t address);
uint32_t AuxCommand(uint8_t command, uint16_t data);
uint8_t AuxQuery(uint8_t command, uint8_t p1, uint8_t p2);
void MailboxWrite(uint8_t index, uint8_t value);
uint8_t MailboxRead(uint8_t index);

// The two register-access pairs an area's operation slots point at.
void WindowWriteSlot(uint32_t reg, uint32_t value);
uint8_t WindowReadSlot(uint32_t reg);
void AcpiWriteSlot(uint32_t reg, uint32_t value);
uint8_t AcpiReadSlot(uint32_t reg);

// Bank selection of the ACPI-style interface is shared chip state: select a
// bank for one sequence and return the EC to bank 0 afterwards.
class EcBankGuard {
public:
    explicit EcBankGuard(uint8_t bank) { SelectEcBank(bank); }
    ~EcBankGuard() { SelectEcBank(0); }
    EcBankGuard(const EcBankGuard&) = delete;
    EcBankGuard& operator=(const EcBankGuard&) = delete;
};

// The context's register pair.
inline uint8_t ReadEcRegister(const DeviceContext& ctx, Slot slot) { return Area(ctx).readRegister(slot & 0xFF); }
inline void WriteEcRegister(const DeviceContext& ctx, Slot slot, uint32_t value) {
    Area(ctx).writeRegister(slot & 0xFF, value);
}

// Configuration of a ChipKind 3/11 context (fills the area, gpioSets, caps).
void Configure(DeviceContext& ctx);

// Who carries the ACPI-style command interface (0x62/0x66): the ports, the
// kernel's EC driver (RAM bytes only), or nobody (a kernel driver owns the
// ports and offers no interface). Chosen at configuration; on a board that
// reaches its registers there, a refusal clears the EC families (10).
enum class EcPortRoute { Ports, Kernel, Refused };
EcPortRoute ChooseEcPortRoute(DeviceContext& ctx);
EcPortRoute CurrentEcPortRoute();
uint8_t KernelEcRead(uint8_t reg);
void KernelEcWrite(uint8_t reg, uint8_t value);

// Start routine of the kind-100 functions (wdtOwner 100): the watchdog on the
// auxiliary channel. 10 on a board without it.
uint32_t Kind100Start(DeviceContext& ctx);

} // namespace vek::ec
