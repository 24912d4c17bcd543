// Who may use the privileges a vek program was installed with.
//
// A program given capabilities (setcap) or a set-id bit runs with them for
// every user who can execute it. The library keeps them only for root and for
// members of the "vek" group; anyone else gets the library with their own
// rights, as if the program had never been raised. Installing the program
// 0750 root:vek achieves the same; this check covers installations that
// left it world-executable.
#pragma once

#include <sys/types.h>

#include <optional>
#include <vector>

namespace vek::os {

inline constexpr char kPrivilegedGroup[] = "vek";

struct Caller {
    bool raised;               // the kernel marked the process secure (AT_SECURE)
    uid_t uid;                 // real user
    std::vector<gid_t> groups; // real group and supplementary groups
};

// True when the caller may keep raised privileges; vekGroup is absent when
// the system has no such group.
bool MayKeepRaisedPrivileges(const Caller& caller, std::optional<gid_t> vekGroup);

// Once per process, before the first hardware access: when the caller may
// not keep them, drops every capability and returns to the real user and
// group, saying so once on stderr. Returns false when privileges were dropped.
bool ConfineRaisedPrivileges();

} // namespace vek::os
