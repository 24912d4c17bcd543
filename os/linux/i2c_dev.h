// Platform I2C controllers on Linux, through the kernel's i2c-dev interface.
//
// Adapters are listed in /sys/bus/i2c/devices (/sys/class/i2c-adapter only
// when the former is missing). Adapter names are alike across controllers and
// bus numbers change between boots, so a controller's friendly name ("I2C0",
// "I2C1") picks its adapter by firmware identity, first match by bus number:
//   1. an override: VEK_I2C_MAP="I2C0=<adapter>;I2C1=<adapter>" in the
//      environment (ignored when the process runs with raised privileges),
//      else a line "I2C0 = <adapter>" in /etc/vek/i2c.conf, where <adapter> is
//      a bus number ("3" or "i2c-3"), an ACPI path ("\_SB_.PCI0.I2C0"), a PCI
//      address of the controller ("0000:00:15.0" or "00:15.0") or an adapter's
//      exact name;
//   2. the adapter whose name is the friendly name;
//   3. the adapter whose ACPI node (of the adapter, or of the controller
//      devices above it) ends in that name, as "\_SB_.PCI0.I2C0" does on
//      Intel LPSS and DesignWare controllers;
//   4. AMD controllers (AMDI0010 and relatives) named by letter: I2C0 is the
//      node ending in I2CA, I2C1 the one ending in I2CB.
#pragma once

#include <cstdint>
#include <string>

namespace vek::os {

// Where adapters are listed and where their /dev nodes are; tests use a fake
// tree. An empty listing restores the default.
void SetI2cRoots(const std::string& adapters, const std::string& devices);
void SetI2cConfigFile(const std::string& path);

// The ioctl every i2c-dev request goes through; a fake answers in tests
// (a file standing in for the device node takes no ioctls). Null restores ioctl(2).
using I2cIoctl = int (*)(int fd, unsigned long request, void* arg);
void SetI2cIoctl(I2cIoctl fn);

// Bus number of the controller (0 "I2C0", 1 "I2C1"), or -1.
int ResolveI2cController(uint32_t controller);

// The host seam's entries. Open: 0 and *handle, or 6 when the controller or the
// slave cannot be opened (no adapter, no node, address held by a kernel driver).
uint32_t I2cOpen(uint32_t controller, uint8_t address7, void** handle);
// Write, read, or write then read as one combined transaction (repeated start).
// 0 full, 1 partial, 2 not acknowledged, 3 clock-stretch time-out, 4 other
// failure, 0xFFFFFFFF nothing to send or no handle.
uint32_t I2cTransfer(void* handle, const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                     uint32_t* transferred);
void I2cClose(void* handle);

} // namespace vek::os
