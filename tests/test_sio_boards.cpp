// Every board with a ChipKind 5 or 2 Super I/O, as main or second chip:
// it initialises, leaves its chip locked, every GPIO pin it offers drives and
// reads back, and each family the Super I/O serves there answers something
// other than 10 unless the board's data says it lacks it.
#include <set>
#include <string>

#include "backends/sio2/sio2.h"
#include "backends/sio5/sio5.h"
#include "sio_test_util.h"

using namespace vek;
using namespace vek::test;

namespace {

enum Family : unsigned { kGpio = 1, kWdt = 2, kTemp = 4, kCpu = 8, kVolt = 16, kFan = 32 };
constexpr unsigned kAll = kGpio | kWdt | kTemp | kCpu | kVolt | kFan;

// What the Super I/O serves where it is the second chip (the main chip's
// families belong to other backends).
struct SecondChip {
    uint32_t board;
    unsigned families;
};
constexpr SecondChip kSecondChips[] = {
    {89, kGpio | kTemp | kVolt | kFan}, // GTB-489
    {93, kGpio | kFan},                 // GTB-493
    {60, kFan | kVolt},                 // PXC-60
};

// Families answering 10 by the board's own data.
struct Lacks {
    uint32_t board;
    unsigned families;
};
constexpr Lacks kLacks[] = {
    {74, kTemp},              // no board sensor on the chip
    {128, kFan}, {131, kFan}, // no fan headers on the chip
    {89, kFan},               // the row takes the fans' capability away from the chip
};

unsigned Lacking(uint32_t board) {
    for (const Lacks& l : kLacks)
        if (l.board == board) return l.families;
    return 0;
}

unsigned Served(const PlatformEntry& row) {
    if (row.chipKind == KIND_SIO5 || row.chipKind == KIND_SIO2) return kAll;
    for (const SecondChip& s : kSecondChips)
        if (s.board == row.boardId) return s.families;
    return 0;
}

bool AnyNot10(uint32_t first, uint32_t last, const std::function<uint32_t(uint32_t)>& call) {
    for (uint32_t i = first; i <= last; ++i)
        if (call(i) != VEK_ERR_UNSUPPORTED) return true;
    return false;
}

class SioBoardsTest : public SimBoardTest {
protected:
    bool ChipLocked() {
        if (auto* c = board->Find<sim::Sio5Model>()) return !c->config_mode();
        if (auto* c = board->Find<sim::Sio2Model>()) return !c->config_mode();
        return false;
    }

