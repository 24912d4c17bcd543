// The chipset SMBus controller through its kernel driver (i2c-i801,
// i2c-piix4, i2c-isch) and i2c-dev, for when the driver owns the controller:
// its transfers then hold the adapter's lock, so nothing interleaves with the
// kernel's own clients (SPD readers, sensors).
//
// The adapter is found by the controller's PCI function or I/O base, never by
// bus number. Slave addresses a kernel client has bound answer EBUSY to
// I2C_SLAVE: writes to them are refused, reads too unless
// VEK_SMBUS_SHARED_READS=1 (read with secure_getenv) lets them through.
#pragma once

#include <cstdint>

#include "os/linux/ownership.h"
#include "vek/host.h"

namespace vek::os {

// The ioctl every request goes through; tests put a fake here (a plain file
// stands in for /dev/i2c-N). Null restores ioctl(2).
using SmbusIoctl = int (*)(int fd, unsigned long request, void* arg);
void SetSmbusIoctl(SmbusIoctl fn);

// 0 and *handle, else 1 (no adapter for the controller) or 2 (node missing or not
// openable, i2c-dev could not be loaded).
uint32_t SmbusDevOpen(const OwnershipProbe& probe, uint32_t pciAddress, uint16_t ioBase, void** handle);
// VEK_HOST_SMBUS_* status; the transfer's data fields are filled on reads.
uint32_t SmbusDevTransfer(void* handle, uint8_t address7, vek_host_smbus_transfer* t);
void SmbusDevClose(void* handle);

} // namespace vek::os
