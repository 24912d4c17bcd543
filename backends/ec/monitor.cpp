// Placeholder until this part of the EC backend is written.
#include "backends/ec/ops.h"

namespace vek::ec {

void FillMonitorOps(BackendOps&) {}
void FillKind100MonitorOps(BackendOps&) {}
void FillMonitorBoardOps(EcBoardOps&) {}

} // namespace vek::ec
