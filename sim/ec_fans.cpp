// Placeholder until these chip models are written.
#include "sim/chip_models.h"

namespace vek::sim {

void AddEcFanModels(Board&) {}

} // namespace vek::sim
