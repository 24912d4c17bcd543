#include "backends/chipset/chipset.h"

namespace vek::chipset {

const BackendOps& Ops() {
    static const BackendOps ops = [] {
        BackendOps o{};
        o.configure = &Configure;
        FillWatchdogOps(o);
        FillGpioOps(o);
        FillPadDeviceOps(o);
        FillI2cOps(o);
        return o;
    }();
    return ops;
}

} // namespace vek::chipset
