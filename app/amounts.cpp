#include "app/amounts.h"

AmountMode AmountModeOf(const Settings& settings) {
    return MakeAmountMode(settings.NumericalFormat == kNumericalFormatCurrency,
                          settings.CurrencyDigits);
}

bool AmountsInDecimal(const Settings& settings) {
    return AmountModeOf(settings).Decimal;
}

std::string FormatAmount(std::int32_t amount, const Settings& settings) {
    return AmountText(amount, AmountModeOf(settings));
}

std::string FormatAmountColumn(std::int32_t amount, const Settings& settings) {
    return AmountColumnText(amount, AmountModeOf(settings));
}
