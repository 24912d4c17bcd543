#include "sim/attached.h"

#include "vek/host.h"
#include "vek/vek.h"

namespace vek::sim {

Attached::Attached(Machine& machine) : result_(vek_host_attach(&machine.platform())) {}

Attached::~Attached() {
    // A refused attach leaves whatever platform was there to its owner.
    if (result_ != 0) return;
    VEK_API_Uninit();
    vek_host_detach();
}

} // namespace vek::sim
