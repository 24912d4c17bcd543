// libvek-sim: the simulator's boards behind a small C interface, for
// applications that want to run against a board they do not have.
//
// The board is attached through libvek's host seam, so the application's own
// libvek answers from it; this library keeps a private copy of the platform
// table only to build boards, never a second copy of the library's state.
#include "vek/sim.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform_table.h"
#include "sim/board.h"
#include "sim/ec/ec_fans.h"
#include "sim/ec/ec_model.h"
#include "sim/sio/sio1_model.h"
#include "sim/sio/sio2_model.h"
#include "sim/sio/sio5_model.h"
#include "sim/smbus/smbus_model.h"
#include "vek/host.h"

namespace {

using vek::sim::Board;

struct Attached {
    std::unique_ptr<Board> board;
    std::string name;
};
Attached g_attached;

const std::vector<std::string>& BoardNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (const vek::PlatformEntry& row : vek::kPlatformTable)
            v.emplace_back(row.name, strnlen(row.name, sizeof row.name));
        return v;
    }();
    return names;
}

Board* Current() { return g_attached.board.get(); }

// The firmware's GPIO set 1: direction register (1 = input) and data register.
constexpr uint8_t kEcGpioDirection = 0x2B;
constexpr uint8_t kEcGpioData = 0x2C;
constexpr int kEcGpioPins = 8;
constexpr uint32_t kSio2Fans = 2;

// Temperatures a sensor can hold: the EC stores whole degrees in one byte, the
// processor's readout is seven bits below its limit.
constexpr double kLowestCelsius = -40.0;
constexpr double kHighestCelsius = 150.0;

// The EC firmware copies the processor temperature it reads over PECI into a
// RAM byte: 0x00 on the firmware with the register window, 0x0C on the one
// behind the index pair.
constexpr uint8_t kEcCpuTemperature = 0x00;
constexpr uint8_t kEcIndirectCpuTemperature = 0x0C;

VEK_RESULT SetCpuTemperature(Board& board, double celsius) {
    const long readout = std::lround(double(vek::sim::kBoardTjMax) - celsius);
    if (readout < 0 || readout > 0x7F) return VEK_ERR_ARGUMENT;
    constexpr uint64_t kReadingValid = 1ull << 31;
    board.machine().SetMsr(vek::sim::kMsrThermStatus, kReadingValid | (uint64_t(readout) << 16));
    if (auto* ec = board.Find<vek::sim::EcModel>(); ec != nullptr && ec->paths().window)
        ec->Poke(ec->paths().indirect ? kEcIndirectCpuTemperature : kEcCpuTemperature, uint8_t(std::lround(celsius)));
    return VEK_OK;
}

VEK_RESULT SetBoardTemperature(Board& board, double celsius) {
    if (auto* fans = board.Find<vek::sim::EcFans>()) {
        fans->SetBoardTemperature(int(std::lround(celsius)));
        return VEK_OK;
    }
    if (auto* fans = board.Find<vek::sim::Kind100Fans>()) {
        if (celsius < 0) return VEK_ERR_ARGUMENT; // the firmware reports it unsigned
        fans->SetTemperature(uint16_t(std::lround(celsius)));
        return VEK_OK;
    }
    // The kind-5 Super I/O's fan curve follows a monitor register in whole degrees (two's complement).
    if (auto* sio = board.Find<vek::sim::Sio5Model>(); sio != nullptr && sio->wiring().fans[0].fitted) {
        sio->SetMonitor(sio->wiring().fans[0].sensor, uint8_t(int8_t(std::lround(celsius))));
        return VEK_OK;
    }
    return VEK_ERR_UNSUPPORTED;
}

} // namespace

