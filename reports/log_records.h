// The records of the accounting log as the reports read them.
//
// Two layouts share the log. ASCII delimited records are comma-separated fields, text fields in
// double quotes; a print-job record has at least 12 fields: 1 the user's full name, 3 printer,
// 4 print server, 5 queue, 7 client code, 8 date, 11 pages, 12 cost. Readable records are fixed
// columns: the user's own name in 0-9, pages in 58-61, cost in 63-70. Transaction records of
// account changes are in the log too; they never count as printing.
//
// Fields are found the way a CSV reader finds them: an empty field is a field, and a comma
// inside double quotes belongs to its field, so a printer or queue name holding a comma cannot
// move the fields after it. Numbers are read from the field as written: a quoted number is
// not a number and reads 0.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "program/number_format.h"

namespace tally::reports {

inline constexpr std::size_t kPrintJobFields = 12;
inline constexpr std::size_t kDateField = 8;
inline constexpr std::size_t kPagesField = 11;
inline constexpr std::size_t kCostField = 12;

// One padding rule for every report's columns (program/number_format.h).
using ::PadLeft;
using ::PadRight;

// `line` without the CR and LF bytes at its end (a line as the log reader hands it over).
std::string_view WithoutLineEnd(std::string_view line);

// The first fields of an ASCII delimited line, as written (quotes included) and as text (the
// quotes of a quoted field removed, with "" standing for one quote inside).
class DelimitedFields {
  public:
    // Splits `line` (its line end is not part of the last field) into at most kPrintJobFields
    // fields, in one pass over the line. Returns the number of fields found, which may be
    // smaller.
    std::size_t Split(std::string_view line);

    std::size_t Count() const { return count_; }
    // Field `number` counted from 1, as written in the line.
    std::string_view Raw(std::size_t number) const { return raw_[number - 1]; }
    // Field `number` without its quotes.
    std::string_view Text(std::size_t number) const;

  private:
    std::array<std::string_view, kPrintJobFields> raw_{};
    // Inside the quotes of a quoted field (whole when unquoted); still holding "" for a quote
    // when doubled_ says so, which Text then undoes.
    std::array<std::string_view, kPrintJobFields> inside_{};
    std::array<bool, kPrintJobFields> doubled_{};
    std::size_t count_ = 0;
    mutable std::string unquoted_;
};

// Integer rule: leading white space (blanks, tabs, line ends) skipped, an optional sign, then
// decimal digits up to the first other character; no digits read 0. Values beyond 64 bits are
// held at the largest 64-bit value of their sign.
std::int64_t ReadIntegerRule(std::string_view text);

// Decimal rule: leading white space, an optional sign, digits with an optional point and
// fraction, an optional exponent; "." whatever the C locale says. Nothing convertible reads 0.
double ReadDecimalRule(std::string_view text);

// Reports read and sum costs in the number format's mode (InDecimalMode, program/number_format.h):
// as integers in integer mode, as decimal numbers in decimal mode. Costs in the log are the
// numbers written there: they are never divided by the amount scale.

// sum + value, held at the largest or smallest 64-bit value instead of passing it.
std::int64_t SaturatingAdd(std::int64_t sum, std::int64_t value);

// A cost or a total of costs in the mode in force.
struct Cost {
    std::int64_t whole = 0;  // integer mode
    double decimal = 0.0;    // decimal mode

    void Add(const Cost& other);  // the whole part saturates
};

Cost ReadCost(std::string_view text, const AmountMode& mode);

// "%.Nf" with N = the currency digits in decimal mode, the integer otherwise; "." whatever the
// locale.
std::string CostText(const Cost& cost, const AmountMode& mode);

// A transaction record of an account change, told from a print job by what every writer of one
// writes: fields 10 and 11 are empty (where a print job has its copies and pages). Both reports
// pass over such a record; a tag word in a print job's title, printer or queue changes nothing.
bool IsTransactionRecord(const DelimitedFields& fields);

// Pages and cost of a Readable line: the integer in columns 58-61, and when that is not 0 the
// cost in columns 63-70. A line too short for a column has nothing in it.
struct PagesAndCost {
    std::int64_t pages = 0;
    Cost cost;
};
PagesAndCost ReadableColumns(std::string_view line, const AmountMode& mode);

// Pages (field 11) and, when they are not 0, cost (field 12) of an ASCII delimited line; nothing
// for a transaction record.
PagesAndCost DelimitedPagesAndCost(const DelimitedFields& fields, const AmountMode& mode);

// ASCII case folding as the reports compare names: A-Z as a-z, every other byte as it is.
inline char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

}  // namespace tally::reports
