#include "reports/report_runs.h"

#include "program/list_entries.h"
#include "reports/csv_rows.h"

namespace tally::reports {
namespace {

std::string WithoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return std::string(line);
}

std::string_view ExtensionOf(ReportLayout layout, std::string_view textExtension) {
    return layout == ReportLayout::Csv ? std::string_view(".csv") : textExtension;
}

// Reads lines into `take` and lets `progress` see each line's percentage, until the end of the
// log (true) or the end of the slice.
template <typename Take, typename Progress>
bool ReadLines(LogReader& log, Progress& progress, const SliceOver& sliceOver, Take&& take) {
    std::string_view line;
    while (log.NextLine(line)) {
        take(line);
        progress.Update(log.PercentRead());
        if (sliceOver && sliceOver()) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ReportFileSink::Create(std::string_view name, std::string_view extension,
                            std::string& failure) {
    std::string secondPath;
    file_ = ReportFile::Create(name, extension, tempDirectory_, secondPath);
    if (!file_.IsOpen()) {
        failure = "Error creating " + secondPath;
        return false;
    }
    reportFilePath_ = file_.Path();
    return true;
}

bool ReportFileSink::Finish(std::string& failure) {
    if (!file_.Close()) {
        failure = file_.WriteFailureMessage();
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Print history
// ---------------------------------------------------------------------------------------------

HistoryRun::HistoryRun(HistoryRequest request, ReportSink& sink)
    : request_(std::move(request)), sink_(sink) {}

HistoryRun::~HistoryRun() {
    Release();
    if (reportOpen_) {
        std::string ignored;
        sink_.Finish(ignored);
    }
}

void HistoryRun::Release() {
    log_.Close();
    membership_.reset();
    atRoot_.reset();  // the session's context is back
    compareBuffer_.reset();
}

bool HistoryRun::Fail(std::string message) {
    failure_ = std::move(message);
    Release();
    if (reportOpen_) {
        reportOpen_ = false;
        std::string ignored;
        sink_.Finish(ignored);
    }
    history_.reset();
    return false;
}

bool HistoryRun::Start() {
    if (!log_.Open(request_.logPath)) {
        return Fail(log_.OpenFailure(request_.logPath));
    }
    std::string failure;
    if (!sink_.Create(request_.selectionText, ExtensionOf(request_.layout, ".txt"), failure)) {
        return Fail(failure);
    }
    reportOpen_ = true;
    const std::string fullName = FullNameOf(request_.selectionText);
    PrintHistory::MembershipTest isMember;
    if (request_.group) {
        compareBuffer_ = std::make_unique<DirBufferOwner>(DIR_BUFFER_SIZE);
        if (!compareBuffer_->Ok()) {
            return Fail("Unable to allocate DS buffer");
        }
        // Full names in the log are understood from the root of the tree while the run lasts.
        atRoot_ = std::make_unique<NameContextAtRoot>();
        membership_ = std::make_unique<GroupMembership>(
            fullName.empty() ? request_.selectionText : fullName, compareBuffer_->Get());
        GroupMembership* membership = membership_.get();
        isMember = [membership](const std::string& name) { return membership->Contains(name); };
    }
    history_.emplace(HistorySubject{request_.selectionText, fullName, request_.group},
                     request_.mode, std::move(isMember));
    if (request_.layout == ReportLayout::Csv) {
        sink_.Write(CsvRow({"Pages", "Cost", "Record"}));
    } else {
        sink_.Write(history_->Header());
    }
    return true;
}

void HistoryRun::Copy(std::string_view line) {
    if (request_.layout == ReportLayout::Csv) {
        const PagesAndCost& added = history_->LastAdded();
        sink_.Write(CsvRow({std::to_string(added.pages), CostText(added.cost, request_.mode),
                            WithoutLineEnd(line)}));
    } else {
        sink_.Write(line);  // as read, line end included
    }
}

bool HistoryRun::ReadSlice(const SliceOver& sliceOver) {
    if (!history_) {
        return true;
    }
    return ReadLines(log_, progress_, sliceOver, [this](std::string_view line) {
        if (history_->Take(line)) {
            Copy(line);
        }
    });
}

bool HistoryRun::Finish() {
    if (history_ && request_.layout == ReportLayout::Text) {
        sink_.Write(history_->Totals());
    }
    return Stop();
}

bool HistoryRun::Stop() {
    Release();
    history_.reset();
    if (!reportOpen_) {
        return failure_.empty();
    }
    reportOpen_ = false;
    return sink_.Finish(failure_);
}

// ---------------------------------------------------------------------------------------------
// Printing statistics
// ---------------------------------------------------------------------------------------------

StatisticsRun::StatisticsRun(StatisticsRequest request, ReportSink& sink)
    : request_(std::move(request)),
      sink_(sink),
      statistics_(request_.category,
                  request_.groupMode ? request_.group : std::string(request_.category.name),
                  request_.groupMode, request_.mode) {}

bool StatisticsRun::OpenLog() {
    if (!log_.Open(request_.logPath)) {
        failure_ = log_.OpenFailure(request_.logPath);
        return false;
    }
    return true;
}

StatisticsRun::Members StatisticsRun::ReadMembers() {
    if (!request_.groupMode) {
        return Members::Read;
    }
    std::vector<std::string> fullNames;
    if (!ReadMemberFullNames(request_.group, fullNames)) {
        return Members::Unreadable;
    }
    for (const std::string& fullName : fullNames) {
        statistics_.AddMember(fullName);
    }
    return statistics_.RowCount() == 0 ? Members::NoMembers : Members::Read;
}

bool StatisticsRun::ReadSlice(const SliceOver& sliceOver) {
    return ReadLines(log_, progress_, sliceOver,
                     [this](std::string_view line) { statistics_.Take(line); });
}

bool StatisticsRun::Finish() {
    log_.Close();
    if (!sink_.Create(Title(), ExtensionOf(request_.layout, ".txt"), failure_)) {
        return false;
    }
    if (request_.layout == ReportLayout::Csv) {
        sink_.Write(CsvRow({request_.category.name, "Pages", "Cost"}));
        for (const PrintStatistics::Row* row : statistics_.SortedRows()) {
            sink_.Write(CsvRow(
                {row->name, std::to_string(row->pages), CostText(row->cost, request_.mode)}));
        }
    } else {
        sink_.Write(statistics_.Report());
    }
    return sink_.Finish(failure_);
}

// ---------------------------------------------------------------------------------------------
// Account balances
// ---------------------------------------------------------------------------------------------

BalancesRun::BalancesRun(BalancesRequest request, ReportSink& sink, ReadBalance read)
    : request_(std::move(request)), sink_(sink), read_(std::move(read)) {}

bool BalancesRun::Write() {
    if (!sink_.Create(BalancesBaseName(request_.contextName), ExtensionOf(request_.layout, ".TXT"),
                      failure_)) {
        return false;
    }
    if (request_.layout == ReportLayout::Csv) {
        sink_.Write(CsvRow({"User", "Balance", "Error"}));
        for (const std::string& entry : request_.entries) {
            if (!IsUserEntry(entry)) {
                continue;
            }
            const BalanceReading reading = read_(entry);
            sink_.Write(
                CsvRow({entry, reading.read ? AmountText(reading.balance, request_.mode) : "",
                        reading.read ? "" : std::to_string(reading.status)}));
        }
    } else {
        sink_.Write(AccountBalancesReport(request_.contextName, request_.entries,
                                          request_.maxUserNameLength, request_.mode, read_));
    }
    return sink_.Finish(failure_);
}

}  // namespace tally::reports
