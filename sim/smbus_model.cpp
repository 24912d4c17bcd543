// Placeholder until these chip models are written.
#include "sim/chip_models.h"

namespace vek::sim {

void AddSmbusModels(Board&) {}

} // namespace vek::sim