extern "C" {

uint32_t vek_sim_board_count(void) { return uint32_t(BoardNames().size()); }

const char* vek_sim_board_name(uint32_t index) {
    return index < BoardNames().size() ? BoardNames()[index].c_str() : nullptr;
}

const char* vek_sim_default_board(void) {
    static const std::string name = vek::sim::DefaultBoardName();
    return name.c_str();
}

VEK_RESULT vek_sim_attach(const char* board) {
    if (Current() != nullptr) return VEK_ERR_STATE;
    const std::string name = board == nullptr || *board == '\0' ? vek::sim::DefaultBoardName() : board;
    const vek::PlatformEntry* row = vek::sim::FindRow(name);
    if (row == nullptr) return VEK_ERR_ARGUMENT;
    auto made = std::make_unique<Board>(*row);
    const VEK_RESULT r = vek_host_attach(&made->platform());
    if (r != VEK_OK) return r;
    g_attached = {std::move(made), name};
    return VEK_OK;
}

VEK_RESULT vek_sim_detach(void) {
    if (Current() == nullptr) return VEK_ERR_STATE;
    const VEK_RESULT r = vek_host_detach();
    if (r != VEK_OK) return r;
    g_attached = {};
    return VEK_OK;
}

const char* vek_sim_attached(void) { return Current() ? g_attached.name.c_str() : nullptr; }

VEK_RESULT vek_sim_set_temperature(uint32_t kind, uint32_t index, double celsius) {
    Board* board = Current();
    if (board == nullptr) return VEK_ERR_STATE;
    if (!(celsius >= kLowestCelsius && celsius <= kHighestCelsius) || index != 0) return VEK_ERR_ARGUMENT;
    switch (kind) {
    case VEK_SIM_TEMP_CPU: return SetCpuTemperature(*board, celsius);
    case VEK_SIM_TEMP_BOARD: return SetBoardTemperature(*board, celsius);
    default: return VEK_ERR_ARGUMENT;
    }
}

VEK_RESULT vek_sim_set_fan_stalled(uint32_t fan, int stalled) {
    Board* board = Current();
    if (board == nullptr) return VEK_ERR_STATE;
    // A seized fan's tachometer stops counting: the Super I/O's period counter overflows.
    constexpr uint16_t kStoppedCount = 0xFFFF;
    const std::optional<uint16_t> count = stalled ? std::optional<uint16_t>(kStoppedCount) : std::nullopt;
    if (auto* fans = board->Find<vek::sim::EcFans>()) {
        if (fan >= fans->count()) return VEK_ERR_ARGUMENT;
        fans->SetStalled(fan, stalled != 0);
        return VEK_OK;
    }
    if (auto* sio = board->Find<vek::sim::Sio5Model>()) {
        if (fan >= sio->wiring().fans.size() || !sio->wiring().fans[fan].fitted) return VEK_ERR_ARGUMENT;
        sio->SetFanStuck(int(fan), count);
        return VEK_OK;
    }
    if (auto* sio = board->Find<vek::sim::Sio2Model>()) {
        if (fan >= kSio2Fans) return VEK_ERR_ARGUMENT;
        sio->SetFanStuck(int(fan), count);
        return VEK_OK;
    }
    return VEK_ERR_UNSUPPORTED;
}

VEK_RESULT vek_sim_set_gpio_input(int32_t set, int32_t pin, int level) {
    Board* board = Current();
    if (board == nullptr) return VEK_ERR_STATE;
    if (set < 1 || pin < 1 || pin > kEcGpioPins || (level != 0 && level != 1)) return VEK_ERR_ARGUMENT;
    auto* ec = board->Find<vek::sim::EcModel>();
    // Set 1 of the firmware that keeps its GPIO in RAM; the boards that keep it
    // in EC memory or in other chips have no modelled outside input yet.
    if (ec == nullptr || set != 1 || ec->paths().indirect || !ec->paths().window) return VEK_ERR_UNSUPPORTED;
    const uint8_t bit = uint8_t(1u << (pin - 1));
    if ((ec->Peek(kEcGpioDirection) & bit) == 0) return VEK_ERR_STATE; // an output: the EC drives it
    const uint8_t data = ec->Peek(kEcGpioData);
    ec->Poke(kEcGpioData, uint8_t(level ? data | bit : data & ~bit));
    return VEK_OK;
}

VEK_RESULT vek_sim_inject_fault(uint32_t fault, int on) {
    Board* board = Current();
    if (board == nullptr) return VEK_ERR_STATE;
    const bool set = on != 0;
    switch (fault) {
    case VEK_SIM_FAULT_EC_BUSY: {
        auto* ec = board->Find<vek::sim::EcModel>();
        if (ec == nullptr) return VEK_ERR_UNSUPPORTED;
        ec->acpi_faults().stuckIbf = set;
        ec->aux_faults().stuckIbf = set;
        return VEK_OK;
    }
    case VEK_SIM_FAULT_SMBUS_HUNG: {
        auto* smbus = board->Find<vek::sim::SmbusController>();
        if (smbus == nullptr) return VEK_ERR_UNSUPPORTED;
        smbus->SetHung(set);
        return VEK_OK;
    }
    case VEK_SIM_FAULT_DRIVER_MISSING:
        board->machine().SetDriverStartStatus(set ? VEK_HOST_DRIVER_NO_FILE : VEK_HOST_DRIVER_READY);
        return VEK_OK;
    case VEK_SIM_FAULT_NOT_ELEVATED:
        board->machine().SetElevated(!set);
        return VEK_OK;
    case VEK_SIM_FAULT_SUPERIO_SILENT: {
        bool found = false;
        if (auto* sio = board->Find<vek::sim::Sio5Model>()) { sio->SetDeaf(set); found = true; }
        if (auto* sio = board->Find<vek::sim::Sio2Model>()) { sio->SetDeaf(set); found = true; }
        if (auto* sio = board->Find<vek::sim::Sio1Model>()) { sio->SetSilent(set); found = true; }
        return found ? VEK_OK : VEK_ERR_UNSUPPORTED;
    }
    default: return VEK_ERR_ARGUMENT;
    }
}

VEK_RESULT vek_sim_advance_ms(uint32_t milliseconds) {
    Board* board = Current();
    if (board == nullptr) return VEK_ERR_STATE;
    board->machine().Advance(int64_t(milliseconds) * 1'000'000);
    return VEK_OK;
}

} // extern "C"
