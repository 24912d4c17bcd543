// Attaches a simulated machine to the library for the lifetime of a scope.
#pragma once

#include <cstdint>

#include "sim/board.h"
#include "sim/machine.h"

namespace vek::sim {

// Attaches the machine's platform through the host seam. On destruction the
// library is released (VEK_API_Uninit) and the native platform restored, so the
// next test or command starts from a detached library. A refused attach (the
// library was initialised on another platform) touches nothing on destruction.
class Attached {
public:
    explicit Attached(Machine& machine);
    explicit Attached(Board& board) : Attached(board.machine()) {}
    ~Attached();
    Attached(const Attached&) = delete;
    Attached& operator=(const Attached&) = delete;

    // vek_host_attach's result: 0, 7 or 14.
    uint32_t result() const { return result_; }
    bool ok() const { return result_ == 0; }

private:
    uint32_t result_;
};

} // namespace vek::sim
