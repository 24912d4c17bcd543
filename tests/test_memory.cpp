// Simulator bookkeeping stays bounded over long runs: the EC mailbox keeps its
// newest transactions only and counts the rest.
#include "sim/ec/ec_mailbox.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

class MailboxLogTest : public SimBoardTest {};

TEST_F(MailboxLogTest, KeepsTheNewestAndCountsTheRest) {
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
        if (c.limit > 0) EXPECT_EQ(mailbox.transactions().back().reg, uint16_t(c.calls - 1)) << "newest kept";
        TearDown();
    }
}

} // namespace
