// The report runs as both front ends drive them: in slices of one line or to the end, stopped
// part-way, and every way they fail (the log missing, a folder or a pipe; the report not created,
// or cut short by a full disk), each with its message and nothing left open; what each says of a
// period with nothing in it, in each layout; the history page's table in the CSV's columns.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "reports/report_runs.h"

namespace tally::reports {
namespace {

namespace fs = std::filesystem;

// A report held in memory; creating it fails on request.
class StringSink final : public ReportSink {
  public:
    bool Create(std::string_view name, std::string_view extension, std::string& failure) override {
        if (refuseCreate) {
            failure = "Error creating " + std::string(name) + std::string(extension);
            return false;
        }
        created = std::string(name) + std::string(extension);
        return true;
    }
    void Write(std::string_view bytes) override { text += bytes; }
    bool Finish(std::string&) override {
        ++finished;
        return true;
    }
    bool refuseCreate = false;
    std::string created;
    std::string text;
    int finished = 0;
};

std::string Job(const std::string& user, const std::string& title, int pages) {
    return "\"" + user + "\",\"" + title + "\",\"LASER1\",\"PS1\",\"Q1\",\"ACCT1\",\"C1\",\"d\"," +
           "\"t\",1," + std::to_string(pages) + "," + std::to_string(pages) + "\r\n";
}

class ReportRunsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("tally-report-runs-" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        log_ = (folder_ / "JOBTALLY.LOG").string();
        std::ofstream(log_, std::ios::binary)
            << Job("JSMITH", "Doc", 3) << Job("MJONES", "Doc", 5) << Job("JSMITH", "Chargeback", 4)
            << "\"JSMITH\",\"Deposit\",\"ADMIN\",\"\",\"A1\",\"\",\"\",\"d\",\"t\",,,100,200\r\n";
    }
    void TearDown() override { fs::remove_all(folder_); }

    HistoryRequest History(std::string log) const {
        return {"JSMITH", false, std::move(log), IntegerAmountMode(), ReportLayout::Text};
    }
    StatisticsRequest Statistics(std::string log) const {
        return {kByUser, false, "", std::move(log), IntegerAmountMode(), ReportLayout::Text};
    }

