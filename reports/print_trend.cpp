#include "reports/print_trend.h"

#include <algorithm>

namespace tally::reports {
namespace {

constexpr std::size_t kPagesWidth = 6;
constexpr std::size_t kIntegerCostWidth = 6;
constexpr std::size_t kDecimalCostWidth = 8;

}  // namespace

PrintTrend::PrintTrend(TrendStep step, PeriodCut cut, AmountMode mode)
    : step_(step), cut_(std::move(cut)), mode_(mode) {}

const char* PrintTrend::StepName() const {
    switch (step_) {
        case TrendStep::Day:
            return "Day";
        case TrendStep::Week:
            return "Week";
        case TrendStep::Month:
            return "Month";
    }
    return "Day";
}

std::string PrintTrend::StepWord() const {
    std::string word = StepName();
    word[0] = FoldCase(word[0]);
    return word;
}

CalendarDay PrintTrend::StepStart(const CalendarDay& day) const {
    switch (step_) {
        case TrendStep::Week:
            return WeekStart(day);
        case TrendStep::Month:
            return MonthStart(day);
        case TrendStep::Day:
            break;
    }
    return day;
}

CalendarDay PrintTrend::NextStep(const CalendarDay& start) const {
    switch (step_) {
        case TrendStep::Week:
            return DayOfNumber(DayNumber(start) + 7);
        case TrendStep::Month:
            return start.month == 12 ? CalendarDay{start.year + 1, 1, 1}
                                     : CalendarDay{start.year, start.month + 1, 1};
        case TrendStep::Day:
            break;
    }
    return DayOfNumber(DayNumber(start) + 1);
}

std::string PrintTrend::Label(const CalendarDay& start) const {
    const std::string iso = IsoDateText(start);
    return step_ == TrendStep::Month ? iso.substr(0, 7) : iso;
}

void PrintTrend::Take(std::string_view line) {
    if (line.find(',') == std::string_view::npos) {
        return;
    }
    const std::size_t count = fields_.Split(line);
    if (count < kDateField || IsTransactionRecord(fields_)) {
        return;
    }
    const std::optional<CalendarDay> day = ReadLogDate(fields_.Text(kDateField), cut_.dateOrder);
    if (!day) {
        ++unreadableDates_;
        return;
    }
    if (!cut_.period.Contains(*day) || count < kPrintJobFields) {
        return;
    }
    if (day->Key() != lastDayKey_) {
        const CalendarDay start = StepStart(*day);
        Row& row = rows_[start.Key()];
        if (row.label.empty()) {
            row.label = Label(start);
        }
        lastRow_ = &row;
        lastDayKey_ = day->Key();
    }
    const std::int64_t pages = ReadIntegerRule(fields_.Raw(kPagesField));
    if (pages <= 0) {
        return;
    }
    const Cost cost = ReadCost(fields_.Raw(kCostField), mode_);
    lastRow_->pages = SaturatingAdd(lastRow_->pages, pages);
    lastRow_->cost.Add(cost);
    totalPages_ = SaturatingAdd(totalPages_, pages);
    totalCost_.Add(cost);
}

std::vector<PrintTrend::Row> PrintTrend::Rows() const {
    std::vector<Row> rows;
    if (rows_.empty()) {
        return rows;
    }
    const std::int32_t lastKey = rows_.rbegin()->first;
    const std::int32_t firstKey = rows_.begin()->first;
    CalendarDay start{firstKey / 10000, firstKey / 100 % 100, firstKey % 100};
    for (; start.Key() <= lastKey; start = NextStep(start)) {
        const auto found = rows_.find(start.Key());
        rows.push_back(found != rows_.end() ? found->second : Row{Label(start), 0, {}});
    }
    return rows;
}

std::string PrintTrend::Report() const {
    const std::vector<Row> rows = Rows();
    std::size_t nameWidth = std::string_view(StepName()).size();
    std::size_t pagesWidth = kPagesWidth;
    std::size_t costWidth = InDecimalMode(mode_) ? kDecimalCostWidth : kIntegerCostWidth;
    for (const Row& row : rows) {
        nameWidth = std::max(nameWidth, row.label.size());
        pagesWidth = std::max(pagesWidth, std::to_string(row.pages).size());
        costWidth = std::max(costWidth, CostText(row.cost, mode_).size());
    }
    pagesWidth = std::max(pagesWidth, std::to_string(totalPages_).size());
    costWidth = std::max(costWidth, CostText(totalCost_, mode_).size());
    auto line = [&](std::string name, std::string pages, std::string cost) {
        return PadRight(std::move(name), nameWidth + 2) + " " +
               PadLeft(std::move(pages), pagesWidth) + "  " + PadLeft(std::move(cost), costWidth) +
               "\r\n";
    };
    const std::string hyphens = line(std::string(nameWidth, '-'), std::string(pagesWidth, '-'),
                                     std::string(costWidth, '-'));
    std::string out = std::string("Print totals by ") + StepWord() + ": " +
                      (rows.empty() ? "" : rows.front().label) + " to " +
                      (rows.empty() ? "" : rows.back().label) + "\r\n\r\n";
    out += line(StepName(), "Pages", "Cost");
    out += hyphens;
    for (const Row& row : rows) {
        out += line(row.label, std::to_string(row.pages), CostText(row.cost, mode_));
    }
    out += hyphens;
    out += line("Totals", std::to_string(totalPages_), CostText(totalCost_, mode_));
    return out;
}

}  // namespace tally::reports
