// A simulated x86 machine behind the host seam: port space, PCI configuration
// space, physical memory, MSRs, CPUID, board identity, the I/O and ZKEC drivers'
// request channels, a virtual clock and a trace of every hardware access.
//
// The machine decodes the very request bytes the real I/O driver receives, with
// the driver's length checks, so the library's encoding is exercised on every
// run. Time only moves when the library waits (delay_us) or sends a request
// (each costs request_cost_ns, 1 µs by default), so polling loops make progress
// and a two-second time-out takes no wall-clock time.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "sim/devices.h"
#include "vek/host.h"

namespace vek::sim {

enum class Access : uint8_t {
    PortRead,
    PortWrite,
    PciRead,
    PciWrite,
    MemRead,
    MemWrite,
    MsrRead,
    ZkecBegin,
    ZkecEnd,
    ZkecRead,
};

// One hardware access. address: port, PCI address (bus<<8|dev<<3|fn), physical
// address, MSR index or ZKEC register; offset: the PCI register. A memory
// request of n units leaves n entries. ok is false for an access the hardware
// refused (absent MSR, unmapped memory); malformed requests never reach the
// hardware and leave no entry (see malformed_requests()).
struct TraceEntry {
    int64_t time_ns;
    uint64_t address;
    uint64_t value;
    uint16_t offset;
    Access kind;
    uint8_t width;
    bool ok;
};

inline constexpr uint32_t kDefaultDriverVersion = 0x05000100;
inline constexpr int64_t kDefaultCounterFrequency = 10'000'000; // 100 ns ticks
inline constexpr int64_t kDefaultRequestCostNs = 1'000;
inline constexpr size_t kDefaultTraceLimit = 1'000'000;

constexpr uint32_t PciAddress(uint32_t bus, uint32_t device, uint32_t function) {
    return (bus << 8) | ((device & 0x1F) << 3) | (function & 7);
}

class Machine {
public:
    Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // The host-seam platform answering from this machine (user = this). The
    // library copies it at attach time: set the delay service before attaching.
    const vek_host_platform& platform() const { return platform_; }

    // ---- port space ----
    // Claims ports first..first+count-1. Overlapping an earlier claim throws.
    void ClaimPorts(uint16_t first, uint32_t count, PortDevice* device);
    void ReleasePorts(PortDevice* device);
    PortDevice* PortOwner(uint16_t port) const;

    // ---- PCI configuration space ----
    // Adds (or returns the existing) function; its config space starts zeroed.
    PciFunction& AddPciFunction(uint32_t bus, uint32_t device, uint32_t function);
    PciFunction* FindPciFunction(uint32_t pciAddress);
    void RemovePciFunction(uint32_t pciAddress);

    // ---- physical memory ----
    // A plain byte store (zeroed) or a device window; overlapping windows throw.
    std::span<uint8_t> MapMemory(uint64_t base, uint64_t size);
    void MapMemoryDevice(uint64_t base, uint64_t size, MemoryDevice* device);

    // ---- processor ----
    void SetMsr(uint32_t index, uint64_t value) { msrs_[index] = value; }
    void RemoveMsr(uint32_t index) { msrs_.erase(index); }
    void SetCpuid(uint32_t leaf, uint32_t eax, uint32_t ebx, uint32_t ecx, uint32_t edx) {
        cpuid_[leaf] = {eax, ebx, ecx, edx};
    }

    // ---- identity (VEK_HOST_ID_*) ----
    void SetIdentity(uint32_t item, std::string value);
    void SetIdentityFailing(uint32_t item, bool failing);
    const std::string& identity(uint32_t item) const { return identity_.at(item).value; }

    // ---- I/O driver model ----
    // What driver_start reports; a nonzero status models a missing or broken driver.
    void SetDriverStartStatus(uint32_t status) { driverStartStatus_ = status; }
    void SetElevated(bool elevated) { elevated_ = elevated; }
    // The driver service runs on the machine (started earlier, or by another
    // process). Clearing it while the library holds the device makes every
    // request fail, as a driver that stopped answering.
    void SetDriverRunning(bool running) { driverRunning_ = running; }
    void SetDriverVersion(uint32_t version) { driverVersion_ = version; }
    // Open handles on the device, as the handle-count request answers. With more
    // than one, driver_stop leaves the service running for the other holders.
    void SetHandleCount(uint32_t count) { handleCount_ = count; }
    bool driver_running() const { return driverRunning_; }
    bool driver_open() const { return driverOpen_; }
    int driver_starts() const { return driverStarts_; }
    int driver_stops() const { return driverStops_; }
    int driver_installs() const { return driverInstalls_; } // services this process started
    // Requests the driver rejected for their code or buffer sizes. A correct
    // library never sends one.
    int malformed_requests() const { return malformed_; }
    // Port ranges the library named to the driver, in order; at: the trace's
    // length when the request came (it precedes trace entry `at`).
    struct PortGrant {
        uint16_t first, count;
        size_t at;
    };
    const std::vector<PortGrant>& port_grants() const { return portGrants_; }

    // ---- ZKEC driver model ----
    void SetZkecPresent(bool present) { zkecPresent_ = present; }
    void SetZkecPending(bool pending) { zkecPending_ = pending; } // requests report 997
    void SetZkecDevice(ZkecDevice* device) { zkecDevice_ = device; }
    std::array<uint8_t, 256>& zkec_registers() { return zkecRegisters_; }
    bool zkec_open() const { return zkecOpen_; }

