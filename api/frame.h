// Shared pieces of the export frame: state access, context selection, dispatch.
#pragma once

#include <cstdint>

#include "backends/backend.h"
#include "api/library.h"
#include "api/lock_guard.h"
#include "vek/vek.h"

namespace vek::frame {

inline DeviceContext& Primary() { return Lib().primary; }
inline DeviceContext* Secondary() { return Lib().primary.secondary; }
inline uint32_t Cap(Capability c) { return Lib().primary.caps[c]; }

// The context and routine kind that serve one call; ctx is null when the rule
// picks a second chip the board does not have.
struct Route {
    DeviceContext* ctx;
    uint32_t kind;
};

// Owner-list rule for fans, temperatures, voltages and currents. With
// entryKind, a non-zero entry names the routine kind (100 = kind-100 routines).
Route OwnerListRoute(const uint32_t* list, uint32_t words, uint32_t item, uint32_t splitLimit,
                     bool entryKind);

// Calls a backend routine of the given kind; 10 when the kind has none.
// Called with ApiLock held: a call that passed its readiness check just before
// VEK_API_Uninit released the library finds it released here and answers 6
// rather than reach a driver that is gone.
template <class Fn, class... Args>
uint32_t Call(Fn BackendOps::*routine, uint32_t kind, DeviceContext& ctx, Args... args) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    const BackendOps* ops = BackendFor(kind);
    if (ops == nullptr || ops->*routine == nullptr) return VEK_ERR_UNSUPPORTED;
    return (ops->*routine)(ctx, args...);
}

// Same, with the route's context; a missing context answers 10.
template <class Fn, class... Args>
uint32_t CallRoute(Fn BackendOps::*routine, const Route& route, Args... args) {
    if (route.ctx == nullptr) return VEK_ERR_UNSUPPORTED;
    return Call(routine, route.kind, *route.ctx, args...);
}

inline bool IsEcKind(uint32_t kind) { return kind == KIND_EC || kind == KIND_EC_ALT; }

} // namespace vek::frame
