// Who owns the hardware, read from fake /proc and /sys trees shaped as the
// kernel's drivers leave them.
#include <gtest/gtest.h>

#include "linux_fake_tree.h"
#include "os/linux/ownership.h"
#include "vek/host.h"

using namespace vek;
using vek::test::FakeTree;

namespace {

constexpr uint32_t kIch = (0 << 8) | (31 << 3) | 3;   // 00:1f.3
constexpr uint32_t kFch = (0 << 8) | (20 << 3) | 0;   // 00:14.0
constexpr uint32_t kLpc = (0 << 8) | (31 << 3) | 0;   // 00:1f.0

// A root's view of a desktop: bus windows, PCI BARs and ACPI resources around the drivers' regions.
constexpr const char* kIoportsBase =
    "0000-0cf7 : PCI Bus 0000:00\n"
    "  0060-0060 : keyboard\n"
    "  0061-0061 : PNP0800:00\n"
    "  0062-0062 : PNP0C09:00\n"
    "  0066-0066 : PNP0C09:00\n"
    "  0400-047f : pnp 00:02\n"
    "    0400-0403 : ACPI PM1a_EVT_BLK\n"
    "0cf8-0cff : PCI conf1\n"
    "0d00-ffff : PCI Bus 0000:00\n"
    "  efa0-efbf : 0000:00:1f.3\n";

TEST(LinuxOwnership, ParsesNestingAndNames) {
    const auto entries = os::ParseIoports(
        "0000-0cf7 : PCI Bus 0000:00\n  0062-0062 : PNP0C09:00\n    0062-0062 : EC data\nbogus line\n");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].first, 0x62u);
    EXPECT_EQ(entries[2].depth, 2);
    EXPECT_EQ(entries[2].name, "EC data");
    EXPECT_EQ(entries[0].name, "PCI Bus 0000:00");
}

struct SmbusCase {
    const char* what;
    const char* ioportsExtra;
    const char* pciFunction;     // bound PCI function, or ""
    const char* pciDriver;
    os::SmbusLocation where;
    bool claimed;
    const char* driver;
};

TEST(LinuxOwnership, SmbusControllerOwners) {
    const SmbusCase cases[] = {
        {"no driver: only the BAR", "", "", "", {kIch, true, 0xefa0, 0x20}, false, ""},
        {"i801 bound to the function", "    efa0-efbf : i801_smbus\n", "0000:00:1f.3", "i801_smbus",
         {kIch, true, 0xefa0, 0x20}, true, "i801_smbus"},
        {"i801 region without a visible binding", "    efa0-efbf : i801_smbus\n", "", "", {kIch, true, 0xefa0, 0x20},
         true, "i801_smbus"},
        {"piix4 on the FCH", "  0b00-0b07 : piix4_smbus\n", "0000:00:14.0", "piix4_smbus",
         {kFch, true, 0x0b00, 0x20}, true, "piix4_smbus"},
        // The SCH map's base sits in the LPC bridge, which lpc_sch binds whether
        // or not isch_smbus is loaded: only the region counts there.
        {"isch region behind the LPC bridge", "  0540-057f : isch_smbus\n", "0000:00:1f.0", "lpc_sch",
         {kLpc, false, 0x0540, 0x40}, true, "isch_smbus"},
        {"LPC bridge bound, SMBus free", "", "0000:00:1f.0", "lpc_sch", {kLpc, false, 0x0500, 0x40}, false, ""},
        {"a claim overlapping the range's end", "  efbf-efc0 : other_drv\n", "", "", {kIch, true, 0xefa0, 0x20}, true,
         "other_drv"},
    };
    for (const SmbusCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeTree t;
        t.File("proc/ioports", std::string(kIoportsBase) + c.ioportsExtra);
        if (*c.pciFunction) t.PciDriver(c.pciFunction, c.pciDriver);
        const os::Claim claim = os::OwnershipProbe(t.root()).SmbusController(c.where);
        EXPECT_EQ(claim.claimed, c.claimed);
        EXPECT_EQ(claim.driver, c.driver);
    }
}

