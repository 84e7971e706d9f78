#include "reports/log_records.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace tally::reports {
namespace {

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

// The next double quote from `from`, or `end`. Quoted texts are the long part of a record, so
// they are searched with the library's vectorised memchr rather than byte by byte.
const char* NextQuote(const char* from, const char* end) {
    if (from >= end) {
        return end;
    }
    const void* found = std::memchr(from, '"', static_cast<std::size_t>(end - from));
    return found != nullptr ? static_cast<const char*>(found) : end;
}

std::string_view Columns(std::string_view line, std::size_t first, std::size_t width) {
    if (line.size() <= first) {
        return {};
    }
    return line.substr(first, width);
}

}  // namespace

std::string_view WithoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return line;
}

std::size_t DelimitedFields::Split(std::string_view line) {
    line = WithoutLineEnd(line);
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    count_ = 0;
    const char* at = begin;
    for (;;) {
        const char* fieldEnd = at;
        std::string_view inside;
        bool doubled = false;
        if (at < end && *at == '"') {
            // A comma inside the quotes belongs to the field; a quote that never closes protects
            // nothing, and the field ends at the next comma as any other.
            const char* quote = NextQuote(at + 1, end);
            while (quote + 1 < end && quote[1] == '"') {  // "" stands for a quote inside
                doubled = true;
                quote = NextQuote(quote + 2, end);
            }
            if (quote < end) {
                inside = std::string_view(at + 1, static_cast<std::size_t>(quote - at - 1));
                fieldEnd = quote + 1;
            } else {
                doubled = false;  // all after the opening quote, up to the comma, as it stands
            }
        }
        while (fieldEnd < end && *fieldEnd != ',') {
            ++fieldEnd;
        }
        const std::string_view raw(at, static_cast<std::size_t>(fieldEnd - at));
        raw_[count_] = raw;
        if (inside.data() != nullptr) {
            inside_[count_] = inside;
        } else {
            inside_[count_] = (!raw.empty() && raw.front() == '"') ? raw.substr(1) : raw;
        }
        doubled_[count_] = doubled;
        ++count_;
        if (fieldEnd >= end || count_ == kPrintJobFields) {
            return count_;
        }
        at = fieldEnd + 1;
    }
}

std::string_view DelimitedFields::Text(std::size_t number) const {
    const std::string_view inside = inside_[number - 1];
    if (!doubled_[number - 1]) {
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

Cost ReadCost(std::string_view text, const AmountMode& mode) {
    Cost cost;
    if (InDecimalMode(mode)) {
        cost.decimal = ReadDecimalRule(text);
    } else {
        cost.whole = ReadIntegerRule(text);
    }
    return cost;
}

std::string CostText(const Cost& cost, const AmountMode& mode) {
    return InDecimalMode(mode) ? FixedPointText(cost.decimal, mode.currencyDigits)
                               : std::to_string(cost.whole);
}

bool IsTransactionRecord(const DelimitedFields& fields) {
    // Every writer of a transaction record leaves fields 10 and 11 empty, whatever the tag or the
    // charge reason in field 2; a print job always has its copies and pages there. The tags are
    // no test: a document title, printer, queue or client code may well begin with one.
    return fields.Count() >= kPagesField && fields.Raw(kPagesField - 1).empty() &&
           fields.Raw(kPagesField).empty();
}

std::int64_t SaturatingAdd(std::int64_t sum, std::int64_t value) {
    std::int64_t result = 0;
    if (__builtin_add_overflow(sum, value, &result)) {
        return value > 0 ? std::numeric_limits<std::int64_t>::max()
                         : std::numeric_limits<std::int64_t>::min();
    }
    return result;
}

void Cost::Add(const Cost& other) {
    whole = SaturatingAdd(whole, other.whole);
    decimal += other.decimal;
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
    if (fields.Count() < kPagesField || IsTransactionRecord(fields)) {
        return out;
    }
    out.pages = ReadIntegerRule(fields.Raw(kPagesField));
    if (out.pages != 0 && fields.Count() >= kCostField) {
        out.cost = ReadCost(fields.Raw(kCostField), mode);
    }
    return out;
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

}  // namespace tally::reports
