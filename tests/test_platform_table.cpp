// The shipped platform table: its distribution, the rows the backends depend on,
// the ordering rule the first-match search needs, and the search itself.

#include "platform/platform_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vek {
namespace {

// cpuTempOwner: the temperature sensor at 0x98 on the chipset SMBus.
constexpr uint32_t CPU_TEMP_SMBUS_SENSOR = 2;

using Histogram = std::map<uint32_t, int>;
using Field = std::function<uint32_t(const PlatformEntry&)>;

Histogram Count(const Field& field) {
    Histogram h;
    for (const PlatformEntry& row : kPlatformTable) ++h[field(row)];
    return h;
}

std::vector<const PlatformEntry*> RowsOfBoard(uint32_t board) {
    std::vector<const PlatformEntry*> rows;
    for (const PlatformEntry& row : kPlatformTable)
        if (row.boardId == board) rows.push_back(&row);
    return rows;
}

// Every non-zero entry (mode excluded) of one owner list over all rows.
template <size_t W>
std::set<uint32_t> EntriesUsed(const uint32_t (PlatformEntry::*list)[W]) {
    std::set<uint32_t> used;
    for (const PlatformEntry& row : kPlatformTable)
        for (size_t i = 1; i < W; ++i)
            if ((row.*list)[i] != 0) used.insert((row.*list)[i]);
    return used;
}

template <size_t W>
std::vector<uint32_t> List(const uint32_t (&list)[W]) {
    return std::vector<uint32_t>(std::begin(list), std::end(list));
}

struct DistributionCase {
    const char* field;
    Field get;
    Histogram expected;
};

TEST(PlatformTable, DistributionOfTheShippedData) {
    const DistributionCase cases[] = {
        {"chipKind", [](const PlatformEntry& r) { return r.chipKind; },
         {{1, 44}, {2, 19}, {3, 145}, {4, 2}, {5, 10}}},
        {"subtype", [](const PlatformEntry& r) { return r.subtype; },
         {{0, 7}, {1, 88}, {2, 99}, {3, 7}, {4, 2}, {5, 13}, {8, 4}}},
        {"secondaryKind", [](const PlatformEntry& r) { return r.secondaryKind; },
         {{0, 203}, {2, 2}, {4, 13}, {5, 1}, {6, 1}}},
        // A ChipKind 4 second chip carries a chipset id instead of a model number.
        {"secondarySubtype", [](const PlatformEntry& r) { return r.secondarySubtype; },
         {{0, 204}, {1, 3}, {4, 1},
          {12, 1}, {18, 1}, {20, 2}, {25, 1}, {26, 5}, {27, 1}, {CHIPSET_FCH, 1}}},
        {"gpioOwner", [](const PlatformEntry& r) { return r.gpioOwner; },
         {{0, 207}, {3, 1}, {5, 1}, {7, 2}, {8, 1}, {10, 8}}},
        {"wdtOwner", [](const PlatformEntry& r) { return r.wdtOwner; }, {{0, 218}, {100, 2}}},
        {"fanOwners mode", [](const PlatformEntry& r) { return r.fanOwners[0]; },
         {{0, 212}, {2, 2}, {5, 1}, {7, 5}}},
        {"voltageOwners mode", [](const PlatformEntry& r) { return r.voltageOwners[0]; },
         {{0, 217}, {2, 1}, {7, 2}}},
        {"tempOwners mode", [](const PlatformEntry& r) { return r.tempOwners[0]; },
         {{0, 216}, {2, 1}, {7, 3}}},
        {"cpuTempOwner", [](const PlatformEntry& r) { return r.cpuTempOwner; },
         {{0, 216}, {2, 3}, {3, 1}}},
        {"i2cOwners mode", [](const PlatformEntry& r) { return r.i2cOwners[0]; },
         {{3, 129}, {4, 5}, {7, 2}, {13, 84}}},
        {"i2cOwners bus 0", [](const PlatformEntry& r) { return r.i2cOwners[1]; }, {{0, 220}}},
        {"i2cOwners bus 1", [](const PlatformEntry& r) { return r.i2cOwners[2]; },
         {{3, 2}, {13, 218}}},
        {"i2cOwners bus 2", [](const PlatformEntry& r) { return r.i2cOwners[3]; },
         {{4, 2}, {13, 218}}},
        {"i2cOwners bus 3", [](const PlatformEntry& r) { return r.i2cOwners[4]; },
         {{4, 1}, {13, 219}}},
        {"ledOwner", [](const PlatformEntry& r) { return r.ledOwner; },
         {{0, 203}, {3, 14}, {4, 2}, {8, 1}}},
    };
    for (const DistributionCase& c : cases) EXPECT_EQ(Count(c.get), c.expected) << c.field;
}

TEST(PlatformTable, EveryChipsetGenerationIsUsed) {
    const Histogram chipsets = Count([](const PlatformEntry& r) { return r.chipsetId; });
    int intelRows = 0;
    for (uint32_t id = 0; id <= 28; ++id) {
        EXPECT_TRUE(chipsets.count(id)) << "chipset " << id << " unused";
        intelRows += chipsets.count(id) ? chipsets.at(id) : 0;
    }
    EXPECT_EQ(intelRows, 215);
    EXPECT_EQ(chipsets.count(CHIPSET_FCH) ? chipsets.at(CHIPSET_FCH) : 0, 5);
    EXPECT_EQ(chipsets.size(), 30u) << "a chipset id outside 0..28 and 1001";
}

TEST(PlatformTable, OwnerListEntriesUsed) {
    EXPECT_EQ(EntriesUsed(&PlatformEntry::fanOwners), (std::set<uint32_t>{3, 6, 100}));
    // 6 routes voltages 11 and 12 of the board with the ZKEC controller.
    EXPECT_EQ(EntriesUsed(&PlatformEntry::voltageOwners), (std::set<uint32_t>{2, 3, 6}));
    EXPECT_EQ(EntriesUsed(&PlatformEntry::tempOwners), (std::set<uint32_t>{3, 6, 100}));
}

TEST(PlatformTable, BoardIds) {
    std::map<uint32_t, int> rowsPerBoard;
    std::set<uint32_t> ecBoards;
    for (const PlatformEntry& row : kPlatformTable) {
        EXPECT_LE(row.boardId, 156u) << row.name;
        ++rowsPerBoard[row.boardId];
        if (row.chipKind == KIND_EC) ecBoards.insert(row.boardId);
    }
    EXPECT_EQ(rowsPerBoard.size(), 154u);
    int most = 0;
    for (const auto& [board, rows] : rowsPerBoard) most = std::max(most, rows);
    EXPECT_EQ(most, 13);

    // The EC configuration has a row for exactly these ids.
    EXPECT_EQ(ecBoards.size(), 84u);
    EXPECT_EQ(*ecBoards.begin(), 5u);
    EXPECT_EQ(*ecBoards.rbegin(), 156u);
}

// The three rows whose owner data the routing depends on, field by field. The
// owner values equal to the row's own chipKind (gpioOwner 3 on board 70,
// cpuTempOwner 3 on board 89) are stored as such; initialisation zeroes them.
struct TellingRow {
    uint32_t board, chipset, kind, subtype, secondKind, secondSubtype;
    uint32_t gpio, wdt, cpuTemp, led;
    std::vector<uint32_t> fans, voltages, temps, i2c;
};

TEST(PlatformTable, TellingRows) {
    const TellingRow expected[] = {
        {70, 13, KIND_EC, 2, KIND_ZKEC, 1,
         3, 0, 0, 0,
         {7, 3, 0, 0, 0, 0, 0, 0, 6, 6, 0, 0, 0, 0},
         {7, 3, 3, 3, 3, 3, 0, 0, 0, 0, 0, 0, 6, 6, 0, 0, 0, 0, 0, 0, 0},
         {7, 3, 0, 0, 0, 6, 6, 0},
         {3, 0, 13, 13, 13}},
        {151, 26, KIND_SIO1, 8, KIND_CHIPSET, 26,
         0, 100, 0, 0,
         {7, 100, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         std::vector<uint32_t>(VOLTAGE_OWNER_WORDS, 0),
         {7, 100, 0, 0, 0, 0, 0, 0},
         {13, 0, 13, 13, 13}},
        {89, 16, KIND_EC, 2, KIND_SIO2, 1,
         7, 0, 3, 0,
         {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {7, 3, 3, 2, 2, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {2, 0, 0, 0, 0, 0, 0, 0},
         {3, 0, 13, 13, 13}},
    };
    for (const TellingRow& t : expected) {
        const std::vector<const PlatformEntry*> rows = RowsOfBoard(t.board);
        ASSERT_FALSE(rows.empty()) << "board " << t.board;
        for (const PlatformEntry* r : rows) {
            SCOPED_TRACE(r->name);
            EXPECT_EQ(r->chipsetId, t.chipset);
            EXPECT_EQ(r->chipKind, t.kind);
            EXPECT_EQ(r->subtype, t.subtype);
            EXPECT_EQ(r->secondaryKind, t.secondKind);
            EXPECT_EQ(r->secondarySubtype, t.secondSubtype);
            EXPECT_EQ(r->gpioOwner, t.gpio);
            EXPECT_EQ(r->wdtOwner, t.wdt);
            EXPECT_EQ(r->cpuTempOwner, t.cpuTemp);
            EXPECT_EQ(r->ledOwner, t.led);
            EXPECT_EQ(List(r->fanOwners), t.fans);
            EXPECT_EQ(List(r->voltageOwners), t.voltages);
            EXPECT_EQ(List(r->tempOwners), t.temps);
            EXPECT_EQ(List(r->i2cOwners), t.i2c);
        }
    }
    EXPECT_EQ(RowsOfBoard(70).size(), 1u) << "the ZKEC second chip is on one row only";
}

// Backends switch on board ids; the rows must give those boards the chips and
// chipsets the per-board code expects.
struct BoardRule {
    const char* what;
    std::function<bool(const PlatformEntry&)> applies;
    std::function<bool(const PlatformEntry&)> holds;
};

bool In(std::initializer_list<uint32_t> set, uint32_t v) {
    return std::find(set.begin(), set.end(), v) != set.end();
}

bool HasChip(const PlatformEntry& r, uint32_t kind) {
    return r.chipKind == kind || r.secondaryKind == kind;
}

TEST(PlatformTable, RowsAgreeWithPerBoardBackendData) {
    const BoardRule rules[] = {
        {"GPIO expander only on the boards the expander setup knows",
         [](const PlatformEntry& r) { return r.gpioOwner == OWNER_GPIO_EXPANDER; },
         [](const PlatformEntry& r) { return In({79, 107, 109, 111, 126, 144}, r.boardId); }},
        {"kind-100 watchdog only on board 151",
         [](const PlatformEntry& r) { return r.wdtOwner == KIND_EC100; },
         [](const PlatformEntry& r) { return r.boardId == 151; }},
        {"board 144 sends fans 0, 2, 4, 6 to the kind-100 routines",
         [](const PlatformEntry& r) { return r.boardId == 144; },
         [](const PlatformEntry& r) {
             return r.fanOwners[0] == OWNER_SPLIT && r.fanOwners[1] == KIND_EC100 &&
                    r.fanOwners[3] == KIND_EC100 && r.fanOwners[5] == KIND_EC100 &&
                    r.fanOwners[7] == KIND_EC100;
         }},
        {"ChipKind 5 chips only on boards with ChipKind 5 data",
         [](const PlatformEntry& r) { return HasChip(r, KIND_SIO5); },
         [](const PlatformEntry& r) {
             return In({74, 93, 106, 128, 131, 133, 143, 145, 146, 148}, r.boardId);
         }},
        {"ChipKind 2 chips only on boards with ChipKind 2 data",
         [](const PlatformEntry& r) { return HasChip(r, KIND_SIO2); },
         [](const PlatformEntry& r) {
             return In({1, 3, 21, 22, 23, 24, 26, 36, 37, 42, 45, 46, 47, 48, 50, 52, 53, 55, 56,
                        60, 89},
                       r.boardId);
         }},
        {"the ZKEC controller only on board 70",
         [](const PlatformEntry& r) { return r.secondaryKind == KIND_ZKEC; },
         [](const PlatformEntry& r) { return r.boardId == 70; }},
        {"chipset LEDs only on board 133 with the subtype 20 pads",
         [](const PlatformEntry& r) { return r.ledOwner == KIND_CHIPSET; },
         [](const PlatformEntry& r) { return r.boardId == 133 && r.secondarySubtype == 20; }},
        {"the external CPU sensor is not masked by a main chip of ChipKind 2",
         [](const PlatformEntry& r) { return r.cpuTempOwner == CPU_TEMP_SMBUS_SENSOR; },
         [](const PlatformEntry& r) { return r.chipKind != KIND_SIO2; }},
        {"LEDs on FCH GPIOs need the FCH",
         [](const PlatformEntry& r) { return r.ledOwner == OWNER_LED_GPIO; },
         [](const PlatformEntry& r) { return r.chipsetId == CHIPSET_FCH; }},
        {"boards 121 and 156 carry the FCH (SMBus block 0x20 up)",
         [](const PlatformEntry& r) { return In({121, 156}, r.boardId); },
         [](const PlatformEntry& r) { return r.chipsetId == CHIPSET_FCH; }},
        {"boards with EC configuration rows are EC boards",
         [](const PlatformEntry& r) {
             return In({5, 6, 7, 8, 9, 10, 12, 81, 86, 104, 122, 124, 125, 129, 135, 136, 137,
                        138, 139},
                       r.boardId);
         },
         [](const PlatformEntry& r) { return r.chipKind == KIND_EC; }},
        {"a chipset second chip names the board's chipset generation",
         [](const PlatformEntry& r) {
             return r.secondaryKind == KIND_CHIPSET && r.secondarySubtype != 1;
         },
         [](const PlatformEntry& r) { return r.secondarySubtype == r.chipsetId; }},
        {"a family sent wholesale to another chip finds that chip on the board",
         [](const PlatformEntry&) { return true; },
         [](const PlatformEntry& r) {
             for (uint32_t mode : {r.fanOwners[0], r.voltageOwners[0], r.tempOwners[0]})
                 if (mode != 0 && mode != OWNER_SPLIT && mode != r.secondaryKind) return false;
             const uint32_t i2c = r.i2cOwners[0];
             return i2c == OWNER_SPLIT || i2c == I2C_NO_OWNER || HasChip(r, i2c);
         }},
    };
    for (const BoardRule& rule : rules) {
        int applied = 0;
        for (const PlatformEntry& r : kPlatformTable) {
            if (!rule.applies(r)) continue;
            ++applied;
            EXPECT_TRUE(rule.holds(r)) << rule.what << ": " << r.name;
        }
        EXPECT_GT(applied, 0) << rule.what;
    }
    EXPECT_FALSE(RowsOfBoard(122).empty()) << "the storage-area board";
}

TEST(PlatformTable, NamesUseTheModelNameCharacterSet) {
    std::set<std::string> seen;
    for (const PlatformEntry& row : kPlatformTable) {
        const char* end = static_cast<const char*>(std::memchr(row.name, '\0', sizeof row.name));
        ASSERT_NE(end, nullptr) << "unterminated name";
        const std::string name(row.name, end);
        EXPECT_FALSE(name.empty());
        for (char c : name)
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == ' ' || c == '-' ||
                        c == '_')
                << "'" << name << "'";
        EXPECT_TRUE(seen.insert(name).second) << "duplicate '" << name << "'";
    }
}

// First match wins, so a name that prefixes a later one would make the later row
// unreachable; the reverse order (longer name first) is how variants are listed.
TEST(PlatformTable, PrefixOrder) {
    int laterPrefixesEarlier = 0;
    std::set<size_t> shorterRows;
    for (size_t i = 0; i < PLATFORM_ROWS; ++i) {
        const std::string earlier = kPlatformTable[i].name;
        for (size_t j = i + 1; j < PLATFORM_ROWS; ++j) {
            const std::string later = kPlatformTable[j].name;
            EXPECT_NE(later.compare(0, earlier.size(), earlier), 0)
                << "'" << earlier << "' hides the later '" << later << "'";
            if (earlier.compare(0, later.size(), later) == 0) {
                ++laterPrefixesEarlier;
                shorterRows.insert(j);
            }
        }
    }
    EXPECT_EQ(laterPrefixesEarlier, 10);
    EXPECT_EQ(shorterRows.size(), 10u);
}

const PlatformEntry* RowNamed(const char* name) {
    for (const PlatformEntry& row : kPlatformTable)
        if (std::strcmp(row.name, name) == 0) return &row;
    return nullptr;
}

TEST(FindPlatform, EveryRowIsFoundByItsNameAndByLongerProductNames) {
    for (const PlatformEntry& row : kPlatformTable) {
        const std::string name = row.name;
        EXPECT_EQ(FindPlatform(name.c_str()), &row) << name;
        // '.' cannot occur in a model name, so no longer row can claim this one.
        EXPECT_EQ(FindPlatform((name + ".01").c_str()), &row) << name;
        // A product name shorter than the row's name never reaches the row.
        const std::string cut = name.substr(0, name.size() - 1);
        EXPECT_NE(FindPlatform(cut.c_str()), &row) << name;
    }
}

TEST(FindPlatform, Cases) {
    const PlatformEntry* longer = RowNamed("QX-7100-E");
    const PlatformEntry* shorter = RowNamed("QX-7100");
    ASSERT_NE(longer, nullptr);
    ASSERT_NE(shorter, nullptr);
    ASSERT_LT(longer, shorter);

    const struct {
        const char* product;
        const PlatformEntry* expected;
    } cases[] = {
        {"QX-7100-E", longer},
        {"QX-7100-E rev.B", longer},
        {"QX-7100", shorter},
        {"QX-7100 rev.B", shorter},
        {"QX-7100-", shorter},  // not yet the longer name
        {"QX-710", nullptr},
        {"qx-7100", nullptr},   // bytes compare exactly
        {"", nullptr},
        {nullptr, nullptr},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindPlatform(c.product), c.expected) << (c.product ? c.product : "(null)");

    // Product names may be longer than any row name.
    const std::string longProduct = std::string("QX-7100-E") + std::string(200, 'x');
    EXPECT_EQ(FindPlatform(longProduct.c_str()), longer);
}

} // namespace
} // namespace vek
