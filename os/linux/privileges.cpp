#include "os/linux/privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace vek::os {
namespace {

std::optional<gid_t> GroupId(const char* name) {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(16384);
    if (getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return std::nullopt;
    return found->gr_gid;
}

Caller ThisProcess() {
    Caller c{getauxval(AT_SECURE) != 0, getuid(), {getgid()}};
    const int n = getgroups(0, nullptr);
    if (n > 0) {
        std::vector<gid_t> more(static_cast<size_t>(n));
        const int got = getgroups(n, more.data());
        if (got > 0) c.groups.insert(c.groups.end(), more.begin(), more.begin() + got);
    }
    return c;
}

void DropEverything() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3]{};
    syscall(SYS_capset, &header, none);
    // A set-id program goes back to the caller's own ids, for good.
    const gid_t gid = getgid();
    const uid_t uid = getuid();
    if (setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0)
        std::fprintf(stderr, "vek: could not return to the caller's user and group\n");
}

bool g_kept = true;
std::once_flag g_once;

} // namespace

bool MayKeepRaisedPrivileges(const Caller& caller, std::optional<gid_t> vekGroup) {
    if (!caller.raised || caller.uid == 0) return true;
    return vekGroup && std::find(caller.groups.begin(), caller.groups.end(), *vekGroup) != caller.groups.end();
}

bool ConfineRaisedPrivileges() {
    std::call_once(g_once, [] {
        const Caller caller = ThisProcess();
        if (!caller.raised) return; // nothing was raised: the caller's own rights apply anyway
        if (MayKeepRaisedPrivileges(caller, GroupId(kPrivilegedGroup))) return;
        DropEverything();
        g_kept = false;
        std::fprintf(stderr, "vek: caller is not in group %s: running without this program's privileges\n",
                     kPrivilegedGroup);
    });
    return g_kept;
}

} // namespace vek::os
