// Placeholder until these chip models are written.
#include "sim/chip_models.h"

namespace vek::sim {

void AddEcModels(Board&) {}

} // namespace vek::sim