TEST(LinuxOwnership, HiddenAddressesCountAsClaimedUnlessADriverShows) {
    FakeTree t;
    t.File("proc/ioports", "0000-0000 : PCI Bus 0000:00\n  0000-0000 : 0000:00:1f.3\n");
    os::OwnershipProbe hidden(t.root());
    EXPECT_TRUE(hidden.addressesHidden());
    const os::Claim smbus = hidden.SmbusController({kIch, true, 0xefa0, 0x20});
    EXPECT_TRUE(smbus.claimed);
    EXPECT_EQ(smbus.driver, "");
    EXPECT_TRUE(hidden.EcPorts(0x62, 0x66).claimed);

    t.PciDriver("0000:00:1f.3", "i801_smbus");
    EXPECT_EQ(os::OwnershipProbe(t.root()).SmbusController({kIch, true, 0xefa0, 0x20}).driver, "i801_smbus");

    // An empty or unreadable list is not "hidden": nothing says anything is claimed.
    FakeTree empty;
    EXPECT_FALSE(os::OwnershipProbe(empty.root()).addressesHidden());
    EXPECT_FALSE(os::OwnershipProbe(empty.root()).EcPorts(0x62, 0x66).claimed);
}

struct ResourceCase {
    const char* what;
    const char* ioportsExtra;
    const char* files[3];        // files to create (empty content), relative to the root
    uint32_t resource, a, b;
    uint32_t owner;
    const char* driver;
};

TEST(LinuxOwnership, ResourceOwnersThroughTheSeam) {
    const ResourceCase cases[] = {
        {"ACPI EC holds 0x62/0x66", "    0062-0062 : EC data\n    0066-0066 : EC cmd\n", {}, VEK_HOST_RES_EC, 0x62,
         0x66, VEK_HOST_OWNER_KERNEL, "ec"},
        {"EC ports without the EC driver", "", {}, VEK_HOST_RES_EC, 0x62, 0x66, VEK_HOST_OWNER_NONE, ""},
        {"a second EC at other ports is free", "    0062-0062 : EC data\n    0066-0066 : EC cmd\n", {},
         VEK_HOST_RES_EC, 0x2f2, 0x2f6, VEK_HOST_OWNER_NONE, ""},
        {"it87 bound at 0xa30", "", {"sys/bus/platform/drivers/it87/it87.2608/uevent"}, VEK_HOST_RES_SIO_MONITOR,
         0xa30, 8, VEK_HOST_OWNER_KERNEL, "it87"},
        {"it87 at another base", "", {"sys/bus/platform/drivers/it87/it87.2608/uevent"}, VEK_HOST_RES_SIO_MONITOR,
         0xa40, 8, VEK_HOST_OWNER_NONE, ""},
        {"nct6775 region", "  0290-0297 : nct6775\n", {}, VEK_HOST_RES_SIO_MONITOR, 0x295, 2, VEK_HOST_OWNER_KERNEL,
         "nct6775"},
        {"GPIO block claimed by gpio-it87", "  0a00-0a07 : gpio_it87\n", {}, VEK_HOST_RES_SIO_GPIO, 0xa00, 8,
         VEK_HOST_OWNER_KERNEL, "gpio_it87"},
        {"iTCO_wdt bound", "", {"sys/bus/platform/drivers/iTCO_wdt/iTCO_wdt.0.auto/uevent"}, VEK_HOST_RES_WATCHDOG,
         0x460, 0x20, VEK_HOST_OWNER_KERNEL, "iTCO_wdt"},
        {"TCO region of another driver", "    0460-047f : wdat_wdt\n", {}, VEK_HOST_RES_WATCHDOG, 0x460, 0x20,
         VEK_HOST_OWNER_KERNEL, "wdat_wdt"},
        {"watchdog free", "", {"sys/bus/platform/drivers/iTCO_wdt/bind"}, VEK_HOST_RES_WATCHDOG, 0x460, 0x20,
         VEK_HOST_OWNER_NONE, ""},
        {"pcspkr module", "", {"sys/module/pcspkr/refcnt"}, VEK_HOST_RES_SPEAKER, 0, 0, VEK_HOST_OWNER_KERNEL,
         "pcspkr"},
        {"snd-pcsp wins over the shared driver name", "",
         {"sys/module/snd_pcsp/refcnt", "sys/bus/platform/drivers/pcspkr/pcspkr/uevent"}, VEK_HOST_RES_SPEAKER, 0, 0,
         VEK_HOST_OWNER_KERNEL, "snd_pcsp"},
        {"built-in pcspkr shows only its binding", "", {"sys/bus/platform/drivers/pcspkr/pcspkr/uevent"},
         VEK_HOST_RES_SPEAKER, 0, 0, VEK_HOST_OWNER_KERNEL, "pcspkr"},
        {"no speaker driver", "", {}, VEK_HOST_RES_SPEAKER, 0, 0, VEK_HOST_OWNER_NONE, ""},
        {"SMBus on a bridge (bit 31): the bridge's driver does not count", "", {}, VEK_HOST_RES_SMBUS, kIch,
         0xefa0u | (0x20u << 16) | 0x80000000u, VEK_HOST_OWNER_NONE, ""},
        {"unknown resource class", "  0000-ffff : everything\n", {}, 99, 0, 0, VEK_HOST_OWNER_NONE, ""},
    };
    for (const ResourceCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeTree t;
        t.File("proc/ioports", std::string(kIoportsBase) + c.ioportsExtra);
        t.PciDriver("0000:00:1f.3", "bridge_driver");
        for (const char* f : c.files)
            if (f != nullptr) t.File(f, "");
        char name[32] = "untouched";
        EXPECT_EQ(os::HostResourceOwner(os::OwnershipProbe(t.root()), c.resource, c.a, c.b, name, sizeof name),
                  c.owner);
        if (c.resource <= VEK_HOST_RES_SPEAKER) {
            EXPECT_STREQ(name, c.driver);
        }
    }
}

