// Placeholder until the special handlers are written.
#include "backends/special/special.h"

namespace vek::special {

const SpecialOps& Ops() {
    static const SpecialOps ops{};
    return ops;
}

} // namespace vek::special
