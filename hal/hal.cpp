#include "hal/hal.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hal/platform_slot.h"

namespace vek::hal {
namespace {

// Driver lifetime, process-wide. Written only by init/teardown under the API lock.
// Atomic because a caller racing VEK_API_Uninit reads them while teardown writes.
struct DriverState {
    std::atomic<uint32_t> status{VEK_HOST_DRIVER_NOT_STARTED};
    std::atomic<bool> started{false};
    std::atomic<bool> deviceOpen{false};
    std::atomic<bool> hasMsr{false};
};
DriverState g_driver;

std::atomic<bool> g_zkecOpen{false};

constexpr uint32_t kCpuidFeatures = 1;
constexpr uint32_t kCpuidEdxMsr = 1u << 5;

void PutLe16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void PutLe64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint16_t GetLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t GetLe32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// One request on the open device; fails at once while it is not open.
bool Request(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
             uint32_t* returned = nullptr) {
    if (!g_driver.deviceOpen) return false;
    uint32_t got = 0;
    const vek_host_platform& p = Platform();
    bool ok = p.driver_request(p.user, code, in, inSize, out, outSize, &got) != 0;
    if (returned) *returned = got;
    return ok;
}

bool SizeAligned(uint32_t offset, uint32_t size) {
    if (size == 2) return (offset & 1) == 0;
    if (size == 4) return (offset & 3) == 0;
    return size == 1;
}

} // namespace

// ---------------------------------------------------------------- driver

uint32_t DriverStatus() { return g_driver.status; }

bool DriverStart() {
    if (g_driver.started) {
        if (DriverVersion() != 0) return DriverCheck() == VEK_HOST_DRIVER_READY;
        // Our device stopped answering: a driver restarted since (by another
        // process, or after a fault) has a new device behind the name. Let
        // go of the dead handle and run the start sequence again in full.
        DriverStop();
    }
    uint32_t regs[4] = {};
    Cpuid(kCpuidFeatures, regs);
    g_driver.hasMsr = (regs[3] & kCpuidEdxMsr) != 0;
    const vek_host_platform& p = Platform();
    g_driver.status = p.driver_start(p.user);
    if (g_driver.status > VEK_HOST_DRIVER_UNSUPPORTED) g_driver.status = VEK_HOST_DRIVER_START_FAILED;
    g_driver.deviceOpen = g_driver.status == VEK_HOST_DRIVER_READY;
    // Only a start that opened the device counts: after a failure (not
    // elevated, service missing) the next Init tries again, so a process that
    // started too early recovers once another one has the driver running.
    g_driver.started = g_driver.deviceOpen.load();
    return g_driver.status == VEK_HOST_DRIVER_READY;
}

uint32_t DriverCheck() {
    if (g_driver.started) {
        // A device that failed its version request once and answers again is
        // ready again: the failure is not remembered past the next check.
        g_driver.status = DriverVersion() != 0 ? VEK_HOST_DRIVER_READY : VEK_HOST_DRIVER_START_FAILED;
    } else if (g_driver.status == VEK_HOST_DRIVER_READY) {
        g_driver.status = VEK_HOST_DRIVER_START_FAILED; // stopped: the device is closed
    }
    return g_driver.status;
}

void DriverStop() {
    if (!g_driver.started) return;
    const vek_host_platform& p = Platform();
    if (p.driver_stop) p.driver_stop(p.user);
    g_driver.deviceOpen = false;
    g_driver.started = false;
}

void DriverReset() {
    g_driver.status = VEK_HOST_DRIVER_NOT_STARTED;
    g_driver.started = false;
    g_driver.deviceOpen = false;
    g_driver.hasMsr = false;
    g_zkecOpen = false;
}

uint32_t DriverVersion() {
    uint8_t out[4] = {};
    uint32_t got = 0;
    if (!Request(VEK_IOCTL_DRIVER_VERSION, nullptr, 0, out, sizeof out, &got) || got < 4) return 0;
    return GetLe32(out);
}

uint32_t DriverHandleCount() {
    uint8_t out[4] = {};
    uint32_t got = 0;
    if (!Request(VEK_IOCTL_HANDLE_COUNT, nullptr, 0, out, sizeof out, &got) || got < 4) return 0;
    return GetLe32(out);
}

bool ProcessElevated() {
    const vek_host_platform& p = Platform();
    return p.process_elevated && p.process_elevated(p.user) != 0;
}

// ---------------------------------------------------------------- ports

bool ReadPortByte(uint16_t port, uint8_t* value) {
    uint8_t in[2], out[2] = {};
    PutLe16(in, port);
    if (!Request(VEK_IOCTL_READ_PORT_BYTE, in, sizeof in, out, sizeof out)) return false;
    *value = out[0];
    return true;
}

bool ReadPortWord(uint16_t port, uint16_t* value) {
    uint8_t in[2], out[2] = {};
    PutLe16(in, port);
    if (!Request(VEK_IOCTL_READ_PORT_WORD, in, sizeof in, out, sizeof out)) return false;
    *value = GetLe16(out);
    return true;
}

bool ReadPortDword(uint16_t port, uint32_t* value) {
    // The driver answers over the request buffer itself.
    uint8_t buf[4];
    PutLe32(buf, port);
    if (!Request(VEK_IOCTL_READ_PORT_DWORD, buf, sizeof buf, buf, sizeof buf)) return false;
    *value = GetLe32(buf);
    return true;
}

bool WritePortByte(uint16_t port, uint8_t value) {
    uint8_t in[5];
    PutLe32(in, port);
    in[4] = value;
    return Request(VEK_IOCTL_WRITE_PORT_BYTE, in, sizeof in, nullptr, 0);
}

bool WritePortWord(uint16_t port, uint16_t value) {
    uint8_t in[6];
    PutLe32(in, port);
    PutLe16(in + 4, value);
    return Request(VEK_IOCTL_WRITE_PORT_WORD, in, sizeof in, nullptr, 0);
}

bool WritePortDword(uint16_t port, uint32_t value) {
    uint8_t in[8];
    PutLe32(in, port);
    PutLe32(in + 4, value);
    return Request(VEK_IOCTL_WRITE_PORT_DWORD, in, sizeof in, nullptr, 0);
}

// ---------------------------------------------------------------- PCI

bool ReadPci(uint32_t pciAddress, uint32_t offset, uint8_t* buffer, uint32_t size, uint32_t* lastError) {
    if (buffer == nullptr || !SizeAligned(offset, size)) return false;
    uint8_t in[8];
    PutLe32(in, pciAddress);
    PutLe32(in + 4, offset);
    uint32_t got = 0;
    bool ok = Request(VEK_IOCTL_READ_PCI, in, sizeof in, buffer, size, &got);
    if (lastError) *lastError = ok ? 0 : 1;
    return ok;
}

bool ReadPciByte(uint32_t a, uint32_t offset, uint8_t* value) { return ReadPci(a, offset, value, 1); }

bool ReadPciWord(uint32_t a, uint32_t offset, uint16_t* value) {
    uint8_t b[2];
    if (!ReadPci(a, offset, b, 2)) return false;
    *value = GetLe16(b);
    return true;
}

bool ReadPciDword(uint32_t a, uint32_t offset, uint32_t* value) {
    uint8_t b[4];
    if (!ReadPci(a, offset, b, 4)) return false;
    *value = GetLe32(b);
    return true;
}

void GrantPorts(uint16_t first, uint16_t count) {
    if (first < 0x100 || count == 0 || uint32_t(first) + count - 1 > 0xFFFF) return;
    uint8_t in[4] = {uint8_t(first), uint8_t(first >> 8), uint8_t(count), uint8_t(count >> 8)};
    Request(VEK_IOCTL_GRANT_PORTS, in, sizeof in, nullptr, 0);
}

bool WritePci(uint32_t pciAddress, uint32_t offset, uint32_t value, uint32_t size) {
    if (!SizeAligned(offset, size)) return false;
    uint8_t in[12];
    PutLe32(in, pciAddress);
    PutLe32(in + 4, offset);
    PutLe32(in + 8, value); // only the low `size` bytes are sent
    return Request(VEK_IOCTL_WRITE_PCI, in, 8 + size, nullptr, 0);
}

bool WritePciByte(uint32_t a, uint32_t offset, uint8_t value) { return WritePci(a, offset, value, 1); }
bool WritePciWord(uint32_t a, uint32_t offset, uint16_t value) { return WritePci(a, offset, value, 2); }
bool WritePciDword(uint32_t a, uint32_t offset, uint32_t value) { return WritePci(a, offset, value, 4); }

// ---------------------------------------------------------------- memory

uint32_t ReadPhysical(uint32_t base, uint16_t offset, uint8_t* buffer, uint32_t count, uint32_t unitSize) {
    if (buffer == nullptr) return 0;
    uint64_t bytes = uint64_t(count) * unitSize;
    if (bytes == 0 || bytes > 0xFFFFFFFFu) return 0;
    uint8_t in[16];
    PutLe64(in, uint64_t(base) + offset);
    PutLe32(in + 8, unitSize);
    PutLe32(in + 12, count);
    uint32_t got = 0;
    if (!Request(VEK_IOCTL_READ_MEMORY, in, sizeof in, buffer, uint32_t(bytes), &got)) return 0;
    return got == bytes ? uint32_t(bytes) : 0;
}

uint32_t WritePhysical(uint32_t base, uint16_t offset, const uint8_t* data, uint32_t count, uint32_t unitSize) {
    if (data == nullptr) return 0;
    uint64_t bytes = uint64_t(count) * unitSize;
    if (bytes == 0 || bytes > 0x00FFFFFFu) return 0;
    std::vector<uint8_t> in;
    try {
        in.resize(16 + size_t(bytes));
    } catch (...) {
        return 0;
    }
    PutLe64(in.data(), uint64_t(base) + offset);
    PutLe32(in.data() + 8, unitSize);
    PutLe32(in.data() + 12, count);
    std::memcpy(in.data() + 16, data, size_t(bytes));
    if (!Request(VEK_IOCTL_WRITE_MEMORY, in.data(), uint32_t(in.size()), nullptr, 0)) return 0;
    return uint32_t(bytes);
}

// ---------------------------------------------------------------- processor

bool ReadMsr(uint32_t index, uint32_t* low, uint32_t* high) {
    if (low == nullptr || high == nullptr || !g_driver.hasMsr) return false;
    uint8_t in[4], out[8] = {};
    PutLe32(in, index);
    if (!Request(VEK_IOCTL_READ_MSR, in, sizeof in, out, sizeof out)) return false;
    *low = GetLe32(out);
    *high = GetLe32(out + 4);
    return true;
}

void Cpuid(uint32_t leaf, uint32_t regs[4]) {
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
    const vek_host_platform& p = Platform();
    if (p.cpuid) p.cpuid(p.user, leaf, regs);
}

// ---------------------------------------------------------------- time

int64_t CounterTarget(int64_t now, int64_t frequency, int64_t microseconds) {
    constexpr int64_t kMax = INT64_MAX;
    if (microseconds <= 0 || frequency <= 0) return now;
    // f * us / 1e6 in two parts; a product or sum past 64 bits saturates.
    const int64_t whole = microseconds / 1000000, part = microseconds % 1000000;
    if (whole > kMax / frequency) return kMax;
    int64_t ticks = whole * frequency;
    const int64_t partTicks = part > kMax / frequency ? kMax : (part * frequency) / 1000000;
    ticks = ticks > kMax - partTicks ? kMax : ticks + partTicks;
    return now > kMax - ticks ? kMax : now + ticks;
}

void Delay(int64_t microseconds) {
    const vek_host_platform& p = Platform();
    if (microseconds <= 0) return;
    if (p.delay_us) {
        p.delay_us(p.user, microseconds);
        return;
    }
    const int64_t target = CounterTarget(p.counter_now(p.user), p.counter_frequency(p.user), microseconds);
    while (p.counter_now(p.user) < target) {
    }
}

// ---------------------------------------------------------------- ZKEC

bool ZkecOpen() {
    const vek_host_platform& p = Platform();
    uint32_t lastError = 2; // file not found: no such device
    g_zkecOpen = p.zkec_open && p.zkec_open(p.user, &lastError) != 0;
    if (!g_zkecOpen) {
        std::printf("Load ZKEC driver failed - %u\n", lastError);
        std::printf("VEK will not support ZKEC related function\n");
        std::fflush(stdout);
    }
    return g_zkecOpen;
}

void ZkecClose() {
    if (!g_zkecOpen) return;
    const vek_host_platform& p = Platform();
    if (p.zkec_close) p.zkec_close(p.user);
    g_zkecOpen = false;
}

bool ZkecIsOpen() { return g_zkecOpen; }

namespace {
uint32_t ZkecSend(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize) {
    const vek_host_platform& p = Platform();
    if (!g_zkecOpen || !p.zkec_request) return 1;
    return p.zkec_request(p.user, code, in, inSize, out, outSize);
}
} // namespace

uint32_t ZkecBegin() {
    if (!g_zkecOpen) return 3;
    return ZkecSend(VEK_ZKEC_BEGIN, nullptr, 0, nullptr, 0) == 0 ? 0 : 3;
}

uint32_t ZkecEnd() {
    if (!g_zkecOpen) return 3;
    return ZkecSend(VEK_ZKEC_END, nullptr, 0, nullptr, 0) == 0 ? 0 : 3;
}

uint32_t ZkecReadRegister(uint8_t reg, uint8_t* value) {
    if (value == nullptr) return 8;
    uint8_t out = 0;
    if (ZkecSend(VEK_ZKEC_READ_REGISTER, &reg, 1, &out, 1) != 0) return 8;
    *value = out;
    return 0;
}

} // namespace vek::hal
