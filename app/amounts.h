// Amounts as the operator sees them, in the number format the settings hold. The rule itself
// lives in accounting/amounts.h; these take the mode from the settings.
#pragma once

#include <cstdint>
#include <string>

#include "accounting/amounts.h"
#include "app/settings.h"

// Decimal for the Currency format with a locale that has currency digits, integer otherwise.
AmountMode AmountModeOf(const Settings& settings);

bool AmountsInDecimal(const Settings& settings);

// "-1.50" for -150 with two currency digits; "-150" in integer mode.
std::string FormatAmount(std::int32_t amount, const Settings& settings);

// As FormatAmount, right-aligned in the column width ("%8.2f" or "%8ld").
std::string FormatAmountColumn(std::int32_t amount, const Settings& settings);
