#include "reports/name_index.h"

#include <gtest/gtest.h>

#include <string>

namespace tally::reports {
namespace {

TEST(NameIndex, FindsWhatWasStoredUnderItsCaseRule) {
    struct Case {
        NameIndex::Case rule;
        const char* stored;
        const char* asked;
        bool found;
    };
    const Case cases[] = {
        {NameIndex::Case::Exact, "JSMITH.SALES.CORP", "JSMITH.SALES.CORP", true},
        {NameIndex::Case::Exact, "JSMITH.SALES.CORP", "jsmith.sales.corp", false},
        {NameIndex::Case::Ignored, "JSMITH.SALES.CORP", "jsmith.Sales.CORP", true},
        {NameIndex::Case::Ignored, "JSMITH", "JSMITH ", false},  // whole names only
        {NameIndex::Case::Ignored, "JSMITH", "JSMIT", false},
        {NameIndex::Case::Ignored, "\xC4ndre", "\xE4ndre", false},  // only A-Z fold
        {NameIndex::Case::Ignored, "", "", true},
    };
    for (const Case& c : cases) {
        NameIndex index(c.rule);
        index.Insert(c.stored, 7);
        EXPECT_EQ(index.Find(c.asked), c.found ? 7U : NameIndex::kMissing)
            << c.stored << " / " << c.asked;
    }
}

// Many names through every growth of the table: each keeps its first number, none is lost, and a
// second spelling of a name is the same entry.
TEST(NameIndex, KeepsEveryNameAndItsFirstNumberAcrossGrowth) {
    NameIndex index(NameIndex::Case::Ignored);
    constexpr std::uint32_t kNames = 100000;
    for (std::uint32_t i = 0; i < kNames; ++i) {
        ASSERT_EQ(index.Insert("USER" + std::to_string(i) + ".CORP", i), i);
    }
    EXPECT_EQ(index.Insert("user17.corp", 99), 17U);
    EXPECT_EQ(index.Size(), kNames);
    for (std::uint32_t i = 0; i < kNames; ++i) {
        ASSERT_EQ(index.Find("user" + std::to_string(i) + ".Corp"), i);
    }
    EXPECT_EQ(index.Find("USER100000.CORP"), NameIndex::kMissing);
}

}  // namespace
}  // namespace tally::reports
