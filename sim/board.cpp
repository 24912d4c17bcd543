#include "sim/board.h"

#include "sim/chip_models.h"
#include "sim/speaker.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace vek::sim {
namespace {

// ---------------------------------------------------------------- SMBus controller sites

// Intel generations 0..28. ICH/PCH SMBus function 31:4 with its I/O BAR at 0x20
// unless the row says otherwise; SCH parts keep the base in the LPC bridge
// (31:0) at 0x40.
struct IntelSite {
    uint8_t bus, device, function, baseReg;
    bool decodeGated; // firmware leaves I/O decode off; the OS driver turns it on
    bool schMap;
    uint16_t ioBase;
};
constexpr IntelSite kSch = {0x00, 31, 0, 0x40, false, true, 0x1040};
constexpr IntelSite kIchF3 = {0x00, 31, 3, 0x20, false, false, 0xF040};
constexpr IntelSite kIchF1 = {0x00, 31, 1, 0x20, false, false, 0xF040};
constexpr IntelSite kPchGated = {0x00, 31, 4, 0x20, true, false, 0xF040};
constexpr IntelSite kDev21 = {0x00, 21, 0, 0x10, false, false, 0xF040};
constexpr IntelSite kBus80 = {0x80, 31, 4, 0x20, true, false, 0xF040};

constexpr std::array<IntelSite, 29> kIntelSites = {
    kSch, kSch,                                                        // 0, 1
    kIchF3, kIchF3, kIchF3, kIchF3, kIchF3, kIchF3, kIchF3, kIchF3,    // 2..9
    kPchGated, kPchGated,                                              // 10, 11
    kIchF1,                                                            // 12
    kPchGated, kPchGated,                                              // 13, 14
    kDev21,                                                            // 15
    kPchGated, kPchGated, kPchGated, kPchGated, kPchGated,             // 16..20
    kPchGated, kPchGated, kPchGated, kPchGated, kPchGated,             // 21..25
    kBus80,                                                            // 26
    kPchGated,                                                         // 27
    kIchF3,                                                            // 28
};

// FCH: PM register 0x01 holds the base's high byte.
constexpr uint8_t kFchPmReg0 = 0x11;
constexpr uint8_t kFchPmReg1 = 0x0B;
// Boards whose SMBus block sits 0x20 above the PM-reported base.
constexpr uint32_t kFchUpperBlockBoards[] = {121, 156};
constexpr uint16_t kFchUpperBlockOffset = 0x20;

// ---------------------------------------------------------------- PCI config fields

constexpr uint32_t kCfgVendorDevice = 0x00;
constexpr uint32_t kCfgCommand = 0x04;
constexpr uint16_t kCommandIoSpace = 1u << 0;
constexpr uint16_t kCommandMemorySpace = 1u << 1;
constexpr uint32_t kCfgRevisionClass = 0x08;
constexpr uint32_t kCfgHeaderType = 0x0E;
constexpr uint8_t kHeaderMultiFunction = 0x80;
constexpr uint32_t kCfgIchHostConfig = 0x40;
constexpr uint8_t kHostConfigEnable = 1u << 0;

constexpr uint32_t kBarIoSpace = 1u << 0;  // I/O BARs read back with bit 0 set
constexpr uint32_t kSchBaseEnable = 1u << 31;

constexpr uint32_t kVendorIntel = 0x8086;
constexpr uint32_t kVendorAmd = 0x1022;
constexpr uint32_t kClassSmbus = 0x0C0500;
constexpr uint32_t kClassIsaBridge = 0x060100;

// ---------------------------------------------------------------- processors

struct Processor {
    std::array<uint32_t, 4> leaf0; // max leaf, vendor text in EBX, ECX, EDX
    std::array<uint32_t, 4> leaf1; // signature, brand/APIC, feature flags (EDX bit 5: MSRs)
};
constexpr Processor kIntelCore = {
    {0x16, 0x756E6547, 0x6C65746E, 0x49656E69}, // "GenuineIntel"
    {0x000906EA, 0x00100800, 0x7FFAFBBF, 0xBFEBFBFF}, // family 6 model 0x9E
};
// Model 0x37 reports its TjMax in MSR 0x1A2 like the others, so every board's
// processor temperature comes out as kBoardTjMax - kBoardThermReadout.
constexpr Processor kIntelAtom = {
    {0x0B, 0x756E6547, 0x6C65746E, 0x49656E69},
    {0x00030679, 0x00040800, 0x41D8E3BF, 0xBFEBFBFF}, // family 6 model 0x37
};
constexpr Processor kAmdZen = {
    {0x0D, 0x68747541, 0x444D4163, 0x69746E65}, // "AuthenticAMD"
    {0x00810F81, 0x00100800, 0x7ED8320B, 0x178BFBFF}, // family 17h model 18h
};

} // namespace

