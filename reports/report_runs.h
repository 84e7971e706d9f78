// One run of each report, from opening the log to the closed file, shared by the window and
// tallycmd. The window drives a run in slices between which it answers the operator; tallycmd
// runs it to the end. Where the report goes is the front end's (ReportSink): the window's file in
// the current folder or the temporary one, or tallycmd's --out. Whatever a run acquires (the
// log, the report, the group-compare buffer, the name context at the root) is given back on
// every way out, at the latest when the run is destroyed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/buffer_owner.h"
#include "reports/account_balances.h"
#include "reports/group_members.h"
#include "reports/log_reader.h"
#include "reports/print_history.h"
#include "reports/print_statistics.h"
#include "reports/print_trend.h"
#include "reports/report_html.h"
#include "reports/report_files.h"

namespace tally::reports {

// Where a report's bytes go.
class ReportSink {
  public:
    virtual ~ReportSink() = default;
    // Creates the report for `name` (the subject, made safe by the sink) with `extension`. False
    // with `failure` the message ("Error creating ...").
    virtual bool Create(std::string_view name, std::string_view extension,
                        std::string& failure) = 0;
    virtual void Write(std::string_view bytes) = 0;
    // Closes the report. False with `failure` ("Error writing <path>: <reason>") when any of it
    // could not be written.
    virtual bool Finish(std::string& failure) = 0;
};

// The window's place: "<name><extension>" in the current folder, else "<name>.txt" in the
// temporary folder; the path in use is stored in `reportFilePath` once the file is created.
class ReportFileSink final : public ReportSink {
  public:
    ReportFileSink(std::string tempDirectory, std::string& reportFilePath)
        : tempDirectory_(std::move(tempDirectory)), reportFilePath_(reportFilePath) {}
    bool Create(std::string_view name, std::string_view extension, std::string& failure) override;
    void Write(std::string_view bytes) override { file_.Write(bytes); }
    bool Finish(std::string& failure) override;

  private:
    std::string tempDirectory_;
    std::string& reportFilePath_;
    ReportFile file_;
};

enum class ReportLayout {
    Text,  // the report as the window writes it
    Csv,   // one header row, then one row per line or name, numbers unpadded
    Html,  // one page: the table and bar charts
};

// Asked after every line read: true ends the slice (the window's time is up). A slice also ends
// at the end of the log.
using SliceOver = std::function<bool()>;

struct HistoryRequest {
    std::string selectionText;  // the user's or group's name, without the group marker
    bool group = false;
    std::string logPath;
    AmountMode mode;
    ReportLayout layout = ReportLayout::Text;
    std::optional<PeriodCut> cut = std::nullopt;  // only the lines of a period
    int dateOrder = 0;  // the log's dates, for the HTML page's chart by month
};

// The print history: Start, ReadSlice until it answers true, Finish; or Stop part-way.
class HistoryRun {
  public:
    HistoryRun(HistoryRequest request, ReportSink& sink);
    HistoryRun(const HistoryRun&) = delete;
    HistoryRun& operator=(const HistoryRun&) = delete;
    ~HistoryRun();

    // Opens the log, creates the report, reads the subject's full name, for a group prepares the
    // membership test with the name context at the root, and writes the header. False with
    // Failure() when any of it fails; everything taken so far is given back.
    bool Start();
    // True at the end of the log.
    bool ReadSlice(const SliceOver& sliceOver);
    // The shown percentage (the history's rule: in steps of ten, at most 100).
    int Progress() const { return progress_.Shown(); }
    // Writes the totals and closes the report. False with Failure() when the report could not be
    // written whole.
    bool Finish();
    // Ends part-way: no totals; the report keeps the lines taken so far. False with Failure()
    // when those could not be written.
    bool Stop();
    const std::string& Failure() const { return failure_; }
    // With a period: the subject's lines whose date could not be read, so were left out.
    std::uint64_t UnreadableDates() const {
        return history_ ? history_->UnreadableDates() : unreadableDates_;
    }

