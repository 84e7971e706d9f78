#include "reports/log_records.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace tally::reports {
namespace {

constexpr std::size_t kPagesField = 11;
constexpr std::size_t kCostField = 12;
constexpr std::size_t kReadablePagesColumn = 58;
constexpr std::size_t kReadablePagesWidth = 4;
constexpr std::size_t kReadableCostColumn = 63;
constexpr std::size_t kReadableCostWidth = 8;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view WithoutLeadingBlanks(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    return text.substr(i);
}

std::string_view WithoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return line;
}

// Where a field that starts at `at` with a double quote ends: one past its closing quote, with
// "" inside standing for a quote. npos when it has no closing quote.
std::size_t EndOfQuotedField(std::string_view line, std::size_t at) {
    for (std::size_t i = at + 1; i < line.size(); ++i) {
        if (line[i] != '"') {
            continue;
        }
        if (i + 1 < line.size() && line[i + 1] == '"') {
            ++i;
            continue;
        }
        return i + 1;
    }
    return std::string_view::npos;
}

std::string_view Columns(std::string_view line, std::size_t first, std::size_t width) {
    if (line.size() <= first) {
        return {};
    }
    return line.substr(first, width);
}

}  // namespace

std::size_t DelimitedFields::Split(std::string_view line) {
    line = WithoutLineEnd(line);
    count_ = 0;
    std::size_t at = 0;
    for (;;) {
        std::size_t end = at;
        if (at < line.size() && line[at] == '"') {
            // A comma inside the quotes belongs to the field; a quote that never closes protects
            // nothing, so the field ends at the next comma as any other.
            const std::size_t closing = EndOfQuotedField(line, at);
            end = closing == std::string_view::npos ? at : closing;
        }
        end = std::min(line.find(',', end), line.size());
        raw_[count_++] = line.substr(at, end - at);
        if (end >= line.size() || count_ == kPrintJobFields) {
            return count_;
        }
        at = end + 1;
    }
}

std::string_view DelimitedFields::Text(std::size_t number) const {
    std::string_view raw = Raw(number);
    if (raw.empty() || raw.front() != '"') {
        return raw;
    }
    const std::size_t closing = EndOfQuotedField(raw, 0);
    if (closing == std::string_view::npos) {
        return raw.substr(1);  // no closing quote: everything after the opening one
    }
    std::string_view inside = raw.substr(1, closing - 2);  // what follows the closing quote goes
    if (inside.find("\"\"") == std::string_view::npos) {
        return inside;
    }
    unquoted_.clear();
    for (std::size_t i = 0; i < inside.size(); ++i) {
        unquoted_ += inside[i];
        if (inside[i] == '"') {
            ++i;  // "" stands for one quote
        }
    }
    return unquoted_;
}

std::int64_t ReadIntegerRule(std::string_view text) {
    text = WithoutLeadingBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (char c : text) {
        if (!IsDigit(c)) {
            break;
        }
        const int digit = c - '0';
        if (value > (kLimit - digit) / 10) {
            return negative ? std::numeric_limits<std::int64_t>::min() : kLimit;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

double ReadDecimalRule(std::string_view text) {
    text = WithoutLeadingBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Only digits or a point may begin the number: no "inf", "nan" or hexadecimal forms.
    if (text.empty() || !(IsDigit(text.front()) || text.front() == '.')) {
        return 0.0;
    }
    double value = 0.0;
    const auto result =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        return 0.0;
    }
    if (result.ec != std::errc{} || !std::isfinite(value)) {
        return 0.0;
    }
    return negative ? -value : value;
}

bool CostsInDecimal(const AmountMode& mode) {
    return mode.Decimal && mode.CurrencyDigits > 0;
}

Cost ReadCost(std::string_view text, const AmountMode& mode) {
    Cost cost;
    if (CostsInDecimal(mode)) {
        cost.decimal = ReadDecimalRule(text);
    } else {
        cost.whole = ReadIntegerRule(text);
    }
    return cost;
}

std::string CostText(const Cost& cost, const AmountMode& mode) {
    return CostsInDecimal(mode) ? FixedPointText(cost.decimal, mode.CurrencyDigits)
                                : std::to_string(cost.whole);
}

bool IsTransactionRecord(std::string_view line, const DelimitedFields& fields) {
    for (std::size_t quote = line.find('"'); quote != std::string_view::npos;
         quote = line.find('"', quote + 1)) {
        const std::string_view after = line.substr(quote + 1);
        if (after.starts_with("Deposit\"") || after.starts_with("SetLimit\"") ||
            after.starts_with("SetBal\"") || after.starts_with("Charge")) {
            return true;
        }
    }
    return fields.Count() >= kPagesField && fields.Raw(kPagesField - 1).empty() &&
           fields.Raw(kPagesField).empty();
}

PagesAndCost ReadableColumns(std::string_view line, const AmountMode& mode) {
    PagesAndCost out;
    out.pages = ReadIntegerRule(Columns(line, kReadablePagesColumn, kReadablePagesWidth));
    if (out.pages != 0) {
        out.cost = ReadCost(Columns(line, kReadableCostColumn, kReadableCostWidth), mode);
    }
    return out;
}

PagesAndCost DelimitedPagesAndCost(const DelimitedFields& fields, const AmountMode& mode) {
    PagesAndCost out;
    if (fields.Count() < kPagesField) {
        return out;
    }
    out.pages = ReadIntegerRule(fields.Raw(kPagesField));
    if (out.pages != 0 && fields.Count() >= kCostField) {
        out.cost = ReadCost(fields.Raw(kCostField), mode);
    }
    return out;
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldCase(x) == FoldCase(y);
           });
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string PadLeft(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.insert(0, width - text.size(), ' ');
    }
    return text;
}

std::string PadRight(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text;
}

}  // namespace tally::reports