SmbusSite SmbusSiteFor(uint32_t chipsetId, uint32_t boardId) {
    SmbusSite site;
    if (chipsetId == CHIPSET_FCH) {
        site.path = SmbusSite::kFchPm;
        site.ioBase = uint16_t(kFchPmReg1 << 8);
        for (uint32_t b : kFchUpperBlockBoards) {
            if (b == boardId) site.ioBase += kFchUpperBlockOffset;
        }
        return site;
    }
    if (chipsetId >= kIntelSites.size()) return site;
    const IntelSite& s = kIntelSites[chipsetId];
    site.path = SmbusSite::kPci;
    site.bus = s.bus;
    site.device = s.device;
    site.function = s.function;
    site.baseReg = s.baseReg;
    site.decodeGated = s.decodeGated;
    site.schMap = s.schMap;
    site.ioBase = s.ioBase;
    return site;
}

const PlatformEntry* FindRow(const std::string& name) {
    for (const PlatformEntry& row : kPlatformTable) {
        if (name.size() < sizeof row.name && std::strncmp(row.name, name.c_str(), sizeof row.name) == 0)
            return &row;
    }
    return nullptr;
}

namespace {
std::string RowName(const PlatformEntry& row) { return std::string(row.name, strnlen(row.name, sizeof row.name)); }
} // namespace

// The demo board: an EC board on an ICH-type chipset that shows every EC
// family (GPIO, watchdog, sensors, fans with curves, LAN bypass, LEDs, button)
// and SMBus slaves to scan.
constexpr uint32_t kDefaultBoardId = 124;

std::string DefaultBoardName() {
    for (const PlatformEntry& row : kPlatformTable) {
        if (row.boardId == kDefaultBoardId && row.chipKind == KIND_EC) return RowName(row);
    }
    for (const PlatformEntry& row : kPlatformTable) {
        if (row.chipKind == KIND_EC && row.name[0] != '\0') return RowName(row);
    }
    for (const PlatformEntry& row : kPlatformTable) {
        if (row.name[0] != '\0') return RowName(row);
    }
    return {};
}

Board::Board(const PlatformEntry& row)
    : row_(&row), smbus_(SmbusSiteFor(row.chipsetId, row.boardId)), machine_(std::make_unique<Machine>()) {
    SeedIdentity();
    SeedProcessor();
    SeedSmbusSite();
    machine_->SetZkecPresent(row.chipKind == KIND_ZKEC || row.secondaryKind == KIND_ZKEC);
    Add<PcSpeaker>(); // every x86 board has the PIT-driven speaker
    AddChipModels(*this);
}

Board Board::Named(const std::string& name) {
    const PlatformEntry* row = FindRow(name);
    if (row == nullptr) throw std::invalid_argument("no platform row named " + name);
    return Board(*row);
}

