#include "reports/print_statistics.h"

#include <algorithm>
#include <cstring>

namespace tally::reports {
namespace {

constexpr std::size_t kDateField = 8;
constexpr std::size_t kPagesField = 11;
constexpr std::size_t kCostField = 12;
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
    row->pages += pages;
    row->cost.Add(cost);
    totalPages_ += pages;
    totalCost_.Add(cost);
}

std::string PrintStatistics::Report() const {
    const std::size_t nameWidth = longestName_ + 2;
    const std::size_t costWidth = CostsInDecimal(mode_) ? kDecimalCostWidth : kIntegerCostWidth;
    auto heads = [&](std::string name, const char* pages, const char* cost) {
        return PadRight(std::move(name), nameWidth) + " " + PadLeft(pages, kPagesWidth) + "  " +
               PadLeft(cost, costWidth) + "\r\n";
    };
    auto row = [&](const std::string& name, std::int64_t pages, const Cost& cost) {
        const std::string costText = CostText(cost, mode_);
        return PadRight(name, nameWidth) + " " + PadLeft(std::to_string(pages), kPagesWidth) +
               "  " +
               PadLeft(costText, CostsInDecimal(mode_) ? kDecimalCostWidth : kIntegerCostWidth) +
               "\r\n";
    };
    const std::string hyphens(longestName_, '-');

    std::string out = title_ + " print totals: " + firstDate_ + " to " + lastDate_ + "\r\n\r\n";
    out += heads(category_.name, "Pages", "Cost");
    out += heads(hyphens, "-----", "----");
    for (const Row* r : SortedRows()) {
        out += row(r->name, r->pages, r->cost);
    }
    out += heads(hyphens, "-----", "------");
    out += row("Totals", totalPages_, totalCost_);
    return out;
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
    if (percentRead > shown_) {
        shown_ = percentRead;
        return true;
    }
    return false;
}

}  // namespace tally::reports