    fs::path folder_;
    std::string log_;
};

TEST_F(ReportRunsTest, SlicesOfOneLineWriteWhatOneRunToTheEndWrites) {
    StringSink whole;
    HistoryRun toEnd(History(log_), whole);
    ASSERT_TRUE(toEnd.Start());
    EXPECT_TRUE(toEnd.ReadSlice({}));
    ASSERT_TRUE(toEnd.Finish());

    StringSink sliced;
    HistoryRun window(History(log_), sliced);
    ASSERT_TRUE(window.Start());
    int slices = 1;
    while (!window.ReadSlice([] { return true; })) {
        ++slices;
    }
    ASSERT_TRUE(window.Finish());
    EXPECT_EQ(slices, 5);  // four lines, then the end
    EXPECT_EQ(sliced.text, whole.text);
    EXPECT_EQ(whole.created, "JSMITH.txt");
    EXPECT_NE(whole.text.find("Total pages: 7\r\n"), std::string::npos) << whole.text;
    EXPECT_EQ(window.Progress(), 10);  // the history's rule: only on exact multiples of ten

    // The close request's partial file: the lines read so far, no totals, and closed.
    StringSink partial;
    HistoryRun closed(History(log_), partial);
    ASSERT_TRUE(closed.Start());
    closed.ReadSlice([] { return true; });
    ASSERT_TRUE(closed.Stop());
    EXPECT_EQ(partial.text, "   JSMITH Print History\r\n" + Job("JSMITH", "Doc", 3));
    EXPECT_EQ(partial.finished, 1);

    // The statistics agree with the history on the job whose title begins with a tag word.
    StringSink stats;
    StatisticsRun statistics(Statistics(log_), stats);
    ASSERT_TRUE(statistics.OpenLog());
    EXPECT_EQ(statistics.ReadMembers(), StatisticsRun::Members::Read);
    statistics.ReadSlice({});
    ASSERT_TRUE(statistics.Finish());
    EXPECT_NE(stats.text.find("JSMITH        7       7\r\n"), std::string::npos) << stats.text;
}

TEST_F(ReportRunsTest, EveryFailureIsNamedAndNothingStaysOpen) {
    const std::string missing = (folder_ / "MISSING.LOG").string();
    const std::string folder = folder_.string();
    const std::string pipe = (folder_ / "PIPE.LOG").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);  // nobody writes it: opening must not wait
    const struct {
        std::string log;
        bool refuseCreate;
        std::string failure;
    } cases[] = {
        {missing, false, "Error opening " + missing},
        {folder, false, folder + " is a folder, not a log"},
        {pipe, false, pipe + " is not an ordinary file (a pipe or a device), not a log"},
        {log_, true, "Error creating "},
    };
    for (const auto& c : cases) {
        StringSink historySink;
        historySink.refuseCreate = c.refuseCreate;
        HistoryRun history(History(c.log), historySink);
        EXPECT_FALSE(history.Start()) << c.log;
        EXPECT_EQ(history.Failure().rfind(c.failure, 0), 0u) << history.Failure();
        EXPECT_EQ(historySink.finished, 0) << "nothing was created, nothing to close";

        StringSink statisticsSink;
        statisticsSink.refuseCreate = c.refuseCreate;
        StatisticsRun statistics(Statistics(c.log), statisticsSink);
        if (statistics.OpenLog()) {
            statistics.ReadSlice({});
            EXPECT_FALSE(statistics.Finish());
        }
        EXPECT_EQ(statistics.Failure().rfind(c.failure, 0), 0u) << statistics.Failure();
    }
}

// The runs of each report over a dated log, to the end: the report's bytes.
struct Produced {
    std::string text;
    std::string created;
};

std::string DatedJob(const std::string& user, const std::string& date, int pages) {
    return "\"" + user + "\",\"Doc\",\"LASER1\",\"PS1\",\"Q1\",\"ACCT1\",\"C1\",\"" + date +
           "\",\"t\",1," + std::to_string(pages) + "," + std::to_string(pages) + "\r\n";
}

