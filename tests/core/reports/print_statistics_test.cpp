// The printing statistics over generated lines: rows per key, the group mode, the dates, no
// limit on rows or key length, and the report's exact layout in both number modes.
#include <gtest/gtest.h>

#include "reports/print_statistics.h"

namespace tally::reports {
namespace {

std::string Job(const std::string& user, const std::string& printer, const std::string& date,
                const std::string& pages, const std::string& cost) {
    return "\"" + user + "\",\"Doc\",\"" + printer + "\",\"PS1\",\"Q1\",\"ACCT1\",\"CC\",\"" +
           date + "\",\"14:05\",1," + pages + "," + cost + "\r\n";
}

TEST(PrintStatisticsTest, ByUserInIntegerModeTheReportIsLaidOutExactly) {
    PrintStatistics stats(kByUser, "User", false, IntegerAmountMode());
    for (const std::string& line : {
             Job("JSMITH.SALES", "L1", "07/01/99", "3", "30"),
             std::string("JSMITH      readable line without commas\r\n"),
             Job("ajones.sales", "L1", "07/02/99", "0", "99"),  // a row, nothing added
             Job("JSMITH.SALES", "L2", "07/03/99", "-2", "-20"),
             Job("AJONES.SALES", "L2", "07/04/99", "5", "12"),  // same row as ajones
             std::string("\"JSMITH.SALES\",\"Deposit\",\"ADMIN\",\"\",\"ACCT1\",\"\",\"\","
                         "\"07/09/99\",\"14:05\",,,5,6\r\n"),
             std::string("\"X\",\"too\",\"few\",\"fields\",\"Q\",\"A\",\"C\",\"07/05/99\"\r\n"),
         }) {
        stats.Take(line);
    }
    EXPECT_EQ(stats.Report(),
              "User print totals: 07/01/99 to 07/05/99\r\n"
              "\r\n"
              "User            Pages    Cost\r\n"
              "------------    -----    ----\r\n"
              "ajones.sales        5      12\r\n"
              "JSMITH.SALES        3      30\r\n"
              "------------    -----  ------\r\n"
              "Totals              8      42\r\n");
}

TEST(PrintStatisticsTest, DecimalModeAndAnEmptyLog) {
    PrintStatistics empty(kByPrinter, "Printer", false, MakeAmountMode(true, 2));
    empty.Take("only a Readable line\r\n");
    EXPECT_EQ(empty.Report(),
              "Printer print totals:  to \r\n\r\n"
              "Printer    Pages      Cost\r\n"
              "-------    -----      ----\r\n"
              "-------    -----    ------\r\n"
              "Totals         0      0.00\r\n");

    PrintStatistics stats(kByPrinter, "Printer", false, MakeAmountMode(true, 2));
    stats.Take(Job("A", "LASER1", "d1", "2", "0.25"));
    stats.Take(Job("B", "LASER1", "d2", "1", "1.00"));
    EXPECT_NE(stats.Report().find("LASER1         3      1.25\r\n"), std::string::npos)
        << stats.Report();
}

TEST(PrintStatisticsTest, AGroupCountsOnlyItsMembersAndListsThoseWithoutJobs) {
    PrintStatistics stats(kByUser, "STAFF", true, IntegerAmountMode());
    stats.AddMember("JSMITH.SALES.CORP");
    stats.AddMember("IDLE.SALES.CORP");
    stats.Take(Job("OUTSIDER.CORP", "L1", "first", "100", "100"));  // dates count all the same
    stats.Take(Job("jsmith.sales.corp", "L1", "second", "2", "4"));
    const std::string report = stats.Report();
    EXPECT_EQ(report.rfind("STAFF print totals: first to second\r\n", 0), 0u) << report;
    EXPECT_NE(report.find("IDLE.SALES.CORP          0       0\r\n"), std::string::npos) << report;
    EXPECT_NE(report.find("JSMITH.SALES.CORP        2       4\r\n"), std::string::npos) << report;
    EXPECT_EQ(stats.TotalPages(), 2);
}

TEST(PrintStatisticsTest, NoRowLimitAndKeysAreKeptWhole) {
    PrintStatistics stats(kByUser, "User", false, IntegerAmountMode());
    for (int i = 0; i < 10050; ++i) {
        stats.Take(Job("U" + std::to_string(i), "L", "d", "1", "1"));
    }
    const std::string longKey(150, 'K');
    stats.Take(Job(longKey, "L", "d", "2", "2"));
    stats.Take(Job(longKey, "L", "d", "2", "2"));
    EXPECT_EQ(stats.RowCount(), 10051u);
    EXPECT_EQ(stats.TotalPages(), 10054);
    EXPECT_EQ(stats.Rows().back().pages, 4);
    EXPECT_EQ(stats.Rows().back().name, longKey);
}

TEST(PrintStatisticsTest, SumsTooWideForTheirColumnsWidenThemWithTheirHeadingsAndHyphens) {
    PrintStatistics stats(kByPrinter, "Printer", false, MakeAmountMode(true, 2));
    stats.Take(Job("A", "LASER1", "d1", "17999326", "2082199.25"));
    EXPECT_EQ(stats.Report(),
              "Printer print totals: d1 to \r\n\r\n"
              "Printer      Pages        Cost\r\n"
              "-------    -------      ------\r\n"
              "LASER1    17999326  2082199.25\r\n"
              "-------    -------    --------\r\n"
              "Totals    17999326  2082199.25\r\n");
    // Page counts near the 64-bit limit hold there instead of wrapping to a negative sum.
    PrintStatistics huge(kByPrinter, "Printer", false, IntegerAmountMode());
    huge.Take(Job("A", "LASER1", "d", "9223372036854775000", "9223372036854775000"));
    huge.Take(Job("A", "LASER1", "d", "9223372036854775000", "9223372036854775000"));
    EXPECT_EQ(huge.TotalPages(), INT64_MAX);
    EXPECT_EQ(huge.Rows().front().cost.whole, INT64_MAX);
}

TEST(StatisticsProgressTest, ShowsEveryPercentReachedAndNeverMoreThan100) {
    StatisticsProgress progress;
    EXPECT_TRUE(progress.Update(3));
    EXPECT_FALSE(progress.Update(3));
    EXPECT_TRUE(progress.Update(100));
    EXPECT_EQ(progress.Shown(), 100);
    EXPECT_FALSE(progress.Update(150));  // a log that grew while it was read
    EXPECT_EQ(progress.Shown(), 100);
}

}  // namespace
}  // namespace tally::reports
