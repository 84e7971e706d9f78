#include "program/number_format.h"

#include <algorithm>
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
    std::int64_t scale = 1;
    for (int i = 0; i < mode.currencyDigits && i < kMaxAmountDigits; ++i) {
        scale *= 10;
    }
    if (mode.currencyDigits <= kMaxAmountDigits && scale == ScaleOf(mode)) {
        // Whole units and their fraction: the digits the fixed-point text of the quotient
        // shows, without a round trip through a double.
        const std::int64_t magnitude = units < 0 ? -static_cast<std::int64_t>(units) : units;
        char text[32];
        char* at = text;
        if (units < 0) {
            *at++ = '-';
        }
        at = std::to_chars(at, text + sizeof text, magnitude / scale).ptr;
        *at++ = '.';
        char fraction[16];
        char* fractionEnd =
            std::to_chars(fraction, fraction + sizeof fraction, magnitude % scale).ptr;
        const auto fractionDigits = static_cast<int>(fractionEnd - fraction);
        for (int i = fractionDigits; i < mode.currencyDigits; ++i) {
            *at++ = '0';
        }
        at = std::copy(fraction, fractionEnd, at);
        return std::string(text, at);
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
