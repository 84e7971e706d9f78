#include "reports/report_runs.h"

#include <map>

#include "program/list_entries.h"
#include "reports/csv_rows.h"
#include "reports/report_words.h"

namespace tally::reports {
namespace {

std::string_view ExtensionOf(ReportLayout layout, std::string_view textExtension) {
    switch (layout) {
        case ReportLayout::Csv:
            return ".csv";
        case ReportLayout::Html:
            return ".html";
        case ReportLayout::Text:
            break;
    }
    return textExtension;
}

HtmlRow RowOf(std::string label, std::int64_t pages, const Cost& cost, const AmountMode& mode) {
    return {std::move(label), pages, CostText(cost, mode),
            InDecimalMode(mode) ? cost.decimal : static_cast<double>(cost.whole)};
}

std::string OtherCostText(const AmountMode& mode) {
    return CostText(Cost{}, mode);
}

// Sums the cost texts of "Other" again once its cost is known.
std::vector<HtmlRow> Top(const std::vector<HtmlRow>& rows, bool byCost, const AmountMode& mode) {
    constexpr std::size_t kTopRows = 20;
    std::vector<HtmlRow> top = TopRows(rows, kTopRows, byCost, OtherCostText(mode));
    if (rows.size() > kTopRows) {
        HtmlRow& other = top.back();
        Cost sum;
        if (InDecimalMode(mode)) {
            sum.decimal = other.cost;
        } else {
            sum.whole = static_cast<std::int64_t>(other.cost);
        }
        other.costText = CostText(sum, mode);
    }
    return top;
}

// The line's date as the log writes it: field 8 of a delimited line, the date column of a
// Readable one.
std::string DateOfLine(std::string_view line) {
    if (!line.empty() && line.front() == '"') {
        DelimitedFields fields;
        return fields.Split(line) >= kDateField ? std::string(fields.Text(kDateField)) : "";
    }
    return std::string(ReadableDate(line));
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
    if (request_.cut) {
        history_->CutToPeriod(*request_.cut);
    }
    if (request_.layout == ReportLayout::Csv) {
        sink_.Write(CsvRow({"Pages", "Cost", "Record"}));
    } else if (request_.layout == ReportLayout::Text) {
        sink_.Write(history_->Header());
    }
    return true;
}

void HistoryRun::Copy(std::string_view line) {
    if (request_.layout == ReportLayout::Csv) {
        const PagesAndCost& added = history_->LastAdded();
        sink_.Write(CsvRow({std::to_string(added.pages), CostText(added.cost, request_.mode),
                            std::string(WithoutLineEnd(line))}));
    } else if (request_.layout == ReportLayout::Html) {
        const PagesAndCost& added = history_->LastAdded();
        page_.rows.push_back(RowOf(DateOfLine(line), added.pages, added.cost, request_.mode));
        page_.records.emplace_back(WithoutLineEnd(line));
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
    if (history_ && request_.layout == ReportLayout::Html) {
        WritePage();
    }
    return Stop();
}

void HistoryRun::WritePage() {
    const std::string fullName = history_->FullName();
    page_.title = fullName + " Print History";
    const std::string period =
        request_.cut ? " " + PeriodWords(request_.cut->period) : std::string();
    page_.heading = page_.rows.empty()
                        ? "No lines of the log" + period
                        : CountOf(page_.rows.size(), "line", "lines") + " of the log" + period;
    page_.nothingToChart = page_.heading + ".";
    page_.keyName.clear();  // the CSV's columns: Pages, Cost, Record
    page_.recordColumn = true;
    page_.totals = RowOf("Totals", history_->TotalPages(), history_->TotalCost(), request_.mode);
    // The chart: pages per month of the lines listed, in order of the months.
    std::map<std::int32_t, HtmlRow> months;
    for (const HtmlRow& row : page_.rows) {
        const std::optional<CalendarDay> day = ReadLogDate(row.label, request_.dateOrder);
        const std::int32_t key = day ? day->year * 100 + day->month : 0;
        HtmlRow& month = months[key];
        if (month.label.empty()) {
            month.label = day ? IsoDateText(*day).substr(0, 7) : "Date unreadable";
        }
        month.pages += row.pages;
        month.cost += row.cost;
    }
    HtmlChart chart{"Pages by month", false, {}};
    for (const auto& [key, month] : months) {
        chart.rows.push_back(month);
    }
    page_.charts.push_back(std::move(chart));
    sink_.Write(HtmlReport(page_));
}

bool HistoryRun::Stop() {
    Release();
    if (history_) {
        unreadableDates_ = history_->UnreadableDates();
    }
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
                  request_.groupMode, request_.mode) {
    if (request_.cut) {
        statistics_.CutToPeriod(*request_.cut);
    }
}

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
    } else if (request_.layout == ReportLayout::Html) {
        HtmlPage page;
        page.title = Title() + " print totals";
        page.heading = statistics_.Heading(true);
        page.nothingToChart = "No print jobs " + PeriodWords(statistics_.Period()) + ".";
        page.keyName = request_.category.name;
        for (const PrintStatistics::Row* row : statistics_.SortedRows()) {
            page.rows.push_back(RowOf(row->name, row->pages, row->cost, request_.mode));
        }
        page.totals =
            RowOf("Totals", statistics_.TotalPages(), statistics_.TotalCost(), request_.mode);
        page.charts.push_back({"Most pages", false, Top(page.rows, false, request_.mode)});
        page.charts.push_back({"Highest cost", true, Top(page.rows, true, request_.mode)});
        sink_.Write(HtmlReport(page));
    } else {
        sink_.Write(statistics_.Report());
    }
    return sink_.Finish(failure_);
}

// ---------------------------------------------------------------------------------------------
// Trend
// ---------------------------------------------------------------------------------------------

TrendRun::TrendRun(TrendRequest request, ReportSink& sink)
    : request_(std::move(request)),
      sink_(sink),
      trend_(request_.step, request_.cut, request_.mode) {}

bool TrendRun::OpenLog() {
    if (!log_.Open(request_.logPath)) {
        failure_ = log_.OpenFailure(request_.logPath);
        return false;
    }
    return true;
}

bool TrendRun::ReadSlice(const SliceOver& sliceOver) {
    return ReadLines(log_, progress_, sliceOver,
                     [this](std::string_view line) { trend_.Take(line); });
}

bool TrendRun::Finish() {
    log_.Close();
    if (!sink_.Create("Trend", ExtensionOf(request_.layout, ".txt"), failure_)) {
        return false;
    }
    const std::vector<PrintTrend::Row> rows = trend_.Rows();
    if (request_.layout == ReportLayout::Csv) {
        sink_.Write(CsvRow({trend_.StepName(), "Pages", "Cost"}));
        for (const PrintTrend::Row& row : rows) {
            sink_.Write(
                CsvRow({row.label, std::to_string(row.pages), CostText(row.cost, request_.mode)}));
        }
    } else if (request_.layout == ReportLayout::Html) {
        HtmlPage page;
        page.title = "Print totals by " + trend_.StepWord();
        page.heading = trend_.Heading();
        page.nothingToChart = "No print jobs " + PeriodWords(request_.cut.period) + ".";
        page.keyName = trend_.StepName();
        for (const PrintTrend::Row& row : rows) {
            page.rows.push_back(RowOf(row.label, row.pages, row.cost, request_.mode));
        }
        page.totals = RowOf("Totals", trend_.TotalPages(), trend_.TotalCost(), request_.mode);
        page.charts.push_back({"Pages", false, page.rows});
        page.charts.push_back({"Cost", true, page.rows});
        sink_.Write(HtmlReport(page));
    } else {
        sink_.Write(trend_.Report());
    }
    return sink_.Finish(failure_);
}

// ---------------------------------------------------------------------------------------------
// Account balances
// ---------------------------------------------------------------------------------------------

BalancesRun::BalancesRun(BalancesRequest request, ReportSink& sink, ReadBalance read)
    : request_(std::move(request)), sink_(sink), read_(std::move(read)) {}

void BalancesRun::KeepOnlyBelow(std::int32_t below) {
    // Each balance is read once: the report is written from the readings kept here.
    auto readings = std::make_shared<std::vector<BalanceReading>>();
    std::vector<std::string> kept;
    for (const std::string& entry : request_.entries) {
        if (!IsUserEntry(entry)) {
            continue;
        }
        const BalanceReading reading = read_(entry);
        if (reading.read && reading.balance < below) {
            kept.push_back(entry);
            readings->push_back(reading);
        }
    }
    request_.entries = std::move(kept);
    auto next = std::make_shared<std::size_t>(0);
    read_ = [readings, next](const std::string&) { return (*readings)[(*next)++]; };
}

bool BalancesRun::Write() {
    if (request_.below) {
        KeepOnlyBelow(*request_.below);
    }
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
