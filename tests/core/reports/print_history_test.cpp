// The print history over a log of both layouts: which lines belong to a user or a group, what
// they add to the totals, and the file's header and totals in both number modes.
#include <gtest/gtest.h>

#include <map>

#include "reports/print_history.h"

namespace tally::reports {
namespace {

// A Readable print job: name in 0-9, pages in 58-61, cost in 63-70.
std::string Readable(const std::string& name, const std::string& pages, const std::string& cost) {
    std::string line(71, ' ');
    line.replace(0, std::min<std::size_t>(name.size(), 10), name.substr(0, 10));
    line.replace(62 - pages.size(), pages.size(), pages);
    line.replace(63, cost.size(), cost);
    return line + "\r\n";
}

std::string Job(const std::string& user, const std::string& pages, const std::string& cost,
                const std::string& printer = "\"LASER1\"") {
    return "\"" + user + "\",\"Doc\"," + printer +
           ",\"PSERV1\",\"QUEUE1\",\"ACCT1\",\"\",\"07/04/99\",\"14:05\",1," + pages + "," + cost +
           "\r\n";
}

const std::string kDeposit =
    "\"JSMITH.SALES.CORP\",\"Deposit\",\"ADMIN.CORP\",\"\",\"ACCT1\",\"\",\"\",\"07/04/99\","
    "\"14:05\",,,500,1500\r\n";

struct Expectation {
    std::string line;
    bool listed;
};

void Check(PrintHistory& history, const std::vector<Expectation>& lines) {
    for (const Expectation& e : lines) {
        EXPECT_EQ(history.Take(e.line), e.listed) << e.line;
    }
}

TEST(PrintHistoryTest, AUsersLinesAreListedAndOnlyPrintJobsCount) {
    PrintHistory history({"jsmith", "JSMITH.SALES.CORP", false}, IntegerAmountMode());
    Check(history, {
                       {Job("JSMITH.SALES.CORP", "3", "30"), true},
                       {Job("jsmith.sales.corp", "2", "20"), true},  // case ignored
                       {Readable("JSMITH", "4", "40"), true},
                       {Readable("JSMITHX", "9", "90"), false},
                       // A longer full name that begins with this one is someone else.
                       {Job("JSMITH.SALES.CORPX", "9", "90"), false},
                       {Job("JSMITH.SALES.CORP", "\"7\"", "70"), true},  // quoted pages: 0
                       {Job("JSMITH.SALES.CORP", "-1", "-10"), true},    // negative pages count
                       {Job("JSMITH.SALES.CORP", "0", "99"), true},      // no pages: no cost
                       {kDeposit, true},                                 // listed, not counted
                       {Job("AJONES.SALES.CORP", "5", "50"), false},
                       // A printer name with a comma cannot move pages and cost.
                       {Job("JSMITH.SALES.CORP", "1", "5", "\"Laser, 2nd floor\""), true},
                   });
    EXPECT_EQ(history.TotalPages(), 3 + 2 + 4 - 1 + 1);
    EXPECT_EQ(history.TotalCost().whole, 30 + 20 + 40 - 10 + 5);
    EXPECT_EQ(history.Header(), "   JSMITH.SALES.CORP Print History\r\n");
    EXPECT_EQ(history.Totals(), "\r\nTotal pages: 9\r\nTotal cost: 85\r\n");
}

TEST(PrintHistoryTest, ReadableLinesMatchOnTheFirstTenCharactersAndABlank) {
    PrintHistory history({"LONGUSERNAME1", "LONGUSERNAME1.CORP", false}, IntegerAmountMode());
    Check(history, {{Readable("LONGUSERNAME1", "1", "1"), true},
                    {Readable("LONGUSERNAME2", "1", "1"), true},  // shares the first ten
                    {"LONGUSERNA\r\n", false}});
}

TEST(PrintHistoryTest, DecimalModeSumsDecimalCostsAndAnEmptyLogGivesZeroTotals) {
    PrintHistory empty({"JSMITH", "JSMITH.SALES.CORP", false}, MakeAmountMode(true, 2));
    EXPECT_EQ(empty.Totals(), "\r\nTotal pages: 0\r\nTotal cost: 0.00\r\n");

    PrintHistory history({"JSMITH", "JSMITH.SALES.CORP", false}, MakeAmountMode(true, 2));
    Check(history, {{Job("JSMITH.SALES.CORP", "2", "0.15"), true},
                    {Readable("JSMITH", "1", "   1.10"), true}});
    EXPECT_EQ(history.Totals(), "\r\nTotal pages: 3\r\nTotal cost: 1.25\r\n");
}

TEST(PrintHistoryTest, TotalsDoNotWrapPast32Bits) {
    PrintHistory history({"JSMITH", "JSMITH.SALES.CORP", false}, IntegerAmountMode());
    for (int i = 0; i < 3; ++i) {
        history.Take(Job("JSMITH.SALES.CORP", "2000000000", "2000000000"));
    }
    EXPECT_EQ(history.Totals(), "\r\nTotal pages: 6000000000\r\nTotal cost: 6000000000\r\n");
}

TEST(PrintHistoryTest, AGroupTakesItsOwnLinesAndItsMembersAskingEachNameOnce) {
    std::map<std::string, int> asked;
    auto isMember = [&](const std::string& name) {
        ++asked[name];
        return name == "JSMITH.SALES.CORP" || name == "FYOUNG.ACCOUNTS.CORP";
    };
    PrintHistory history({"STAFF", "STAFF.SALES.CORP", true}, IntegerAmountMode(), isMember);
    Check(history, {
                       {Job("JSMITH.SALES.CORP", "1", "1"), true},
                       {Job("FYOUNG.ACCOUNTS.CORP", "2", "2"), true},  // a member elsewhere
                       {Job("AJONES.SALES.CORP", "4", "4"), false},
                       {Job("JSMITH.SALES.CORP", "8", "8"), true},
                       {Job("STAFF.SALES.CORP", "16", "16"), true},  // the group's own name
                       {Readable("STAFF.SALE", "32", "32"), true},
                       {Readable("JSMITH", "64", "64"), false},  // short names mean nothing here
                   });
    EXPECT_EQ(history.TotalPages(), 1 + 2 + 8 + 16 + 32);
    EXPECT_EQ(asked["JSMITH.SALES.CORP"], 1);
    EXPECT_EQ(asked["AJONES.SALES.CORP"], 1);
}

TEST(PrintHistoryTest, AFullNameLongerThanNinetyThreeCharactersIsMatchedWhole) {
    const std::string name = std::string(120, 'U') + ".CORP";
    PrintHistory history({"U", name, false}, IntegerAmountMode());
    EXPECT_TRUE(history.Take(Job(name, "1", "1")));
    EXPECT_FALSE(history.Take(Job(std::string(120, 'U') + ".CORPS", "1", "1")));
}

TEST(HistoryProgressTest, RisesByTenOnlyOnExactMultiples) {
    HistoryProgress progress;
    std::vector<int> shown;
    for (int percent : {5, 10, 15, 30, 31, 40, 100, 100, 100, 140}) {
        progress.Update(percent);
        shown.push_back(progress.Shown());
    }
    EXPECT_EQ(shown, (std::vector<int>{0, 10, 10, 20, 20, 30, 40, 50, 60, 70}));
    // A log empty at open reads as 100 after every line: the shown value stops at 100.
    HistoryProgress grown;
    for (int line = 0; line < 25; ++line) {
        grown.Update(100);
    }
    EXPECT_EQ(grown.Shown(), 100);
}

}  // namespace
}  // namespace tally::reports
