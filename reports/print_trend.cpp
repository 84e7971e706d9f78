#include "reports/print_trend.h"

#include <algorithm>

#include "reports/report_words.h"

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

std::int64_t PrintTrend::StepNumber(const CalendarDay& start) const {
    switch (step_) {
        case TrendStep::Week:
            // Weeks start on Mondays; 1970-01-05 was one.
            return (DayNumber(start) - 4) / 7;
        case TrendStep::Month:
            return std::int64_t{start.year} * 12 + (start.month - 1);
        case TrendStep::Day:
            break;
    }
    return DayNumber(start);
}

CalendarDay PrintTrend::StepOfNumber(std::int64_t number) const {
    switch (step_) {
        case TrendStep::Week:
            return DayOfNumber(number * 7 + 4);
        case TrendStep::Month: {
            const std::int64_t year = number >= 0 ? number / 12 : (number - 11) / 12;
            return {static_cast<int>(year), static_cast<int>(number - year * 12) + 1, 1};
        }
        case TrendStep::Day:
            break;
    }
    return DayOfNumber(number);
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
    std::int64_t previous = 0;
    for (const auto& [key, row] : rows_) {
        const std::int64_t number =
            StepNumber(CalendarDay{key / 10000, key / 100 % 100, key % 100});
        if (!rows.empty()) {
            const std::int64_t quiet = number - previous - 1;
            if (quiet > kQuietStepsListed) {
                rows.push_back(
                    {Label(StepOfNumber(previous + 1)) + " to " + Label(StepOfNumber(number - 1)),
                     0,
                     {}});
            } else {
                for (std::int64_t step = previous + 1; step < number; ++step) {
                    rows.push_back({Label(StepOfNumber(step)), 0, {}});
                }
            }
        }
        rows.push_back(row);
        previous = number;
    }
    return rows;
}

std::string PrintTrend::Heading() const {
    if (rows_.empty()) {
        return "Print totals by " + StepWord() + ": no print jobs " + PeriodWords(cut_.period);
    }
    const std::vector<Row> rows = Rows();
    return "Print totals by " + StepWord() + ": " + rows.front().label + " to " + rows.back().label;
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
    std::string out = Heading() + "\r\n\r\n";
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
