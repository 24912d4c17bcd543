// Helpers shared by the Super I/O tests: a simulated board with its chip
// model, and the virtual time a call took.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ec_test_util.h"
#include "sim/sio/sio2_model.h"
#include "sim/sio/sio5_model.h"

namespace vek::test {

// A simulated board whose chip model T is found after Use().
template <class T>
class SioBoardTest : public SimBoardTest {
protected:
    void UseBoard(uint32_t boardId) {
        Use(RowWithBoard(boardId));
        chip = board->Find<T>();
        ASSERT_NE(chip, nullptr);
    }
    void InitBoard(uint32_t boardId) {
        UseBoard(boardId);
        ASSERT_EQ(Init(), VEK_OK);
        machine().ClearTrace();
    }
    // Fresh board for each entry of a table-driven test.
    void Restart(uint32_t boardId) {
        attached.reset();
        board.reset();
        InitBoard(boardId);
    }
    int64_t ElapsedNs(const std::function<void()>& call) {
        const int64_t t0 = machine().now_ns();
        call();
        return machine().now_ns() - t0;
    }
    T* chip = nullptr;
};

// Expected port accesses of an index/data pair at port, port + 1.
using Ops = std::vector<PortOp>;
inline void Append(Ops& ops, std::initializer_list<PortOp> more) { ops.insert(ops.end(), more); }
inline void Set(Ops& ops, uint16_t port, uint8_t reg, uint8_t value) {
    Append(ops, {W(port, reg), W(uint16_t(port + 1), value)});
}
inline void Get(Ops& ops, uint16_t port, uint8_t reg, uint8_t value) {
    Append(ops, {W(port, reg), R(uint16_t(port + 1), value)});
}

} // namespace vek::test
