// The hwmon driver's readings for a Super I/O monitor block, on fake /sys trees.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "linux_fake_tree.h"
#include "os/linux/hwmon.h"
#include "vek/host.h"

using namespace vek;
using vek::test::FakeTree;

namespace {

// A hwmon class device whose device link names a platform device, inputs in
// the class directory (or in the device's own for older drivers).
void Hwmon(FakeTree& t, int n, const std::string& platformDevice, bool filesInDevice = false) {
    const std::string dir = "sys/class/hwmon/hwmon" + std::to_string(n);
    const std::string dev = "sys/devices/platform/" + platformDevice;
    t.Dir(dev);
    t.Link(dir + "/device", "../../../devices/platform/" + platformDevice);
    const std::string files = filesInDevice ? dev : dir;
    t.File(files + "/name", platformDevice.substr(0, platformDevice.find('.')) + "\n");
}

TEST(LinuxHwmon, ReadsTheInputsOfTheDriverOwningTheBlock) {
    FakeTree t;
    // An ACPI sensor with no platform device, an it87 at 0x290, an nct6775 at 0xA30.
    t.File("sys/class/hwmon/hwmon0/name", "acpitz\n");
    t.File("sys/class/hwmon/hwmon0/temp1_input", "99000\n");
    Hwmon(t, 1, "it87.656");
    t.File("sys/class/hwmon/hwmon1/temp2_input", "41000\n");
    t.File("sys/class/hwmon/hwmon1/in0_input", "1104\n");
    t.File("sys/class/hwmon/hwmon1/fan1_input", "2250\n");
    t.File("sys/class/hwmon/hwmon1/temp3_input", "-5500\n");
    t.File("sys/class/hwmon/hwmon1/fan2_input", "\n"); // read failed in the driver
    t.File("sys/class/hwmon/hwmon1/in1_input", "12ab\n");
    Hwmon(t, 2, "nct6775.2608", /*filesInDevice=*/true);
    t.File("sys/devices/platform/nct6775.2608/in3_input", "3312\n");
    // A device whose base merely ends in the same digits must not match.
    Hwmon(t, 3, "w83627ehf.1656");
    t.File("sys/class/hwmon/hwmon3/temp1_input", "77000\n");

    const struct {
        const char* what;
        uint16_t base;
        uint32_t kind, index;
        uint32_t result;
        int32_t value;
    } cases[] = {
        {"it87 temperature", 0x290, VEK_HOST_HWMON_TEMPERATURE, 2, 0, 41000},
        {"below zero", 0x290, VEK_HOST_HWMON_TEMPERATURE, 3, 0, -5500},
        {"voltages count from in0", 0x290, VEK_HOST_HWMON_VOLTAGE, 0, 0, 1104},
        {"temperatures count from 1", 0x290, VEK_HOST_HWMON_TEMPERATURE, 0, 1, 0},
        {"fans count from 1", 0x290, VEK_HOST_HWMON_FAN, 0, 1, 0},
        {"it87 fan", 0x290, VEK_HOST_HWMON_FAN, 1, 0, 2250},
        {"missing input", 0x290, VEK_HOST_HWMON_TEMPERATURE, 1, 1, 0},
        {"empty reading", 0x290, VEK_HOST_HWMON_FAN, 2, 2, 0},
        {"junk after digits", 0x290, VEK_HOST_HWMON_VOLTAGE, 1, 2, 0},
        {"files in the platform device", 0xA30, VEK_HOST_HWMON_VOLTAGE, 3, 0, 3312},
        {"no driver at this base", 0x2E0, VEK_HOST_HWMON_TEMPERATURE, 1, 1, 0},
        {"base whose digits end another's", 56, VEK_HOST_HWMON_TEMPERATURE, 2, 1, 0},
        {"base 0", 0, VEK_HOST_HWMON_TEMPERATURE, 1, 1, 0},
        {"unknown kind", 0x290, 7, 1, 1, 0},
        {"suffix of a longer base", 656 + 1000, VEK_HOST_HWMON_TEMPERATURE, 1, 0, 77000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int32_t v = 12345;
        EXPECT_EQ(os::HwmonRead(t.root(), c.base, c.kind, c.index, &v), c.result);
        EXPECT_EQ(v, c.result == 0 ? c.value : 12345) << "untouched unless read";
    }
    int32_t v = 0;
    EXPECT_EQ(os::HwmonRead(t.root(), 0x290, VEK_HOST_HWMON_TEMPERATURE, 2, nullptr), 1u);
    EXPECT_EQ(os::HwmonRead(t.root() + "/nowhere", 0x290, VEK_HOST_HWMON_TEMPERATURE, 2, &v), 1u);
}

// A driver unbound and bound again comes back as another hwmonN, and another
// driver may take the old number: each read still reaches the block's driver.
TEST(LinuxHwmon, FollowsTheDriverAcrossARebind) {
    FakeTree t;
    Hwmon(t, 1, "it87.656");
    t.File("sys/class/hwmon/hwmon1/temp1_input", "40000\n");
    int32_t v = 0;
    ASSERT_EQ(os::HwmonRead(t.root(), 0x290, VEK_HOST_HWMON_TEMPERATURE, 1, &v), 0u);
    EXPECT_EQ(v, 40000);

    std::filesystem::remove_all(t.Path("sys/class/hwmon/hwmon1"));
    Hwmon(t, 1, "coretemp.0");
    t.File("sys/class/hwmon/hwmon1/temp1_input", "99000\n");
    Hwmon(t, 4, "it87.656");
    t.File("sys/class/hwmon/hwmon4/temp1_input", "41000\n");
    ASSERT_EQ(os::HwmonRead(t.root(), 0x290, VEK_HOST_HWMON_TEMPERATURE, 1, &v), 0u);
    EXPECT_EQ(v, 41000) << "not the reading of the driver now at the old number";

    std::filesystem::remove_all(t.Path("sys/class/hwmon/hwmon4"));
    EXPECT_EQ(os::HwmonRead(t.root(), 0x290, VEK_HOST_HWMON_TEMPERATURE, 1, &v), 1u) << "driver gone";
}

} // namespace
