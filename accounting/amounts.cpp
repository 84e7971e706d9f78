#include "accounting/amounts.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace {

constexpr std::int64_t kMinUnits = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMaxUnits = std::numeric_limits<std::int32_t>::max();

constexpr AmountReading Refused() {
    return {AmountStatus::OutOfRange, 0};
}

// The white space that the C library's number readers skip, independent of any locale.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t SkipBlanks(std::string_view text, std::size_t at) {
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
    return at;
}

std::int32_t ScaleOf(const AmountMode& mode) {
    return mode.amountScale > 0 ? mode.amountScale : 1;
}

// ---------------------------------------------------------------------------------------------
// Integer mode
// ---------------------------------------------------------------------------------------------

AmountReading ReadIntegerAmount(std::string_view text) {
    std::size_t at = SkipBlanks(text, 0);
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    // Accumulated as a magnitude in 64 bits and checked at every digit, so any number of
    // digits is safe and one past the 32-bit limit is already refused.
    std::int64_t magnitude = 0;
    const std::int64_t limit = negative ? -kMinUnits : kMaxUnits;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > limit) {
            return Refused();
        }
    }
    return {AmountStatus::Read, static_cast<std::int32_t>(negative ? -magnitude : magnitude)};
}

// ---------------------------------------------------------------------------------------------
// Decimal mode
// ---------------------------------------------------------------------------------------------

// The longest leading part of the text that reads as a decimal number, and where its first
// significant digit stands, so that numbers far too large or too small to matter are settled
// without converting them.
struct DecimalToken {
    std::string_view digits;     // the number without its leading blanks and its "+" sign
    bool allZero = true;         // no digit other than 0 in the mantissa
    std::int64_t magnitude = 0;  // decimal exponent of the first significant digit
};

std::optional<DecimalToken> ScanDecimal(std::string_view text) {
    std::size_t at = SkipBlanks(text, 0);
    std::size_t start = at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        if (text[at] == '+') {
            start = at + 1;  // from_chars takes no "+"
        }
        ++at;
    }
    DecimalToken token;
    std::int64_t integerDigits = 0;  // significant digits before the point
    std::int64_t leadingZeros = 0;   // zeros after the point before the first significant one
    std::size_t mantissaDigits = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at, ++mantissaDigits) {
        if (text[at] != '0') {
            token.allZero = false;
        }
        if (!token.allZero) {
            ++integerDigits;
        }
    }
    if (at < text.size() && text[at] == '.') {
        ++at;
        for (; at < text.size() && IsDigit(text[at]); ++at, ++mantissaDigits) {
            if (text[at] != '0') {
                token.allZero = false;
            }
            if (token.allZero) {
                ++leadingZeros;
            }
        }
    }
    if (mantissaDigits == 0) {
        return std::nullopt;
    }

    std::int64_t exponent = 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        std::size_t e = at + 1;
        bool negativeExponent = false;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) {
            negativeExponent = text[e] == '-';
            ++e;
        }
        if (e < text.size() && IsDigit(text[e])) {
            // Held below a bound far beyond any double, so the sum below cannot overflow.
            constexpr std::int64_t kExponentCap = 1'000'000'000;
            for (; e < text.size() && IsDigit(text[e]); ++e) {
                if (exponent < kExponentCap) {
                    exponent = exponent * 10 + (text[e] - '0');
                }
            }
            if (negativeExponent) {
                exponent = -exponent;
            }
            at = e;
        }
    }
    token.digits = text.substr(start, at - start);
    token.magnitude =
        integerDigits > 0 ? integerDigits - 1 + exponent : -(leadingZeros + 1) + exponent;
    return token;
}

// "%.2f" of the product, then its integer part: the text step is kept on purpose (see the
// header), done with to_chars so that the C locale can never turn the point into a comma.
std::optional<std::int64_t> TwoDecimalWholePart(double product) {
    std::array<char, 64> text{};
    auto [end, error] =
        std::to_chars(text.data(), text.data() + text.size(), product, std::chars_format::fixed, 2);
    if (error != std::errc{}) {
        return std::nullopt;
    }
    std::string_view printed(text.data(), static_cast<std::size_t>(end - text.data()));
    bool negative = !printed.empty() && printed.front() == '-';
    if (negative) {
        printed.remove_prefix(1);
    }
    std::int64_t whole = 0;
    for (char c : printed) {
        if (!IsDigit(c)) {
            break;
        }
        whole = whole * 10 + (c - '0');
    }
    return negative ? -whole : whole;
}

AmountReading ReadDecimalAmount(std::string_view text, std::int32_t scale) {
    std::optional<DecimalToken> token = ScanDecimal(text);
    if (!token || token->allZero) {
        return {AmountStatus::Read, 0};
    }
    // At 10^10 displayed units or more the amount is out of range whatever the scale; below
    // 10^-13 it stays under half a hundredth of a unit even at the largest scale.
    if (token->magnitude >= 10) {
        return Refused();
    }
    if (token->magnitude <= -13) {
        return {AmountStatus::Read, 0};
    }

    double value = 0.0;
    const char* first = token->digits.data();
    const char* last = first + token->digits.size();
    if (std::from_chars(first, last, value).ec != std::errc{}) {
        return Refused();
    }
    const double product = value * static_cast<double>(scale);
    if (!std::isfinite(product) || std::fabs(product) >= 1e12) {
        return Refused();
    }

    std::optional<std::int64_t> whole = TwoDecimalWholePart(product);
    if (!whole || *whole < kMinUnits || *whole > kMaxUnits) {
        return Refused();
    }
    return {AmountStatus::Read, static_cast<std::int32_t>(*whole)};
}

// ---------------------------------------------------------------------------------------------
// Display
// ---------------------------------------------------------------------------------------------

}  // namespace

AmountReading ReadAmount(std::string_view text, const AmountMode& mode) {
    return InDecimalMode(mode) ? ReadDecimalAmount(text, ScaleOf(mode)) : ReadIntegerAmount(text);
}
