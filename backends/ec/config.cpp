// Placeholder until the EC configuration is written.
#include "backends/ec/ec.h"

namespace vek::ec {

void Configure(DeviceContext&) {}

} // namespace vek::ec
