// The library's process-wide state (platform/process.h) as the exported frame
// sees it, and the hook that releases the driver when the library is unloaded.
#pragma once

#include "platform/process.h"

namespace vek {

// Release the I/O driver when the library is unloaded from the process.
void LibraryUnload();

} // namespace vek
