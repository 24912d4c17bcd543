// Which backends this build carries. A kind with no backend answers 10.
#include "backends/backend.h"
#include <iterator>
#include "api/registry_override.h"
#include "backends/chipset/chipset.h"
#include "backends/ec/ops.h"
#include "backends/handlers/handlers.h"
#include "backends/sio1/sio1.h"
#include "backends/sio2/sio2.h"
#include "backends/sio5/sio5.h"
#include "backends/zkec/zkec.h"
#include "smbus/transactions.h"

namespace vek {
namespace {

// Harness-installed replacements, consulted before the built-in backends.
struct Overrides {
    const BackendOps* kinds[128] = {};
    const EcBoardOps* ec = nullptr;
    const SmbusOps* smbus = nullptr;
    const SpecialOps* special = nullptr;
    const ZkecOps* zkec = nullptr;
};
Overrides g_overrides;

const BackendOps* BuiltIn(uint32_t kind) {
    switch (kind) {
    case KIND_EC:
    case KIND_EC_ALT:
        return &ec::Ops();
    case KIND_EC100:
        return &ec::Kind100Ops();
    case KIND_CHIPSET:
        return &chipset::Ops();
    case KIND_SIO2:
        return &sio2::Ops();
    case KIND_SIO5:
        return &sio5::Ops();
    case KIND_ZKEC:
        return &zkec::Ops();
    case KIND_SIO1:
        return &sio1::Ops();
    default:
        return nullptr;
    }
}

} // namespace

const BackendOps* BackendFor(uint32_t kind) {
    if (kind < std::size(g_overrides.kinds) && g_overrides.kinds[kind]) return g_overrides.kinds[kind];
    return BuiltIn(kind);
}

const EcBoardOps* EcBoard() { return g_overrides.ec ? g_overrides.ec : &ec::BoardOps(); }
const ZkecOps* Zkec() { return g_overrides.zkec ? g_overrides.zkec : &zkec::VersionOps(); }
const SmbusOps* Smbus() { return g_overrides.smbus ? g_overrides.smbus : &smbus::Ops(); }
const SpecialOps* Special() { return g_overrides.special ? g_overrides.special : &special::Ops(); }

void OverrideBackend(uint32_t kind, const BackendOps* ops) {
    if (kind < std::size(g_overrides.kinds)) g_overrides.kinds[kind] = ops;
}
void OverrideEcBoard(const EcBoardOps* ops) { g_overrides.ec = ops; }
void OverrideSmbus(const SmbusOps* ops) { g_overrides.smbus = ops; }
void OverrideSpecial(const SpecialOps* ops) { g_overrides.special = ops; }
void OverrideZkec(const ZkecOps* ops) { g_overrides.zkec = ops; }
void ClearOverrides() { g_overrides = Overrides{}; }

} // namespace vek
