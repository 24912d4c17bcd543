// Helpers of the ChipKind 1 tests: a simulated kind-1 board, its chip model
// and the configuration-port accesses the library made.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "backends/sio1/sio1.h"
#include "ec_test_util.h"
#include "sim/sio/sio1_model.h"
#include "sim_fixture.h"

namespace vek::test {

inline std::vector<const PlatformEntry*> Sio1Rows() {
    std::vector<const PlatformEntry*> rows;
    for (const PlatformEntry& r : kPlatformTable)
        if (r.chipKind == KIND_SIO1 && r.name[0] != '\0') rows.push_back(&r);
    return rows;
}

inline std::string NameOf(const PlatformEntry& r) { return std::string(r.name); }

class Sio1Test : public SimBoardTest {
protected:
    // The configuration port is process-wide; each board starts from a fresh process's 0x2E.
    void SetUp() override { sio1::ResetProcessState(); }

    void UseRow(const PlatformEntry& row) {
        attached.reset();
        board.reset();
        sio1::ResetProcessState();
        Use(row);
        chip = board->Find<sim::Sio1Model>();
        ASSERT_NE(chip, nullptr);
    }
    void InitBoard(uint32_t boardId) {
        UseRow(RowWithBoard(boardId));
        ASSERT_EQ(Init(), VEK_OK);
        machine().ClearTrace();
    }
    DeviceContext& ctx() { return Lib().primary; }
    const sio1::Sio1Area& area() { return sio1::Area(Lib().primary); }
    std::vector<PortOp> ConfigOps() {
        const uint16_t p = chip->config_port();
        return PortOps(machine(), p, uint16_t(p + 1));
    }
    std::vector<PortOp> HwmOps() {
        const uint16_t p = area().hwmIndexPort;
        return PortOps(machine(), p, uint16_t(p + 1));
    }
    // The chip is locked and its monitor back on bank 0.
    void ExpectChipIdle(const std::string& what) {
        EXPECT_TRUE(chip->locked()) << what;
        EXPECT_EQ(chip->hwm_bank(), 0) << what;
    }

    sim::Sio1Model* chip = nullptr;
};

// Builds the expected configuration-port sequence.
class CfgSeq {
public:
    explicit CfgSeq(uint16_t port) : i_(port), d_(uint16_t(port + 1)) {}
    CfgSeq& Enter() { return Op(W(i_, 0x87)).Op(W(i_, 0x87)); }
    CfgSeq& Exit() { return Op(W(i_, 0xAA)); }
    CfgSeq& Write(uint8_t reg, uint8_t v) { return Op(W(i_, reg)).Op(W(d_, v)); }
    CfgSeq& Read(uint8_t reg, uint8_t v) { return Op(W(i_, reg)).Op(R(d_, v)); }
    CfgSeq& Select(uint8_t ldn) { return Write(0x07, ldn); }
    CfgSeq& Modify(uint8_t reg, uint8_t before, uint8_t after) { return Read(reg, before).Write(reg, after); }
    const std::vector<PortOp>& ops() const { return ops_; }

private:
    CfgSeq& Op(PortOp op) {
        ops_.push_back(op);
        return *this;
    }
    uint16_t i_, d_;
    std::vector<PortOp> ops_;
};

} // namespace vek::test
