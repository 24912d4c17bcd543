#include "os/linux/i2c_dev.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <limits.h>
#include <stdlib.h>
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

#include "os/linux/privileges.h"
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

std::string g_adapters; // empty: the bus listing, else the class listing
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
    if (const char* map = ::secure_getenv(kOverrideVariable)) {
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

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ::tolower(x) == ::tolower(y); });
}

// "0000:00:15.0" or "00:15.0" -> "0000:00:15.0"; anything else -> empty.
std::string PciAddress(const std::string& text) {
    const std::string full = text.size() == 7 ? "0000:" + text : text;
    if (full.size() != 12 || full[4] != ':' || full[7] != ':' || full[10] != '.' || full[11] < '0' || full[11] > '7')
        return {};
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (!::isxdigit(static_cast<unsigned char>(full[i]))) return {};
    std::string lower = full;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    return lower;
}

struct AcpiNode {
    std::string path; // "\_SB_.PCI0.I2C0"
    std::string hid;  // "AMDI0010"; empty for PCI functions, which have an address instead
    std::string Segment() const {
        const size_t dot = path.find_last_of(".\\");
        return path.substr(dot == std::string::npos ? 0 : dot + 1);
    }
};

struct Adapter {
    int bus;
    std::string name;
    std::vector<AcpiNode> nodes; // of the adapter and of the controller devices above it
    std::string pci;             // the nearest PCI function above the adapter, if any
};

// The controller's ACPI node sits on the adapter's parent (an ACPI platform
// device such as AMDI0010:00) or one level further up (Intel LPSS: the PCI
// function above its i2c_designware.N child); the class listing adds a
// "device" link to the parent.
constexpr int kControllerLevels = 3;

Adapter Describe(int bus, const std::string& dir) {
    Adapter a{bus, sysfs::FirstLine(dir + "/name"), {}, {}};
    std::vector<std::string> places{dir, dir + "/device"};
    char resolved[PATH_MAX];
    if (::realpath(dir.c_str(), resolved) != nullptr) {
        std::string up = resolved;
        for (int level = 0; level < kControllerLevels && up.size() > 1; ++level) {
            up = up.substr(0, up.find_last_of('/'));
            places.push_back(up);
        }
        // Deepest PCI address in the device path.
        for (std::string rest = resolved; !rest.empty() && a.pci.empty();) {
            const size_t slash = rest.find_last_of('/');
            a.pci = PciAddress(rest.substr(slash == std::string::npos ? 0 : slash + 1));
            rest = slash == std::string::npos ? std::string() : rest.substr(0, slash);
        }
    }
    for (const std::string& place : places) {
        const std::string path = sysfs::FirstLine(place + "/firmware_node/path");
        if (!path.empty()) a.nodes.push_back({path, sysfs::FirstLine(place + "/firmware_node/hid")});
    }
    return a;
}

// /sys/bus/i2c/devices is always there with the i2c core; /sys/class/i2c-adapter
// only with the compatibility option, so it is the fallback.
std::string AdapterListing() {
    if (!g_adapters.empty()) return g_adapters;
    return sysfs::Exists("/sys/bus/i2c/devices") ? "/sys/bus/i2c/devices" : "/sys/class/i2c-adapter";
}

// Adapters by bus number; the bus listing also holds clients ("3-0050"), which are skipped.
std::vector<Adapter> Adapters() {
    const std::string listing = AdapterListing();
    std::vector<Adapter> list;
    for (const std::string& entry : sysfs::Entries(listing)) {
        const int bus = BusNumber(entry);
        if (bus >= 0 && entry.rfind("i2c-", 0) == 0) list.push_back(Describe(bus, listing + "/" + entry));
    }
    std::sort(list.begin(), list.end(), [](const Adapter& a, const Adapter& b) { return a.bus < b.bus; });
    return list;
}

// AMD's controllers (AMDI0010 and its relatives) are named I2CA, I2CB, ... in
// ACPI where Intel's LPSS and DesignWare blocks are I2C0, I2C1, ...
bool AmdController(const std::string& hid) {
    for (const char* id : {"AMD0010", "AMDI0010", "AMDI0019", "AMDI0510"})
        if (hid == id) return true;
    return false;
}

