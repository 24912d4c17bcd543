#include "os/linux/ownership.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "os/linux/sysfs.h"
#include "vek/host.h"

namespace vek::os {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Basename(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LinkTarget(const std::string& path) {
    char buf[512];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return {};
    buf[n] = '\0';
    return buf;
}

bool AllHex(const std::string& s, size_t from, size_t to) {
    if (from >= to || to > s.size()) return false;
    for (size_t i = from; i < to; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

// Ranges that only describe where things are (bus windows, PCI BARs, ACPI and
// PnP device resources) rather than a driver's request_region.
bool IsContainer(const std::string& n) {
    for (const char* prefix : {"PCI Bus", "PCI conf", "pnp ", "reserved", "Reserved"})
        if (n.rfind(prefix, 0) == 0) return true;
    // 0000:00:1f.3 — a PCI function's BAR
    if (n.size() == 12 && n[4] == ':' && n[7] == ':' && n[10] == '.' && AllHex(n, 0, 4) && AllHex(n, 5, 7) &&
        AllHex(n, 8, 10) && AllHex(n, 11, 12))
        return true;
    // PNP0C09:00, INT3F0D:00, ACPI0003:00 — an ACPI device's resource
    const size_t colon = n.find(':');
    if (colon >= 7 && colon <= 8 && n.size() == colon + 3 && AllHex(n, colon + 1, n.size())) {
        for (size_t i = 0; i < colon; ++i)
            if (!std::isupper(static_cast<unsigned char>(n[i])) && !std::isdigit(static_cast<unsigned char>(n[i])))
                return false;
        return true;
    }
    return false;
}

// A region name as the driver that requested it is known.
std::string DriverOfRegion(const std::string& name) {
    if (name == "EC data" || name == "EC cmd") return "ec";
    // platform devices: "it87.2608", "iTCO_wdt.0.auto"
    const size_t dot = name.find('.');
    if (dot != std::string::npos && dot > 0 && dot + 1 < name.size() &&
        std::isdigit(static_cast<unsigned char>(name[dot + 1])))
        return name.substr(0, dot);
    return name;
}

Claim Free() { return {}; }
Claim Owned(std::string driver) { return {true, std::move(driver)}; }

} // namespace

std::vector<IoportEntry> ParseIoports(const std::string& text) {
    std::vector<IoportEntry> entries;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos) continue;
        unsigned first = 0, last = 0;
        int used = 0;
        if (std::sscanf(line.c_str() + start, "%x-%x : %n", &first, &last, &used) < 2 || used == 0) continue;
        std::string name = line.substr(start + size_t(used));
        while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
        entries.push_back({first, last, int(start / 2), name});
    }
    return entries;
}

std::string PciName(uint32_t pciAddress) {
    char name[16];
    std::snprintf(name, sizeof name, "0000:%02x:%02x.%x", (pciAddress >> 8) & 0xFF, (pciAddress >> 3) & 0x1F,
                  pciAddress & 7);
    return name;
}

OwnershipProbe::OwnershipProbe(std::string root) : root_(std::move(root)) {
    ioports_ = ParseIoports(ReadAll(Path("/proc/ioports")));
    hidden_ = !ioports_.empty();
    for (const IoportEntry& e : ioports_)
        if (e.first != 0 || e.last != 0) hidden_ = false;
}

Lockdown OwnershipProbe::lockdown() const {
    const std::string text = sysfs::FirstLine(Path("/sys/kernel/security/lockdown"));
    if (text.find("[integrity]") != std::string::npos) return Lockdown::Integrity;
    if (text.find("[confidentiality]") != std::string::npos) return Lockdown::Confidentiality;
    return Lockdown::None;
}

Claim OwnershipProbe::Ports(uint32_t first, uint32_t last) const {
    const IoportEntry* best = nullptr;
    for (const IoportEntry& e : ioports_) {
        if (e.last < first || e.first > last || IsContainer(e.name)) continue;
        if (best == nullptr || e.depth > best->depth) best = &e;
    }
    return best ? Owned(DriverOfRegion(best->name)) : Free();
}

Claim OwnershipProbe::RangeClaim(uint32_t first, uint32_t last) const {
    if (hidden_) return Owned({});
    return Ports(first, last);
}

Claim OwnershipProbe::SmbusController(const SmbusLocation& where) const {
    if (where.pciIsController) {
        const std::string driver = Basename(LinkTarget(Path("/sys/bus/pci/devices/" + PciName(where.pciAddress) + "/driver")));
        if (!driver.empty()) return Owned(driver);
    }
    const uint32_t size = where.ioSize ? where.ioSize : 1;
    return RangeClaim(where.ioBase, where.ioBase + size - 1);
}

Claim OwnershipProbe::EcPorts(uint16_t dataPort, uint16_t commandPort) const {
    Claim c = RangeClaim(dataPort, dataPort);
    return c.claimed ? c : RangeClaim(commandPort, commandPort);
}

Claim OwnershipProbe::SuperIoBlock(uint16_t base, uint16_t size) const {
    // hwmon and GPIO drivers of these chips name their platform device after the
    // block's base in decimal ("it87.2608"), so a bound device shows its base
    // even to readers who see /proc/ioports as zeros.
    const std::string suffix = "." + std::to_string(base);
    const std::string drivers = Path("/sys/bus/platform/drivers");
    for (const std::string& driver : sysfs::Entries(drivers))
        for (const std::string& dev : sysfs::Entries(drivers + "/" + driver))
            if (dev.size() > suffix.size() && dev.compare(dev.size() - suffix.size(), suffix.size(), suffix) == 0)
                return Owned(driver);
    return RangeClaim(base, base + (size ? size : 1) - 1u);
}

Claim OwnershipProbe::Watchdog(uint16_t base, uint16_t size) const {
    for (const char* driver : {"iTCO_wdt", "sp5100-tco", "sp5100_tco"})
        if (!BoundDevices("platform", driver).empty() || !BoundDevices("pci", driver).empty()) return Owned(driver);
    return RangeClaim(base, base + (size ? size : 1) - 1u);
}

Claim OwnershipProbe::Speaker() const {
    // Both drivers register as platform driver "pcspkr" and neither requests
    // 0x61 as a region; the module list is readable by everyone.
    if (ModuleLoaded("snd_pcsp")) return Owned("snd_pcsp");
    if (ModuleLoaded("pcspkr") || !BoundDevices("platform", "pcspkr").empty()) return Owned("pcspkr");
    return Free();
}

int OwnershipProbe::SmbusAdapter(uint32_t pciAddress, uint16_t ioBase) const {
    char at[16];
    std::snprintf(at, sizeof at, " at %04x", ioBase);
    auto busOf = [](const std::string& name) { return std::atoi(name.c_str() + 4); };
    auto isAdapter = [](const std::string& name) {
        return name.size() > 4 && name.rfind("i2c-", 0) == 0 && std::isdigit(static_cast<unsigned char>(name[4]));
    };
    auto nameHasBase = [&](const std::string& adapterDir) {
        return sysfs::FirstLine(adapterDir + "/name").find(at) != std::string::npos;
    };
    // Adapters of the PCI function itself: the lowest-numbered one whose name
    // carries the base (piix4 registers one adapter per port), else the lowest.
    const std::string pci = Path("/sys/bus/pci/devices/" + PciName(pciAddress));
    int withBase = -1, lowest = -1;
    for (const std::string& e : sysfs::Entries(pci)) {
        if (!isAdapter(e)) continue;
        const int bus = busOf(e);
        if (nameHasBase(pci + "/" + e) && (withBase < 0 || bus < withBase)) withBase = bus;
        if (lowest < 0 || bus < lowest) lowest = bus;
    }
    if (withBase >= 0) return withBase;
    if (lowest >= 0) return lowest;
    // Controllers behind a bridge (isch_smbus under the LPC function): by the base in the name.
    const std::string all = Path("/sys/bus/i2c/devices");
    int best = -1;
    for (const std::string& e : sysfs::Entries(all)) {
        if (!isAdapter(e)) continue;
        const std::string name = sysfs::FirstLine(all + "/" + e + "/name");
        if (name.rfind("SMBus", 0) == 0 && name.find(at) != std::string::npos && (best < 0 || busOf(e) < best))
            best = busOf(e);
    }
    return best;
}

bool OwnershipProbe::ModuleLoaded(const std::string& name) const {
    std::string n = name;
    for (char& c : n)
        if (c == '-') c = '_';
    return sysfs::Exists(Path("/sys/module/" + n));
}

std::vector<std::string> OwnershipProbe::BoundDevices(const std::string& bus, const std::string& driver) const {
    std::vector<std::string> devices;
    for (const std::string& e : sysfs::Entries(Path("/sys/bus/" + bus + "/drivers/" + driver))) {
        // the driver directory also holds bind, unbind, uevent, module, new_id...
        if (e.find(':') != std::string::npos || e.find('.') != std::string::npos || e == driver) devices.push_back(e);
    }
    return devices;
}

uint32_t HostResourceOwner(const OwnershipProbe& probe, uint32_t resource, uint32_t a, uint32_t b, char* driver,
                           uint32_t driverSize) {
    Claim c;
    switch (resource) {
    case VEK_HOST_RES_SMBUS:
        c = probe.SmbusController({a, (b & 0x80000000u) == 0, uint16_t(b & 0xFFFF), uint16_t((b >> 16) & 0x7FFF)});
        break;
    case VEK_HOST_RES_EC: c = probe.EcPorts(uint16_t(a), uint16_t(b)); break;
    case VEK_HOST_RES_SIO_MONITOR:
    case VEK_HOST_RES_SIO_GPIO: c = probe.SuperIoBlock(uint16_t(a), uint16_t(b)); break;
    case VEK_HOST_RES_WATCHDOG: c = probe.Watchdog(uint16_t(a), uint16_t(b)); break;
    case VEK_HOST_RES_SPEAKER: c = probe.Speaker(); break;
    default: return VEK_HOST_OWNER_NONE;
    }
    if (driver != nullptr && driverSize > 0) {
        const size_t n = c.driver.size() < driverSize - 1 ? c.driver.size() : driverSize - 1;
        std::memcpy(driver, c.driver.data(), n);
        driver[n] = '\0';
    }
    if (!c.claimed) return VEK_HOST_OWNER_NONE;
    return c.driver.empty() ? VEK_HOST_OWNER_HIDDEN : VEK_HOST_OWNER_KERNEL;
}

namespace {
std::string g_root;
OwnershipProbe* g_probe = nullptr;
} // namespace

const OwnershipProbe& CurrentProbe() {
    if (g_probe == nullptr) RefreshProbe();
    return *g_probe;
}

void RefreshProbe() {
    delete g_probe;
    g_probe = new OwnershipProbe(g_root);
}

void SetOwnershipRoot(const std::string& root) {
    g_root = root;
    RefreshProbe();
}

} // namespace vek::os
