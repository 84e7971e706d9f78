// The audit's reading of one user's lines: the balance each record states, less every print
// job's cost after it whatever its pages; a record whose balance is no number is said to be
// unreadable, never taken as some other balance; the report's words for each count.
#include "reports/balance_audit.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace tally::reports {
namespace {

const AmountMode kCents = MakeAmountMode(true, 2);

std::string Record(const std::string& tag, const std::string& balance) {
    return "\"JSMITH.SALES.CORP\",\"" + tag +
           "\",\"ADMIN.CORP\",\"\",\"ACCT1\",\"\",\"\",\"07/04/1999\",\"14:05\",,,5.00," + balance +
           "\r\n";
}

std::string Job(const std::string& pages, const std::string& cost) {
    return "\"JSMITH.SALES.CORP\",\"Doc\",\"LASER1\",\"PS1\",\"Q1\",\"ACCT1\",\"C1\",\"07/04/"
           "1999\","
           "\"14:06\",1," +
           pages + "," + cost + ",0.00\r\n";
}

std::string ReadableRecord(const std::string& balance) {
    char line[160];
    std::snprintf(line, sizeof line, "%-10.10s %-8.8s %-12.12s %s %s %8s %4s %8s %8s\r\n", "JSMITH",
                  "Deposit", "ADMIN", "07/04/1999", "14:05", "", "", "5.00", balance.c_str());
    return line;
}

std::string ReadableJob(const char* pages, const char* cost) {
    char line[160];
    std::snprintf(line, sizeof line, "%-10.10s %-8.8s %-12.12s %s %s %-7.7s %4s %8s\r\n", "JSMITH",
                  "LASER1", "Q1", "07/04/1999", "14:06", "PS1", pages, cost);
    return line;
}

TEST(BalanceAudit, EachJobIsDeductedAndAnUnreadableBalanceIsSaidToBeOne) {
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        AuditState state;
        std::int64_t implied;  // stored units, when the state has one
    };
    const std::vector<Case> cases = {
        {"a job of 0 pages that cost 1.00",
         {Record("Deposit", "15.00"), Job("0", "1.00")},
         AuditState::Agrees,
         1400},
        {"a job of -2 pages",
         {Record("Charge", "15.00"), Job("-2", "0.50")},
         AuditState::Differs,
         1450},
        {"a job before any record",
         {Job("3", "0.30"), Record("SetBal", "14.00")},
         AuditState::Agrees,
         1400},
        {"a balance that is no number", {Record("Deposit", "lots")}, AuditState::Unreadable, 0},
        {"a balance with a unit", {Record("Deposit", "14.00 EUR")}, AuditState::Unreadable, 0},
        {"a record without its balance",
         {Record("Deposit", "").substr(0, 90) + "\r\n"},
         AuditState::Unreadable,
         0},
        {"an unreadable record, then a readable one",
         {Record("Deposit", "x"), Job("1", "0.10"), Record("Deposit", "14.00")},
         AuditState::Agrees,
         1400},
        {"a readable record, then an unreadable one",
         {Record("Deposit", "14.00"), Record("Deposit", "1e3")},
         AuditState::Unreadable,
         0},
        {"a set limit states no balance",
         {Record("SetBal", "14.00"), Record("SetLimit", "x")},
         AuditState::Agrees,
         1400},
        {"Readable: a job of 0 pages that cost 1.00",
         {ReadableRecord("15.00"), ReadableJob("0", "1.00")},
         AuditState::Agrees,
         1400},
        {"Readable: a balance that is no number",
         {ReadableRecord("a lot")},
         AuditState::NoRecord,
         0},  // four words after the date: no record's shape
        {"Readable: a balance with a comma", {ReadableRecord("14,00")}, AuditState::Unreadable, 0},
        {"no record at all", {Job("1", "0.10")}, AuditState::NoRecord, 0},
    };
    for (const Case& c : cases) {
        BalanceAudit audit({{"JSMITH", "JSMITH.SALES.CORP"}}, kCents);
        std::uint64_t offset = 0;
        for (const std::string& line : c.lines) {
            audit.Take(line, offset);
            offset += line.size();
        }
        const AuditLine line{"JSMITH", BalanceReading{true, 1400, 0}, audit.Of(0)};
        EXPECT_EQ(line.State(), c.state) << c.what;
        EXPECT_EQ(line.log.implied, c.implied) << c.what;
        if (c.state == AuditState::Unreadable) {
            EXPECT_NE(line.log.unreadableRecord.find("JSMITH"), std::string::npos) << c.what;
            EXPECT_EQ(line.log.unreadableRecord.find('\r'), std::string::npos) << c.what;
        }
    }
}

TEST(BalanceAudit, TheReportCountsInWordsAndNamesTheRecordItCouldNotRead) {
    const BalanceReading directory{true, 1400, 0};
    LogBalance differs;
    differs.recorded = true;
    differs.implied = 1500;
    differs.linesSince = {"one line"};
    LogBalance agrees;
    agrees.recorded = true;
    agrees.implied = 1400;
    LogBalance unreadable;
    unreadable.recorded = true;
    unreadable.unreadable = true;
    unreadable.unreadableRecord = "\"MJONES\",\"Deposit\",...,5.00,lots";
    const std::vector<AuditLine> lines = {{"JSMITH", directory, differs},
                                          {"AGREES", directory, agrees},
                                          {"MJONES", directory, unreadable},
                                          {"NOBODY", directory, LogBalance{}}};
    const std::string report = AuditReport("SALES.CORP", lines, kCents);
    EXPECT_EQ(report.substr(0, report.find("\r\n")),
              "SALES.CORP balance audit: 1 differs, 1 agrees, 1 whose last record could not be "
              "read, 1 without a record in the log");
    EXPECT_NE(report.find("    1 line of the log since its last record:\r\n    one line\r\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("could not be read"), std::string::npos);
    EXPECT_NE(report.find("    \"MJONES\",\"Deposit\",...,5.00,lots\r\n"), std::string::npos)
        << report;
    const std::string csv = AuditCsv(lines, kCents);
    EXPECT_NE(csv.find("MJONES,14.00,,,unreadable record\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("NOBODY,14.00,,,no record\r\n"), std::string::npos) << csv;
    EXPECT_EQ(Summarize(lines).unreadable, 1u);
}

}  // namespace
}  // namespace tally::reports
