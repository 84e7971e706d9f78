// The printing statistics: pages and cost of the print jobs in an accounting log, totalled per
// user, print server, printer, queue or client code, or per member of one group, and written as
// a table sorted by name.
//
// Only ASCII delimited print-job records count: Readable lines, transaction records and lines
// with fewer than 12 fields are passed over. Keys that differ only in case are one row, spelled
// as first met. There is no limit on the number of rows, and keys are kept whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reports/log_records.h"
#include "reports/name_index.h"
#include "reports/report_periods.h"

namespace tally::reports {

// What the totals are taken by: the key field of a print-job record and the category's name,
// which heads the first column and names the report.
struct StatisticsCategory {
    std::size_t keyField = 1;
    const char* name = "User";
};

inline constexpr StatisticsCategory kByUser{1, "User"};
inline constexpr StatisticsCategory kByPrintServer{4, "Print Server"};
inline constexpr StatisticsCategory kByPrinter{3, "Printer"};
inline constexpr StatisticsCategory kByQueue{5, "Queue"};
inline constexpr StatisticsCategory kByClientCode{7, "Client code"};

class PrintStatistics {
  public:
    // `title` names the report: the category's name, or in group mode the group's name.
    // In group mode only the rows added by AddMember are counted.
    PrintStatistics(StatisticsCategory category, std::string title, bool groupMode,
                    AmountMode mode);

    // A row for a member of the group, made before the log is read.
    void AddMember(const std::string& fullName);
    std::size_t RowCount() const { return rows_.size(); }

    // From now on only print jobs dated inside the cut's period count, and only their dates head
    // the report.
    void CutToPeriod(const PeriodCut& cut) { cut_ = cut; }
    // Lines that would have counted but whose date could not be read (with a period only).
    std::uint64_t UnreadableDates() const { return unreadableDates_; }

    // Counts one line of the log.
    void Take(std::string_view line);

    // The heading line: "<title> print totals: <first date> to <last date>", the dates of the
    // first and last lines counted. When a period holds no line, what happened in words:
    // "<title> print totals: no print jobs from 2026-01-01 to 2026-01-31". Without a period a
    // log without lines keeps the empty dates the window's report has always had, unless
    // `inWords` (the HTML page: "... no print jobs in the log").
    std::string Heading(bool inWords = false) const;
    // The whole report: heading, column heads, one row per name in order of the names (case
    // ignored), and the totals.
    std::string Report() const;
    // The period the lines were cut to; one without ends when none.
    DatePeriod Period() const { return cut_ ? cut_->period : DatePeriod{}; }

    const std::string& Title() const { return title_; }
    std::int64_t TotalPages() const { return totalPages_; }
    const Cost& TotalCost() const { return totalCost_; }

    struct Row {
        std::string name;
        std::int64_t pages = 0;
        Cost cost;
    };
    // The rows in order of first appearance.
    const std::vector<Row>& Rows() const { return rows_; }
    // The rows in the report's order: by name, case ignored.
    std::vector<const Row*> SortedRows() const;

  private:
    Row* FindRow(std::string_view key);
    Row& AddRow(std::string_view key);
    void TakeDate(std::string_view date);

    StatisticsCategory category_;
    std::string title_;
    bool groupMode_ = false;
    AmountMode mode_;
    std::vector<Row> rows_;
    NameIndex index_{NameIndex::Case::Ignored};  // name, case ignored -> its row in rows_
    std::size_t longestName_ = 0;                // L
    bool dateSeen_ = false;
    std::string firstDate_;
    std::string lastDate_;
    std::int64_t totalPages_ = 0;
    Cost totalCost_;
    DelimitedFields fields_;
    std::optional<PeriodCut> cut_;
    std::uint64_t unreadableDates_ = 0;
};

// The shown percentage of a statistics run: every whole percent a line end reaches.
class StatisticsProgress {
  public:
    bool Update(int percentRead);
    int Shown() const { return shown_; }

  private:
    int shown_ = 0;
};

}  // namespace tally::reports
