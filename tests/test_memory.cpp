// Simulator bookkeeping stays bounded over long runs: the EC mailbox keeps its
// newest transactions only and counts the rest.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "sim/ec/ec_mailbox.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

class SimMemory : public SimBoardTest {};

TEST_F(SimMemory, MailboxLogKeepsTheNewestAndCountsTheRest) {
    const struct { size_t limit; int calls; } cases[] = {{8, 5}, {8, 8}, {8, 9}, {8, 100}, {1, 3}, {0, 4}};
    for (const auto& c : cases) {
        bool found = false;
        for (const PlatformEntry& r : kPlatformTable) {
            if (r.chipKind != KIND_EC) continue;
            Use(r);
            if (board->Find<sim::EcMailbox>() && Init() == VEK_OK) {
                found = true;
                break;
            }
            TearDown();
        }
        ASSERT_TRUE(found);
        auto& mailbox = *board->Find<sim::EcMailbox>();
        mailbox.SetLogLimit(c.limit);
        for (int i = 0; i < c.calls; ++i) {
            uint8_t b = 0;
            VEK_EC_IIC_Byte_Addr_Read(0xA0, uint32_t(i), &b, 1);
        }
        const size_t total = mailbox.transactions().size() + mailbox.log_dropped();
        EXPECT_EQ(total, size_t(c.calls)) << c.limit << "/" << c.calls;
        EXPECT_LE(mailbox.transactions().size(), c.limit) << c.limit << "/" << c.calls;
        if (c.limit > 0) {
            EXPECT_EQ(mailbox.transactions().back().reg, uint16_t(c.calls - 1)) << "newest kept";
        }
        TearDown();
    }
}

} // namespace

namespace {

long ResidentKb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A long mixed run (VEK_SOAK_CALLS calls, 10^6 by default) over boards of every
// routing: run it under the sanitizer build with leak detection on. Resident
// memory after the first tenth must not keep growing.
TEST_F(SimMemory, DISABLED_LongMixedRunHoldsItsMemory) {
    const long total = std::getenv("VEK_SOAK_CALLS") ? std::atol(std::getenv("VEK_SOAK_CALLS")) : 1'000'000;
    std::mt19937 rng(7);
    auto pick = [&](std::initializer_list<uint32_t> v) { return *(v.begin() + rng() % v.size()); };
    uint8_t bytes[64];
    uint32_t word = 0;
    double value = 0;
    char text[80];
    const std::vector<std::function<VEK_RESULT()>> calls = {
        [&] { return VEK_HWM_CPUTemperature(pick({0, 1, 2}), &value); },
        [&] { return VEK_HWM_SysTemperature(&value); },
        [&] { return VEK_HWM_Voltage(pick({0, 1, 5, 255}), &value); },
        [&] { return VEK_HWM_GetFanSpeed(pick({0, 1, 2, 7}), &word); },
        [&] { return VEK_GPIO_Read(int32_t(pick({0, 1, 2})), bytes); },
        [&] { return VEK_WDT_GetConfig(&word, bytes); },
        [&] { return VEK_Board_GetECVersion(text); },
        [&] { return VEK_Board_GetECInfo(int32_t(pick({0, 16, 128})), text); },
        [&] { return VEK_SMBus_ByteData(1, uint8_t(pick({0xA0, 0x98, 0x30})), 0, bytes); },
        [&] { return VEK_SMBus_Read_EEPROM(0xAE, uint16_t(rng()), 8, bytes); },
        [&] { return VEK_EC_IIC_Byte_Addr_Read(0xA0, rng() % 256, bytes, int32_t(pick({1, 8, 32}))); },
        [&] { int32_t n = 4; return VEK_I2C_SMBusBlock(1, 0, 0x2C, 0x80, &n, bytes); },
        [&] { return VEK_StorageArea_Read(0, 0, bytes, 16); },
        [&] { return VEK_PMBus_Get(pick({0, 1}), int32_t(pick({0, 1, 2})), &word); },
        [&] { return VEK_LED_Get(pick({0, 1, 6}), &word); },
        [&] { return VEK_GPIO_TotalSet(nullptr); },
    };
    std::vector<const PlatformEntry*> rows;
    for (size_t i = 0; i < std::size(kPlatformTable); i += 37) rows.push_back(&kPlatformTable[i]);
    long made = 0, warmKb = 0;
    for (int pass = 0; made < total; ++pass) {
        Use(*rows[size_t(pass) % rows.size()]);
        machine().SetTraceEnabled(false);
        Init();
        for (int k = 0; k < 20'000 && made < total; ++k, ++made) {
            calls[rng() % calls.size()]();
            if (made == total / 10) warmKb = ResidentKb();
        }
        TearDown();
    }
    const long endKb = ResidentKb();
    std::printf("%ld calls; resident %ld kB after a tenth, %ld kB at the end\n", made, warmKb, endKb);
    EXPECT_LT(endKb - warmKb, 4096);
}

} // namespace
