// Helpers shared by the chipset tests: the rows that carry a ChipKind 4 chip,
// its context, and the accesses the library made in order.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "backends/chipset/chipset.h"
#include "sim_fixture.h"

namespace vek::test {

inline bool CarriesChipset(const PlatformEntry& r) {
    return r.chipKind == KIND_CHIPSET || r.secondaryKind == KIND_CHIPSET;
}

inline const PlatformEntry& RowNamed(const std::string& name) {
    return RowWhere([&](const PlatformEntry& r) { return name == r.name; });
}

// A row name as a test name ("FMQ-333-T" -> "FMQ_333_T").
inline std::string TestNameOf(const char* row) {
    std::string n = row;
    for (char& ch : n)
        if (ch == '-') ch = '_';
    return n;
}

// One hardware access: port or memory, read or write.
struct Op {
    sim::Access kind;
    uint64_t address;
    unsigned width;
    uint32_t value;
    bool operator==(const Op&) const = default;
};
inline Op PortW(uint64_t port, unsigned width, uint32_t value) { return {sim::Access::PortWrite, port, width, value}; }
inline Op MemR(uint64_t address, uint32_t value) { return {sim::Access::MemRead, address, 1, value}; }
inline Op MemW(uint64_t address, uint32_t value) { return {sim::Access::MemWrite, address, 1, value}; }

inline std::ostream& operator<<(std::ostream& os, const Op& op) {
    return os << int(op.kind) << "@" << std::hex << op.address << "/" << std::dec << op.width << "=" << std::hex
              << op.value << std::dec;
}

// Accesses of the given kinds to addresses in [first, last].
inline std::vector<Op> Ops(const sim::Machine& m, uint64_t first, uint64_t last,
                           std::initializer_list<sim::Access> kinds) {
    std::vector<Op> ops;
    for (const sim::TraceEntry& e : m.trace()) {
        if (e.address < first || e.address > last) continue;
        for (sim::Access k : kinds)
            if (e.kind == k) ops.push_back({e.kind, e.address, e.width, uint32_t(e.value)});
    }
    return ops;
}

class ChipsetTest : public SimBoardTest {
protected:
    void InitRow(const std::string& name) {
        Use(RowNamed(name));
        ASSERT_EQ(Init(), VEK_OK);
        machine().ClearTrace();
    }
    // The context of the ChipKind 4 chip.
    DeviceContext& chip() {
        DeviceContext& p = Lib().primary;
        return p.chipKind == KIND_CHIPSET ? p : *p.secondary;
    }
    chipset::ChipsetArea& area() { return chipset::Area(chip()); }
};

} // namespace vek::test
