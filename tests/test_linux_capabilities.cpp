// Elevation on Linux follows the capabilities the native channel needs, not uid 0.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <grp.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

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

// End to end: a copy of a small program with the three capabilities on its
// file, started as an unprivileged user outside the vek group.
TEST(LinuxPrivileges, OutsidersLoseAProgramsFileCapabilities) {
    namespace fs = std::filesystem;
    if (::geteuid() != 0 || std::system("command -v setcap >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs root and setcap";
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path dir = self.parent_path() / ("priv_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path probe = dir / "vek_privilege_probe";
    fs::copy_file(self.parent_path() / "vek_privilege_probe", probe, fs::copy_options::overwrite_existing);
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(probe, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    const std::string setcap = "setcap cap_sys_rawio,cap_sys_admin,cap_dac_override+ep " + probe.string();
    ASSERT_EQ(std::system(setcap.c_str()), 0);
    constexpr uid_t kNobody = 65534;
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(10);
        execl(probe.c_str(), probe.c_str(), nullptr);
        _exit(11);
    }
    int status = 0;
    waitpid(child, &status, 0);
    fs::remove_all(dir);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "file capabilities do not apply on this filesystem";
    EXPECT_EQ(WEXITSTATUS(status), 1) << "0 kept, 2 still capable after the drop, 10/11 could not start";
}

} // namespace