void Board::SeedIdentity() {
    char text[32];
    machine_->SetIdentity(VEK_HOST_ID_PRODUCT, RowName(*row_));
    machine_->SetIdentity(VEK_HOST_ID_BIOS_VENDOR, "VekSim Firmware");
    std::snprintf(text, sizeof text, "R1.07.%03u", row_->boardId);
    machine_->SetIdentity(VEK_HOST_ID_BIOS_VERSION, text);
    std::snprintf(text, sizeof text, "VS2026%04u", row_->boardId);
    machine_->SetIdentity(VEK_HOST_ID_SERIAL, text);
    machine_->SetIdentity(VEK_HOST_ID_BOARD_VERSION, "A1");
}

void Board::SeedProcessor() {
    const Processor& cpu = row_->chipsetId == CHIPSET_FCH ? kAmdZen
                         : row_->chipsetId <= 1          ? kIntelAtom
                                                         : kIntelCore;
    machine_->SetCpuid(0, cpu.leaf0[0], cpu.leaf0[1], cpu.leaf0[2], cpu.leaf0[3]);
    machine_->SetCpuid(1, cpu.leaf1[0], cpu.leaf1[1], cpu.leaf1[2], cpu.leaf1[3]);
    machine_->SetMsr(kMsrTemperatureTarget, uint64_t(kBoardTjMax) << 16);
    // Bit 31: reading valid.
    machine_->SetMsr(kMsrThermStatus, (1u << 31) | (uint64_t(kBoardThermReadout) << 16));
}

void Board::SeedSmbusSite() {
    switch (smbus_.path) {
    case SmbusSite::kNone:
        return;
    case SmbusSite::kFchPm: {
        std::span<uint8_t> mmio = machine_->MapMemory(kFchMmioBase, kFchMmioSize);
        mmio[kFchPmRegisters - kFchMmioBase] = kFchPmReg0;
        mmio[kFchPmRegisters - kFchMmioBase + 1] = kFchPmReg1;
        // The SMBus function itself (00:14.0) is present but not used for the base.
        PciFunction& fn = machine_->AddPciFunction(0, 20, 0);
        fn.Store(kCfgVendorDevice, 4, kVendorAmd | (0x790Bu << 16));
        fn.Store(kCfgCommand, 2, kCommandIoSpace | kCommandMemorySpace);
        fn.Store(kCfgRevisionClass, 4, 0x61 | (kClassSmbus << 8));
        fn.Store(kCfgHeaderType, 1, kHeaderMultiFunction);
        return;
    }
    case SmbusSite::kPci:
        break;
    }
    PciFunction& fn = machine_->AddPciFunction(smbus_.bus, smbus_.device, smbus_.function);
    const bool sch = smbus_.schMap;
    fn.Store(kCfgVendorDevice, 4, kVendorIntel | ((sch ? 0x8119u : 0xA323u) << 16));
    fn.Store(kCfgCommand, 2, smbus_.decodeGated ? kCommandMemorySpace : kCommandIoSpace);
    fn.Store(kCfgRevisionClass, 4, 0x10 | ((sch ? kClassIsaBridge : kClassSmbus) << 8));
    fn.Store(kCfgHeaderType, 1, sch ? kHeaderMultiFunction : 0);
    if (sch) {
        fn.Store(smbus_.baseReg, 4, kSchBaseEnable | smbus_.ioBase);
    } else {
        fn.Store(smbus_.baseReg, 4, kBarIoSpace | smbus_.ioBase);
        fn.Store(kCfgIchHostConfig, 1, kHostConfigEnable);
    }
}

bool Board::SmbusDecodes() {
    if (smbus_.path != SmbusSite::kPci) return smbus_.path == SmbusSite::kFchPm;
    const PciFunction* fn = machine_->FindPciFunction(PciAddress(smbus_.bus, smbus_.device, smbus_.function));
    return fn && (fn->Load(kCfgCommand, 1) & kCommandIoSpace) != 0;
}

} // namespace vek::sim
