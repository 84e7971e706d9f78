// Times one report run of the core, as the program's dialogs run it but without a window, and
// prints the seconds it took and what it found. scripts/bench-reports.sh calls it.
//
//   report_timing history LOG NAME FULLNAME          a user's history
//   report_timing group-history TALLYNET_INI LOG GROUP   a group's history, membership asked of
//                                                        the directory client once per name
//   report_timing stats LOG user|printer             statistics by user or by printer
//   report_timing balances TALLYNET_INI CONTEXT      the balances list of a context, then as many
//                                                    single balance reads for comparison
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "accounting/account_attributes.h"
#include "browse/context_navigation.h"
#include "browse/object_list.h"
#include "directory/buffer_owner.h"
#include "directory/dirclient_setup.h"
#include "program/number_format.h"
#include "program/session.h"
#include "program/settings.h"
#include "reports/account_balances.h"
#include "reports/group_members.h"
#include "reports/log_reader.h"
#include "reports/print_history.h"
#include "reports/print_statistics.h"
#include "reports/report_files.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace tally::reports;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int Usage() {
    std::fprintf(stderr,
                 "usage: report_timing history LOG NAME FULLNAME\n"
                 "       report_timing group-history TALLYNET_INI LOG GROUP\n"
                 "       report_timing stats LOG user|printer\n"
                 "       report_timing balances TALLYNET_INI CONTEXT\n");
    return 2;
}

const AmountMode kCurrency = MakeAmountMode(true, 2);

// Reads the whole log into `history`, copying its lines into a report file as the dialog does.
int RunHistory(const std::string& log, PrintHistory& history) {
    const Clock::time_point start = Clock::now();
    LogReader reader;
    if (!reader.Open(log)) {
        std::fprintf(stderr, "report_timing: cannot open %s\n", log.c_str());
        return 1;
    }
    std::string second;
    ReportFile report = ReportFile::Create("report_timing_history", ".txt", "/tmp", second);
    report.Write(history.Header());
    std::string_view line;
    std::size_t lines = 0;
    std::size_t listed = 0;
    while (reader.NextLine(line)) {
        ++lines;
        if (history.Take(line)) {
            ++listed;
            report.Write(line);
        }
    }
    report.Write(history.Totals());
    report.Close();
    std::printf("%.3f seconds, %zu lines read, %zu listed, %lld pages\n", SecondsSince(start),
                lines, listed, static_cast<long long>(history.TotalPages()));
    std::remove(report.Path().c_str());
    return 0;
}

int History(const std::string& log, const std::string& name, const std::string& fullName) {
    PrintHistory history({name, fullName, false}, kCurrency);
    return RunHistory(log, history);
}

bool LoadNetwork(const std::string& ini) {
    if (!DirClientLoadConfig(ini.c_str())) {
        std::fprintf(stderr, "report_timing: %s\n", DirClientLastProblem());
        return false;
    }
    OpenDirectoryContext();
    gSettings.Schema = SelectAccountSchema(kStandardSchemaKeyword);
    return true;
}

int GroupHistory(const std::string& ini, const std::string& log, const std::string& group) {
    if (!LoadNetwork(ini)) {
        return 1;
    }
    char fullName[DIR_MAX_NAME_BYTES] = {};
    DirGetFullName(DirectoryContext, group.c_str(), fullName);
    DirBufferOwner buffer(DIR_BUFFER_SIZE);
    DirSetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, DIR_ROOT_NAME);
    const std::string full = fullName;
    const GroupMembership membership(full, buffer.Get());
    PrintHistory history({group, full, true}, kCurrency,
                         [&](const std::string& name) { return membership.Contains(name); });
    return RunHistory(log, history);
}

int Statistics(const std::string& log, const std::string& by) {
    const Clock::time_point start = Clock::now();
    const StatisticsCategory category = by == "printer" ? kByPrinter : kByUser;
    PrintStatistics statistics(category, category.name, false, kCurrency);
    LogReader reader;
    if (!reader.Open(log)) {
        std::fprintf(stderr, "report_timing: cannot open %s\n", log.c_str());
        return 1;
    }
    std::string_view line;
    while (reader.NextLine(line)) {
        statistics.Take(line);
    }
    std::string second;
    ReportFile report = ReportFile::Create("report_timing_stats", ".txt", "/tmp", second);
    report.Write(statistics.Report());
    report.Close();
    std::printf("%.3f seconds, %zu rows, %lld pages\n", SecondsSince(start), statistics.RowCount(),
                static_cast<long long>(statistics.TotalPages()));
    std::remove(report.Path().c_str());
    return 0;
}

class Entries final : public ObjectListSink {
  public:
    void Clear() override { entries.clear(); }
    void Add(const std::string& entry) override { entries.push_back(entry); }
    void SelectFirst() override {}
    std::vector<std::string> entries;
};

int Balances(const std::string& ini, const std::string& context) {
    if (!LoadNetwork(ini) ||
        DirSetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, context.c_str()) != DIR_OK) {
        return 1;
    }
    CurrentContextName = context;
    Entries list;
    FillObjectList(list, kUserClass);
    const Clock::time_point start = Clock::now();
    const std::string report =
        AccountBalancesReport(context, list.entries, static_cast<std::size_t>(MaxUserNameLength),
                              kCurrency, ReadBalanceOf);
    const double whole = SecondsSince(start);
    const Clock::time_point readsStart = Clock::now();
    std::size_t reads = 0;
    for (const std::string& entry : list.entries) {
        if (IsUserEntry(entry)) {
            ReadBalanceOf(entry);
            ++reads;
        }
    }
    std::printf(
        "%.3f seconds for the report of %zu users (%zu bytes); %.3f seconds for %zu "
        "single balance reads\n",
        whole, reads, report.size(), SecondsSince(readsStart), reads);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 4 && a[0] == "history") {
        return History(a[1], a[2], a[3]);
    }
    if (a.size() == 4 && a[0] == "group-history") {
        return GroupHistory(a[1], a[2], a[3]);
    }
    if (a.size() == 3 && a[0] == "stats" && (a[2] == "user" || a[2] == "printer")) {
        return Statistics(a[1], a[2]);
    }
    if (a.size() == 3 && a[0] == "balances") {
        return Balances(a[1], a[2]);
    }
    return Usage();
}
