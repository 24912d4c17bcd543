// The routine table the frame calls for ChipKind 1 contexts.
#include "backends/sio1/sio1.h"

namespace vek::sio1 {

const BackendOps& Ops() {
    static const BackendOps ops = [] {
        BackendOps o{};
        o.configure = &Configure;
        FillGpioWatchdogOps(o);
        FillMonitorOps(o);
        return o;
    }();
    return ops;
}

} // namespace vek::sio1
