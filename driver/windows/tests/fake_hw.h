// A fake of the kernel services the driver's request handling calls (hw.h):
// a port space, MSRs, PCI configuration space, device-memory regions and the
// memory manager's RAM ranges, with counters for mappings and range lists.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

extern "C" {
#include "hw.h"
#include "zelkoran.h"
}

namespace zk::test {

struct FakeKernel {
    std::map<uint32_t, uint8_t> ports;
    bool portsTrap = false; // the host refuses in/out
    std::map<uint32_t, uint64_t> msrs; // absent: the processor faults
    std::map<uint32_t, std::array<uint8_t, 256>> pci; // by bus<<8|dev<<3|fn
    struct Region {
        uint64_t base;
        std::vector<uint8_t> bytes;
    };
    std::vector<Region> memory;
    std::optional<std::vector<zk_phys_range>> ram = std::vector<zk_phys_range>{};
    bool mapFails = false;
    std::vector<uint8_t> fadt; // the firmware's FACP table; empty: none to be had

    // A fixed ACPI description table as desktop firmware writes it: the
    // power-management block at 0x1800 (PM1 event 0x1800, control 0x1804, timer
    // 0x1808, GPE0 0x1820, 32 bytes), SMI command 0xB2, reset register 0xCF9.
    static std::vector<uint8_t> TypicalFadt(uint32_t pmBase = 0x1800);

    int maps = 0, unmaps = 0, rangeLists = 0, rangeFrees = 0;
    int portIns = 0, portOuts = 0, pciWrites = 0;

    std::array<uint8_t, 256>& Function(uint32_t bus, uint32_t dev, uint32_t fn) {
        auto& f = pci[(bus << 8) | (dev << 3) | fn];
        return f;
    }
    uint8_t* MemoryAt(uint64_t address, uint64_t size);
};

// The instance hw.h's functions work on; each test sets up its own.
FakeKernel& Kernel();
void ResetKernel();

} // namespace zk::test
