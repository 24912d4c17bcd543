// SMBus host-controller transactions on the located controller.
#pragma once

#include "api/backend.h"

namespace vek::smbus {

// The transactions, as the frame calls them.
const SmbusOps& Ops();

} // namespace vek::smbus