    int Expiries() {
        if (auto* c = board->Find<sim::Sio5Model>()) return c->watchdog().expiries;
        if (auto* c = board->Find<sim::Sio2Model>()) return c->watchdog().expiries;
        return -1;
    }
    // A 5 s timeout armed by the trigger resets the board after 5 s, not before.
    bool WatchdogFires() {
        const int before = Expiries();
        if (VEK_WDT_SetConfig(0, 5) != VEK_OK || VEK_WDT_Trigger() != VEK_OK) return false;
        machine().Advance(4'900'000'000);
        const bool early = Expiries() != before;
        machine().Advance(200'000'000);
        const bool fired = Expiries() == before + 1;
        return !early && fired && VEK_WDT_Disable() == VEK_OK;
    }

    // Each pin: as output it reads the level written; as input it reads the
    // pulled-up line.
    void CheckPins(const std::string& name) {
        const DeviceContext& p = Lib().primary;
        uint32_t sets = 0;
        ASSERT_EQ(VEK_GPIO_TotalSet(&sets), VEK_OK) << name;
        // On a split board the Super I/O's sets follow the main chip's; on
        // GTB-493 the main chip's count limits the set numbers.
        const int32_t first = p.gpioOwner == OWNER_SPLIT ? int32_t(p.gpioSets[0]) + 1 : 1;
        const int32_t last = p.gpioOwner == OWNER_SPLIT ? int32_t(sets) : int32_t(p.gpioSets[0]);
        ASSERT_LE(first, last) << name;
        for (int32_t set = first; set <= last; ++set) {
            uint32_t pins = 0;
            ASSERT_EQ(VEK_GPIO_TotalNumber(set, &pins), VEK_OK);
            ASSERT_GT(pins, 0u) << name << " set " << set;
            for (int32_t pin = 1; pin <= 8; ++pin) {
                uint8_t v = 9;
                if (VEK_GPIO_SetPinDirection(set, pin, 0) == VEK_ERR_ARGUMENT) continue; // no pin here
                for (uint8_t level : {1, 0}) {
                    ASSERT_EQ(VEK_GPIO_WritePin(set, pin, level), VEK_OK);
                    ASSERT_EQ(VEK_GPIO_ReadPin(set, pin, &v), VEK_OK);
                    EXPECT_EQ(v, level) << name << " set " << set << " pin " << pin;
                }
                ASSERT_EQ(VEK_GPIO_SetPinDirection(set, pin, 1), VEK_OK);
                ASSERT_EQ(VEK_GPIO_ReadPin(set, pin, &v), VEK_OK);
                EXPECT_EQ(v, 1) << name << " set " << set << " pin " << pin << " as input";
                ASSERT_EQ(VEK_GPIO_ReadPinDirection(set, pin, &v), VEK_OK);
                EXPECT_EQ(v, 1);
            }
        }
    }
};

TEST_F(SioBoardsTest, EveryRowInitialisesAndServesItsFamilies) {
    int rows = 0;
    for (const PlatformEntry& row : kPlatformTable) {
        const unsigned served = Served(row);
        if (served == 0) continue;
        ++rows;
        const std::string name(row.name);
        Use(row);
        ASSERT_EQ(Init(), VEK_OK) << name;
        EXPECT_TRUE(ChipLocked()) << name;
        const unsigned lacking = Lacking(row.boardId);
        const DeviceContext& p = Lib().primary;
        const auto expect = [&](Family f, Capability cap, bool answered) {
            if (!(served & f) || p.caps[cap] == 0) return;
            EXPECT_EQ(answered, !(lacking & f)) << name << " family " << f;
        };

        if ((served & kGpio) && p.caps[CAP_GPIO] != 0) CheckPins(name);
        expect(kWdt, CAP_WDT, VEK_WDT_Trigger() != VEK_ERR_UNSUPPORTED && VEK_WDT_Disable() == VEK_OK);
        if ((served & kWdt) && p.caps[CAP_WDT] != 0) {
            EXPECT_TRUE(WatchdogFires()) << name;
        }
        double v = 0;
        uint32_t rpm = 0;
        expect(kTemp, CAP_TEMPERATURE, AnyNot10(0, 6, [&](uint32_t i) {
                   const uint32_t r = VEK_HWM_Temperature(i, &v);
                   if (r == VEK_OK) {
                       EXPECT_TRUE(v > 0 && v < 110) << name << " sensor " << i << ": " << v;
                   }
                   return r;
               }));
        expect(kCpu, CAP_CPU_TEMPERATURE, VEK_HWM_CPUTemperature(0, &v) == VEK_OK);
        expect(kVolt, CAP_VOLTAGE, AnyNot10(0, 18, [&](uint32_t i) {
                   const uint32_t r = VEK_HWM_Voltage(i, &v);
                   if (r == VEK_OK) {
                       EXPECT_TRUE(v > 0.3 && v < 20) << name << " channel " << i << ": " << v;
                   }
                   return r;
               }));
        expect(kFan, CAP_FAN, AnyNot10(0, 12, [&](uint32_t i) { return VEK_HWM_GetFanSpeed(i, &rpm); }));
        EXPECT_TRUE(ChipLocked()) << name;
    }
    EXPECT_EQ(rows, 10 + 19 + 3);
}

// The chip models fit fans from their own description of each board; the
// library's rows must read the same headers at the same registers.
TEST_F(SioBoardsTest, FanWiringAgreesWithTheChipModelsBoards) {
    int rows = 0;
    for (const PlatformEntry& row : kPlatformTable) {
        if (Served(row) == 0) continue;
        const std::string name(row.name);
        Use(row);
        ASSERT_EQ(Init(), VEK_OK) << name;
        ++rows;
        DeviceContext& ctx = (Lib().primary.chipKind == KIND_SIO5 || Lib().primary.chipKind == KIND_SIO2)
                                 ? Lib().primary
                                 : Lib().secondary;
        if (auto* chip = board->Find<sim::Sio5Model>()) {
            for (int f = 0; f < 2; ++f) {
                const sio5::FanDescriptor& lib = sio5::Area(ctx).fans[f];
                const sim::Sio5FanWiring& hw = chip->wiring().fans[size_t(f)];
                EXPECT_EQ(lib.present != 0, hw.fitted) << name << " fan " << f;
                if (!hw.fitted) continue;
                EXPECT_EQ(lib.countHigh, hw.countHigh) << name << " fan " << f;
                EXPECT_EQ(lib.countLow, hw.countLow) << name << " fan " << f;
                EXPECT_EQ(lib.duty, hw.duty) << name << " fan " << f;
                EXPECT_EQ(lib.mode, hw.mode) << name << " fan " << f;
                EXPECT_EQ(lib.modeShift, hw.modeShift) << name << " fan " << f;
                EXPECT_EQ(lib.smartTempBase, hw.tempBase) << name << " fan " << f;
                if (hw.tempBase != 0xFF) {
                    EXPECT_EQ(lib.smartDutyBase, hw.dutyBase) << name << " fan " << f;
                }
            }
        }
        if (auto* chip = board->Find<sim::Sio2Model>()) {
            for (int f = 0; f < 2; ++f)
                EXPECT_EQ(sio2::Area(ctx).fanPresent[f] != 0, chip->wiring().fans[size_t(f)]) << name << " fan " << f;
        }
    }
    EXPECT_EQ(rows, 10 + 19 + 3);
}

// Firmware that never programmed the monitor's (and, on ChipKind 2, the
// simple-I/O block's) base leaves it at 0x0000. The library must not add its
// port offsets to that and drive the DMA controller: below 0x100 it touches
// only the configuration pair (and the EC beside the chip), and the families
// that live in those blocks answer 10.
TEST_F(SioBoardsTest, BasesLeftUnsetByFirmwareAreAbsent) {
    const std::set<uint16_t> allowed = {0x2E, 0x2F, 0x4E, 0x4F, 0x62, 0x66};
    int rows = 0;
    for (const PlatformEntry& row : kPlatformTable) {
        if (Served(row) == 0) continue;
        const std::string name(row.name);
        Use(row);
        auto* sio5 = board->Find<sim::Sio5Model>();
        auto* sio2 = board->Find<sim::Sio2Model>();
        ASSERT_TRUE(sio5 != nullptr || sio2 != nullptr) << name;
        if (sio5) sio5->FirmwareLeavesBasesUnset();
        if (sio2) sio2->FirmwareLeavesBasesUnset();
        ASSERT_EQ(Init(), VEK_OK) << name;
        ++rows;

        DeviceContext& ctx = (Lib().primary.chipKind == KIND_SIO5 || Lib().primary.chipKind == KIND_SIO2)
                                 ? Lib().primary
                                 : Lib().secondary;
        const BackendOps& ops = sio5 ? sio5::Ops() : sio2::Ops();
        double v = 0;
        uint32_t rpm = 0;
        uint8_t level = 0;
        // Boards 93 and 106 fix the monitor's port instead of reading the base.
        const bool readsBase = !(sio5 && (row.boardId == 93 || row.boardId == 106));
        if (readsBase) {
            for (uint32_t ch = 0; ch < 18; ++ch)
                EXPECT_EQ(ops.voltage(ctx, ch, &v), VEK_ERR_UNSUPPORTED) << name << " channel " << ch;
            for (uint32_t i = 0; i < 3; ++i)
                EXPECT_EQ(ops.temperature(ctx, i, &v), VEK_ERR_UNSUPPORTED) << name << " sensor " << i;
            EXPECT_EQ(ops.cpuTemperature(ctx, &v), VEK_ERR_UNSUPPORTED) << name;
            for (uint32_t fan = 0; fan < 2; ++fan) {
                EXPECT_EQ(ops.fanSpeed(ctx, fan, &rpm), VEK_ERR_UNSUPPORTED) << name << " fan " << fan;
                EXPECT_EQ(ops.setFanSpeed(ctx, fan, 50), VEK_ERR_UNSUPPORTED) << name << " fan " << fan;
            }
        }
        if (sio2) {
            for (int32_t pin = 1; pin <= 8; ++pin) {
                EXPECT_EQ(ops.gpioWritePin(ctx, 1, pin, 1), VEK_ERR_UNSUPPORTED) << name << " pin " << pin;
                EXPECT_EQ(ops.gpioReadPin(ctx, 1, pin, &level), VEK_ERR_UNSUPPORTED) << name << " pin " << pin;
            }
        }
        for (const PortOp& op : PortOps(machine(), 0, 0xFF))
            EXPECT_TRUE(allowed.count(op.port)) << name << ": " << op;
    }
    EXPECT_EQ(rows, 10 + 19 + 3);
}

} // namespace
