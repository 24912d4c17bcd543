// The Linux platform: the kernel's own interfaces stand in for the I/O driver.
//
//   ports            /dev/port (pread/pwrite at the port number)
//   PCI config       /sys/bus/pci/devices/0000:BB:DD.F/config
//   physical memory  /dev/mem
//   MSRs             /dev/cpu/0/msr
//   platform I2C     /dev/i2c-N, the adapter picked by name (i2c_dev.h)
//   ownership        who else drives what: /proc/ioports, driver bindings (ownership.h)
//   chipset SMBus    /dev/i2c-N of the controller's kernel driver, when one owns it (smbus_dev.h)
//   EC RAM           /dev/ec or ec_sys, when the ACPI EC driver owns 0x62/0x66 (kernel_ec.h)
//   speaker tones    the pcspkr/snd-pcsp input device, when either is loaded (kernel_speaker.h)
//   Super I/O hwmon  the owning driver's /sys/class/hwmon inputs (hwmon.h)
//   ownership        the probe (ownership.h) with the expert override (kernel_override.h)
//   brightness       /sys/class/backlight (backlight.h)
//   ZKEC device      none: the controller's driver exists only for Windows, so
//                    the channel is absent and reports the device missing
//
// The same request bytes the Windows driver takes are decoded here, so the hal
// above is identical on both systems. Driver status codes map as follows:
//   0  /dev/port opened for reading and writing
//   2  /dev/port does not exist (kernel built without it)
//   3  /dev/port exists but cannot be opened (not root, or locked down)
//   5  not an x86 machine: there are no I/O ports to drive
#include <cpuid.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "os/hybrid_wait.h"
#include "os/linux/backlight.h"
#include "os/linux/capabilities.h"
#include "os/linux/hwmon.h"
#include "os/linux/dmi.h"
#include "os/linux/i2c_dev.h"
#include "os/linux/kernel_ec.h"
#include "os/linux/kernel_override.h"
#include "os/linux/kernel_speaker.h"
#include "os/linux/ownership.h"
#include "os/linux/privileges.h"
#include "os/linux/smbus_dev.h"
#include "os/os.h"

