#include "backends/ec/ops.h"

#include "backends/ec/ec.h"

namespace vek::ec {

const BackendOps& Ops() {
    static const BackendOps ops = [] {
        BackendOps o{};
        o.configure = &Configure;
        EcBoardOps unused{};
        FillGpioWatchdogOps(o);
        FillMonitorOps(o);
        FillI2cMasterOps(o);
        FillBoardFunctionOps(o, unused);
        return o;
    }();
    return ops;
}

const BackendOps& Kind100Ops() {
    static const BackendOps ops = [] {
        BackendOps o{};
        FillKind100WatchdogOps(o);
        FillKind100MonitorOps(o);
        return o;
    }();
    return ops;
}

const EcBoardOps& BoardOps() {
    static const EcBoardOps ops = [] {
        EcBoardOps b{};
        BackendOps unused{};
        FillBoardFunctionOps(unused, b);
        FillMonitorBoardOps(b);
        FillPowerSupplyOps(b);
        if (b.start100 == nullptr) b.start100 = [](DeviceContext& ctx) { Kind100Start(ctx); };
        return b;
    }();
    return ops;
}

} // namespace vek::ec
