#include "tools/tallycmd/report_commands.h"

#include <algorithm>
#include <memory>
#include <new>
#include <tuple>

#include "browse/object_list.h"
#include "program/list_entries.h"
#include "program/number_format.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/values.h"
#include "accounting/amounts.h"
#include "tools/tallycmd/account_commands.h"
#include "reports/balance_audit.h"
#include "reports/group_members.h"
#include "reports/report_periods.h"
#include "reports/report_runs.h"
#include "reports/report_words.h"

namespace tally::tallycmd {
namespace {

using reports::ReportLayout;

ReportLayout LayoutOf(const Run& run) {
    if (run.line.html) {
        return ReportLayout::Html;
    }
    return run.line.csv ? ReportLayout::Csv : ReportLayout::Text;
}

// Tells a failure (an empty one was told already) and gives the exit status.
int Failed(const Run& run, const std::string& failure) {
    if (!failure.empty()) {
        run.Error(failure);
    }
    return kExitBadInput;
}

// Reads a run's log to its end, showing the progress the dialog would show.
template <typename ReportRun>
void ReadToEnd(const Run& run, ReportRun& report, const std::string& what) {
    ProgressLine line(run, what);
    if (!run.console.showProgress) {
        report.ReadSlice({});
        return;
    }
    int shown = 0;
    line.Show(0);
    report.ReadSlice([&] {
        if (report.Progress() != shown) {
            shown = report.Progress();
            line.Show(shown);
        }
        return false;
    });
}

// The period of --since/--until/--period; nullopt in `cut` when none was given. False after
// saying what is wrong.
bool PeriodOf(const Run& run, std::optional<reports::PeriodCut>& cut) {
    const CommandLine& line = run.line;
    cut.reset();
    if (!line.since && !line.until && !line.period) {
        return true;
    }
    reports::PeriodCut made;
    made.dateOrder = gSettings.DateOrder;
    if (line.period) {
        const RecordMoment now = run.environment.clock();
        const std::optional<reports::DatePeriod> named = reports::NamedPeriod(
            *line.period, reports::CalendarDay{now.date.year, now.date.month, now.date.day});
        if (!named) {
            run.Error("--period " + *line.period +
                      ": choose this-month, last-month, this-year or last-year");
            return false;
        }
        made.period = *named;
    }
    for (const auto& [name, text, end] : {std::tuple{"--since", &line.since, &made.period.since},
                                          std::tuple{"--until", &line.until, &made.period.until}}) {
        if (!*text) {
            continue;
        }
        *end = reports::ReadIsoDate(**text);
        if (!*end) {
            run.Error(std::string(name) + " " + **text +
                      ": not a date; write it as YYYY-MM-DD, such as 2026-01-31");
            return false;
        }
    }
    if (made.period.since && made.period.until &&
        made.period.until->Key() < made.period.since->Key()) {
        run.Error("--until " + *line.until + " lies before --since " + *line.since);
        return false;
    }
    cut = made;
    return true;
}

// Says how many lines were left out for a date that could not be read: of the period, or of
// the trend, which reads every print job's date.
void TellUnreadableDates(const Run& run, std::uint64_t count, const char* leftOutOf) {
    if (count > 0) {
        run.Error(std::to_string(count) + (count == 1 ? " line was" : " lines were") +
                  " left out of " + leftOutOf + ": " + (count == 1 ? "its" : "their") +
                  " date could not be read in the date order " +
                  std::to_string(gSettings.DateOrder));
    }
}

int HistoryRun(const Run& run) {
    std::optional<reports::PeriodCut> cut;
    if (!PeriodOf(run, cut)) {
        return kExitBadInput;
    }
    const std::string& subject = run.line.subject;
    DirStatus status = DIR_OK;
    const ObjectKind kind = KindOfObject(subject, &status);
    if (kind == ObjectKind::Other) {
        run.Error(subject + ": " + KindText(kind) + "; a history is of a user or a group");
        return kExitBadInput;
    }
    if (kind == ObjectKind::Missing) {
        // The log may well hold the lines of a user the directory no longer has.
        run.Error("note: " + subject + " is not in " + CurrentContextName +
                  "; its lines are listed as a user's");
    }
    SelectedCount = 1;
    SelectionText = subject.substr(0, kSelectionTextChars);
    GroupSelected = kind == ObjectKind::Group;
    const std::optional<std::string> log = run.LocalPath(gSettings.LogFilePath);
    if (!log) {
        return kExitBadInput;
    }
    ReportOutput output(run);
    reports::HistoryRun history({SelectionText, GroupSelected, *log, CurrentAmountMode(),
                                 LayoutOf(run), cut, gSettings.DateOrder},
                                output);
    if (!history.Start()) {
        return Failed(run, history.Failure());
    }
    ReadToEnd(run, history, "JOBTALLY.LOG");
    const bool finished = history.Finish();
    TellUnreadableDates(run, history.UnreadableDates(), "the period");
    return finished ? kExitDone : Failed(run, history.Failure());
}

reports::StatisticsCategory CategoryOf(const std::string& word) {
    if (word == "server") {
        return reports::kByPrintServer;
    }
    if (word == "printer") {
        return reports::kByPrinter;
    }
    if (word == "queue") {
        return reports::kByQueue;
    }
    if (word == "client-code") {
        return reports::kByClientCode;
    }
    return reports::kByUser;  // users, and the members of a group
}

int StatsRun(const Run& run) {
    std::optional<reports::PeriodCut> cut;
    if (!PeriodOf(run, cut)) {
        return kExitBadInput;
    }
    StatisticsChoiceText choice{"user", ""};
    std::string error;
    if (run.line.by && !ParseStatisticsChoice(*run.line.by, choice, error)) {
        run.Error(error);
        return kExitBadInput;
    }
    const bool groupMode = choice.category == "group";
    const std::optional<std::string> log =
        run.LocalPath(run.line.logFile.value_or(gSettings.LogFilePath));
    if (!log) {
        return kExitBadInput;
    }
    if (groupMode) {
        SelectionText = choice.group;
    }
    ReportOutput output(run);
    reports::StatisticsRun statistics({CategoryOf(choice.category), groupMode, choice.group, *log,
                                       CurrentAmountMode(), LayoutOf(run), cut},
                                      output);
    if (!statistics.OpenLog()) {
        return Failed(run, statistics.Failure());
    }
    switch (statistics.ReadMembers()) {
        case reports::StatisticsRun::Members::Read:
            break;
        case reports::StatisticsRun::Members::Unreadable:
            run.Error("group " + choice.group + ": cannot be read in " + CurrentContextName + " (" +
                      (KindOfObject(choice.group) == ObjectKind::Missing
                           ? std::string("no such group")
                           : std::string("not a group")) +
                      "); nothing was written");
            return kExitBadInput;
        case reports::StatisticsRun::Members::NoMembers:
            run.Error("No members in group! (" + choice.group + "); nothing was written");
            return kExitBadInput;
    }
    ReadToEnd(run, statistics, "log file");
    const bool finished = statistics.Finish();
    TellUnreadableDates(run, statistics.Statistics().UnreadableDates(), "the period");
    return finished ? kExitDone : Failed(run, statistics.Failure());
}

// MainList's entries as the window lists them: its list box sorts them, case ignored.
class SortedEntries final : public ObjectListSink {
  public:
    void Clear() override { entries.clear(); }
    void Add(const std::string& entry) override { entries.push_back(entry); }
    void SelectFirst() override {
        std::stable_sort(entries.begin(), entries.end(),
                         [](const std::string& a, const std::string& b) {
                             return std::lexicographical_compare(
                                 a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
                                     return static_cast<unsigned char>(reports::FoldCase(x)) <
                                            static_cast<unsigned char>(reports::FoldCase(y));
                                 });
                         });
    }
    std::vector<std::string> entries;
};

int BalancesRun(const Run& run) {
    std::optional<std::int32_t> below;
    if (run.line.below) {
        const AmountMode mode = CurrentAmountMode();
        std::string problem = AmountSyntaxProblem(*run.line.below, mode);
        const AmountReading amount = ReadAmount(*run.line.below, mode);
        if (problem.empty() && amount.status != AmountStatus::Read) {
            problem = "the amount does not fit an account";
        }
        if (!problem.empty()) {
            run.Error("--below " + *run.line.below + ": " + problem);
            return kExitBadInput;
        }
        below = amount.units;
    }
    if (!run.line.subject.empty()) {
        if (const std::string problem = EnterContext(run.line.subject); !problem.empty()) {
            run.Error("context " + run.line.subject + ": " + problem);
            return kExitBadInput;
        }
    }
    SortedEntries list;
    std::size_t listed = 0;
    if (const DirStatus status = FillObjectList(list, kUserClass, &listed); status != DIR_OK) {
        run.Error(ListingFailureMessage(status, listed) + " No report was written.");
        return kExitSomeFailed;
    }
    ReportOutput output(run);
    reports::BalancesRun balances(
        {CurrentContextName, std::move(list.entries), static_cast<std::size_t>(MaxUserNameLength),
         CurrentAmountMode(), LayoutOf(run), below},
        output);
    return balances.Write() ? kExitDone : Failed(run, balances.Failure());
}

int TrendRun(const Run& run) {
    std::optional<reports::PeriodCut> cut;
    if (!PeriodOf(run, cut)) {
        return kExitBadInput;
    }
    const bool period = cut.has_value();
    if (!period) {
        cut = reports::PeriodCut{{}, gSettings.DateOrder};
    }
    const std::string& by = *run.line.by;
    const reports::TrendStep step = by == "day"    ? reports::TrendStep::Day
                                    : by == "week" ? reports::TrendStep::Week
                                                   : reports::TrendStep::Month;
    const std::optional<std::string> log =
        run.LocalPath(run.line.logFile.value_or(gSettings.LogFilePath));
    if (!log) {
        return kExitBadInput;
    }
    ReportOutput output(run);
    reports::TrendRun trend({step, *log, CurrentAmountMode(), LayoutOf(run), *cut}, output);
    if (!trend.OpenLog()) {
        return Failed(run, trend.Failure());
    }
    ReadToEnd(run, trend, "log file");
    const bool finished = trend.Finish();
    TellUnreadableDates(run, trend.Trend().UnreadableDates(), period ? "the period" : "the trend");
    return finished ? kExitDone : Failed(run, trend.Failure());
}

// The users an audit reaches, as the account commands' targets reach them; false after saying
// which name is wrong.
bool AuditedUsers(const Run& run, std::vector<reports::AuditedUser>& users, std::string& subject) {
    const CommandLine& line = run.line;
    auto add = [&users](const std::string& name) {
        const std::string fullName = reports::FullNameOf(name);
        users.push_back({name, fullName.empty() ? name : fullName});
    };
    if (line.group) {
        std::vector<std::string> members;
        if (KindOfObject(*line.group) != ObjectKind::Group ||
            !reports::ReadGroupMembers(*line.group, members)) {
            run.Error("group " + *line.group + ": no such group in " + CurrentContextName);
            return false;
        }
        subject = *line.group;
        for (const std::string& member : members) {
            add("." + member);  // complete names, wherever the member lives
        }
        return true;
    }
    if (!line.users.empty()) {
        bool good = true;
        for (const std::string& user : line.users) {
            if (KindOfObject(user) != ObjectKind::User) {
                run.Error("user " + user + ": no such user in " + CurrentContextName);
                good = false;
            }
        }
        if (!good) {
            return false;
        }
        subject = CurrentContextName;
        for (const std::string& user : line.users) {
            add(user);
        }
        return true;
    }
    if (line.context) {
        if (const std::string problem = EnterContext(*line.context); !problem.empty()) {
            run.Error("context " + *line.context + ": " + problem);
            return false;
        }
    }
    subject = CurrentContextName;
    SortedEntries list;
    FillObjectList(list, kUserClass);
    for (const std::string& entry : list.entries) {
        if (IsUserEntry(entry)) {
            add(entry);
        }
    }
    return true;
}

int AuditRun(const Run& run) {
    std::vector<reports::AuditedUser> users;
    std::string subject;
    if (!AuditedUsers(run, users, subject)) {
        return kExitBadInput;
    }
    const std::optional<std::string> logPath = run.LocalPath(gSettings.LogFilePath);
    if (!logPath) {
        return kExitBadInput;
    }
    reports::LogReader log;
    if (!log.Open(*logPath)) {
        run.Error(log.OpenFailure(*logPath));
        return kExitBadInput;
    }
    const AmountMode mode = CurrentAmountMode();
    reports::BalanceAudit audit(std::move(users), mode);
    {
        ProgressLine progress(run, "JOBTALLY.LOG");
        int shown = -1;
        std::string_view line;
        std::uint64_t offset = 0;
        while (log.NextLine(line)) {
            audit.Take(line, offset);
            offset += line.size();
            if (run.console.showProgress && log.PercentRead() / 10 != shown) {
                shown = log.PercentRead() / 10;
                progress.Show(std::min(shown * 10, 100));
            }
        }
    }
    const std::uint64_t logLength = log.Length();
    log.Close();
    std::vector<reports::BalanceReading> balances;
    balances.reserve(audit.Users().size());
    bool anyDiffer = false;
    for (std::size_t i = 0; i < audit.Users().size(); ++i) {
        balances.push_back(reports::ReadBalanceOf(audit.Users()[i].name));
        const reports::AuditLine line{{}, balances.back(), audit.Of(i)};
        if (line.log.recorded && !line.Agrees()) {
            audit.Want(i);
            anyDiffer = true;
        }
    }
    // The lines since each differing user's last record, from a second reading of the log as
    // long as the first one read it.
    if (anyDiffer && log.Open(*logPath, logLength)) {
        std::string_view line;
        std::uint64_t offset = 0;
        while (log.NextLine(line)) {
            audit.TakeSince(line, offset);
            offset += line.size();
        }
        log.Close();
    }
    std::vector<reports::AuditLine> lines;
    lines.reserve(audit.Users().size());
    for (std::size_t i = 0; i < audit.Users().size(); ++i) {
        lines.push_back({audit.Users()[i].name, balances[i], audit.Of(i)});
    }
    ReportOutput output(run);
    std::string failure;
    if (!output.Create("Audit", run.line.csv ? ".csv" : ".txt", failure)) {
        return Failed(run, failure);
    }
    output.Write(run.line.csv ? reports::AuditCsv(lines, mode)
                              : reports::AuditReport(subject, lines, mode));
    if (!output.Finish(failure)) {
        return Failed(run, failure);
    }
    const reports::AuditSummary summary = reports::Summarize(lines);
    if (summary.differing > 0) {
        run.Error(std::to_string(summary.differing) + " of " + std::to_string(lines.size()) +
                  (summary.differing == 1 ? " balance differs" : " balances differ") +
                  " from the log");
    }
    if (summary.unreadable > 0) {
        run.Error(reports::CountOf(summary.unreadable, "user's", "users'") +
                  " last balance record in the log could not be read (its balance is not a "
                  "number): " +
                  (summary.unreadable == 1 ? "that balance was" : "those balances were") +
                  " not checked");
    }
    return summary.differing > 0 || summary.unreadable > 0 ? kExitSomeFailed : kExitDone;
}

// Holding a group's answers or a log's keys takes memory as the log goes on; running out ends
// the run with the window's message.
template <typename Body>
int WithinMemory(const Run& run, Body&& body) {
    try {
        return body(run);
    } catch (const std::bad_alloc&) {
        run.Error("Unable to allocate memory for operation");
        return kExitBadInput;
    }
}

}  // namespace

int RunHistory(const Run& run) {
    return WithinMemory(run, HistoryRun);
}

int RunStats(const Run& run) {
    return WithinMemory(run, StatsRun);
}

int RunBalances(const Run& run) {
    return WithinMemory(run, BalancesRun);
}

int RunTrend(const Run& run) {
    return WithinMemory(run, TrendRun);
}

int RunAudit(const Run& run) {
    return WithinMemory(run, AuditRun);
}

}  // namespace tally::tallycmd