using AdapterTest = bool (*)(const Adapter&, const std::string& value, uint32_t controller);

int First(const std::vector<Adapter>& adapters, const std::string& value, uint32_t controller, AdapterTest test) {
    for (const Adapter& a : adapters)
        if (test(a, value, controller)) return a.bus;
    return -1;
}

bool NameIs(const Adapter& a, const std::string& name, uint32_t) { return a.name == name; }

bool AcpiSegmentIs(const Adapter& a, const std::string& name, uint32_t) {
    return std::any_of(a.nodes.begin(), a.nodes.end(), [&](const AcpiNode& n) { return n.Segment() == name; });
}

bool AmdLetterIs(const Adapter& a, const std::string&, uint32_t controller) {
    const std::string letter = std::string("I2C") + char('A' + controller);
    return std::any_of(a.nodes.begin(), a.nodes.end(),
                       [&](const AcpiNode& n) { return AmdController(n.hid) && n.Segment() == letter; });
}

bool AcpiPathIs(const Adapter& a, const std::string& path, uint32_t) {
    return std::any_of(a.nodes.begin(), a.nodes.end(),
                       [&](const AcpiNode& n) { return EqualsIgnoringCase(n.path, path); });
}

bool PciAddressIs(const Adapter& a, const std::string& address, uint32_t) { return !a.pci.empty() && a.pci == address; }

