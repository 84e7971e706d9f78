#include "tools/tallycmd/report_commands.h"

#include <algorithm>
#include <memory>
#include <new>

#include "accounting/account_attributes.h"
#include "browse/object_list.h"
#include "directory/buffer_owner.h"
#include "program/list_entries.h"
#include "program/number_format.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/values.h"
#include "reports/account_balances.h"
#include "reports/group_members.h"
#include "reports/log_reader.h"
#include "reports/print_history.h"
#include "reports/print_statistics.h"
#include "tools/tallycmd/csv.h"

namespace tally::tallycmd {
namespace {

using reports::Cost;
using reports::CostText;
using reports::LogReader;

// Puts the directory's name context back when a group's history ends, however it ends.
class NameContextAtRoot {
  public:
    NameContextAtRoot() {
        DirSetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, DIR_ROOT_NAME);
    }
    NameContextAtRoot(const NameContextAtRoot&) = delete;
    NameContextAtRoot& operator=(const NameContextAtRoot&) = delete;
    ~NameContextAtRoot() {
        DirSetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, CurrentContextName.c_str());
    }
};

// Opens the log for a report; false after the window's message.
bool OpenLog(const Run& run, const std::string& path, LogReader& reader) {
    const std::optional<std::string> local = run.LocalPath(path);
    if (!local) {
        return false;
    }
    if (!reader.Open(*local)) {
        run.Error("Error opening " + *local);
        return false;
    }
    return true;
}

// Reads every line into `take`, showing the progress the dialog would show.
template <typename Take, typename Progress>
void ReadLog(const Run& run, LogReader& reader, Take&& take, Progress& progress,
             const std::string& what) {
    ProgressLine line(run, what);
    std::string_view text;
    if (!run.console.showProgress) {
        while (reader.NextLine(text)) {
            take(text);
        }
        return;
    }
    line.Show(0);
    while (reader.NextLine(text)) {
        take(text);
        if (progress.Update(reader.PercentRead())) {
            line.Show(progress.Shown());
        }
    }
}

std::string FullNameOf(const std::string& name) {
    char fullName[DIR_MAX_NAME_BYTES] = {};
    if (DirGetFullName(DirectoryContext, name.c_str(), fullName) != DIR_OK) {
        return {};
    }
    return fullName;
}