    // ---- platform I2C controllers (controller 0 is "I2C0", 1 is "I2C1") ----
    // Null removes the controller; the seam then reports it not found.
    void SetPlatformI2c(uint32_t controller, PlatformI2cController* device);
    // Slaves the library holds open right now, and opens so far.
    int i2c_open_handles() const { return int(i2cHandles_.size()); }
    int i2c_opens() const { return i2cOpens_; }

    // ---- virtual clock ----
    int64_t now_ns() const { return nowNs_.load(); }
    void Advance(int64_t ns) { nowNs_ += ns; }
    void SetRequestCost(int64_t ns) { requestCostNs_ = ns; }
    void SetCounterFrequency(int64_t hz) { counterFrequency_ = hz; }
    // Without the delay service the library spins on counter_now itself; each
    // counter read then costs this much virtual time so the spin ends.
    void SetDelayService(bool provided);
    void SetCounterReadCost(int64_t ns) { counterReadCostNs_ = ns; }

    // ---- trace ----
    const std::vector<TraceEntry>& trace() const { return trace_; }
    void ClearTrace() { trace_.clear(); traceDropped_ = 0; }
    void SetTraceEnabled(bool enabled) { traceEnabled_ = enabled; }
    // Entries past the limit are counted, not kept.
    void SetTraceLimit(size_t entries) { traceLimit_ = entries; }
    size_t trace_dropped() const { return traceDropped_; }

    // ---- direct access for models and tests (not traced, no request cost) ----
    uint32_t PortRead(uint16_t port, unsigned width);
    void PortWrite(uint16_t port, unsigned width, uint32_t value);
    bool MemoryRead(uint64_t address, unsigned width, uint32_t* value);
    bool MemoryWrite(uint64_t address, unsigned width, uint32_t value);

private:
    struct PortClaim {
        uint16_t first;
        uint32_t count;
        PortDevice* device;
    };
    struct MemoryRegion {
        uint64_t base;
        uint64_t size;
        std::vector<uint8_t> bytes; // empty for a device window
        MemoryDevice* device;
    };
    struct IdentityItem {
        std::string value;
        bool failing = false;
    };

    // Host-seam entries.
    static uint32_t DriverStart(void* user);
    static void DriverStop(void* user);
    static int ProcessElevated(void* user);
    static int DriverRequest(void* user, uint32_t code, const void* in, uint32_t inSize, void* out,
                             uint32_t outSize, uint32_t* returned);
    static int ZkecOpen(void* user, uint32_t* lastError);
    static void ZkecClose(void* user);
    static uint32_t ZkecRequest(void* user, uint32_t code, const void* in, uint32_t inSize, void* out,
                                uint32_t outSize);
    static uint32_t Identity(void* user, uint32_t item, char* out, uint32_t outSize);
    static void Cpuid(void* user, uint32_t leaf, uint32_t regs[4]);
    static int64_t CounterFrequency(void* user);
    static int64_t CounterNow(void* user);
    static void DelayUs(void* user, int64_t microseconds);
    static uint32_t I2cOpen(void* user, uint32_t controller, uint8_t address7, void** handle);
    static uint32_t I2cTransfer(void* user, void* handle, const uint8_t* write, uint32_t wlen, uint8_t* read,
                                uint32_t rlen, uint32_t* transferred);
    static void I2cClose(void* user, void* handle);

    void BuildPlatform();
    // Decodes one request; false rejects it. *returned is set on success.
    bool Dispatch(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                  uint32_t* returned);
    bool ReadMemoryRequest(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                           uint32_t* returned);
    bool WriteMemoryRequest(const uint8_t* in, uint32_t inSize);
    bool PciRequest(bool write, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                    uint32_t* returned);
    MemoryRegion* RegionFor(uint64_t address, unsigned width);
    void Record(Access kind, uint64_t address, uint16_t offset, unsigned width, uint64_t value,
                bool ok = true);

    mutable std::recursive_mutex mutex_;
    vek_host_platform platform_{};

    std::vector<PortClaim> ports_;
    std::map<uint32_t, PciFunction> pci_;
    std::vector<std::unique_ptr<MemoryRegion>> memory_;
    std::map<uint32_t, uint64_t> msrs_;
    std::map<uint32_t, std::array<uint32_t, 4>> cpuid_;
    std::array<IdentityItem, 5> identity_;

    uint32_t driverStartStatus_ = VEK_HOST_DRIVER_READY;
    bool elevated_ = true;
    bool driverRunning_ = false;
    bool driverOpen_ = false;
    uint32_t driverVersion_ = kDefaultDriverVersion;
    uint32_t handleCount_ = 1;
    int driverStarts_ = 0;
    int driverStops_ = 0;
    int driverInstalls_ = 0;
    int malformed_ = 0;
    std::vector<PortGrant> portGrants_;

    bool zkecPresent_ = false;
    bool zkecOpen_ = false;
    bool zkecPending_ = false;
    ZkecDevice* zkecDevice_ = nullptr;
    std::array<uint8_t, 256> zkecRegisters_{};

    struct I2cHandle {
        uint32_t controller;
        uint8_t address7;
    };
    std::array<PlatformI2cController*, 2> i2cControllers_{};
    std::map<uintptr_t, I2cHandle> i2cHandles_;
    uintptr_t nextI2cHandle_ = 1;
    int i2cOpens_ = 0;

    std::atomic<int64_t> nowNs_{0};
    int64_t requestCostNs_ = kDefaultRequestCostNs;
    int64_t counterFrequency_ = kDefaultCounterFrequency;
    bool delayService_ = true;
    int64_t counterReadCostNs_ = 0;

    std::vector<TraceEntry> trace_;
    bool traceEnabled_ = true;
    size_t traceLimit_ = kDefaultTraceLimit;
    size_t traceDropped_ = 0;
};

} // namespace vek::sim
