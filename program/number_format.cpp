#include "program/number_format.h"

#include <charconv>

namespace {

constexpr std::size_t kColumnWidth = 8;

std::int32_t ScaleOf(const AmountMode& mode) {
    return mode.amountScale > 0 ? mode.amountScale : 1;
}

}  // namespace

bool InDecimalMode(const AmountMode& mode) {
    return mode.decimal && mode.currencyDigits > 0;
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

AmountMode MakeAmountMode(bool currencyFormat, int currencyDigits) {
    AmountMode mode;
    if (!currencyFormat || currencyDigits <= 0) {
        return mode;
    }
    mode.decimal = true;
    mode.currencyDigits = currencyDigits < kMaxAmountDigits ? currencyDigits : kMaxAmountDigits;
    for (int i = 0; i < mode.currencyDigits; ++i) {
        mode.amountScale *= 10;
    }
    return mode;
}

AmountMode AmountModeOf(const Settings& settings) {
    return MakeAmountMode(settings.NumericalFormat == kNumericalFormatCurrency,
                          settings.CurrencyDigits);
}

AmountMode CurrentAmountMode() {
    return AmountModeOf(gSettings);
}

bool AmountsInDecimal(const Settings& settings) {
    return InDecimalMode(AmountModeOf(settings));
}

std::string FixedPointText(double value, int digits) {
    // A double's largest finite value has 309 integer digits; the sign, the point and the
    // decimals come on top.
    std::string text(static_cast<std::size_t>(digits) + 330, '\0');
    auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value,
                                      std::chars_format::fixed, digits);
    text.resize(error == std::errc{} ? static_cast<std::size_t>(end - text.data()) : 0);
    return text;
}

std::string AmountText(std::int32_t units, const AmountMode& mode) {
    if (!InDecimalMode(mode)) {
        return std::to_string(units);
    }
    return FixedPointText(static_cast<double>(units) / static_cast<double>(ScaleOf(mode)),
                          mode.currencyDigits);
}

std::string AmountColumnText(std::int32_t units, const AmountMode& mode) {
    return PadLeft(AmountText(units, mode), kColumnWidth);
}

std::string FormatAmount(std::int32_t amount, const Settings& settings) {
    return AmountText(amount, AmountModeOf(settings));
}

std::string FormatAmountColumn(std::int32_t amount, const Settings& settings) {
    return AmountColumnText(amount, AmountModeOf(settings));
}
