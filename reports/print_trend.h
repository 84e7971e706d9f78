// Pages and cost of the print jobs per day, week (from Monday) or month: the print jobs the
// statistics count (ASCII delimited print-job records), by the date in field 8 read in the log's
// date order. Every step from the first to the last one met is a row, those without print jobs
// too, so that a chart shows the quiet weeks as well; a run of more than kQuietStepsListed quiet
// steps is one row ("2026-02-02 to 2026-09-28"), so that the rows follow the log's lines and
// never the span of its dates (a line of the year 1 and one of the year 9999 are three rows).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reports/log_records.h"
#include "reports/report_periods.h"

namespace tally::reports {

enum class TrendStep { Day, Week, Month };

// Up to a month of quiet days (31 weeks, 31 months) is listed step by step.
inline constexpr std::int64_t kQuietStepsListed = 31;

class PrintTrend {
  public:
    // `cut` gives the date order and, when it has ends, the period.
    PrintTrend(TrendStep step, PeriodCut cut, AmountMode mode);
    PrintTrend(const PrintTrend&) = delete;  // lastRow_ points into rows_
    PrintTrend& operator=(const PrintTrend&) = delete;

    void Take(std::string_view line);

    struct Row {
        // 2026-01-31 (day, week's Monday) or 2026-01 (month); a long quiet run "<first> to
        // <last>"
        std::string label;
        std::int64_t pages = 0;
        Cost cost;
    };
    // The steps in order, the empty ones between them included.
    std::vector<Row> Rows() const;
    std::int64_t TotalPages() const { return totalPages_; }
    const Cost& TotalCost() const { return totalCost_; }
    std::uint64_t UnreadableDates() const { return unreadableDates_; }
    // "Day", "Week" or "Month": heads the first column.
    const char* StepName() const;
    // "day", "week" or "month", for the heading.
    std::string StepWord() const;

    // "Print totals by month: <first> to <last>", or "Print totals by month: no print jobs
    // <period>" when none counted.
    std::string Heading() const;
    // The heading, the columns and the totals, as the statistics lay them out.
    std::string Report() const;

  private:
    CalendarDay StepStart(const CalendarDay& day) const;
    // The step's number counted from a fixed start, and back: steps apart differ by their count.
    std::int64_t StepNumber(const CalendarDay& start) const;
    CalendarDay StepOfNumber(std::int64_t number) const;
    std::string Label(const CalendarDay& start) const;

    TrendStep step_;
    PeriodCut cut_;
    AmountMode mode_;
    std::map<std::int32_t, Row> rows_;  // by the step's first day (Key)
    std::int32_t lastDayKey_ = -1;      // the log is in order: most lines fall on the last day
    Row* lastRow_ = nullptr;
    std::int64_t totalPages_ = 0;
    Cost totalCost_;
    std::uint64_t unreadableDates_ = 0;
    DelimitedFields fields_;
};

}  // namespace tally::reports