// An override names a bus number, an ACPI path, a PCI address or an adapter name.
int ByOverride(const std::vector<Adapter>& adapters, const std::string& chosen) {
    if (const int bus = BusNumber(chosen); bus >= 0) return bus;
    if (!chosen.empty() && chosen[0] == '\\') return First(adapters, chosen, 0, &AcpiPathIs);
    if (const std::string pci = PciAddress(chosen); !pci.empty()) return First(adapters, pci, 0, &PciAddressIs);
    return First(adapters, chosen, 0, &NameIs);
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

// An SMBus transaction that puts the same bytes on the wire as an I2C transfer.
struct SmbusPlan {
    uint8_t readWrite;
    uint32_t size;          // I2C_SMBUS_*
    unsigned long function; // I2C_FUNC_* the adapter must offer
};

// Adapters without plain I2C transfers (SMBus controllers, i2c-stub) still
// carry the transfers SMBus commands can express. Where two transactions fit,
// the I2C block forms come first (they send exactly the bytes asked); word
// data and the counted SMBus block cover adapters without them, and the
// counted block is the only form for 32 data bytes plus the count.
std::optional<SmbusPlan> PlanSmbus(unsigned long functions, const uint8_t* write, uint32_t wlen, uint32_t rlen) {
    // A write whose second byte counts the bytes after it is an SMBus block write.
    const bool counted = wlen >= 3 && write[1] == wlen - 2 && wlen - 2 <= I2C_SMBUS_BLOCK_MAX;
    SmbusPlan choices[2];
    size_t n = 0;
    auto offer = [&](uint8_t rw, uint32_t size, unsigned long function) { choices[n++] = {rw, size, function}; };
    if (wlen == 1 && rlen == 0) offer(I2C_SMBUS_WRITE, I2C_SMBUS_BYTE, I2C_FUNC_SMBUS_WRITE_BYTE);
    else if (wlen == 0 && rlen == 1) offer(I2C_SMBUS_READ, I2C_SMBUS_BYTE, I2C_FUNC_SMBUS_READ_BYTE);
    else if (wlen == 2 && rlen == 0) offer(I2C_SMBUS_WRITE, I2C_SMBUS_BYTE_DATA, I2C_FUNC_SMBUS_WRITE_BYTE_DATA);
    else if (wlen == 1 && rlen == 1) offer(I2C_SMBUS_READ, I2C_SMBUS_BYTE_DATA, I2C_FUNC_SMBUS_READ_BYTE_DATA);
    else if (wlen >= 3 && rlen == 0) {
        if (wlen - 1 <= I2C_SMBUS_BLOCK_MAX)
            offer(I2C_SMBUS_WRITE, I2C_SMBUS_I2C_BLOCK_DATA, I2C_FUNC_SMBUS_WRITE_I2C_BLOCK);
        if (wlen == 3) offer(I2C_SMBUS_WRITE, I2C_SMBUS_WORD_DATA, I2C_FUNC_SMBUS_WRITE_WORD_DATA);
        else if (counted) offer(I2C_SMBUS_WRITE, I2C_SMBUS_BLOCK_DATA, I2C_FUNC_SMBUS_WRITE_BLOCK_DATA);
    } else if (wlen == 1 && rlen >= 2 && rlen <= I2C_SMBUS_BLOCK_MAX) {
        offer(I2C_SMBUS_READ, I2C_SMBUS_I2C_BLOCK_DATA, I2C_FUNC_SMBUS_READ_I2C_BLOCK);
        if (rlen == 2) offer(I2C_SMBUS_READ, I2C_SMBUS_WORD_DATA, I2C_FUNC_SMBUS_READ_WORD_DATA);
    } else if (wlen == 1 && rlen == I2C_SMBUS_BLOCK_MAX + 1) {
        // The count byte and up to 32 data bytes: the slave decides the length.
        offer(I2C_SMBUS_READ, I2C_SMBUS_BLOCK_DATA, I2C_FUNC_SMBUS_READ_BLOCK_DATA);
    }
    for (size_t i = 0; i < n; ++i)
        if (functions & choices[i].function) return choices[i];
    return std::nullopt;
}

uint32_t SmbusTransfer(const Handle& h, const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                       uint32_t* transferred) {
    const std::optional<SmbusPlan> plan = PlanSmbus(h.functions, write, wlen, rlen);
    if (!plan) return kUnknownError;
    i2c_smbus_data data{};
    i2c_smbus_ioctl_data args{plan->readWrite, wlen != 0 ? write[0] : uint8_t(0), plan->size, &data};
    const bool reading = plan->readWrite == I2C_SMBUS_READ;
    switch (plan->size) {
    case I2C_SMBUS_BYTE:
        if (!reading) args.data = nullptr; // the command byte is the byte sent
        break;
    case I2C_SMBUS_BYTE_DATA: data.byte = wlen == 2 ? write[1] : 0; break;
    case I2C_SMBUS_WORD_DATA: data.word = wlen == 3 ? uint16_t(write[1] | write[2] << 8) : 0; break;
    case I2C_SMBUS_I2C_BLOCK_DATA:
        data.block[0] = uint8_t(reading ? rlen : wlen - 1);
        if (!reading) std::memcpy(data.block + 1, write + 1, wlen - 1);
        break;
    case I2C_SMBUS_BLOCK_DATA:
        if (!reading) std::memcpy(data.block, write + 1, wlen - 1); // count, then the data
        break;
    }
    if (g_ioctl(h.fd, I2C_SMBUS, &args) < 0) return StatusOfErrno(errno);
    uint32_t got = rlen;
    if (reading) {
        switch (plan->size) {
        case I2C_SMBUS_BYTE:
        case I2C_SMBUS_BYTE_DATA: read[0] = data.byte; break;
        case I2C_SMBUS_WORD_DATA: read[0] = uint8_t(data.word); read[1] = uint8_t(data.word >> 8); break;
        case I2C_SMBUS_I2C_BLOCK_DATA:
            got = std::min<uint32_t>(rlen, data.block[0]);
            std::memcpy(read, data.block + 1, got);
            break;
        case I2C_SMBUS_BLOCK_DATA:
            got = std::min<uint32_t>(rlen, uint32_t(data.block[0]) + 1);
            std::memcpy(read, data.block, got);
            break;
        }
    }
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
    if (std::optional<std::string> chosen = Override(name)) return ByOverride(adapters, *chosen);
    for (AdapterTest test : {&NameIs, &AcpiSegmentIs, &AmdLetterIs})
        if (const int bus = First(adapters, name, controller, test); bus >= 0) return bus;
    return -1;
}

uint32_t I2cOpen(uint32_t controller, uint8_t address7, void** handle) {
    if (handle == nullptr) return kOpenFailed;
    *handle = nullptr;
    const int bus = ResolveI2cController(controller);
    if (bus < 0 || address7 > 0x7F) return kOpenFailed;
    ConfineRaisedPrivileges();
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
