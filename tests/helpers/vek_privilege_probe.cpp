// Started with file capabilities by the privilege tests: reports whether the
// library let it keep them. Exit 0 kept, 1 dropped (none left), 2 dropped but
// still capable, 3 nothing was raised (the file capabilities did not apply).
#include <sys/auxv.h>

#include "os/linux/capabilities.h"
#include "os/linux/privileges.h"

int main() {
    if (getauxval(AT_SECURE) == 0) return 3;
    if (vek::os::ConfineRaisedPrivileges()) return 0;
    return vek::os::NativeChannelCapabilities() ? 2 : 1;
}
