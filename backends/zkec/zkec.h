// ChipKind 6: the controller reached only through its own kernel driver
// (begin, read one register, end). Two fans, two rails, two sensors and a
// version string; on board 70 the readings are PMBus LINEAR11/LINEAR16 words.
#pragma once

#include <cstdint>

#include "backends/backend.h"

namespace vek::zkec {

inline constexpr uint8_t REG_ABSENT = 0xFF;

// Version and build date, BCD-style bytes shown as hexadecimal.
inline constexpr uint8_t REG_FW_RELEASE = 0x1D;  // "R.."
inline constexpr uint8_t REG_FW_REVISION = 0x1E; // "E.."
inline constexpr uint8_t REG_FW_MONTH = 0x2E;
inline constexpr uint8_t REG_FW_DAY = 0x2F;
inline constexpr uint8_t REG_FW_YEAR = 0x2D;     // two digits after 20

// The two registers of a 16-bit reading; the high byte is read first.
struct WordRegisters {
    uint8_t low;
    uint8_t high;
};

// The controller's register map as the library keeps it: 14 bytes, in this order.
struct RegisterMap {
    uint8_t enabled;            // cleared when the device cannot be opened
    WordRegisters voltage11;
    WordRegisters voltage12;
    uint8_t voltage12Exponent;  // VOUT_MODE-style: low five bits are the exponent
    WordRegisters fan7;
    WordRegisters fan8;
    WordRegisters tempA;        // sensor 4 (also index 320)
    WordRegisters tempB;        // sensor 5 (also index 321)
};
static_assert(sizeof(RegisterMap) == 14);

// Per-chip area inside the DeviceContext.
struct ZkecArea {
    RegisterMap map;
};

// One board whose second chip is this controller. Readings are PMBus words:
// fans, temperatures and rail 11 LINEAR11, rail 12 LINEAR16. (Only a board with
// a row opens the device, so no other encoding can ever be read.)
struct ZkecRow {
    uint32_t boardId;
    uint32_t subtype; // on board 70: the EC's hardware revision
    RegisterMap map;
};

const BackendOps& Ops();
const ZkecOps& VersionOps();

} // namespace vek::zkec