TEST_F(ReportRunsTest, WhatAPeriodHeldIsSaidInWordsInEveryLayout) {
    std::ofstream(log_, std::ios::binary)
        << DatedJob("JSMITH", "01/15/2026", 3) << DatedJob("MJONES", "01/16/2026", 5)
        << "\"JSMITH\",\"Deposit\",\"ADMIN\",\"\",\"A1\",\"\",\"\",\"01/17/2026\",\"t\",,,100,"
           "200\r\n";
    const DatePeriod empty{CalendarDay{2030, 1, 1}, CalendarDay{2030, 1, 31}};
    const DatePeriod since{CalendarDay{2026, 1, 16}, std::nullopt};
    enum class Report { History, Statistics, Trend };
    struct Case {
        Report report;
        ReportLayout layout;
        std::optional<DatePeriod> period;
        std::vector<std::string> said;
    };
    const std::string none = "no print jobs from 2030-01-01 to 2030-01-31";
    const std::string nothingCharted =
        "<p class=\"empty\">No print jobs from 2030-01-01 to 2030-01-31.";
    const std::string historyColumns =
        "<thead><tr><th class=\"num\">Pages</th><th class=\"num\">Cost</th><th>Record</th>"
        "</tr>\n</thead>";
    const std::vector<Case> cases = {
        {Report::Trend, ReportLayout::Text, empty, {"Print totals by month: " + none + "\r\n"}},
        {Report::Trend,
         ReportLayout::Html,
         empty,
         {"Print totals by month: " + none, nothingCharted}},
        {Report::Trend,
         ReportLayout::Text,
         std::nullopt,
         {"Print totals by month: 2026-01 to 2026-01\r\n"}},
        {Report::Statistics, ReportLayout::Text, empty, {"User print totals: " + none + "\r\n"}},
        {Report::Statistics,
         ReportLayout::Html,
         empty,
         {"User print totals: " + none, nothingCharted}},
        {Report::History,
         ReportLayout::Html,
         empty,
         {"No lines of the log from 2030-01-01 to 2030-01-31", historyColumns,
          "<p class=\"empty\">No lines of the log from 2030-01-01 to 2030-01-31.</p>"}},
        {Report::History,
         ReportLayout::Html,
         since,
         {"1 line of the log since 2026-01-16", historyColumns, "<td>Totals</td></tr>\n</tfoot>"}},
        {Report::History, ReportLayout::Html, std::nullopt, {"2 lines of the log</p>"}},
        {Report::History, ReportLayout::Csv, empty, {"Pages,Cost,Record\r\n"}},
    };
    for (const Case& c : cases) {
        const std::optional<PeriodCut> cut =
            c.period ? std::optional<PeriodCut>(PeriodCut{*c.period, 0}) : std::nullopt;
        StringSink sink;
        switch (c.report) {
            case Report::History: {
                HistoryRun run({"JSMITH", false, log_, IntegerAmountMode(), c.layout, cut, 0},
                               sink);
                ASSERT_TRUE(run.Start());
                run.ReadSlice({});
                ASSERT_TRUE(run.Finish());
                break;
            }
            case Report::Statistics: {
                StatisticsRun run({kByUser, false, "", log_, IntegerAmountMode(), c.layout, cut},
                                  sink);
                ASSERT_TRUE(run.OpenLog());
                run.ReadSlice({});
                ASSERT_TRUE(run.Finish());
                break;
            }
            case Report::Trend: {
                TrendRun run({TrendStep::Month, log_, IntegerAmountMode(), c.layout,
                              cut.value_or(PeriodCut{})},
                             sink);
                ASSERT_TRUE(run.OpenLog());
                run.ReadSlice({});
                ASSERT_TRUE(run.Finish());
                break;
            }
        }
        const std::string label =
            sink.created + " " + (c.period ? IsoDateText(*c.period->since) : "");
        for (const std::string& words : c.said) {
            EXPECT_NE(sink.text.find(words), std::string::npos) << label << ": " << words << "\n"
                                                                << sink.text;
        }
        EXPECT_EQ(sink.text.find(":  to "), std::string::npos) << label << sink.text;
        EXPECT_EQ(sink.text.find(" 1 lines"), std::string::npos) << label << sink.text;
    }
}

TEST_F(ReportRunsTest, AReportCutShortByAFullDiskIsToldWithTheSystemsReason) {
    // /dev/full takes the file's creation and refuses every byte written, as a full disk does.
    std::string reportPath;
    ReportFileSink full("/nonexistent-temp", reportPath);
    std::string failure;
    const fs::path previous = fs::current_path();
    fs::current_path("/dev");
    const bool created = full.Create("full", "", failure);
    fs::current_path(previous);
    ASSERT_TRUE(created) << failure;
    EXPECT_EQ(reportPath, "full");
    full.Write(std::string(100000, 'x'));
    EXPECT_FALSE(full.Finish(failure));
    EXPECT_EQ(failure, "Error writing full: " + std::string(std::strerror(ENOSPC)));

    ReportFile direct = ReportFile::CreateAt("/dev/full");
    ASSERT_TRUE(direct.IsOpen());
    direct.Write("one line\r\n");
    EXPECT_FALSE(direct.Close());
    EXPECT_EQ(direct.WriteFailureMessage(),
              "Error writing /dev/full: " + std::string(std::strerror(ENOSPC)));
}

}  // namespace
}  // namespace tally::reports
