// Helpers shared by the EC tests: the EC model of the current board and the
// port accesses the library made, in order.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "sim/ec/ec_model.h"
#include "sim_fixture.h"

namespace vek::test {

struct PortOp {
    bool write;
    uint16_t port;
    uint8_t value;
    bool operator==(const PortOp&) const = default;
};
inline PortOp W(uint16_t port, uint8_t value) { return {true, port, value}; }
inline PortOp R(uint16_t port, uint8_t value) { return {false, port, value}; }

// Registers read through the index/data pair at index, index + 1, in order.
inline std::vector<uint8_t> RegistersRead(const std::vector<PortOp>& ops, uint16_t index) {
    std::vector<uint8_t> regs;
    for (size_t i = 0; i + 1 < ops.size(); ++i)
        if (ops[i].write && ops[i].port == index && !ops[i + 1].write && ops[i + 1].port == index + 1)
            regs.push_back(ops[i].value);
    return regs;
}

inline std::ostream& operator<<(std::ostream& os, const PortOp& op) {
    return os << (op.write ? "out " : "in ") << std::hex << op.port << "=" << unsigned(op.value) << std::dec;
}

// Port accesses inside [first, last], status polls of the command ports left out.
inline std::vector<PortOp> PortOps(const sim::Machine& m, uint16_t first, uint16_t last, bool withStatus = false) {
    std::vector<PortOp> ops;
    for (const sim::TraceEntry& e : m.trace()) {
        if (e.kind != sim::Access::PortRead && e.kind != sim::Access::PortWrite) continue;
        if (e.address < first || e.address > last) continue;
        const bool write = e.kind == sim::Access::PortWrite;
        if (!withStatus && !write && (e.address == 0x66 || e.address == 0x25D)) continue;
        ops.push_back({write, uint16_t(e.address), uint8_t(e.value)});
    }
    return ops;
}

// Accesses to any of the given ports (status polls left out).
inline std::vector<PortOp> PortOpsOn(const sim::Machine& m, std::initializer_list<uint16_t> ports) {
    std::vector<PortOp> ops;
    for (const PortOp& op : PortOps(m, 0, 0xFFFF))
        for (uint16_t p : ports)
            if (op.port == p) ops.push_back(op);
    return ops;
}

// A simulated EC board, initialised.
class EcBoardTest : public SimBoardTest {
protected:
    void UseBoard(uint32_t boardId) {
        Use(RowWhere([=](const PlatformEntry& r) { return r.boardId == boardId; }));
        ec = board->Find<sim::EcModel>();
        ASSERT_NE(ec, nullptr);
    }
    void InitBoard(uint32_t boardId) {
        UseBoard(boardId);
        ASSERT_EQ(Init(), VEK_OK);
        machine().ClearTrace();
    }
    DeviceContext& ctx() { return Lib().primary; }
    sim::EcModel* ec = nullptr;
};

} // namespace vek::test
