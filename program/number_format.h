// The number format of amounts: how a stored amount is shown, in the mode the settings decide.
//
// Every amount is a signed 32-bit count of the account's smallest unit. In integer mode that
// count is what the operator types and sees; in decimal mode (the Currency format with a locale
// that has currency digits) the operator works in whole currency units and one unit is
// `amountScale` stored units. The functions that take an `AmountMode` need nothing but their
// arguments; the ones that take the settings derive the mode from them.
#pragma once

#include <cstdint>
#include <string>

#include "program/settings.h"

struct AmountMode {
    bool decimal = false;          // Currency format with a locale that has currency digits
    int currencyDigits = 0;        // fractional digits shown in decimal mode
    std::int32_t amountScale = 1;  // stored units per displayed unit: 10 ^ currencyDigits
};

// Locales give 0 to 3 currency digits; ten or more would not fit a 32-bit scale.
inline constexpr int kMaxAmountDigits = 9;

// The mode for a number format: decimal only for the Currency format with currency digits.
// Digits above kMaxAmountDigits are held at that limit so the scale never overflows.
AmountMode MakeAmountMode(bool currencyFormat, int currencyDigits);

inline AmountMode IntegerAmountMode() {
    return AmountMode{};
}

// Decimal for the Currency format with a locale that has currency digits, integer otherwise.
AmountMode AmountModeOf(const Settings& settings);
// The mode of the settings in force (gSettings).
AmountMode CurrentAmountMode();
bool AmountsInDecimal(const Settings& settings);

// The one rule of decimal mode: the Currency format with at least one currency digit. Amounts
// typed and shown, and the costs the reports read from the log, follow it alike.
bool InDecimalMode(const AmountMode& mode);

// Right- or left-aligned in `width` characters; a longer text is kept whole.
std::string PadLeft(std::string text, std::size_t width);
std::string PadRight(std::string text, std::size_t width);

// "%ld" in integer mode; in decimal mode the amount in displayed units with currencyDigits
// decimals ("-1.50" for -150 with two digits). The decimal point is always ".".
std::string AmountText(std::int32_t units, const AmountMode& mode);

// As AmountText, right-aligned in 8 characters ("%8ld" or "%8.Nf"); wider amounts come out
// whole.
std::string AmountColumnText(std::int32_t units, const AmountMode& mode);

// "-1.50" for -150 with two currency digits; "-150" in integer mode.
std::string FormatAmount(std::int32_t amount, const Settings& settings);

// As FormatAmount, right-aligned in the column width ("%8.2f" or "%8ld").
std::string FormatAmountColumn(std::int32_t amount, const Settings& settings);

// `value` with `digits` decimals ("%.Nf"), rounded as printf rounds, "." whatever the locale:
// costs read from the log, which are never scaled.
std::string FixedPointText(double value, int digits);
