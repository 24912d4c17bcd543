// Replacing backends at run time: for harnesses that drive the frame with
// recording backends (routing tests). Not part of any exported interface.
#pragma once

#include "backends/backend.h"

namespace vek {

void OverrideBackend(uint32_t kind, const BackendOps* ops);
void OverrideEcBoard(const EcBoardOps* ops);
void OverrideSmbus(const SmbusOps* ops);
void OverrideSpecial(const SpecialOps* ops);
void OverrideZkec(const ZkecOps* ops);
void ClearOverrides();

} // namespace vek
