// Embedded-controller RAM through the kernel's EC driver, for boards where
// the ACPI EC driver owns the command ports 0x62/0x66. Two interfaces carry
// single bytes at an offset: /dev/ec (the acpi_ec module) and ec_sys's
// debugfs file (writes need `modprobe ec_sys write_support=1`). The kernel
// runs each byte as one RD_EC/WR_EC transaction under its own EC lock, so the
// firmware's queries never interleave with ours.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vek::os {

// The files tried in order; tests point them at a fake tree. Empty restores
// /dev/ec, then /sys/kernel/debug/ec/ec0/io.
void SetKernelEcFiles(const std::vector<std::string>& files);

// 0 done; 1 no interface (module not loaded, not root), 2 the transfer failed
// (writes refused by a read-only ec_sys, or the EC did not answer).
uint32_t KernelEcRead(uint8_t offset, uint8_t* value);
uint32_t KernelEcWrite(uint8_t offset, uint8_t value);

} // namespace vek::os
