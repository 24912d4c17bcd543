// The EC's port paths against the simulated EC: exact byte sequences, the
// status-poll budgets in device time, and what a hung or absent EC yields.
#include "api/library.h"
#include "backends/ec/ec.h"
#include "ec_test_util.h"

using namespace vek;
using namespace vek::test;

namespace {

constexpr int64_t kMs = 1'000'000;
constexpr int64_t kSec = 1'000 * kMs;

class EcAccessTest : public EcBoardTest {
protected:
    void SetUp() override { InitBoard(6); } // decodes every path: window off, bridge on
    int64_t Elapsed(void (*fn)()) {
        const int64_t t0 = machine().now_ns();
        fn();
        return machine().now_ns() - t0;
    }
};

TEST_F(EcAccessTest, MemoryReadSendsAddressHighByteFirstThroughTheBridge) {
    ec->PokeMemory(0x1601, 0x5A);
    EXPECT_EQ(ec::EcMemoryRead(0x1601), 0x5A);
    const std::vector<PortOp> expected = {
        W(0x4E, 0x2E), W(0x4F, 0x11), W(0x4E, 0x2F), W(0x4F, 0x16), W(0x4E, 0x2E), W(0x4F, 0x10),
        W(0x4E, 0x2F), W(0x4F, 0x01), W(0x4E, 0x2E), W(0x4F, 0x12), W(0x4E, 0x2F), R(0x4F, 0x5A),
    };
    EXPECT_EQ(PortOps(machine(), 0x4E, 0x4F), expected);

    // Nothing is cached: the next access sends the whole address again.
    machine().ClearTrace();
    ec::EcMemoryWrite(0x1602, 0x77);
    EXPECT_EQ(PortOps(machine(), 0x4E, 0x4F).size(), 12u);
    EXPECT_EQ(ec->PeekMemory(0x1602), 0x77);
    EXPECT_EQ(ec->PeekMemory(0x1601), 0x5A);
}

TEST_F(EcAccessTest, IndirectPauseFollowsTheIoSleepTime) {
    // Twelve pauses per memory access; 0 removes them, leaving only the
    // requests themselves (1 µs each in the simulator).
    const struct { int32_t us; int64_t minNs, maxNs; } cases[] = {
        {20, 240'000, 260'000}, {0, 0, 20'000}, {1000, 12'000'000, 12'020'000}};
    for (const auto& c : cases) {
        ASSERT_EQ(VEK_API_SetIOSleepTime(c.us), VEK_OK);
        const int64_t t = Elapsed([] { ec::EcMemoryRead(0x0306); });
        EXPECT_GE(t, c.minNs) << c.us;
        EXPECT_LE(t, c.maxNs) << c.us;
    }
}

TEST_F(EcAccessTest, AcpiReadAndWriteSequences) {
    ec->Poke(0x42, 0x99);
    EXPECT_EQ(ec::AcpiEcRead(0x42), 0x99);
    EXPECT_EQ(PortOps(machine(), 0x62, 0x66), (std::vector<PortOp>{W(0x66, 0x80), W(0x62, 0x42), R(0x62, 0x99)}));

    machine().ClearTrace();
    ec::AcpiEcWrite(0x43, 0x11);
    EXPECT_EQ(PortOps(machine(), 0x62, 0x66), (std::vector<PortOp>{W(0x66, 0x81), W(0x62, 0x43), W(0x62, 0x11)}));
    EXPECT_EQ(ec->Peek(0x43), 0x11);
    EXPECT_EQ(ec->overruns(), 0); // never wrote while the EC held IBF
}

TEST_F(EcAccessTest, PollsWaitForASlowEcWithinTheBudget) {
    // An EC that needs 3 ms per byte costs 15 polls per wait, not a time-out:
    // the register byte waits for the command, the answer for the register.
    ec->SetProcessingTime(3 * kMs);
    ec->Poke(0x10, 0x21);
    const int64_t t0 = machine().now_ns();
    EXPECT_EQ(ec::AcpiEcRead(0x10), 0x21);
    const int64_t t = machine().now_ns() - t0;
    EXPECT_GE(t, 6 * kMs);
    EXPECT_LT(t, 7 * kMs);
    EXPECT_EQ(ec->overruns(), 0);
}

TEST_F(EcAccessTest, AbsentOrHungEcCostsOneSecondPerWaitAndCarriesOn) {
    struct Case {
        const char* what;
        void (*fault)(sim::EcModel&);
        int64_t seconds; // device time of one AcpiEcRead
        uint8_t value;
    };
    const Case cases[] = {
        // Status 0xFF: both input-free waits give up; OBF reads set at once.
        {"floating", [](sim::EcModel& e) { e.acpi_faults().floating = true; }, 2, 0xFF},
        // The command never gets taken, so no answer either: three waits give up.
        {"stuck IBF", [](sim::EcModel& e) { e.acpi_faults().stuckIbf = true; }, 3, 0xFF},
        // Bytes taken, answer never offered: only the output wait gives up.
        {"no OBF", [](sim::EcModel& e) { e.acpi_faults().noObf = true; }, 1, 0xFF},
    };
    for (const Case& c : cases) {
        Rebuild();
        ec = board->Find<sim::EcModel>();
        ASSERT_EQ(Init(), VEK_OK);
        ec->Poke(0x20, 0x33);
        c.fault(*ec);
        machine().ClearTrace();
        const int64_t t0 = machine().now_ns();
        EXPECT_EQ(ec::AcpiEcRead(0x20), c.value) << c.what;
        const int64_t t = machine().now_ns() - t0;
        EXPECT_GE(t, c.seconds * kSec) << c.what;
        EXPECT_LT(t, c.seconds * kSec + 100 * kMs) << c.what;
        // The sequence went on regardless: command, register, data read.
        EXPECT_EQ(PortOps(machine(), 0x62, 0x62).size() + PortOpsOn(machine(), {0x66}).size(), 3u) << c.what;
    }
}

TEST_F(EcAccessTest, AuxCommandReportsAGiveUpAs9) {
    const struct { int64_t processNs; bool stuck; uint32_t result; } cases[] = {
        {20'000, false, 0},
        {900 * kMs, false, 0},      // empties within 5000 polls
        {1'100 * kMs, false, 9},    // one second is the budget
        {20'000, true, 9},
    };
    for (const auto& c : cases) {
        ec->SetProcessingTime(c.processNs);
        ec->aux_faults().stuckIbf = c.stuck;
        machine().Advance(10 * kSec); // let any earlier byte be taken
        machine().ClearTrace();
        EXPECT_EQ(ec::AuxCommand(0xA2, 0x1234), c.result) << c.processNs;
        // The three bytes go out whatever happened.
        EXPECT_EQ(PortOps(machine(), 0x25C, 0x25D),
                  (std::vector<PortOp>{W(0x25D, 0xA2), W(0x25C, 0x34), W(0x25C, 0x12)}));
    }
}

TEST_F(EcAccessTest, AuxQueryReturnsTheEcsAnswer) {
    std::vector<uint8_t> got;
    ec->OnAuxCommand(0x61, 3, [&](std::span<const uint8_t> d) -> std::optional<uint8_t> {
        got.assign(d.begin(), d.end());
        return uint8_t(d[0] + d[1]);
    });
    EXPECT_EQ(ec::AuxQuery(0x61, 0x10, 0x05), 0x15);
    EXPECT_EQ(got, (std::vector<uint8_t>{0x10, 0x05, 0x00}));
}

TEST_F(EcAccessTest, BankGuardSelectsAndRestoresBankZero) {
    ec->Poke(0x42, 0xB2, 2);
    ec->Poke(0x42, 0xB0, 0);
    {
        ec::EcBankGuard bank(2);
        EXPECT_EQ(ec->bank(), 2);
        EXPECT_EQ(ec::AcpiEcRead(0x42), 0xB2);
    }
    EXPECT_EQ(ec->bank(), 0);
    EXPECT_EQ(ec::AcpiEcRead(0x42), 0xB0);
}

TEST_F(EcAccessTest, MailboxIsAPlainIndexDataPair) {
    ec::MailboxWrite(0x03, 0x44);
    const uint8_t v = ec::MailboxRead(0x05);
    EXPECT_EQ(PortOps(machine(), 0x200, 0x201),
              (std::vector<PortOp>{W(0x200, 0x03), W(0x201, 0x44), W(0x200, 0x05), R(0x201, v)}));
}

TEST_F(EcAccessTest, LanBypassTimerRunsInDeviceTimeAndClearsItsRunBit) {
    Rebuild();
    ec = board->Find<sim::EcModel>();
    ASSERT_EQ(Init(), VEK_OK);
    ec->SetLanTimerRegisters(0x50, 0x51, 0x52);
    ec::AcpiEcWrite(0x51, 1);
    ec::AcpiEcWrite(0x52, 30);
    ec::AcpiEcWrite(0x50, 0x01);
    EXPECT_EQ(ec->lan_timer().timeoutNs, 90 * kSec);
    machine().Advance(89 * kSec);
    EXPECT_EQ(ec::AcpiEcRead(0x50) & 1, 1);
    machine().Advance(2 * kSec);
    EXPECT_EQ(ec::AcpiEcRead(0x50) & 1, 0);
    EXPECT_EQ(ec->lan_timer().expiries, 1);
}

// The register pair chosen at configuration, on a window board.
class EcWindowTest : public EcBoardTest {};

TEST_F(EcWindowTest, SlotUsesOnlyItsLowByte) {
    InitBoard(11);
    ec->Poke(0x0C, 0x6C);
    EXPECT_EQ(ec::ReadEcRegister(ctx(), 780), 0x6C); // 780 = 0x30C
    ec::WriteEcRegister(ctx(), 0x0307, 0x1FF);
    EXPECT_EQ(ec->Peek(0x07), 0xFF);
    EXPECT_EQ(PortOps(machine(), 0xE300, 0xE3FF), (std::vector<PortOp>{R(0xE30C, 0x6C), W(0xE307, 0xFF)}));
}

} // namespace
