// Hardware primitives. Every port, PCI-configuration, physical-memory and MSR
// access is one I/O driver request, encoded here into the driver's byte layout
// and handed to the attached platform (host seam). Primitives never pause;
// backends pace their chip protocols with Delay().
#pragma once

#include <cstdint>

#include "vek/host.h"

namespace vek::hal {

// The platform every request goes to: the attached one, else the native OS layer.
const vek_host_platform& Platform();

// --- I/O driver lifetime (called by init/teardown under the API lock) ---
// Driver status: 0 ready, 1..5 failure codes.
uint32_t DriverStatus();
// Runs the start sequence once per process (until DriverStop); true when ready.
// A device this process holds that no longer answers is released and the
// sequence runs again.
bool DriverStart();
// Re-validates the device this process holds: status 3 while it does not
// answer its version request, 0 again once it does.
uint32_t DriverCheck();
// Releases the device this process started or opened, answering or not (the
// platform removes the service when this process is the last user).
void DriverStop();
// Forget everything (used when a different platform is attached).
void DriverReset();
uint32_t DriverVersion();     // 0 when the request fails
uint32_t DriverHandleCount(); // 0 when the request fails
bool ProcessElevated();

// --- ports ---
bool ReadPortByte(uint16_t port, uint8_t* value);
bool ReadPortWord(uint16_t port, uint16_t* value);
bool ReadPortDword(uint16_t port, uint32_t* value);
bool WritePortByte(uint16_t port, uint8_t value);
bool WritePortWord(uint16_t port, uint16_t value);
bool WritePortDword(uint16_t port, uint32_t value);
// Names a Super I/O range above 0xFF to the driver before it is used (the
// driver refuses ports nobody vouched for). The answer is not needed: a
// platform without the rule fails it and serves the ports anyway.
void GrantPorts(uint16_t first, uint16_t count);

// --- PCI configuration space ---
constexpr uint32_t PciAddress(uint32_t bus, uint32_t device, uint32_t function) {
    return (bus << 8) | ((device & 0x1F) << 3) | (function & 7);
}
// size 1, 2 or 4; a misaligned offset or a null buffer fails before any request.
bool ReadPci(uint32_t pciAddress, uint32_t offset, uint8_t* buffer, uint32_t size,
             uint32_t* lastError = nullptr);
bool ReadPciByte(uint32_t pciAddress, uint32_t offset, uint8_t* value);
bool ReadPciWord(uint32_t pciAddress, uint32_t offset, uint16_t* value);
bool ReadPciDword(uint32_t pciAddress, uint32_t offset, uint32_t* value);
bool WritePci(uint32_t pciAddress, uint32_t offset, uint32_t value, uint32_t size);
bool WritePciByte(uint32_t pciAddress, uint32_t offset, uint8_t value);
bool WritePciWord(uint32_t pciAddress, uint32_t offset, uint16_t value);
bool WritePciDword(uint32_t pciAddress, uint32_t offset, uint32_t value);

// --- physical memory: base + 16-bit offset; returns bytes moved (count * unit) or 0 ---
uint32_t ReadPhysical(uint32_t base, uint16_t offset, uint8_t* buffer, uint32_t count, uint32_t unitSize);
uint32_t WritePhysical(uint32_t base, uint16_t offset, const uint8_t* data, uint32_t count,
                       uint32_t unitSize);

// --- processor ---
// Fails on null outputs or a processor without MSRs.
bool ReadMsr(uint32_t index, uint32_t* low, uint32_t* high);
void Cpuid(uint32_t leaf, uint32_t regs[4]);

// --- time ---
// Wait at least this long (0 or less returns at once). A platform with delay_us
// waits itself (the native ones sleep the bulk and spin the rest); otherwise the
// wait spins on the performance counter until now + f*us/1e6.
void Delay(int64_t microseconds);
// The counter value that wait ends at; saturates instead of overflowing.
int64_t CounterTarget(int64_t now, int64_t frequency, int64_t microseconds);

// --- ZKEC channel ---
bool ZkecOpen();          // prints the two failure lines on stdout when the device is missing
void ZkecClose();
bool ZkecIsOpen();
uint32_t ZkecBegin();     // 0, or 3
uint32_t ZkecEnd();       // 0, or 3
uint32_t ZkecReadRegister(uint8_t reg, uint8_t* value); // 0, or 8

} // namespace vek::hal
