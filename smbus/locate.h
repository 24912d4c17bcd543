// Where the chipset's SMBus host controller sits, per chipset generation.
#pragma once

#include <cstdint>

#include "platform/context.h"

namespace vek::smbus {

// Fills ctx.smbus from ctx.chipsetId (and boardId on the FCH). Runs for every
// context at initialisation, before the ChipKind's configure routine.
void LocateSmbusController(DeviceContext& ctx);

// 16-bit configuration register of the located controller.
uint16_t ReadSmbusConfigWord(const DeviceContext& ctx, uint32_t offset);

// FCH power-management registers 0x00/0x01 live in MMIO at this base + offset.
inline constexpr uint32_t kFchMmioBase = 0xFED80000;
inline constexpr uint16_t kFchPmOffset = 0x300;

} // namespace vek::smbus