std::string WithoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return std::string(line);
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

    LogReader log;
    if (!OpenLog(run, gSettings.LogFilePath, log)) {
        return kExitBadInput;
    }
    ReportOutput output;
    if (!output.Open(run, SelectionText, run.line.csv ? ".csv" : ".txt")) {
        return kExitBadInput;
    }
    const std::string fullName = FullNameOf(SelectionText);
    std::unique_ptr<DirBufferOwner> compareBuffer;
    std::unique_ptr<NameContextAtRoot> atRoot;
    std::unique_ptr<reports::GroupMembership> membership;
    reports::PrintHistory::MembershipTest isMember;
    if (GroupSelected) {
        compareBuffer = std::make_unique<DirBufferOwner>(DIR_BUFFER_SIZE);
        if (!compareBuffer->Ok()) {
            run.Error("Unable to allocate DS buffer");
            return kExitBadInput;
        }
        // Full names in the log are understood from the root of the tree while the run lasts.
        atRoot = std::make_unique<NameContextAtRoot>();
        membership = std::make_unique<reports::GroupMembership>(
            fullName.empty() ? SelectionText : fullName, compareBuffer->Get());
        reports::GroupMembership* members = membership.get();
        isMember = [members](const std::string& name) { return members->Contains(name); };
    }
    const AmountMode mode = CurrentAmountMode();
    reports::PrintHistory history({SelectionText, fullName, GroupSelected}, mode,
                                  std::move(isMember));
    reports::HistoryProgress progress;
    if (run.line.csv) {
        output.Write(CsvRow({"Pages", "Cost", "Record"}));
        ReadLog(
            run, log,
            [&](std::string_view line) {
                const std::int64_t pages = history.TotalPages();
                const Cost cost = history.TotalCost();
                if (history.Take(line)) {
                    Cost added;
                    added.whole = history.TotalCost().whole - cost.whole;
                    added.decimal = history.TotalCost().decimal - cost.decimal;
                    output.Write(CsvRow({std::to_string(history.TotalPages() - pages),
                                         CostText(added, mode), WithoutLineEnd(line)}));
                }
            },
            progress, "JOBTALLY.LOG");
    } else {
        output.Write(history.Header());
        ReadLog(
            run, log,
            [&](std::string_view line) {
                if (history.Take(line)) {
                    output.Write(line);
                }
            },
            progress, "JOBTALLY.LOG");
        output.Write(history.Totals());
    }
    return output.Finish(run) ? kExitDone : kExitBadInput;
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
    const reports::StatisticsCategory category = CategoryOf(choice.category);
    const AmountMode mode = CurrentAmountMode();
    const std::string title = groupMode ? choice.group : std::string(category.name);
    reports::PrintStatistics statistics(category, title, groupMode, mode);
    if (groupMode) {
        SelectionText = choice.group;
        std::vector<std::string> members;
        if (!reports::ReadGroupMembers(choice.group, members)) {
            run.Error("group " + choice.group + ": cannot be read in " + CurrentContextName + " (" +
                      (KindOfObject(choice.group) == ObjectKind::Missing
                           ? std::string("no such group")
                           : std::string("not a group")) +
                      "); nothing was written");
            return kExitBadInput;
        }
        for (const std::string& member : members) {
            char fullName[DIR_MAX_NAME_BYTES] = {};
            DirGetFullName(DirectoryContext, member.c_str(), fullName);
            statistics.AddMember(fullName);
        }
        if (statistics.RowCount() == 0) {
            run.Error("No members in group! (" + choice.group + "); nothing was written");
            return kExitBadInput;
        }
    }
    LogReader log;
    if (!OpenLog(run, run.line.logFile.value_or(gSettings.LogFilePath), log)) {
        return kExitBadInput;
    }
    reports::StatisticsProgress progress;
    ReadLog(
        run, log, [&](std::string_view line) { statistics.Take(line); }, progress, "log file");
    log.Close();
    ReportOutput output;
    if (!output.Open(run, statistics.Title(), run.line.csv ? ".csv" : ".txt")) {
        return kExitBadInput;
    }
    if (run.line.csv) {
        output.Write(CsvRow({category.name, "Pages", "Cost"}));
        for (const reports::PrintStatistics::Row* row : statistics.SortedRows()) {
            output.Write(
                CsvRow({row->name, std::to_string(row->pages), CostText(row->cost, mode)}));
        }
    } else {
        output.Write(statistics.Report());
    }
    return output.Finish(run) ? kExitDone : kExitBadInput;
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
    const AmountMode mode = CurrentAmountMode();
    ReportOutput output;
    if (!output.Open(run, reports::BalancesBaseName(CurrentContextName),
                     run.line.csv ? ".csv" : ".TXT")) {
        return kExitBadInput;
    }
    if (run.line.csv) {
        output.Write(CsvRow({"User", "Balance", "Error"}));
        for (const std::string& entry : list.entries) {
            if (!IsUserEntry(entry)) {
                continue;
            }
            const reports::BalanceReading reading = reports::ReadBalanceOf(entry);
            output.Write(CsvRow({entry, reading.read ? AmountText(reading.balance, mode) : "",
                                 reading.read ? "" : std::to_string(reading.status)}));
        }
    } else {
        output.Write(reports::AccountBalancesReport(CurrentContextName, list.entries,
                                                    static_cast<std::size_t>(MaxUserNameLength),
                                                    mode, reports::ReadBalanceOf));
    }
    return output.Finish(run) ? kExitDone : kExitBadInput;
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
