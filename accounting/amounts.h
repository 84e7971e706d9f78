// Amounts as the operator types them and as they are shown and logged.
//
// Every amount is a signed 32-bit count of the account's smallest unit. In integer mode that
// count is what the operator types and sees; in decimal mode the operator works in whole
// currency units and one unit is `AmountScale` stored units. The settings decide the mode; the
// functions here take it as an `AmountMode` so that they need nothing but their arguments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct AmountMode {
    bool Decimal = false;          // Currency format with a locale that has currency digits
    int CurrencyDigits = 0;        // fractional digits shown in decimal mode
    std::int32_t AmountScale = 1;  // stored units per displayed unit: 10 ^ CurrencyDigits
};

// Locales give 0 to 3 currency digits; ten or more would not fit a 32-bit scale.
inline constexpr int kMaxAmountDigits = 9;

// The mode for a number format: decimal only for the Currency format with currency digits.
// Digits above kMaxAmountDigits are held at that limit so the scale never overflows.
AmountMode MakeAmountMode(bool currencyFormat, int currencyDigits);

inline AmountMode IntegerAmountMode() {
    return AmountMode{};
}

enum class AmountStatus {
    Read,        // Units holds the amount (0 when the text holds no number)
    OutOfRange,  // the amount, as typed or once scaled, does not fit a signed 32-bit integer
};

struct AmountReading {
    AmountStatus Status = AmountStatus::Read;
    std::int32_t Units = 0;

    bool operator==(const AmountReading&) const = default;
};

// Converts the text of an amount field to stored units.
//
// Integer mode: leading white space, an optional sign, then digits up to the first other
// character ("12.75" reads 12, "abc" reads 0).
// Decimal mode: a decimal number with optional fraction and exponent, "." as its separator
// whatever the C locale says (so a comma ends it), multiplied by the scale; the product is
// rounded to two decimals and then truncated toward zero. The two-decimal step is what makes
// 0.29 read as 29 units rather than 28 and 1.99999 as 200, as operators have always seen it.
AmountReading ReadAmount(std::string_view text, const AmountMode& mode);

// "%ld" in integer mode; in decimal mode the amount in displayed units with CurrencyDigits
// decimals ("-1.50" for -150 with two digits). The decimal point is always ".".
std::string AmountText(std::int32_t units, const AmountMode& mode);

// As AmountText, right-aligned in 8 characters ("%8ld" or "%8.Nf"); wider amounts come out
// whole.
std::string AmountColumnText(std::int32_t units, const AmountMode& mode);