  private:
    bool Fail(std::string message);
    void Release();
    void WritePage();
    void Copy(std::string_view line);

    HistoryRequest request_;
    ReportSink& sink_;
    LogReader log_;
    bool reportOpen_ = false;
    std::unique_ptr<DirBufferOwner> compareBuffer_;
    std::unique_ptr<NameContextAtRoot> atRoot_;
    std::unique_ptr<GroupMembership> membership_;
    std::optional<PrintHistory> history_;
    HistoryProgress progress_;
    std::string failure_;
    std::uint64_t unreadableDates_ = 0;
    HtmlPage page_;  // the HTML layout's rows, written at the end
};

struct StatisticsRequest {
    StatisticsCategory category = kByUser;
    bool groupMode = false;
    std::string group;  // in group mode: the group's name without its marker; names the report
    std::string logPath;
    AmountMode mode;
    ReportLayout layout = ReportLayout::Text;
    std::optional<PeriodCut> cut = std::nullopt;  // only the print jobs of a period
};

// The printing statistics: OpenLog, ReadMembers (group mode), ReadSlice until it answers true,
// Finish, which writes the report; or Stop, which writes nothing.
class StatisticsRun {
  public:
    StatisticsRun(StatisticsRequest request, ReportSink& sink);

    // The report's name: the group's in group mode, else the category's.
    const std::string& Title() const { return statistics_.Title(); }
    // False with Failure() ("Error opening ...", "... is a folder, not a log").
    bool OpenLog();

    enum class Members { Read, NoMembers, Unreadable };
    // In group mode every member becomes a row, named by its full name. Outside group mode: Read.
    Members ReadMembers();

    bool ReadSlice(const SliceOver& sliceOver);
    int Progress() const { return progress_.Shown(); }
    // Closes the log, creates the report, writes it and closes it. False with Failure().
    bool Finish();
    void Stop() { log_.Close(); }
    const std::string& Failure() const { return failure_; }
    const PrintStatistics& Statistics() const { return statistics_; }

  private:
    StatisticsRequest request_;
    ReportSink& sink_;
    LogReader log_;
    PrintStatistics statistics_;
    StatisticsProgress progress_;
    std::string failure_;
};

struct TrendRequest {
    TrendStep step = TrendStep::Month;
    std::string logPath;
    AmountMode mode;
    ReportLayout layout = ReportLayout::Text;
    PeriodCut cut;  // the date order, and the period when it has ends
};

// Pages and cost per day, week or month: OpenLog, ReadSlice until it answers true, Finish.
class TrendRun {
  public:
    TrendRun(TrendRequest request, ReportSink& sink);
    bool OpenLog();
    bool ReadSlice(const SliceOver& sliceOver);
    int Progress() const { return progress_.Shown(); }
    bool Finish();
    const std::string& Failure() const { return failure_; }
    const PrintTrend& Trend() const { return trend_; }

  private:
    TrendRequest request_;
    ReportSink& sink_;
    LogReader log_;
    PrintTrend trend_;
    StatisticsProgress progress_;
    std::string failure_;
};

struct BalancesRequest {
    std::string contextName;
    std::vector<std::string> entries;  // MainList's entries, in the list's order
    std::size_t maxUserNameLength = 0;
    AmountMode mode;
    ReportLayout layout = ReportLayout::Text;
    // Only the users whose balance is under it (stored units); a balance that cannot be read is
    // under nothing.
    std::optional<std::int32_t> below = std::nullopt;
};

// The balances list: one call writes it.
class BalancesRun {
  public:
    using ReadBalance = std::function<BalanceReading(const std::string& user)>;
    BalancesRun(BalancesRequest request, ReportSink& sink, ReadBalance read = ReadBalanceOf);
    // Creates, writes and closes the report. False with Failure().
    bool Write();
    const std::string& Failure() const { return failure_; }

  private:
    void KeepOnlyBelow(std::int32_t below);

    BalancesRequest request_;
    ReportSink& sink_;
    ReadBalance read_;
    std::string failure_;
};

}  // namespace tally::reports
