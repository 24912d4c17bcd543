#include "fake_hw.h"

#include <cstring>
#include <memory>

namespace zk::test {
namespace {
std::unique_ptr<FakeKernel> g_kernel = std::make_unique<FakeKernel>();
}

FakeKernel& Kernel() { return *g_kernel; }
void ResetKernel() { g_kernel = std::make_unique<FakeKernel>(); }

uint8_t* FakeKernel::MemoryAt(uint64_t address, uint64_t size) {
    for (Region& r : memory)
        if (address >= r.base && address + size <= r.base + r.bytes.size()) return r.bytes.data() + (address - r.base);
    return nullptr;
}

namespace {
void Put(std::vector<uint8_t>& t, size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) t[at + i] = uint8_t(v >> (8 * i));
}
void PutGas(std::vector<uint8_t>& t, size_t at, uint64_t port, uint8_t bits) {
    t[at] = 1; // system I/O
    t[at + 1] = bits;
    Put(t, at + 4, port, 8);
}
} // namespace

std::vector<uint8_t> FakeKernel::TypicalFadt(uint32_t pmBase) {
    std::vector<uint8_t> t(276, 0);
    std::memcpy(t.data(), "FACP", 4);
    Put(t, 4, t.size(), 4);
    t[8] = 6; // revision
    Put(t, 48, 0xB2, 4);          // SMI command
    Put(t, 56, pmBase, 4);        // PM1a event
    Put(t, 64, pmBase + 4, 4);    // PM1a control
    Put(t, 76, pmBase + 8, 4);    // PM timer
    Put(t, 80, pmBase + 0x20, 4); // GPE0
    t[88] = 4, t[89] = 2, t[91] = 4, t[92] = 32;
    PutGas(t, 116, 0xCF9, 8);     // reset register
    PutGas(t, 148, pmBase, 32);
    PutGas(t, 172, pmBase + 4, 16);
    PutGas(t, 208, pmBase + 8, 32);
    PutGas(t, 220, pmBase + 0x20, 0);
    return t;
}

} // namespace zk::test

using zk::test::Kernel;

extern "C" {

int zk_hw_port_in(uint16_t port, uint32_t width, uint32_t* value) {
    auto& k = Kernel();
    if (k.portsTrap) return 0;
    ++k.portIns;
    uint32_t v = 0;
    for (uint32_t i = 0; i < width; ++i) {
        auto it = k.ports.find(port + i);
        v |= uint32_t(it == k.ports.end() ? 0xFF : it->second) << (8 * i);
    }
    *value = v;
    return 1;
}

int zk_hw_port_out(uint16_t port, uint32_t width, uint32_t value) {
    auto& k = Kernel();
    if (k.portsTrap) return 0;
    ++k.portOuts;
    for (uint32_t i = 0; i < width; ++i) k.ports[port + i] = uint8_t(value >> (8 * i));
    return 1;
}

int zk_hw_msr_read(uint32_t index, uint64_t* value) {
    auto it = Kernel().msrs.find(index);
    if (it == Kernel().msrs.end()) return 0;
    *value = it->second;
    return 1;
}

int zk_hw_pci_read(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset, void* data, uint32_t size) {
    auto it = Kernel().pci.find((bus << 8) | (device << 3) | function);
    if (it == Kernel().pci.end() || offset + size > 256) return 0;
    std::memcpy(data, it->second.data() + offset, size);
    return 1;
}

int zk_hw_pci_write(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset, const void* data,
                    uint32_t size) {
    auto it = Kernel().pci.find((bus << 8) | (device << 3) | function);
    if (it == Kernel().pci.end() || offset + size > 256) return 0;
    ++Kernel().pciWrites;
    std::memcpy(it->second.data() + offset, data, size);
    return 1;
}

volatile void* zk_hw_map(uint64_t address, uint32_t size) {
    auto& k = Kernel();
    if (k.mapFails) return nullptr;
    uint8_t* p = k.MemoryAt(address, size);
    if (p) ++k.maps;
    return p;
}

void zk_hw_unmap(volatile void*, uint32_t) { ++Kernel().unmaps; }

uint32_t zk_hw_acpi_fadt(void* buffer, uint32_t size) {
    const auto& t = Kernel().fadt;
    if (t.empty() || t.size() > size) return 0;
    std::memcpy(buffer, t.data(), t.size());
    return uint32_t(t.size());
}

const zk_phys_range* zk_hw_ram_ranges(void) {
    auto& k = Kernel();
    if (!k.ram) return nullptr;
    ++k.rangeLists;
    auto* list = new zk_phys_range[k.ram->size() + 1];
    for (size_t i = 0; i < k.ram->size(); ++i) list[i] = (*k.ram)[i];
    list[k.ram->size()] = {0, 0};
    return list;
}

void zk_hw_ram_ranges_free(const zk_phys_range* ranges) {
    ++Kernel().rangeFrees;
    delete[] ranges;
}

} // extern "C"