TEST(LinuxOwnership, DriverNameIsCutToTheCallersBuffer) {
    FakeTree t;
    t.File("proc/ioports", "  efa0-efbf : i801_smbus\n");
    char name[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(os::HostResourceOwner(os::OwnershipProbe(t.root()), VEK_HOST_RES_SMBUS, kIch, 0xefa0 | (0x20 << 16),
                                    name, sizeof name),
              VEK_HOST_OWNER_KERNEL);
    EXPECT_STREQ(name, "i801");
    EXPECT_EQ(os::HostResourceOwner(os::OwnershipProbe(t.root()), VEK_HOST_RES_SMBUS, kIch, 0xefa0 | (0x20 << 16),
                                    nullptr, 0),
              VEK_HOST_OWNER_KERNEL);
}

TEST(LinuxOwnership, Lockdown) {
    const struct { const char* text; os::Lockdown want; } cases[] = {
        {"[none] integrity confidentiality\n", os::Lockdown::None},
        {"none [integrity] confidentiality\n", os::Lockdown::Integrity},
        {"none integrity [confidentiality]\n", os::Lockdown::Confidentiality},
        {nullptr, os::Lockdown::None}, // kernel without the lockdown LSM
    };
    for (const auto& c : cases) {
        FakeTree t;
        if (c.text) t.File("sys/kernel/security/lockdown", c.text);
        EXPECT_EQ(os::OwnershipProbe(t.root()).lockdown(), c.want) << (c.text ? c.text : "absent");
    }
}

struct AdapterCase {
    const char* what;
    void (*build)(FakeTree&);
    uint32_t pci;
    uint16_t base;
    int bus;
};

TEST(LinuxOwnership, SmbusAdapterByPciAddressNotNumber) {
    const AdapterCase cases[] = {
        {"i801: the function's one adapter, numbered after others",
         [](FakeTree& t) {
             t.Adapter(0, "i915 gmbus dpc");
             t.Adapter(7, "SMBus I801 adapter at efa0", "0000:00:1f.3");
         },
         kIch, 0xefa0, 7},
        {"piix4: the lowest port that names the base",
         [](FakeTree& t) {
             t.Adapter(3, "SMBus PIIX4 adapter port 1 at 0b20", "0000:00:14.0");
             t.Adapter(2, "SMBus PIIX4 adapter port 2 at 0b00", "0000:00:14.0");
             t.Adapter(1, "SMBus PIIX4 adapter port 0 at 0b00", "0000:00:14.0");
         },
         kFch, 0x0b00, 1},
        {"FCH base 0x20 above: the aux port",
         [](FakeTree& t) {
             t.Adapter(1, "SMBus PIIX4 adapter port 0 at 0b00", "0000:00:14.0");
             t.Adapter(3, "SMBus PIIX4 adapter port 1 at 0b20", "0000:00:14.0");
         },
         kFch, 0x0b20, 3},
        {"isch behind the LPC bridge: by name",
         [](FakeTree& t) {
             t.Adapter(0, "SMBus SCH adapter at 0500");
             t.Adapter(4, "SMBus SCH adapter at 0400");
         },
         kLpc, 0x0400, 4},
        {"no adapter", [](FakeTree& t) { t.Adapter(0, "DesignWare I2C adapter"); }, kIch, 0xefa0, -1},
    };
    for (const AdapterCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeTree t;
        c.build(t);
        EXPECT_EQ(os::OwnershipProbe(t.root()).SmbusAdapter(c.pci, c.base), c.bus);
    }
}

} // namespace
