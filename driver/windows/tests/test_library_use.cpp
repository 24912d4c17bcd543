// What the library asks of the driver, board by board on the simulator, held
// against the driver's rules: a change in the library that the driver would
// refuse shows here, not on a customer's machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform_table.h"
#include "sim/attached.h"
#include "sim/board.h"
#include "vek/vek.h"

#include "fake_hw.h"

namespace {

using vek::sim::Access;
using vek::sim::TraceEntry;

// RAM as firmware reports it on a machine with 8 GiB and the usual hole below 4 GiB.
const zk_phys_range kRam[] = {{0x1000, 0x9E000}, {0x100000, 0xBFF00000}, {0x100000000, 0x140000000}, {0, 0}};

// Drives every family the board may have, with arguments a user would pass.
void UseEveryFamily() {
    double d = 0;
    uint32_t u = 0;
    uint8_t b = 0;
    uint8_t buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (uint32_t i = 0; i < 8; ++i) {
        VEK_HWM_CPUTemperature(i, &d);
        VEK_HWM_Temperature(i, &d);
        VEK_HWM_Voltage(i, &d);
        VEK_HWM_Current(i, &d);
        VEK_HWM_GetFanSpeed(i, &u);
    }
    VEK_HWM_SysTemperature(&d);
    VEK_HWM_SetFanSpeed(0, 50);
    for (int32_t set = 1; set <= 3; ++set) {
        for (int32_t pin = 1; pin <= 8; ++pin) {
            VEK_GPIO_SetPinDirection(set, pin, 0);
            VEK_GPIO_WritePin(set, pin, 1);
            VEK_GPIO_ReadPin(set, pin, &b);
            VEK_GPIO_SetPinDirection(set, pin, 1);
        }
    }
    VEK_WDT_SetConfig(0, 30);
    VEK_WDT_Trigger();
    VEK_WDT_Disable();
    for (uint32_t led = 0; led < 13; ++led) {
        VEK_LED_Set(led, 1);
        VEK_LED_Get(led, &u);
    }
    VEK_Button_Get(0, &u);
    for (uint32_t direction : {0u, 1u}) {
        VEK_SMBus_ByteData(int32_t(direction), 0xA0, 0, &b);
        VEK_I2C_SMBusI2CBlock(direction, 0, 0x50, 0, 4, buffer);
    }
    VEK_HWM_StartBeep(440.0);
    VEK_HWM_StopBeep();
}

// The driver's view of this machine: its PCI functions, the FCH
// power-management registers where the board has them, and firmware ACPI
// tables with the power-management block where desktop boards put it.
void LoadMachine(vek::sim::Machine& m) {
    zk::test::ResetKernel();
    auto& k = zk::test::Kernel();
    for (uint32_t address = 0; address <= 0xFFFF; ++address)
        if (const vek::sim::PciFunction* f = m.FindPciFunction(address))
            std::copy(f->config.begin(), f->config.end(), k.pci[address].begin());
    std::vector<uint8_t> pm(2);
    for (uint32_t i = 0; i < 2; ++i) {
        uint32_t v = 0;
        if (!m.MemoryRead(0xFED80300 + i, 1, &v)) pm.clear();
        if (!pm.empty()) pm[i] = uint8_t(v);
    }
    if (!pm.empty()) k.memory.push_back({0xFED80300, pm});
    k.fadt = zk::test::FakeKernel::TypicalFadt();
}

struct Refusal {
    std::string board;
    const char* what;
    uint64_t address;
    uint32_t offset, width, value;
};

// Every access of one board's trace the driver would refuse, with the handle
// opened on this machine and the port ranges the library named applied where
// they came.
void Check(const std::string& board, vek::sim::Machine& m, std::vector<Refusal>& refused,
           std::set<std::tuple<uint32_t, uint32_t, uint32_t>>& pciWrites, std::map<Access, size_t>& seen,
           size_t& grants) {
    LoadMachine(m);
    zk_handle h;
    zk_open_handle(&h, 1, 1);
    std::map<std::pair<uint64_t, uint32_t>, uint32_t> lastPci; // (function, register) -> value
    uint32_t portB = 0;
    const auto& named = m.port_grants();
    size_t g = 0;
    const auto& trace = m.trace();
    for (size_t i = 0; i <= trace.size(); ++i) {
        for (; g < named.size() && named[g].at <= i; ++g) {
            uint8_t in[4] = {uint8_t(named[g].first), uint8_t(named[g].first >> 8), uint8_t(named[g].count),
                             uint8_t(named[g].count >> 8)};
            uint32_t returned = 0;
            if (zk_dispatch(VEK_IOCTL_GRANT_PORTS, in, 4, 0, &returned, 1, &h) != ZK_STATUS_SUCCESS)
                refused.push_back({board, "port range", named[g].first, 0, named[g].count, 0});
            ++grants;
        }
        if (i == trace.size()) break;
        const TraceEntry& e = trace[i];
        const uint32_t value = uint32_t(e.value);
        bool ok = true;
        const char* what = "";
        switch (e.kind) {
        case Access::PortRead:
        case Access::PortWrite:
            what = e.kind == Access::PortRead ? "port read" : "port write";
            ok = zk_port_allowed(uint32_t(e.address), e.width, e.kind == Access::PortWrite, value, &h.ports);
            if (e.address == 0x61 && e.kind == Access::PortRead) portB = value;
            if (e.address == 0x61 && e.kind == Access::PortWrite) ok = ok && zk_port_b_write_allowed(portB, value);
            break;
        case Access::PciRead:
            what = "PCI read";
            ok = zk_pci_shape_ok(uint32_t(e.address), e.offset, e.width);
            lastPci[{e.address, e.offset}] = value;
            break;
        case Access::PciWrite: {
            what = "PCI write";
            auto before = lastPci.find({e.address, e.offset});
            const uint32_t current = before == lastPci.end() ? value : before->second;
            const vek::sim::PciFunction* f = m.FindPciFunction(uint32_t(e.address));
            const uint32_t cls = f ? f->Load(0x0A, 2) : 0;
            const uint32_t mask = zk_pci_write_mask(uint32_t(e.address), cls, e.offset, e.width);
            ok = mask != 0 && ((current ^ value) & ~mask) == 0;
            pciWrites.insert({uint32_t(e.address), e.offset, e.width});
            lastPci[{e.address, e.offset}] = value;
            break;
        }
        case Access::MemRead:
        case Access::MemWrite:
            what = e.kind == Access::MemRead ? "memory read" : "memory write";
            ok = zk_memory_window_allowed(e.address, e.width, e.kind == Access::MemWrite, h.windows, h.gpio_block) &&
                 zk_memory_clear_of_ram(e.address, e.width, kRam);
            break;
        case Access::MsrRead:
            what = "MSR read";
            ok = zk_msr_allowed(uint32_t(e.address));
            break;
        default:
            break;
        }
        ++seen[e.kind];
        if (!ok) refused.push_back({board, what, e.address, e.offset, e.width, value});
    }
}

TEST(LibraryUse, EveryBoardStaysWithinTheDriversRules) {
    std::vector<Refusal> refused;
    std::set<std::tuple<uint32_t, uint32_t, uint32_t>> pciWrites;
    std::map<Access, size_t> seen;
    size_t boards = 0, grants = 0;
    for (const vek::PlatformEntry& row : vek::kPlatformTable) {
        auto board = std::make_unique<vek::sim::Board>(row);
        auto attached = std::make_unique<vek::sim::Attached>(*board);
        ASSERT_TRUE(attached->ok()) << row.name;
        if (VEK_API_Init() != 0) continue;
        ++boards;
        UseEveryFamily();
        ASSERT_EQ(board->machine().trace_dropped(), 0u) << row.name;
        Check(row.name, board->machine(), refused, pciWrites, seen, grants);
    }
    EXPECT_GT(boards, 200u);
    EXPECT_GT(grants, 0u); // the Super I/O boards name their ranges
    // The kinds of request every run makes; pad writes are checked wherever a board makes them.
    for (Access kind : {Access::PortRead, Access::PortWrite, Access::PciRead, Access::PciWrite, Access::MemRead,
                        Access::MsrRead})
        EXPECT_GT(seen[kind], 0u) << int(kind);
    for (const Refusal& r : refused)
        ADD_FAILURE() << r.board << ": " << r.what << " at 0x" << std::hex << r.address << " register 0x" << r.offset
                      << " width " << std::dec << r.width << " value 0x" << std::hex << r.value;

    // The configuration writes the library makes: the driver's write table is
    // exactly this list (command register and host configuration of each
    // generation's SMBus controller, one byte each).
    const std::set<std::tuple<uint32_t, uint32_t, uint32_t>> expected = {
        {(0x00 << 8) | (31 << 3) | 4, 0x04, 1}, {(0x80 << 8) | (31 << 3) | 4, 0x04, 1},
        {(0x00 << 8) | (31 << 3) | 4, 0x40, 1}, {(0x00 << 8) | (31 << 3) | 3, 0x40, 1},
        {(0x00 << 8) | (31 << 3) | 1, 0x40, 1}, {(0x00 << 8) | (21 << 3) | 0, 0x40, 1},
        {(0x80 << 8) | (31 << 3) | 4, 0x40, 1},
    };
    EXPECT_EQ(pciWrites, expected);
    for (const auto& [pci, offset, width] : pciWrites)
        std::printf("PCI write %02x:%02x.%x register 0x%02x, %u byte\n", pci >> 8, (pci >> 3) & 31, pci & 7, offset,
                    width);
}

} // namespace
