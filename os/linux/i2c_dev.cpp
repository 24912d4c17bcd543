#include "os/linux/i2c_dev.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <optional>
#include <sstream>
#include <vector>

#include "os/linux/sysfs.h"

namespace vek::os {
namespace {

constexpr uint32_t kOpenFailed = 6;
enum TransferStatus : uint32_t {
    kFull = 0,
    kPartial = 1,
    kNotAcknowledged = 2,
    kClockStretchTimeout = 3,
    kUnknownError = 4,
    kNothingSent = 0xFFFFFFFFu,
};

constexpr uint32_t kMaxMessage = 8192; // i2c-dev's limit per message

const char* const kControllerNames[] = {"I2C0", "I2C1"};
constexpr char kOverrideVariable[] = "VEK_I2C_MAP";

std::string g_adapters = "/sys/class/i2c-adapter";
std::string g_devices = "/dev";
std::string g_configFile = "/etc/vek/i2c.conf";

int KernelIoctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }
I2cIoctl g_ioctl = &KernelIoctl;

struct Handle {
    int fd;
    uint16_t address;
    unsigned long functions;
};

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// "NAME=ADAPTER" entries separated by `separator`; lines starting with '#' are comments.
std::optional<std::string> FindEntry(std::istream& in, char separator, const std::string& name) {
    std::string entry;
    while (std::getline(in, entry, separator)) {
        entry = Trim(entry);
        const size_t eq = entry.find('=');
        if (entry.empty() || entry[0] == '#' || eq == std::string::npos) continue;
        if (Trim(entry.substr(0, eq)) == name) return Trim(entry.substr(eq + 1));
    }
    return std::nullopt;
}

// The environment's entry for the name, else the configuration file's.
std::optional<std::string> Override(const std::string& name) {
    if (const char* map = std::getenv(kOverrideVariable)) {
        std::istringstream in(map);
        if (std::optional<std::string> entry = FindEntry(in, ';', name)) return entry;
    }
    std::ifstream file(g_configFile);
    if (!file) return std::nullopt;
    return FindEntry(file, '\n', name);
}

// "3" or "i2c-3" -> 3; anything else -> -1.
int BusNumber(const std::string& text) {
    std::string digits = text.rfind("i2c-", 0) == 0 ? text.substr(4) : text;
    if (digits.empty() || digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) return -1;
    return std::atoi(digits.c_str());
}

struct Adapter {
    int bus;
    std::string dir;
};

std::vector<Adapter> Adapters() {
    std::vector<Adapter> list;
    for (const std::string& entry : sysfs::Entries(g_adapters)) {
        const int bus = BusNumber(entry);
        if (bus >= 0) list.push_back({bus, g_adapters + "/" + entry});
    }
    std::sort(list.begin(), list.end(), [](const Adapter& a, const Adapter& b) { return a.bus < b.bus; });
    return list;
}

// Last segment of an ACPI path such as "\_SB_.PCI0.I2C0".
bool AcpiNodeIs(const std::string& adapter, const std::string& name) {
    for (const char* link : {"/firmware_node/path", "/device/firmware_node/path"}) {
        const std::string path = sysfs::FirstLine(adapter + link);
        const size_t dot = path.find_last_of(".\\");
        if (!path.empty() && path.substr(dot == std::string::npos ? 0 : dot + 1) == name) return true;
    }
    return false;
}

int ByName(const std::vector<Adapter>& adapters, const std::string& name) {
    for (const Adapter& a : adapters)
        if (sysfs::FirstLine(a.dir + "/name") == name) return a.bus;
    return -1;
}

uint32_t StatusOfErrno(int error) {
    switch (error) {
    case ENXIO:     // address phase not acknowledged
    case EREMOTEIO: // transfer aborted on a NAK (DesignWare and others)
    case ENODEV:    // nothing at that address
        return kNotAcknowledged;
    case ETIMEDOUT: // a slave held the clock too long
        return kClockStretchTimeout;
    default:
        return kUnknownError;
    }
}

// Adapters without plain I2C transfers (SMBus controllers, i2c-stub) still
// carry the transfers SMBus commands can express; others fail as unknown.
uint32_t SmbusTransfer(const Handle& h, const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                       uint32_t* transferred) {
    i2c_smbus_data data{};
    i2c_smbus_ioctl_data args{};
    const bool blockWrite = rlen == 0 && wlen >= 3 && wlen - 1 <= I2C_SMBUS_BLOCK_MAX;
    const bool blockRead = wlen == 1 && rlen >= 2 && rlen <= I2C_SMBUS_BLOCK_MAX;
    if (wlen == 1 && rlen == 0) {
        args = {I2C_SMBUS_WRITE, write[0], I2C_SMBUS_BYTE, nullptr};
    } else if (wlen == 2 && rlen == 0) {
        args = {I2C_SMBUS_WRITE, write[0], I2C_SMBUS_BYTE_DATA, &data};
        data.byte = write[1];
    } else if (blockWrite) {
        args = {I2C_SMBUS_WRITE, write[0], I2C_SMBUS_I2C_BLOCK_DATA, &data};
        data.block[0] = uint8_t(wlen - 1);
        std::memcpy(data.block + 1, write + 1, wlen - 1);
    } else if (wlen == 0 && rlen == 1) {
        args = {I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &data};
    } else if (wlen == 1 && rlen == 1) {
        args = {I2C_SMBUS_READ, write[0], I2C_SMBUS_BYTE_DATA, &data};
    } else if (blockRead) {
        args = {I2C_SMBUS_READ, write[0], I2C_SMBUS_I2C_BLOCK_DATA, &data};
        data.block[0] = uint8_t(rlen);
    } else {
        return kUnknownError;
    }
    if (g_ioctl(h.fd, I2C_SMBUS, &args) < 0) return StatusOfErrno(errno);
    if (rlen == 1) read[0] = data.byte;
    if (blockRead) std::memcpy(read, data.block + 1, std::min<uint32_t>(rlen, data.block[0]));
    const uint32_t got = blockRead ? std::min<uint32_t>(rlen, data.block[0]) : rlen;
    *transferred = wlen + got;
    return got == rlen ? kFull : kPartial;
}

} // namespace

