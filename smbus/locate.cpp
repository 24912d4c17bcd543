#include "smbus/locate.h"

#include "hal/hal.h"
#include "smbus/kernel_route.h"

namespace vek::smbus {
namespace {

// Intel ICH/PCH SMBus function: device 31 function 4, I/O base at config 0x20.
constexpr SmbusHost kIchDefaults = {
    .pciBus = 0, .pciDevice = 31, .pciFunction = 4,
    .enableReg = 0xFF, .baseReg = 0x20,
    .regStatus = 0x00, .regControl = 0x02, .regCommand = 0x03, .regAddress = 0x04,
    .regData0 = 0x05, .regData1 = 0x06, .regBlockData = 0x07, .regAuxControl = 0x0D,
    .auxBlockMode = 0x02, // 32-byte block buffer
    // start bit 0x40 | protocol << 2
    .protoQuick = 0x40, .protoByte = 0x44, .protoByteData = 0x48, .protoWordData = 0x4C,
    .protoProcessCall = 0x50, .protoBlock = 0x54, .reserved = 0, .protoI2cRead = 0x58,
    .ioBase = 0, .located = 0,
};

constexpr uint8_t kPciCommand = 0x04; // bit 0: I/O space decode
constexpr uint32_t kLastIntelChipset = 28;
constexpr uint32_t kFchBoardsWithOffsetBlock[] = {121, 156};
constexpr uint16_t kFchOffsetBlock = 0x20;

// SCH-type map: base in the LPC bridge (31:0) at 0x40, different register layout.
void ApplySch(SmbusHost& h) {
    h.pciFunction = 0;
    h.baseReg = 0x40;
    h.regStatus = 0x01;
    h.regControl = 0x00;
    h.regCommand = 0x05;
    h.regData0 = 0x06;
    h.regData1 = 0x07;
    h.regBlockData = 0x20; // block byte i at 0x20 + i
    h.protoByte = 0x11;
    h.protoByteData = 0x12;
    h.protoWordData = 0x13;
    h.protoProcessCall = 0x14;
    h.protoBlock = 0x15;
}

// Per-generation changes to the ICH defaults; false when the id is unknown.
bool ApplyChipset(uint32_t id, SmbusHost& h) {
    switch (id) {
    case 0: case 1:
        ApplySch(h);
        return true;
    case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 28:
        h.pciFunction = 3;
        return true;
    case 10: case 11: case 13: case 14: case 16: case 17: case 18: case 19: case 20:
    case 21: case 22: case 23: case 24: case 25: case 27:
        h.enableReg = kPciCommand;
        return true;
    case 12:
        h.pciFunction = 1;
        return true;
    case 15:
        h.pciDevice = 21;
        h.pciFunction = 0;
        h.baseReg = 0x10;
        return true;
    case 26:
        h.pciBus = 0x80;
        h.enableReg = kPciCommand;
        return true;
    case CHIPSET_FCH:
        h.pciDevice = 20;
        h.pciFunction = 0;
        h.baseReg = 0;
        return true;
    default:
        return false;
    }
}

uint32_t ControllerPciAddress(const SmbusHost& h) {
    return hal::PciAddress(h.pciBus, h.pciDevice, h.pciFunction);
}

} // namespace

namespace {
void Locate(DeviceContext& ctx) {
    SmbusHost& h = ctx.smbus;
    const uint16_t keptBase = h.ioBase;
    const uint32_t keptLocated = h.located;
    h = kIchDefaults;
    h.ioBase = keptBase;
    h.located = keptLocated;

    const uint32_t id = ctx.chipsetId;
    if (id > CHIPSET_FCH || (id > kLastIntelChipset && id != CHIPSET_FCH)) return;
    if (!ApplyChipset(id, h)) return;

    if (id == CHIPSET_FCH) {
        uint8_t pm[2] = {0, 0}; // a failed read leaves base 0
        hal::ReadPhysical(kFchMmioBase, kFchPmOffset, pm, 2, 1);
        h.ioBase = uint16_t(pm[1] << 8);
        for (uint32_t board : kFchBoardsWithOffsetBlock)
            if (ctx.boardId == board) h.ioBase += kFchOffsetBlock;
    } else {
        const uint32_t address = ControllerPciAddress(h);
        if (h.enableReg != 0xFF) {
            uint8_t command = 0;
            hal::ReadPciByte(address, h.enableReg, &command);
            hal::WritePciByte(address, h.enableReg, uint8_t(command | 1));
        }
        uint16_t base = 0; // a failed read leaves base 0
        hal::ReadPciWord(address, h.baseReg, &base);
        h.ioBase = uint16_t(base & 0xFFF0);
    }
    h.located = 1;
}
} // namespace

// Then who drives it: the library, or the kernel's driver through the platform.
void LocateSmbusController(DeviceContext& ctx) {
    Locate(ctx);
    AttachKernelRoute(ctx);
}

uint16_t ReadSmbusConfigWord(const DeviceContext& ctx, uint32_t offset) {
    uint16_t value = 0;
    hal::ReadPciWord(ControllerPciAddress(ctx.smbus), offset, &value);
    return value;
}

} // namespace vek::smbus
