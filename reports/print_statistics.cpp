#include "reports/print_statistics.h"

#include <algorithm>
#include <cstring>

#include "reports/report_words.h"

namespace tally::reports {
namespace {

constexpr std::size_t kDateChars = 11;
constexpr std::size_t kIntegerCostWidth = 6;
constexpr std::size_t kDecimalCostWidth = 8;
constexpr std::size_t kPagesWidth = 6;

// Case ignored as the rows are compared (A-Z as a-z), other bytes by their unsigned values.
bool NameBefore(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(FoldCase(a[i]));
        const auto y = static_cast<unsigned char>(FoldCase(b[i]));
        if (x != y) {
            return x < y;
        }
    }
    return a.size() < b.size();
}

}  // namespace

PrintStatistics::PrintStatistics(StatisticsCategory category, std::string title, bool groupMode,
                                 AmountMode mode)
    : category_(category),
      title_(std::move(title)),
      groupMode_(groupMode),
      mode_(mode),
      longestName_(std::strlen(category.name)) {}

PrintStatistics::Row* PrintStatistics::FindRow(std::string_view key) {
    const std::uint32_t row = index_.Find(key);
    return row == NameIndex::kMissing ? nullptr : &rows_[row];
}

PrintStatistics::Row& PrintStatistics::AddRow(std::string_view key) {
    const auto next = static_cast<std::uint32_t>(rows_.size());
    const std::uint32_t row = index_.Insert(key, next);
    if (row == next) {
        rows_.push_back(Row{std::string(key), 0, {}});
        longestName_ = std::max(longestName_, key.size());
    }
    return rows_[row];
}

void PrintStatistics::AddMember(const std::string& fullName) {
    AddRow(fullName);
}

void PrintStatistics::TakeDate(std::string_view date) {
    date = date.substr(0, kDateChars);
    if (!dateSeen_) {
        firstDate_.assign(date);
        dateSeen_ = true;
    } else {
        lastDate_.assign(date);
    }
}

void PrintStatistics::Take(std::string_view line) {
    if (line.find(',') == std::string_view::npos) {
        return;  // Readable records and empty lines
    }
    const std::size_t count = fields_.Split(line);
    if (IsTransactionRecord(fields_)) {
        return;
    }
    if (cut_) {
        if (count < kDateField) {
            return;  // no date: in no period, and no print job either
        }
        const std::optional<CalendarDay> day =
            ReadLogDate(fields_.Text(kDateField), cut_->dateOrder);
        if (!day) {
            ++unreadableDates_;
            return;
        }
        if (!cut_->period.Contains(*day)) {
            return;
        }
    }
    if (count >= kDateField) {
        TakeDate(fields_.Text(kDateField));
    }
    if (count < kPrintJobFields) {
        return;
    }
    const std::string_view key = fields_.Text(category_.keyField);
    Row* row = FindRow(key);
    if (row == nullptr) {
        if (groupMode_) {
            return;  // not a member
        }
        row = &AddRow(key);
    }
    const std::int64_t pages = ReadIntegerRule(fields_.Raw(kPagesField));
    if (pages <= 0) {
        return;
    }
    const Cost cost = ReadCost(fields_.Raw(kCostField), mode_);
    row->pages = SaturatingAdd(row->pages, pages);
    row->cost.Add(cost);
    totalPages_ = SaturatingAdd(totalPages_, pages);
    totalCost_.Add(cost);
}

std::string PrintStatistics::Report() const {
    // The Pages and Cost columns have their usual widths; a sum too wide for one widens the
    // column, its heading and its hyphen runs alike, so the columns stay aligned.
    const std::vector<const Row*> sorted = SortedRows();
    std::size_t pagesWidth = kPagesWidth;
    std::size_t costWidth = InDecimalMode(mode_) ? kDecimalCostWidth : kIntegerCostWidth;
    const std::size_t usualCostWidth = costWidth;
    auto widen = [&](std::int64_t pages, const Cost& cost) {
        pagesWidth = std::max(pagesWidth, std::to_string(pages).size());
        costWidth = std::max(costWidth, CostText(cost, mode_).size());
    };
    for (const Row* r : sorted) {
        widen(r->pages, r->cost);
    }
    widen(totalPages_, totalCost_);
    const std::size_t nameWidth = longestName_ + 2;
    auto line = [&](std::string name, std::string pages, std::string cost) {
        return PadRight(std::move(name), nameWidth) + " " + PadLeft(std::move(pages), pagesWidth) +
               "  " + PadLeft(std::move(cost), costWidth) + "\r\n";
    };
    auto hyphens = [&](std::size_t usual, std::size_t usualWidth, std::size_t width) {
        return std::string(usual + (width - usualWidth), '-');
    };
    auto row = [&](const std::string& name, std::int64_t pages, const Cost& cost) {
        return line(name, std::to_string(pages), CostText(cost, mode_));
    };
    const std::string nameHyphens(longestName_, '-');
    const std::string pagesHyphens = hyphens(5, kPagesWidth, pagesWidth);

    std::string out = Heading() + "\r\n\r\n";
    out += line(category_.name, "Pages", "Cost");
    out += line(nameHyphens, pagesHyphens, hyphens(4, usualCostWidth, costWidth));
    for (const Row* r : sorted) {
        out += row(r->name, r->pages, r->cost);
    }
    out += line(nameHyphens, pagesHyphens, hyphens(6, usualCostWidth, costWidth));
    out += row("Totals", totalPages_, totalCost_);
    return out;
}

std::string PrintStatistics::Heading(bool inWords) const {
    if (!dateSeen_ && (cut_ || inWords)) {
        return title_ + " print totals: no print jobs " + PeriodWords(Period());
    }
    return title_ + " print totals: " + firstDate_ + " to " + lastDate_;
}

std::vector<const PrintStatistics::Row*> PrintStatistics::SortedRows() const {
    std::vector<const Row*> sorted;
    sorted.reserve(rows_.size());
    for (const Row& r : rows_) {
        sorted.push_back(&r);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const Row* a, const Row* b) { return NameBefore(a->name, b->name); });
    return sorted;
}

bool StatisticsProgress::Update(int percentRead) {
    // A log that grows while it is read would pass its length at open: 100 is the most shown.
    percentRead = std::min(percentRead, 100);
    if (percentRead > shown_) {
        shown_ = percentRead;
        return true;
    }
    return false;
}

}  // namespace tally::reports
