#include "tools/tallycmd/report_commands.h"

#include <algorithm>
#include <memory>
#include <new>

#include "browse/object_list.h"
#include "program/list_entries.h"
#include "program/number_format.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/values.h"
#include "reports/report_runs.h"

namespace tally::tallycmd {
namespace {

using reports::ReportLayout;

ReportLayout LayoutOf(const Run& run) {
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

int HistoryRun(const Run& run) {
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
    reports::HistoryRun history(
        {SelectionText, GroupSelected, *log, CurrentAmountMode(), LayoutOf(run)}, output);
    if (!history.Start()) {
        return Failed(run, history.Failure());
    }
    ReadToEnd(run, history, "JOBTALLY.LOG");
    return history.Finish() ? kExitDone : Failed(run, history.Failure());
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
                                       CurrentAmountMode(), LayoutOf(run)},
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
    return statistics.Finish() ? kExitDone : Failed(run, statistics.Failure());
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
    if (!run.line.subject.empty() && !EnterContext(run.line.subject)) {
        run.Error("context " + run.line.subject +
                  ": no such container (give its complete name, such as SALES.CORP, or [Root])");
        return kExitBadInput;
    }
    SortedEntries list;
    if (const DirStatus listed = FillObjectList(list, kUserClass); listed != DIR_OK) {
        run.Error(ListingFailureMessage(listed) + " No report was written.");
        return kExitSomeFailed;
    }
    ReportOutput output(run);
    reports::BalancesRun balances(
        {CurrentContextName, std::move(list.entries), static_cast<std::size_t>(MaxUserNameLength),
         CurrentAmountMode(), LayoutOf(run)},
        output);
    return balances.Write() ? kExitDone : Failed(run, balances.Failure());
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

}  // namespace tally::tallycmd
