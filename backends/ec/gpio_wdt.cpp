// Placeholder until this part of the EC backend is written.
#include "backends/ec/ops.h"

namespace vek::ec {

void FillGpioWatchdogOps(BackendOps&) {}
void FillKind100WatchdogOps(BackendOps&) {}

} // namespace vek::ec
