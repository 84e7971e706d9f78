#include "app/amounts.h"

#include <array>
#include <cstdio>

namespace {

std::string FormatInteger(std::int32_t amount) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%ld", static_cast<long>(amount));
    return text.data();
}

// Same output as AmountFormat/AmountColumnFormat, without handing printf a format that lives
// in a modifiable value.
std::string FormatDecimal(std::int32_t amount, const Settings& settings, int width) {
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%*.*f", width, settings.CurrencyDigits,
                  static_cast<double>(amount) / static_cast<double>(settings.AmountScale));
    return text.data();
}

}  // namespace

bool AmountsInDecimal(const Settings& settings) {
    return settings.NumericalFormat == kNumericalFormatCurrency && settings.CurrencyDigits > 0;
}

std::string FormatAmount(std::int32_t amount, const Settings& settings) {
    return AmountsInDecimal(settings) ? FormatDecimal(amount, settings, 0) : FormatInteger(amount);
}

std::string FormatAmountColumn(std::int32_t amount, const Settings& settings) {
    return AmountsInDecimal(settings) ? FormatDecimal(amount, settings, 8) : FormatInteger(amount);
}
