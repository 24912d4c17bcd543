#include "platform/process.h"

namespace vek {

namespace {
Library g_library;
} // namespace

Library& Lib() { return g_library; }

int32_t* IoDelayOf(uint32_t kind) {
    Library& lib = Lib();
    switch (kind) {
    case KIND_SIO1: return &lib.ioDelaySio1;
    case KIND_SIO2: return &lib.ioDelaySio2;
    case KIND_EC: case KIND_EC_ALT: return &lib.ioDelayEc;
    case KIND_CHIPSET: return &lib.ioDelayChipset;
    case KIND_SIO5: return &lib.ioDelaySio5;
    default: return nullptr;
    }
}

} // namespace vek
