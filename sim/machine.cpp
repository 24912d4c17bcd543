#include "sim/machine.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vek::sim {
namespace {

constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kIdentityFailed = 16;

constexpr uint32_t kPortLimit = 0x10000;
constexpr uint32_t kPciAddressLimit = 0x10000;
constexpr uint32_t kPciConfigSize = 256;
// Largest physical-memory transfer the driver accepts in one request.
constexpr uint64_t kMaxMemoryTransfer = 16u << 20;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p)) | (uint64_t(Le32(p + 4)) << 32); }
void PutLe(uint8_t* p, uint32_t v, unsigned width) {
    for (unsigned i = 0; i < width; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t AllOnes(unsigned width) { return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }
bool ValidWidth(uint32_t w) { return w == 1 || w == 2 || w == 4; }

Machine& Self(void* user) { return *static_cast<Machine*>(user); }

} // namespace

Machine::Machine() { BuildPlatform(); }

void Machine::BuildPlatform() {
    vek_host_platform p{};
    p.size = sizeof p;
    p.user = this;
    p.driver_start = &Machine::DriverStart;
    p.driver_stop = &Machine::DriverStop;
    p.process_elevated = &Machine::ProcessElevated;
    p.driver_request = &Machine::DriverRequest;
    p.zkec_open = &Machine::ZkecOpen;
    p.zkec_close = &Machine::ZkecClose;
    p.zkec_request = &Machine::ZkecRequest;
    p.identity = &Machine::Identity;
    p.cpuid = &Machine::Cpuid;
    p.counter_frequency = &Machine::CounterFrequency;
    p.counter_now = &Machine::CounterNow;
    p.delay_us = delayService_ ? &Machine::DelayUs : nullptr;
    p.i2c_open = &Machine::I2cOpen;
    p.i2c_transfer = &Machine::I2cTransfer;
    p.i2c_close = &Machine::I2cClose;
    platform_ = p;
}

void Machine::SetDelayService(bool provided) {
    delayService_ = provided;
    if (!provided && counterReadCostNs_ == 0) counterReadCostNs_ = 100;
    BuildPlatform();
}

// ---------------------------------------------------------------- ports

void Machine::ClaimPorts(uint16_t first, uint32_t count, PortDevice* device) {
    if (count == 0 || first + count > kPortLimit || device == nullptr)
        throw std::invalid_argument("bad port claim");
    for (const PortClaim& c : ports_) {
        if (first < c.first + c.count && c.first < first + count)
            throw std::invalid_argument("port range already claimed");
    }
    ports_.push_back({first, count, device});
}

void Machine::ReleasePorts(PortDevice* device) {
    std::erase_if(ports_, [device](const PortClaim& c) { return c.device == device; });
}

PortDevice* Machine::PortOwner(uint16_t port) const {
    for (const PortClaim& c : ports_) {
        if (port >= c.first && port < c.first + c.count) return c.device;
    }
    return nullptr;
}

uint32_t Machine::PortRead(uint16_t port, unsigned width) {
    PortDevice* d = PortOwner(port);
    // Nothing decodes the port: the bus floats high.
    return d ? d->ReadPort(port, width) & AllOnes(width) : AllOnes(width);
}

void Machine::PortWrite(uint16_t port, unsigned width, uint32_t value) {
    if (PortDevice* d = PortOwner(port)) d->WritePort(port, width, value & AllOnes(width));
}

// ---------------------------------------------------------------- PCI

PciFunction& Machine::AddPciFunction(uint32_t bus, uint32_t device, uint32_t function) {
    return pci_[PciAddress(bus & 0xFF, device, function)];
}

PciFunction* Machine::FindPciFunction(uint32_t pciAddress) {
    auto it = pci_.find(pciAddress);
    return it == pci_.end() ? nullptr : &it->second;
}

void Machine::RemovePciFunction(uint32_t pciAddress) { pci_.erase(pciAddress); }

// ---------------------------------------------------------------- memory

namespace {
bool Overlaps(uint64_t aBase, uint64_t aSize, uint64_t bBase, uint64_t bSize) {
    return aBase < bBase + bSize && bBase < aBase + aSize;
}
} // namespace

std::span<uint8_t> Machine::MapMemory(uint64_t base, uint64_t size) {
    if (size == 0) throw std::invalid_argument("empty memory region");
    for (const auto& r : memory_) {
        if (Overlaps(base, size, r->base, r->size)) throw std::invalid_argument("memory regions overlap");
    }
    auto region = std::make_unique<MemoryRegion>();
    region->base = base;
    region->size = size;
    region->bytes.assign(size, 0);
    region->device = nullptr;
    memory_.push_back(std::move(region));
    return {memory_.back()->bytes.data(), memory_.back()->bytes.size()};
}

void Machine::MapMemoryDevice(uint64_t base, uint64_t size, MemoryDevice* device) {
    if (size == 0 || device == nullptr) throw std::invalid_argument("bad memory device window");
    for (const auto& r : memory_) {
        if (Overlaps(base, size, r->base, r->size)) throw std::invalid_argument("memory regions overlap");
    }
    auto region = std::make_unique<MemoryRegion>();
    region->base = base;
    region->size = size;
    region->device = device;
    memory_.push_back(std::move(region));
}

Machine::MemoryRegion* Machine::RegionFor(uint64_t address, unsigned width) {
    for (const auto& r : memory_) {
        if (address >= r->base && address - r->base + width <= r->size) return r.get();
    }
    return nullptr;
}

bool Machine::MemoryRead(uint64_t address, unsigned width, uint32_t* value) {
    MemoryRegion* r = RegionFor(address, width);
    if (r == nullptr) return false;
    if (r->device) {
        *value = r->device->ReadMemory(address, width) & AllOnes(width);
    } else {
        uint32_t v = 0;
        for (unsigned i = 0; i < width; ++i) v |= uint32_t(r->bytes[address - r->base + i]) << (8 * i);
        *value = v;
    }
    return true;
}

bool Machine::MemoryWrite(uint64_t address, unsigned width, uint32_t value) {
    MemoryRegion* r = RegionFor(address, width);
    if (r == nullptr) return false;
    if (r->device) {
        r->device->WriteMemory(address, width, value & AllOnes(width));
    } else {
        for (unsigned i = 0; i < width; ++i) r->bytes[address - r->base + i] = uint8_t(value >> (8 * i));
    }
    return true;
}

// ---------------------------------------------------------------- identity

void Machine::SetIdentity(uint32_t item, std::string value) { identity_.at(item).value = std::move(value); }
void Machine::SetIdentityFailing(uint32_t item, bool failing) { identity_.at(item).failing = failing; }

// ---------------------------------------------------------------- trace

void Machine::Record(Access kind, uint64_t address, uint16_t offset, unsigned width, uint64_t value,
                     bool ok) {
    if (!traceEnabled_) return;
    if (trace_.size() >= traceLimit_) {
        ++traceDropped_;
        return;
    }
    trace_.push_back({nowNs_.load(), address, value, offset, kind, uint8_t(width), ok});
}

// ---------------------------------------------------------------- I/O driver

uint32_t Machine::DriverStart(void* user) {
    Machine& m = Self(user);
    std::lock_guard lock(m.mutex_);
    ++m.driverStarts_;
    if (m.driverStartStatus_ != VEK_HOST_DRIVER_READY) return m.driverStartStatus_;
    if (!m.driverRunning_) {
        // Installing a kernel driver takes an elevated process; opening one
        // that already runs does not.
        if (!m.elevated_) return VEK_HOST_DRIVER_START_FAILED;
        m.driverRunning_ = true;
        ++m.driverInstalls_;
    }
    m.driverOpen_ = true;
    return VEK_HOST_DRIVER_READY;
}

void Machine::DriverStop(void* user) {
    Machine& m = Self(user);
    std::lock_guard lock(m.mutex_);
    ++m.driverStops_;
    if (!m.driverOpen_) return;
    m.driverOpen_ = false;
    // The last holder removes the service.
    if (m.handleCount_ <= 1) m.driverRunning_ = false;
}

int Machine::ProcessElevated(void* user) { return Self(user).elevated_ ? 1 : 0; }

int Machine::DriverRequest(void* user, uint32_t code, const void* in, uint32_t inSize, void* out,
                           uint32_t outSize, uint32_t* returned) {
    Machine& m = Self(user);
    std::lock_guard lock(m.mutex_);
    m.nowNs_ += m.requestCostNs_;
    if (returned) *returned = 0;
    if (!m.driverOpen_ || !m.driverRunning_) return 0;
    if ((inSize && in == nullptr) || (outSize && out == nullptr)) {
        ++m.malformed_;
        return 0;
    }
    // The read-port-dword request answers over its own input buffer: decode a copy.
    std::array<uint8_t, 32> small;
    std::vector<uint8_t> large;
    uint8_t* input = small.data();
    if (inSize > small.size()) {
        large.resize(inSize);
        input = large.data();
    }
    if (inSize) std::memcpy(input, in, inSize);
    uint32_t got = 0;
    if (!m.Dispatch(code, input, inSize, static_cast<uint8_t*>(out), outSize, &got)) return 0;
    if (returned) *returned = got;
    return 1;
}

bool Machine::Dispatch(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                       uint32_t* returned) {
    // Fixed-layout requests: exact input and output sizes.
    auto sizes = [&](uint32_t wantIn, uint32_t wantOut) {
        if (inSize == wantIn && outSize == wantOut) return true;
        ++malformed_;
        return false;
    };
    auto answer = [&](uint32_t value, unsigned width) {
        PutLe(out, value, width);
        *returned = width;
        return true;
    };
    auto portField = [&](uint32_t port) {
        if (port < kPortLimit) return true;
        ++malformed_;
        return false;
    };

    switch (code) {
    case VEK_IOCTL_DRIVER_VERSION:
        return sizes(0, 4) && answer(driverVersion_, 4);
    case VEK_IOCTL_HANDLE_COUNT:
        return sizes(0, 4) && answer(handleCount_, 4);

    case VEK_IOCTL_READ_MSR: {
        if (!sizes(4, 8)) return false;
        const uint32_t index = Le32(in);
        auto it = msrs_.find(index);
        if (it == msrs_.end()) {
            // The processor faults on an unimplemented MSR; the driver fails the request.
            Record(Access::MsrRead, index, 0, 8, 0, false);
            return false;
        }
        Record(Access::MsrRead, index, 0, 8, it->second);
        PutLe(out, uint32_t(it->second), 4);
        PutLe(out + 4, uint32_t(it->second >> 32), 4);
        *returned = 8;
        return true;
    }

    case VEK_IOCTL_READ_PORT_BYTE: {
        if (!sizes(2, 2)) return false;
        const uint16_t port = Le16(in);
        const uint32_t v = PortRead(port, 1);
        Record(Access::PortRead, port, 0, 1, v);
        out[1] = 0;
        answer(v, 1);
        *returned = 2;
        return true;
    }
    case VEK_IOCTL_READ_PORT_WORD: {
        if (!sizes(2, 2)) return false;
        const uint16_t port = Le16(in);
        const uint32_t v = PortRead(port, 2);
        Record(Access::PortRead, port, 0, 2, v);
        return answer(v, 2);
    }
    case VEK_IOCTL_READ_PORT_DWORD: {
        if (!sizes(4, 4) || !portField(Le32(in))) return false;
        const uint16_t port = uint16_t(Le32(in));
        const uint32_t v = PortRead(port, 4);
        Record(Access::PortRead, port, 0, 4, v);
        return answer(v, 4);
    }

    case VEK_IOCTL_WRITE_PORT_BYTE:
    case VEK_IOCTL_WRITE_PORT_WORD:
    case VEK_IOCTL_WRITE_PORT_DWORD: {
        const unsigned width = code == VEK_IOCTL_WRITE_PORT_BYTE ? 1 : code == VEK_IOCTL_WRITE_PORT_WORD ? 2 : 4;
        if (!sizes(4 + width, 0) || !portField(Le32(in))) return false;
        const uint16_t port = uint16_t(Le32(in));
        uint32_t v = 0;
        for (unsigned i = 0; i < width; ++i) v |= uint32_t(in[4 + i]) << (8 * i);
        Record(Access::PortWrite, port, 0, width, v);
        PortWrite(port, width, v);
        *returned = 0;
        return true;
    }

    case VEK_IOCTL_READ_MEMORY:
        return ReadMemoryRequest(in, inSize, out, outSize, returned);
    case VEK_IOCTL_WRITE_MEMORY:
        if (outSize != 0) {
            ++malformed_;
            return false;
        }
        *returned = 0;
        return WriteMemoryRequest(in, inSize);

    case VEK_IOCTL_GRANT_PORTS:
        // The driver's own rules are its business; the machine only keeps the list.
        if (!sizes(4, 0)) return false;
        portGrants_.push_back({Le16(in), Le16(in + 2), trace_.size()});
        *returned = 0;
        return true;

    case VEK_IOCTL_READ_PCI:
        return PciRequest(false, in, inSize, out, outSize, returned);
    case VEK_IOCTL_WRITE_PCI:
        return PciRequest(true, in, inSize, out, outSize, returned);

    default:
        ++malformed_;
        return false;
    }
}

bool Machine::ReadMemoryRequest(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                                uint32_t* returned) {
    if (inSize != 16) {
        ++malformed_;
        return false;
    }
    const uint64_t address = Le64(in);
    const uint32_t unit = Le32(in + 8), count = Le32(in + 12);
    const uint64_t bytes = uint64_t(unit) * count;
    if (!ValidWidth(unit) || count == 0 || bytes > kMaxMemoryTransfer || outSize != bytes) {
        ++malformed_;
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (RegionFor(address + uint64_t(i) * unit, unit) == nullptr) {
            Record(Access::MemRead, address + uint64_t(i) * unit, 0, unit, 0, false);
            return false;
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t a = address + uint64_t(i) * unit;
        uint32_t v = 0;
        MemoryRead(a, unit, &v);
        Record(Access::MemRead, a, 0, unit, v);
        PutLe(out + size_t(i) * unit, v, unit);
    }
    *returned = uint32_t(bytes);
    return true;
}

bool Machine::WriteMemoryRequest(const uint8_t* in, uint32_t inSize) {
    if (inSize < 16) {
        ++malformed_;
        return false;
    }
    const uint64_t address = Le64(in);
    const uint32_t unit = Le32(in + 8), count = Le32(in + 12);
    const uint64_t bytes = uint64_t(unit) * count;
    if (!ValidWidth(unit) || count == 0 || bytes > kMaxMemoryTransfer || inSize != 16 + bytes) {
        ++malformed_;
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (RegionFor(address + uint64_t(i) * unit, unit) == nullptr) {
            Record(Access::MemWrite, address + uint64_t(i) * unit, 0, unit, 0, false);
            return false;
        }
    }
    const uint8_t* data = in + 16;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t a = address + uint64_t(i) * unit;
        uint32_t v = 0;
        for (unsigned b = 0; b < unit; ++b) v |= uint32_t(data[size_t(i) * unit + b]) << (8 * b);
        Record(Access::MemWrite, a, 0, unit, v);
        MemoryWrite(a, unit, v);
    }
    return true;
}

bool Machine::PciRequest(bool write, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                         uint32_t* returned) {
    const uint32_t width = write ? inSize - 8 : outSize;
    if (inSize < 8 || !ValidWidth(width) || (write ? outSize != 0 : inSize != 8)) {
        ++malformed_;
        return false;
    }
    const uint32_t address = Le32(in), offset = Le32(in + 4);
    // Configuration mechanism #1 moves naturally aligned bytes, words and dwords
    // within one function's 256 bytes.
    if (address >= kPciAddressLimit || offset >= kPciConfigSize || offset % width != 0) {
        ++malformed_;
        return false;
    }
    PciFunction* fn = FindPciFunction(address);
    if (write) {
        uint32_t v = 0;
        for (unsigned i = 0; i < width; ++i) v |= uint32_t(in[8 + i]) << (8 * i);
        Record(Access::PciWrite, address, uint16_t(offset), width, v);
        // A write to an absent function ends in a master abort and is dropped.
        if (fn) {
            if (fn->hook) fn->hook->WriteConfig(*fn, offset, width, v);
            else fn->Store(offset, width, v);
        }
        *returned = 0;
        return true;
    }
    // An absent function reads all ones (vendor id 0xFFFF).
    uint32_t v = AllOnes(width);
    if (fn) v = (fn->hook ? fn->hook->ReadConfig(*fn, offset, width) : fn->Load(offset, width)) & AllOnes(width);
    Record(Access::PciRead, address, uint16_t(offset), width, v);
    PutLe(out, v, width);
    *returned = width;
    return true;
}

// ---------------------------------------------------------------- ZKEC driver

int Machine::ZkecOpen(void* user, uint32_t* lastError) {
    Machine& m = Self(user);
    std::lock_guard lock(m.mutex_);
    if (!m.zkecPresent_) {
        if (lastError) *lastError = kErrorFileNotFound;
        return 0;
    }
    m.zkecOpen_ = true;
    return 1;
}

void Machine::ZkecClose(void* user) {
    Machine& m = Self(user);
    std::lock_guard lock(m.mutex_);
    m.zkecOpen_ = false;
}

uint32_t Machine::ZkecRequest(void* user, uint32_t code, const void* in, uint32_t inSize, void* out,
                              uint32_t outSize) {
    Machine& m = Self(user);
    std::lock_guard lock(m.mutex_);
    m.nowNs_ += m.requestCostNs_;
    if (!m.zkecOpen_) return kErrorInvalidHandle;
    auto sizes = [&](uint32_t wantIn, uint32_t wantOut) {
        if (inSize == wantIn && outSize == wantOut && (!wantIn || in) && (!wantOut || out)) return true;
        ++m.malformed_;
        return false;
    };
    switch (code) {
    case VEK_ZKEC_BEGIN:
    case VEK_ZKEC_END:
        if (!sizes(0, 0)) return kErrorInvalidParameter;
        if (m.zkecPending_) return VEK_HOST_ERROR_IO_PENDING;
        if (code == VEK_ZKEC_BEGIN) {
            const bool ok = !m.zkecDevice_ || m.zkecDevice_->Begin();
            m.Record(Access::ZkecBegin, 0, 0, 0, 0, ok);
            return ok ? 0 : kErrorGenFailure;
        } else {
            const bool ok = !m.zkecDevice_ || m.zkecDevice_->End();
            m.Record(Access::ZkecEnd, 0, 0, 0, 0, ok);
            return ok ? 0 : kErrorGenFailure;
        }
    case VEK_ZKEC_READ_REGISTER: {
        if (!sizes(1, 1)) return kErrorInvalidParameter;
        if (m.zkecPending_) return VEK_HOST_ERROR_IO_PENDING;
        const uint8_t reg = *static_cast<const uint8_t*>(in);
        uint8_t v = m.zkecRegisters_[reg];
        const bool ok = !m.zkecDevice_ || m.zkecDevice_->ReadRegister(reg, &v);
        m.Record(Access::ZkecRead, reg, 0, 1, ok ? v : 0, ok);
        if (!ok) return kErrorGenFailure;
        *static_cast<uint8_t*>(out) = v;
        return 0;
    }
    default:
        ++m.malformed_;
        return kErrorInvalidFunction;
    }
}

// ---------------------------------------------------------------- identity, processor, time

uint32_t Machine::Identity(void* user, uint32_t item, char* out, uint32_t outSize) {
    Machine& m = Self(user);
    std::lock_guard lock(m.mutex_);
    if (item >= m.identity_.size() || m.identity_[item].failing) return kIdentityFailed;
    if (outSize == 0 || out == nullptr) return 0;
    const std::string& v = m.identity_[item].value;
    const size_t n = std::min<size_t>(v.size(), outSize - 1);
    std::memcpy(out, v.data(), n);
    out[n] = '\0';
    return 0;
}

void Machine::Cpuid(void* user, uint32_t leaf, uint32_t regs[4]) {
    Machine& m = Self(user);
    std::lock_guard lock(m.mutex_);
    auto it = m.cpuid_.find(leaf);
    for (int i = 0; i < 4; ++i) regs[i] = it == m.cpuid_.end() ? 0 : it->second[i];
}

int64_t Machine::CounterFrequency(void* user) { return Self(user).counterFrequency_; }

int64_t Machine::CounterNow(void* user) {
    Machine& m = Self(user);
    const int64_t now = m.nowNs_.fetch_add(m.counterReadCostNs_) + m.counterReadCostNs_;
    const int64_t f = m.counterFrequency_;
    constexpr int64_t kNsPerSecond = 1'000'000'000;
    return (now / kNsPerSecond) * f + (now % kNsPerSecond) * f / kNsPerSecond;
}

void Machine::DelayUs(void* user, int64_t microseconds) {
    if (microseconds > 0) Self(user).nowNs_ += microseconds * 1000;
}

// ---------------------------------------------------------------- platform I2C

namespace {
constexpr uint32_t kI2cOpenFailed = 6;             // what the OS layer answers for any failed open
constexpr uint32_t kI2cNoTransfer = 0xFFFFFFFFu;   // nothing was sent
} // namespace

void Machine::SetPlatformI2c(uint32_t controller, PlatformI2cController* device) {
    std::lock_guard lock(mutex_);
    if (controller >= i2cControllers_.size()) throw std::invalid_argument("no such platform I2C controller");
    i2cControllers_[controller] = device;
}

uint32_t Machine::I2cOpen(void* user, uint32_t controller, uint8_t address7, void** handle) {
    Machine& m = Self(user);
    std::lock_guard lock(m.mutex_);
    if (handle == nullptr) {
        ++m.malformed_;
        return kI2cOpenFailed;
    }
    *handle = nullptr;
    if (controller >= m.i2cControllers_.size() || m.i2cControllers_[controller] == nullptr) return kI2cOpenFailed;
    if (!m.i2cControllers_[controller]->OpenSlave(address7 & 0x7F)) return kI2cOpenFailed;
    const uintptr_t id = m.nextI2cHandle_++;
    m.i2cHandles_[id] = {controller, uint8_t(address7 & 0x7F)};
    ++m.i2cOpens_;
    *handle = reinterpret_cast<void*>(id);
    return 0;
}

uint32_t Machine::I2cTransfer(void* user, void* handle, const uint8_t* write, uint32_t wlen, uint8_t* read,
                              uint32_t rlen, uint32_t* transferred) {
    Machine& m = Self(user);
    std::lock_guard lock(m.mutex_);
    if (transferred) *transferred = 0;
    auto it = m.i2cHandles_.find(reinterpret_cast<uintptr_t>(handle));
    // A handle the library never opened, or an empty or pointerless request,
    // is a library fault: the OS layer would send nothing.
    if (it == m.i2cHandles_.end() || (wlen == 0 && rlen == 0) || (wlen && !write) || (rlen && !read)) {
        ++m.malformed_;
        return kI2cNoTransfer;
    }
    PlatformI2cController* c = m.i2cControllers_[it->second.controller];
    if (c == nullptr) return kI2cNoTransfer;
    uint32_t moved = 0;
    const uint32_t status = c->Transfer(it->second.address7, write, wlen, read, rlen, &moved);
    if (transferred) *transferred = moved;
    return status;
}

void Machine::I2cClose(void* user, void* handle) {
    Machine& m = Self(user);
    std::lock_guard lock(m.mutex_);
    auto it = m.i2cHandles_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == m.i2cHandles_.end()) {
        ++m.malformed_;
        return;
    }
    if (PlatformI2cController* c = m.i2cControllers_[it->second.controller]) c->CloseSlave(it->second.address7);
    m.i2cHandles_.erase(it);
}

} // namespace vek::sim
