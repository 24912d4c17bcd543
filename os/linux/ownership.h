// Who else drives the hardware: the kernel's claims on the resources the
// library would touch, read from /proc and /sys at Init.
//
// API in short (the EC, Super I/O, watchdog and speaker routes build on it):
//   OwnershipProbe probe;            // the live system; OwnershipProbe("/tmp/fake") reads a fake tree
//   Claim c = probe.SmbusController({pci, true, ioBase, 0x20});
//   if (c.claimed) ... c.driver is the kernel driver ("i801_smbus"), empty when
//                      the claimant cannot be seen (addresses read as 0 without
//                      CAP_SYS_ADMIN: then every range counts as claimed)
//   probe.EcPorts(0x62, 0x66)        "ec" while the ACPI EC driver holds them
//   probe.SuperIoBlock(base, size)   "it87", "nct6775", ... (monitor or GPIO base)
//   probe.Watchdog(base, size)       "iTCO_wdt", "sp5100-tco"
//   probe.Speaker()                  "pcspkr" or "snd_pcsp"
//   probe.Ports(first, last)         the innermost /proc/ioports claimant
//   probe.lockdown()                 None / Integrity / Confidentiality
//   probe.SmbusAdapter(pci, ioBase)  i2c bus number of the controller's adapter, or -1
//   probe.Path("/sys/...")           root-prefixed path, for routes that read more files
//
// HostResourceOwner answers the host seam's resource_owner entry from a probe.
// The probe keeps only the parsed /proc/ioports; everything else is read when asked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vek::os {

enum class Lockdown { None, Integrity, Confidentiality };

struct Claim {
    bool claimed = false;
    std::string driver; // kernel driver (or region) name; empty when claimed but unseen
};

struct SmbusLocation {
    uint32_t pciAddress;   // bus << 8 | device << 3 | function
    bool pciIsController;  // false where the PCI function is a bridge that only holds the base (SCH)
    uint16_t ioBase;
    uint16_t ioSize;
};

struct IoportEntry {
    uint32_t first, last;
    int depth;          // nesting level in /proc/ioports
    std::string name;
};

class OwnershipProbe {
public:
    // root "" reads the running system; otherwise a tree holding proc/ and sys/.
    explicit OwnershipProbe(std::string root = "");

    Lockdown lockdown() const;
    // /proc/ioports lists every range as 0000-0000 to readers without CAP_SYS_ADMIN.
    bool addressesHidden() const { return hidden_; }

    Claim Ports(uint32_t first, uint32_t last) const;
    Claim SmbusController(const SmbusLocation& where) const;
    Claim EcPorts(uint16_t dataPort, uint16_t commandPort) const;
    Claim SuperIoBlock(uint16_t base, uint16_t size) const;
    Claim Watchdog(uint16_t base, uint16_t size) const;
    Claim Speaker() const;

    int SmbusAdapter(uint32_t pciAddress, uint16_t ioBase) const;
    bool ModuleLoaded(const std::string& name) const; // /sys/module/<name>, '-' read as '_'
    // Names of devices bound to a driver of the bus ("pci", "platform", "acpi").
    std::vector<std::string> BoundDevices(const std::string& bus, const std::string& driver) const;

    std::string Path(const std::string& absolute) const { return root_ + absolute; }
    const std::vector<IoportEntry>& ioports() const { return ioports_; }

private:
    Claim RangeClaim(uint32_t first, uint32_t last) const; // Ports, with the hidden rule applied
    std::string root_;
    std::vector<IoportEntry> ioports_;
    bool hidden_ = false;
};

// Parses /proc/ioports text; exposed for tests.
std::vector<IoportEntry> ParseIoports(const std::string& text);
// sysfs name of a PCI function: "0000:BB:DD.F".
std::string PciName(uint32_t pciAddress);

// The host seam's resource_owner: VEK_HOST_OWNER_* and the driver's name (NUL-terminated,
// shortened to fit; untouched when driver is null or size 0).
uint32_t HostResourceOwner(const OwnershipProbe& probe, uint32_t resource, uint32_t a, uint32_t b, char* driver,
                           uint32_t driverSize);

// The probe the native platform answers from: rebuilt when the I/O channel starts.
const OwnershipProbe& CurrentProbe();
void RefreshProbe();
// Tests point the native platform at a fake tree ("" restores the system).
void SetOwnershipRoot(const std::string& root);

} // namespace vek::os
