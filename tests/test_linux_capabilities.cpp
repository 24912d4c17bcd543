// Elevation on Linux follows the capabilities the native channel needs, not uid 0.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>

#include "os/linux/capabilities.h"
#include "os/linux/privileges.h"

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


// Raised privileges stay with root and the vek group's members only.
TEST(LinuxPrivileges, RaisedPrivilegesStayWithRootAndTheGroup) {
    constexpr gid_t kVek = 990;
    const struct {
        const char* what;
        vek::os::Caller caller;
        std::optional<gid_t> group;
        bool keep;
    } cases[] = {
        {"not raised: the caller's own rights", {false, 1000, {1000}}, std::nullopt, true},
        {"root", {true, 0, {0}}, std::nullopt, true},
        {"member by a supplementary group", {true, 1000, {1000, 24, kVek}}, kVek, true},
        {"member by the real group", {true, 1000, {kVek}}, kVek, true},
        {"not a member", {true, 1000, {1000, 24}}, kVek, false},
        {"no vek group on the system", {true, 1000, {1000, kVek}}, std::nullopt, false},
        {"no groups at all", {true, 1000, {}}, kVek, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(vek::os::MayKeepRaisedPrivileges(c.caller, c.group), c.keep);
    }
}

} // namespace
