// Placeholder until the SMBus transactions are written.
#include "smbus/transactions.h"

namespace vek::smbus {

const SmbusOps& Ops() {
    static const SmbusOps ops{};
    return ops;
}

} // namespace vek::smbus
