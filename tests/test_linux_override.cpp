// The expert override on a fake /proc and /sys tree: which answers it
// changes, lockdown, and the one warning naming the bypassed driver.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "linux_fake_tree.h"
#include "os/linux/kernel_ec.h"
#include "os/linux/kernel_override.h"
#include "os/os.h"
#include "vek/host.h"

using namespace vek;

namespace {

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(KernelOverride, BypassesOnlyTheNamedClassAndNeverUnderLockdown) {
    test::FakeTree tree;
    tree.Dir("sys/module/pcspkr");
    const struct {
        const char* what;
        const char* env;  // nullptr: unset
        const char* file; // nullptr: none
        const char* lockdown;
        uint32_t owner;
    } cases[] = {
        {"no override", nullptr, nullptr, "[none] integrity confidentiality", VEK_HOST_OWNER_KERNEL},
        {"another class", "ec, smbus", nullptr, "[none] integrity", VEK_HOST_OWNER_KERNEL},
        {"under lockdown", "speaker", nullptr, "none [integrity] confidentiality", VEK_HOST_OWNER_KERNEL},
        {"the class", "ec, speaker", nullptr, "[none] integrity", VEK_HOST_OWNER_NONE},
        {"every class", "all", nullptr, "[none] integrity", VEK_HOST_OWNER_NONE},
        {"from the file", nullptr, "speaker\n", "[none] integrity", VEK_HOST_OWNER_NONE},
        {"the environment wins over the file", "ec", "speaker\n", "[none] integrity", VEK_HOST_OWNER_KERNEL},
    };
    os::SetKernelOverrideFile(tree.Path("kernel-override.conf"));
    testing::internal::CaptureStderr();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.env) setenv("VEK_KERNEL_OVERRIDE", c.env, 1);
        else unsetenv("VEK_KERNEL_OVERRIDE");
        std::filesystem::remove(tree.Path("kernel-override.conf"));
        if (c.file) tree.File("kernel-override.conf", c.file);
        tree.File("sys/kernel/security/lockdown", std::string(c.lockdown) + "\n");
        const os::OwnershipProbe probe(tree.root());
        char driver[32] = "x";
        EXPECT_EQ(os::OwnerWithOverride(probe, VEK_HOST_RES_SPEAKER, 0, 0, driver, sizeof driver), c.owner);
        EXPECT_STREQ(driver, "pcspkr") << "the driver is named either way";
    }
    const std::string said = testing::internal::GetCapturedStderr();
    unsetenv("VEK_KERNEL_OVERRIDE");
    os::SetKernelOverrideFile("");
    EXPECT_EQ(Count(said, "speaker override refused under kernel lockdown; pcspkr"), 1) << said;
    EXPECT_EQ(Count(said, "bypassing kernel driver pcspkr"), 1) << "once per class and process";
}

// The native platform answers the seam from the probe of the running system
// (here a fake tree), with the override applied, and offers EC RAM through
// the kernel's interface.
TEST(KernelOverride, NativePlatformAnswersFromTheProbe) {
    test::FakeTree tree;
    tree.File("proc/ioports", "0000-0cf7 : PCI Bus 0000:00\n  0062-0062 : PNP0C09:00\n    0062-0062 : EC data\n"
                              "  0066-0066 : PNP0C09:00\n    0066-0066 : EC cmd\n");
    tree.File("sys/kernel/security/lockdown", "[none] integrity confidentiality\n");
    tree.File("ec0-io", std::string(256, '\x5A'));
    os::SetOwnershipRoot(tree.root());
    os::SetKernelEcFiles({tree.Path("ec0-io")});
    os::SetKernelOverrideFile(tree.Path("none.conf"));
    unsetenv("VEK_KERNEL_OVERRIDE");
    const vek_host_platform& p = os::NativePlatform();
    ASSERT_TRUE(p.resource_owner && p.ec_ram_read && p.ec_ram_write && p.speaker_tone);
    char name[16] = {};
    EXPECT_EQ(p.resource_owner(p.user, VEK_HOST_RES_EC, 0x62, 0x66, name, sizeof name), VEK_HOST_OWNER_KERNEL);
    EXPECT_STREQ(name, "ec");
    EXPECT_EQ(p.resource_owner(p.user, VEK_HOST_RES_SPEAKER, 0, 0, nullptr, 0), VEK_HOST_OWNER_NONE);
    uint8_t v = 0;
    EXPECT_EQ(p.ec_ram_read(p.user, 0x40, &v), 0u);
    EXPECT_EQ(v, 0x5A);
    EXPECT_EQ(p.ec_ram_write(p.user, 0x40, 0x11), 0u);
    EXPECT_EQ(p.ec_ram_read(p.user, 0x40, &v), 0u);
    EXPECT_EQ(v, 0x11);

    setenv("VEK_KERNEL_OVERRIDE", "ec", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(p.resource_owner(p.user, VEK_HOST_RES_EC, 0x62, 0x66, nullptr, 0), VEK_HOST_OWNER_NONE);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("ec override"), std::string::npos);
    unsetenv("VEK_KERNEL_OVERRIDE");
    os::SetOwnershipRoot("");
    os::SetKernelEcFiles({});
    os::SetKernelOverrideFile("");
}

} // namespace
