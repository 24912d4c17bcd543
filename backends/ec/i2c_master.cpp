// Placeholder until this part of the EC backend is written.
#include "backends/ec/ops.h"

namespace vek::ec {

void FillI2cMasterOps(BackendOps&) {}

} // namespace vek::ec