void SetI2cRoots(const std::string& adapters, const std::string& devices) {
    g_adapters = adapters;
    g_devices = devices;
}
void SetI2cConfigFile(const std::string& path) { g_configFile = path; }
void SetI2cIoctl(I2cIoctl fn) { g_ioctl = fn ? fn : &KernelIoctl; }

int ResolveI2cController(uint32_t controller) {
    if (controller >= std::size(kControllerNames)) return -1;
    const std::string name = kControllerNames[controller];
    const std::vector<Adapter> adapters = Adapters();
    if (std::optional<std::string> chosen = Override(name)) {
        const int bus = BusNumber(*chosen);
        return bus >= 0 ? bus : ByName(adapters, *chosen);
    }
    if (int bus = ByName(adapters, name); bus >= 0) return bus;
    for (const Adapter& a : adapters)
        if (AcpiNodeIs(a.dir, name)) return a.bus;
    return -1;
}

uint32_t I2cOpen(uint32_t controller, uint8_t address7, void** handle) {
    if (handle == nullptr) return kOpenFailed;
    *handle = nullptr;
    const int bus = ResolveI2cController(controller);
    if (bus < 0 || address7 > 0x7F) return kOpenFailed;
    char node[32];
    std::snprintf(node, sizeof node, "/i2c-%d", bus);
    const int fd = ::open((g_devices + node).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return kOpenFailed;
    unsigned long functions = 0;
    // I2C_SLAVE (not I2C_SLAVE_FORCE): an address a kernel driver has bound is
    // in use, and the open fails as it does for a device held elsewhere.
    if (g_ioctl(fd, I2C_FUNCS, &functions) < 0 ||
        g_ioctl(fd, I2C_SLAVE, reinterpret_cast<void*>(uintptr_t(address7))) < 0) {
        ::close(fd);
        return kOpenFailed;
    }
    auto* h = new (std::nothrow) Handle{fd, address7, functions};
    if (h == nullptr) {
        ::close(fd);
        return kOpenFailed;
    }
    *handle = h;
    return 0;
}

uint32_t I2cTransfer(void* handle, const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                     uint32_t* transferred) {
    uint32_t moved = 0;
    if (transferred == nullptr) transferred = &moved;
    *transferred = 0;
    const auto* h = static_cast<const Handle*>(handle);
    if (write == nullptr) wlen = 0;
    if (read == nullptr) rlen = 0;
    if (h == nullptr || (wlen == 0 && rlen == 0)) return kNothingSent;
    if (wlen > kMaxMessage || rlen > kMaxMessage) return kUnknownError;
    if ((h->functions & I2C_FUNC_I2C) == 0) return SmbusTransfer(*h, write, wlen, read, rlen, transferred);

    // Both messages in one request: one start, a repeated start, one stop.
    i2c_msg msgs[2];
    uint32_t count = 0;
    if (wlen != 0) msgs[count++] = {h->address, 0, uint16_t(wlen), const_cast<uint8_t*>(write)};
    if (rlen != 0) msgs[count++] = {h->address, I2C_M_RD, uint16_t(rlen), read};
    i2c_rdwr_ioctl_data request{msgs, count};
    const int done = g_ioctl(h->fd, I2C_RDWR, &request);
    if (done < 0) return StatusOfErrno(errno);
    for (int i = 0; i < done && i < int(count); ++i) *transferred += msgs[i].len;
    return uint32_t(done) >= count ? kFull : kPartial;
}

void I2cClose(void* handle) {
    auto* h = static_cast<Handle*>(handle);
    if (h == nullptr) return;
    ::close(h->fd);
    delete h;
}

} // namespace vek::os
