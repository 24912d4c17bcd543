// Placeholder until this command is written.
#include <cstdio>

#include "tools/vekctl/session.h"

namespace vekctl {

int CmdSensors(const Options&, Session&) {
    std::fprintf(stderr, "vekctl: %s is not part of this build yet\n", "cmd_sensors");
    return 1;
}

} // namespace vekctl
