#include <gtest/gtest.h>

#include <string>

#include "accounting/amount_entry.h"

namespace {

const AmountMode kInteger = IntegerAmountMode();

struct EntryCase {
    AccountOperation operation;
    const char* text;
    bool unlimitedChecked;
    EntryPlan expected;
};

void PrintTo(const EntryCase& c, std::ostream* out) {
    *out << "operation " << static_cast<int>(c.operation) << " text \"" << c.text << "\" box "
         << c.unlimitedChecked;
}

EntryPlan Nothing() {
    return {};
}
EntryPlan Refused() {
    return {EntryAction::Refuse, 0, UnlimitedChange::Leave};
}
EntryPlan Apply(std::int32_t amount, UnlimitedChange unlimited = UnlimitedChange::Leave) {
    return {EntryAction::Apply, amount, unlimited};
}

class EntryPlanning : public ::testing::TestWithParam<EntryCase> {};

TEST_P(EntryPlanning, EmptyFieldZeroAmountAndOutOfRangeAmountPerOperation) {
    const EntryCase& c = GetParam();
    EXPECT_EQ(
        PlanAccountOperation(c.operation, c.text, ReadAmount(c.text, kInteger), c.unlimitedChecked),
        c.expected);
}

constexpr auto kDeposit = AccountOperation::Deposit;
constexpr auto kCharge = AccountOperation::Charge;
constexpr auto kSetBalance = AccountOperation::SetBalance;
constexpr auto kSetLimit = AccountOperation::SetLimit;
constexpr auto kSet = UnlimitedChange::Set;
constexpr auto kClear = UnlimitedChange::Clear;

INSTANTIATE_TEST_SUITE_P(
    Operations, EntryPlanning,
    ::testing::Values(
        // Deposit and charge add nothing for an empty field or anything that reads as 0.
        EntryCase{kDeposit, "", false, Nothing()}, EntryCase{kDeposit, "0", false, Nothing()},
        EntryCase{kDeposit, "abc", false, Nothing()}, EntryCase{kDeposit, " ", false, Nothing()},
        EntryCase{kDeposit, "500", false, Apply(500)}, EntryCase{kDeposit, "-5", false, Apply(-5)},
        EntryCase{kDeposit, "3000000000", false, Refused()},
        EntryCase{kCharge, "", false, Nothing()}, EntryCase{kCharge, "abc", false, Nothing()},
        EntryCase{kCharge, "5", false, Apply(-5)}, EntryCase{kCharge, "-5", false, Apply(5)},
        EntryCase{kCharge, "2147483647", false, Apply(-2147483647)},
        // Its negation does not exist in 32 bits.
        EntryCase{kCharge, "-2147483648", false, Refused()},
        // Set balance: only an empty field means nothing; text reading as 0 zeroes the balance.
        EntryCase{kSetBalance, "", false, Nothing()}, EntryCase{kSetBalance, " ", false, Apply(0)},
        EntryCase{kSetBalance, "abc", false, Apply(0)},
        EntryCase{kSetBalance, "-20", false, Apply(-20)},
        EntryCase{kSetBalance, "-2147483649", false, Refused()},
        // The refusal names -2147483647 as the smallest amount: the check agrees with it.
        EntryCase{kSetBalance, "-2147483648", false, Refused()},
        EntryCase{kDeposit, "-2147483648", false, Refused()},
        EntryCase{kSetLimit, "-2147483648", false, Refused()},
        // Set limit: the box wins over the field, whatever it holds.
        EntryCase{kSetLimit, "", true, Apply(0, kSet)},
        EntryCase{kSetLimit, "75", true, Apply(75, kSet)},
        EntryCase{kSetLimit, "9999999999", true, Apply(0, kSet)},
        EntryCase{kSetLimit, "", false, Nothing()},
        EntryCase{kSetLimit, "0", false, Apply(0, kClear)},
        EntryCase{kSetLimit, "-100", false, Apply(-100, kClear)},
        EntryCase{kSetLimit, "9999999999", false, Refused()}));

TEST(EntryPlanning, DecimalAmountsArriveInStoredUnits) {
    const AmountMode twoDigits = MakeAmountMode(true, 2);
    EXPECT_EQ(PlanAccountOperation(kCharge, "5", ReadAmount("5", twoDigits), false), Apply(-500));
    EXPECT_EQ(PlanAccountOperation(kDeposit, "0.001", ReadAmount("0.001", twoDigits), false),
              Nothing());
}

TEST(ChargeReason, EmptyBecomesChargeAndLongIsCutTo31) {
    EXPECT_EQ(ChargeReasonFromField(""), "Charge");
    EXPECT_EQ(ChargeReasonFromField(" "), " ");
    EXPECT_EQ(ChargeReasonFromField("Photocopies"), "Photocopies");
    EXPECT_EQ(ChargeReasonFromField(std::string(40, 'x')), std::string(31, 'x'));
}

}  // namespace
