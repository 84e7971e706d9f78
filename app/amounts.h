// Amounts as the operator sees them. Every amount is a signed 32-bit count of the account's
// smallest unit; it is shown as a decimal number only for the Currency format with a locale that
// has currency digits, and as the plain integer ("%ld") in every other case.
#pragma once

#include <cstdint>
#include <string>

#include "app/settings.h"

bool AmountsInDecimal(const Settings& settings);

// "-1.50" for -150 with two currency digits; "-150" in integer mode.
std::string FormatAmount(std::int32_t amount, const Settings& settings);

// As FormatAmount, but decimal amounts right-aligned in the column width ("%8.2f").
std::string FormatAmountColumn(std::int32_t amount, const Settings& settings);
