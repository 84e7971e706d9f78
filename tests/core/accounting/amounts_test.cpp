#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <string>

#include "accounting/amounts.h"

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

const AmountMode kInteger = IntegerAmountMode();
const AmountMode kTwoDigits = MakeAmountMode(true, 2);
const AmountMode kThreeDigits = MakeAmountMode(true, 3);

AmountReading Units(std::int32_t units) {
    return {AmountStatus::Read, units};
}
const AmountReading kRefused{AmountStatus::OutOfRange, 0};

struct ReadCase {
    const char* text;
    AmountReading expected;
};

void PrintTo(const ReadCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

class IntegerModeReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IntegerModeReading, ReadsLeadingDigitsAndRefusesWhatDoesNotFit) {
    EXPECT_EQ(ReadAmount(GetParam().text, kInteger), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Amounts, IntegerModeReading,
    ::testing::Values(ReadCase{"", Units(0)}, ReadCase{"abc", Units(0)},
                      ReadCase{"12.75", Units(12)}, ReadCase{"  -42abc", Units(-42)},
                      ReadCase{"\t\n\v\f\r 5", Units(5)}, ReadCase{"+7", Units(7)},
                      ReadCase{"+-5", Units(0)}, ReadCase{"- 5", Units(0)},
                      ReadCase{"1,000", Units(1)}, ReadCase{"0000000000000000000012", Units(12)},
                      ReadCase{"2147483647", Units(kMax)}, ReadCase{"-2147483648", Units(kMin)},
                      ReadCase{"2147483648", kRefused}, ReadCase{"-2147483649", kRefused},
                      ReadCase{"4294967296", kRefused},  // would wrap to 0 in 32 bits
                      ReadCase{"99999999999999999999999", kRefused}));

class DecimalModeReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(DecimalModeReading, ScalesRoundsToHundredthsAndTruncates) {
    EXPECT_EQ(ReadAmount(GetParam().text, kTwoDigits), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Amounts, DecimalModeReading,
    ::testing::Values(
        // The two-decimal step: the product is printed with two decimals, then truncated.
        ReadCase{"12.345", Units(1234)}, ReadCase{"0.29", Units(29)},
        ReadCase{"1.99999", Units(200)}, ReadCase{"-0.999", Units(-99)},
        ReadCase{"-0.001", Units(0)}, ReadCase{"0.015", Units(1)},
        // The number's own grammar; a comma ends it, hex and words are not numbers.
        ReadCase{"", Units(0)}, ReadCase{"abc", Units(0)}, ReadCase{".", Units(0)},
        ReadCase{"12,50", Units(1200)}, ReadCase{".5", Units(50)}, ReadCase{"5.", Units(500)},
        ReadCase{"  +3.07", Units(307)}, ReadCase{"1e2", Units(10000)}, ReadCase{"1e", Units(100)},
        ReadCase{"1E+", Units(100)}, ReadCase{"1.5e-1", Units(15)}, ReadCase{"1.2.3", Units(120)},
        ReadCase{"0x10", Units(0)}, ReadCase{"inf", Units(0)}, ReadCase{"nan", Units(0)},
        // The edges of the 32-bit range after scaling.
        ReadCase{"21474836.47", Units(kMax)}, ReadCase{"21474836.48", kRefused},
        ReadCase{"-21474836.48", Units(kMin)}, ReadCase{"-21474836.49", kRefused},
        ReadCase{"1e10", kRefused}, ReadCase{"-1e999", kRefused},
        ReadCase{"99999999999999999999999", kRefused},
        // Far too small to count, or zero with any exponent.
        ReadCase{"1e-999", Units(0)}, ReadCase{"0e999999999999", Units(0)},
        ReadCase{"0.000000000000001", Units(0)}));

TEST(AmountReading, OtherScalesAndDigitlessCurrenciesFollowTheirMode) {
    EXPECT_EQ(ReadAmount("1.2345", kThreeDigits), Units(1234));
    EXPECT_EQ(ReadAmount("0.001", kThreeDigits), Units(1));
    EXPECT_EQ(ReadAmount("2147483.647", kThreeDigits), Units(kMax));
    EXPECT_EQ(ReadAmount("2147483.648", kThreeDigits), kRefused);
    // A currency without decimals is integer mode: the fraction is dropped, not scaled.
    EXPECT_EQ(ReadAmount("12.75", MakeAmountMode(true, 0)), Units(12));
    EXPECT_EQ(ReadAmount("12.75", MakeAmountMode(false, 2)), Units(12));
}

TEST(AmountMode, ScaleFollowsTheDigitsAndNeverOverflows) {
    const AmountMode two = MakeAmountMode(true, 2);
    EXPECT_TRUE(two.decimal);
    EXPECT_EQ(two.amountScale, 100);
    EXPECT_FALSE(MakeAmountMode(false, 2).decimal);
    EXPECT_FALSE(MakeAmountMode(true, 0).decimal);
    EXPECT_FALSE(MakeAmountMode(true, -3).decimal);
    const AmountMode many = MakeAmountMode(true, 12);
    EXPECT_EQ(many.currencyDigits, kMaxAmountDigits);
    EXPECT_EQ(many.amountScale, 1'000'000'000);
}

TEST(AmountDisplay, IntegerAndDecimalFormsPlainAndInColumns) {
    EXPECT_EQ(AmountText(-150, kInteger), "-150");
    EXPECT_EQ(AmountText(-150, kTwoDigits), "-1.50");
    EXPECT_EQ(AmountText(1250, kTwoDigits), "12.50");
    EXPECT_EQ(AmountText(1, kThreeDigits), "0.001");
    EXPECT_EQ(AmountText(kMin, kInteger), "-2147483648");
    EXPECT_EQ(AmountText(kMin, kTwoDigits), "-21474836.48");
    EXPECT_EQ(AmountText(1250, MakeAmountMode(true, 0)), "1250");

    EXPECT_EQ(AmountColumnText(500, kInteger), "     500");
    EXPECT_EQ(AmountColumnText(-500, kTwoDigits), "   -5.00");
    // Wider than the column: written whole, never cut.
    EXPECT_EQ(AmountColumnText(kMax, kInteger), "2147483647");
    EXPECT_EQ(AmountColumnText(kMax, kTwoDigits), "21474836.47");
}

TEST(AmountDisplay, WhatIsShownReadsBackAsTheSameAmount) {
    const std::int32_t amounts[] = {0, 1, -1, 29, 99, 1234, -99, 123456789, kMax, kMin};
    for (int digits = 0; digits <= kMaxAmountDigits; ++digits) {
        const AmountMode mode = MakeAmountMode(true, digits);
        for (std::int32_t amount : amounts) {
            if (digits <= 4) {
                EXPECT_EQ(ReadAmount(AmountText(amount, mode), mode), Units(amount))
                    << amount << " with " << digits << " digits";
            }
            // Composed from whole units and fraction: the text of the quotient, digit for digit.
            if (digits > 0) {
                EXPECT_EQ(AmountText(amount, mode),
                          FixedPointText(static_cast<double>(amount) / mode.amountScale, digits))
                    << amount << " with " << digits << " digits";
            }
        }
    }
}

// A program that sets a locale with a decimal comma must still read and write "1.50".
TEST(AmountDisplay, DecimalPointDoesNotFollowTheCLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
        std::setlocale(LC_NUMERIC, "de_DE") == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma installed";
    }
    EXPECT_EQ(ReadAmount("1.5", kTwoDigits), Units(150));
    EXPECT_EQ(AmountText(150, kTwoDigits), "1.50");
    std::setlocale(LC_NUMERIC, previous.c_str());
}

}  // namespace
