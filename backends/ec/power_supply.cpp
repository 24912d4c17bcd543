// Placeholder until this part of the EC backend is written.
#include "backends/ec/ops.h"

namespace vek::ec {

void FillPowerSupplyOps(EcBoardOps&) {}

} // namespace vek::ec
