// Placeholder until these commands are written.
#include <cstdio>

#include "tools/vekctl/session.h"

namespace vekctl {

int CmdGpio(const Options&, Session&) {
    std::fprintf(stderr, "vekctl: gpio is not part of this build yet\n");
    return 1;
}

int CmdWdt(const Options&, Session&) {
    std::fprintf(stderr, "vekctl: wdt is not part of this build yet\n");
    return 1;
}

} // namespace vekctl
