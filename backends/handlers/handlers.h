// Special handlers: the GPIO expander on the SMBus (gpioOwner 10) and the
// LEDs on chipset GPIO control bytes (ledOwner 8).
#pragma once

#include "backends/backend.h"

namespace vek::special {

const SpecialOps& Ops();

} // namespace vek::special
