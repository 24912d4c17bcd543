// Elevation on Linux follows the capabilities the native channel needs, not uid 0.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "os/linux/capabilities.h"

namespace {

// Child exit codes: 0 as expected, 1 still "elevated" without the capability,
// 2 capset refused, 3 not elevated once it was restored.
int DropFromEffectiveAndCheck(int cap) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, data) != 0) return 2;
    const __user_cap_data_struct saved[2] = {data[0], data[1]};
    data[cap / 32].effective &= ~(1u << (cap % 32));
    if (syscall(SYS_capset, &header, data) != 0) return 2;
    if (vek::os::NativeChannelCapabilities()) return 1; // euid is still 0 here
    __user_cap_data_struct restore[2] = {saved[0], saved[1]};
    if (syscall(SYS_capset, &header, restore) != 0) return 2;
    return vek::os::NativeChannelCapabilities() ? 0 : 3;
}

TEST(LinuxCapabilities, EachMissingCapabilityMeansNotElevated) {
    if (!vek::os::NativeChannelCapabilities()) GTEST_SKIP() << "the test runs without the capabilities";
    for (int cap : {CAP_SYS_RAWIO, CAP_SYS_ADMIN, CAP_DAC_OVERRIDE}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) _exit(DropFromEffectiveAndCheck(cap));
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "capability " << cap;
    }
}

} // namespace