namespace vek::os {
namespace {

constexpr uint32_t kNativeChannelVersion = 0x05000100; // reported for the version request

struct Channel {
    int port = -1;
    int mem = -1;
    int msr = -1;
};
Channel g_channel;

uint32_t Le32(const void* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint64_t Le64(const void* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

int OpenLazily(int& fd, const char* path) {
    if (fd < 0) fd = open(path, O_RDWR | O_CLOEXEC);
    return fd;
}

bool PortIo(bool write, uint32_t port, void* data, uint32_t width) {
    if (port + width > 0x10000) return false;
    ssize_t n = write ? pwrite(g_channel.port, data, width, port) : pread(g_channel.port, data, width, port);
    return n == ssize_t(width);
}

bool PciIo(bool write, uint32_t address, uint32_t offset, void* data, uint32_t width) {
    char path[64];
    std::snprintf(path, sizeof path, "/sys/bus/pci/devices/0000:%02x:%02x.%x/config", (address >> 8) & 0xFF,
                  (address >> 3) & 0x1F, address & 7);
    int fd = open(path, (write ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n = write ? pwrite(fd, data, width, offset) : pread(fd, data, width, offset);
    close(fd);
    return n == ssize_t(width);
}

bool MemIo(bool write, uint64_t address, void* data, uint32_t bytes) {
    if (OpenLazily(g_channel.mem, "/dev/mem") < 0) return false;
    ssize_t n = write ? pwrite(g_channel.mem, data, bytes, off_t(address))
                      : pread(g_channel.mem, data, bytes, off_t(address));
    return n == ssize_t(bytes);
}

bool Expect(uint32_t inSize, uint32_t want) { return inSize == want; }

int Request(void*, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* returned) {
    *returned = 0;
    if (g_channel.port < 0) return 0;
    const auto* bytes = static_cast<const uint8_t*>(in);
    switch (code) {
    case VEK_IOCTL_DRIVER_VERSION:
    case VEK_IOCTL_HANDLE_COUNT: {
        if (outSize < 4) return 0;
        uint32_t v = code == VEK_IOCTL_DRIVER_VERSION ? kNativeChannelVersion : 1;
        std::memcpy(out, &v, 4);
        *returned = 4;
        return 1;
    }
    case VEK_IOCTL_READ_MSR: {
        if (!Expect(inSize, 4) || outSize < 8 || OpenLazily(g_channel.msr, "/dev/cpu/0/msr") < 0) return 0;
        if (pread(g_channel.msr, out, 8, Le32(bytes)) != 8) return 0;
        *returned = 8;
        return 1;
    }
    case VEK_IOCTL_READ_PORT_BYTE:
    case VEK_IOCTL_READ_PORT_WORD: {
        const uint32_t width = code == VEK_IOCTL_READ_PORT_BYTE ? 1 : 2;
        if (!Expect(inSize, 2) || outSize < width) return 0;
        uint32_t port = uint32_t(bytes[0] | (bytes[1] << 8));
        uint8_t value[2] = {};
        if (!PortIo(false, port, value, width)) return 0;
        std::memcpy(out, value, width);
        *returned = outSize >= 2 ? 2 : width;
        return 1;
    }
    case VEK_IOCTL_READ_PORT_DWORD: {
        if (!Expect(inSize, 4) || outSize < 4) return 0;
        uint32_t value = 0;
        if (!PortIo(false, Le32(bytes) & 0xFFFF, &value, 4)) return 0;
        std::memcpy(out, &value, 4);
        *returned = 4;
        return 1;
    }
    case VEK_IOCTL_WRITE_PORT_BYTE:
    case VEK_IOCTL_WRITE_PORT_WORD:
    case VEK_IOCTL_WRITE_PORT_DWORD: {
        const uint32_t width = code == VEK_IOCTL_WRITE_PORT_BYTE ? 1 : code == VEK_IOCTL_WRITE_PORT_WORD ? 2 : 4;
        if (!Expect(inSize, 4 + width)) return 0;
        uint8_t value[4];
        std::memcpy(value, bytes + 4, width);
        return PortIo(true, Le32(bytes) & 0xFFFF, value, width) ? 1 : 0;
    }
    case VEK_IOCTL_READ_MEMORY: {
        if (!Expect(inSize, 16)) return 0;
        const uint64_t total = uint64_t(Le32(bytes + 8)) * Le32(bytes + 12);
        if (total == 0 || total > outSize) return 0;
        if (!MemIo(false, Le64(bytes), out, uint32_t(total))) return 0;
        *returned = uint32_t(total);
        return 1;
    }
    case VEK_IOCTL_WRITE_MEMORY: {
        if (inSize < 16) return 0;
        const uint64_t total = uint64_t(Le32(bytes + 8)) * Le32(bytes + 12);
        if (total == 0 || inSize != 16 + total) return 0;
        return MemIo(true, Le64(bytes), const_cast<uint8_t*>(bytes + 16), uint32_t(total)) ? 1 : 0;
    }
    case VEK_IOCTL_READ_PCI: {
        if (!Expect(inSize, 8) || (outSize != 1 && outSize != 2 && outSize != 4)) return 0;
        if (!PciIo(false, Le32(bytes), Le32(bytes + 4), out, outSize)) return 0;
        *returned = outSize;
        return 1;
    }
    case VEK_IOCTL_WRITE_PCI: {
        const uint32_t width = inSize - 8;
        if (inSize < 9 || (width != 1 && width != 2 && width != 4)) return 0;
        uint8_t value[4];
        std::memcpy(value, bytes + 8, width);
        return PciIo(true, Le32(bytes), Le32(bytes + 4), value, width) ? 1 : 0;
    }
    default:
        return 0;
    }
}

uint32_t Start(void*) {
#if !defined(__x86_64__) && !defined(__i386__)
    return VEK_HOST_DRIVER_UNSUPPORTED;
#else
    if (g_channel.port >= 0) return VEK_HOST_DRIVER_READY;
    ConfineRaisedPrivileges();
    RefreshProbe(); // who owns what is read once per start of the channel
    g_channel.port = open("/dev/port", O_RDWR | O_CLOEXEC);
    if (g_channel.port >= 0) return VEK_HOST_DRIVER_READY;
    return errno == ENOENT ? VEK_HOST_DRIVER_NO_FILE : VEK_HOST_DRIVER_START_FAILED;
#endif
}

void Stop(void*) {
    for (int* fd : {&g_channel.port, &g_channel.mem, &g_channel.msr}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

int Elevated(void*) { return NativeChannelCapabilities() ? 1 : 0; }

uint32_t Identity(void*, uint32_t item, char* out, uint32_t size) { return ReadDmiIdentity(item, out, size); }

void Cpuid(void*, uint32_t leaf, uint32_t regs[4]) {
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_count(leaf, 0, &a, &b, &c, &d)) {
        regs[0] = a; regs[1] = b; regs[2] = c; regs[3] = d;
    }
#else
    (void)leaf;
    (void)regs;
#endif
}

int64_t Frequency(void*) { return 1'000'000'000; }

uint32_t BrightnessRead(void*, uint8_t* level) { return BacklightRead(level); }
uint32_t BrightnessSet(void*, uint8_t level) { return BacklightSet(level); }
uint32_t HostI2cOpen(void*, uint32_t controller, uint8_t address7, void** handle) {
    return I2cOpen(controller, address7, handle);
}
uint32_t HostI2cTransfer(void*, void* handle, const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                         uint32_t* transferred) {
    return I2cTransfer(handle, write, wlen, read, rlen, transferred);
}
void HostI2cClose(void*, void* handle) { I2cClose(handle); }

uint32_t SeamResourceOwner(void*, uint32_t resource, uint32_t a, uint32_t b, char* driver, uint32_t size) {
    return OwnerWithOverride(CurrentProbe(), resource, a, b, driver, size);
}
uint32_t HostEcRamRead(void*, uint8_t offset, uint8_t* value) { return KernelEcRead(offset, value); }
uint32_t HostEcRamWrite(void*, uint8_t offset, uint8_t value) { return KernelEcWrite(offset, value); }
uint32_t HostSpeakerTone(void*, uint32_t hz) { return KernelTone(hz); }
uint32_t HostHwmonRead(void*, uint16_t ioBase, uint32_t kind, uint32_t index, int32_t* value) {
    return HwmonRead(CurrentProbe().Path(""), ioBase, kind, index, value);
}
uint32_t HostSmbusOpen(void*, uint32_t pciAddress, uint16_t ioBase, void** handle) {
    return SmbusDevOpen(CurrentProbe(), pciAddress, ioBase, handle);
}
uint32_t HostSmbusTransfer(void*, void* handle, uint8_t address7, vek_host_smbus_transfer* t) {
    return SmbusDevTransfer(handle, address7, t);
}
void HostSmbusClose(void*, void* handle) { SmbusDevClose(handle); }

int64_t Now(void*) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// With the timer slack at 1 ns for the sleep a wake is a few microseconds late
// on an idle machine; the stretch also covers a wake-up that waits for a busy
// core (measured: p99 below 20 us on 1 ms waits for about 5 % of a core).
constexpr int64_t kLinuxMinSpinNs = 60'000;
WakeLateness g_lateness{kLinuxMinSpinNs};

// Sleeps the bulk on CLOCK_MONOTONIC (the counter's own clock), spins the rest.
// The thread's timer slack (50 us by default) is narrowed for the sleep and
// put back after it, so the caller's thread keeps its own setting.
void DelayUs(void*, int64_t microseconds) {
    const int64_t deadline = DeadlineNs(Now(nullptr), microseconds);
    WaitUntil(deadline, g_lateness, [] { return Now(nullptr); }, [](int64_t wakeNs) {
        timespec at{};
        at.tv_sec = time_t(wakeNs / 1'000'000'000);
        at.tv_nsec = long(wakeNs % 1'000'000'000);
        const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
        if (slack > 1) prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0);
        int rc;
        while ((rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr)) == EINTR) {
        }
        if (slack > 1) prctl(PR_SET_TIMERSLACK, slack, 0, 0, 0);
        return rc == 0;
    });
}

vek_host_platform MakeLinux() {
    vek_host_platform p{};
    p.size = sizeof p;
    p.driver_start = Start;
    p.driver_stop = Stop;
    p.process_elevated = Elevated;
    p.driver_request = Request;
    p.identity = Identity;
    p.cpuid = Cpuid;
    p.counter_frequency = Frequency;
    p.counter_now = Now;
    p.delay_us = DelayUs;
    p.brightness_read = BrightnessRead;
    p.brightness_set = BrightnessSet;
    p.i2c_open = HostI2cOpen;
    p.i2c_transfer = HostI2cTransfer;
    p.i2c_close = HostI2cClose;
    p.resource_owner = SeamResourceOwner;
    p.smbus_open = HostSmbusOpen;
    p.smbus_transfer = HostSmbusTransfer;
    p.smbus_close = HostSmbusClose;
    p.ec_ram_read = HostEcRamRead;
    p.ec_ram_write = HostEcRamWrite;
    p.speaker_tone = HostSpeakerTone;
    p.hwmon_read = HostHwmonRead;
    return p;
}

// --- DMI ---
std::string g_dmiRoot = "/sys/class/dmi/id";

const char* DmiFile(uint32_t item) {
    switch (item) {
    case VEK_HOST_ID_PRODUCT: return "board_name";
    case VEK_HOST_ID_BIOS_VENDOR: return "bios_vendor";
    case VEK_HOST_ID_BIOS_VERSION: return "bios_version";
    case VEK_HOST_ID_SERIAL: return "board_serial";
    case VEK_HOST_ID_BOARD_VERSION: return "board_version";
    default: return nullptr;
    }
}

} // namespace

const vek_host_platform& NativePlatform() {
    static const vek_host_platform linux = MakeLinux();
    return linux;
}

void SetDmiRoot(const std::string& root) { g_dmiRoot = root; }
const std::string& DmiRoot() { return g_dmiRoot; }

uint32_t ReadDmiIdentity(uint32_t item, char* out, uint32_t size) {
    const char* file = DmiFile(item);
    if (file == nullptr || out == nullptr || size == 0) return 16;
    std::ifstream in(g_dmiRoot + "/" + file);
    if (!in) return 16;
    std::string value;
    std::getline(in, value);
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' '))
        value.pop_back();
    if (value.empty()) return 0; // an empty property leaves the destination as it was
    const size_t n = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return 0;
}

} // namespace vek::os
