// A simulated board built from one platform-table row: the machine with the
// identity, processor and chipset state that initialisation reads, plus the chip
// models the row names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform_table.h"
#include "sim/machine.h"

namespace vek::sim {

// Where the chipset exposes its SMBus host controller's I/O base.
struct SmbusSite {
    enum Path : uint8_t { kNone, kPci, kFchPm };
    Path path = kNone;
    // kPci: the function and config register holding the base.
    uint8_t bus = 0, device = 0, function = 0;
    uint8_t baseReg = 0;
    bool decodeGated = false; // command register bit 0 starts clear; init must set it
    bool schMap = false;      // SCH register map, base held by the LPC bridge
    // The base the controller's registers decode at (what init should compute).
    uint16_t ioBase = 0;
};

// The site a row's chipset id and board id put the controller at.
SmbusSite SmbusSiteFor(uint32_t chipsetId, uint32_t boardId);

// FCH power-management registers 0x00/0x01 in the ACPI MMIO window.
inline constexpr uint64_t kFchMmioBase = 0xFED80000;
inline constexpr uint64_t kFchMmioSize = 0x1000;
inline constexpr uint64_t kFchPmRegisters = kFchMmioBase + 0x300;

inline constexpr uint32_t kMsrTemperatureTarget = 0x1A2; // TjMax in bits 16..23
inline constexpr uint32_t kMsrThermStatus = 0x19C;       // readout below TjMax in bits 16..22
inline constexpr uint32_t kBoardTjMax = 100;
inline constexpr uint32_t kBoardThermReadout = 55;

// Row with exactly this name, or null. (The library matches product names by
// prefix, so an earlier row that prefixes this one would win there.)
const PlatformEntry* FindRow(const std::string& name);

// Name of the board the CLI demo and the tests use when none is given.
std::string DefaultBoardName();

class Board {
public:
    explicit Board(const PlatformEntry& row);
    static Board FromRow(const PlatformEntry& row) { return Board(row); }
    // Throws std::invalid_argument for an unknown name.
    static Board Named(const std::string& name);
    static Board Default() { return Named(DefaultBoardName()); }

    Board(Board&&) = default;
    // Assigning would free the old machine before the models registered with it.
    Board& operator=(Board&&) = delete;

    Machine& machine() { return *machine_; }
    const PlatformEntry& row() const { return *row_; }
    const SmbusSite& smbus() const { return smbus_; }
    const vek_host_platform& platform() const { return machine_->platform(); }

    // Whether the SMBus controller currently decodes its I/O range (command
    // register bit 0 on the PCI path; always on the FCH).
    bool SmbusDecodes();

    // Chip models: constructed as T(machine, args...), owned by the board and
    // kept alive as long as the machine.
    template <class T, class... Args>
    T& Add(Args&&... args) {
        auto device = std::make_unique<T>(*machine_, std::forward<Args>(args)...);
        T& ref = *device;
        devices_.push_back(std::move(device));
        return ref;
    }
    template <class T>
    T* Find() {
        for (auto& d : devices_) {
            if (auto* t = dynamic_cast<T*>(d.get())) return t;
        }
        return nullptr;
    }
    const std::vector<std::unique_ptr<Device>>& devices() const { return devices_; }

private:
    void SeedIdentity();
    void SeedProcessor();
    void SeedSmbusSite();

    const PlatformEntry* row_;
    SmbusSite smbus_;
    // Declared before the devices: models go first, the machine they registered with last.
    std::unique_ptr<Machine> machine_;
    std::vector<std::unique_ptr<Device>> devices_;
};

} // namespace vek::sim
