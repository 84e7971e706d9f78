#include "accounting/amount_entry.h"

#include <limits>

namespace {

EntryPlan NothingToDo() {
    return {};
}

EntryPlan Refuse() {
    return {EntryAction::Refuse, 0, UnlimitedChange::Leave};
}

EntryPlan Apply(std::int32_t amount, UnlimitedChange unlimited = UnlimitedChange::Leave) {
    return {EntryAction::Apply, amount, unlimited};
}

// An account holds -2147483647 to 2147483647 units, the range the refusal names: the smallest
// 32-bit value has no opposite, so neither charging it nor keeping it as a balance or limit
// could be undone by the opposite operation.
bool OutsideAccountRange(const AmountReading& amount) {
    return amount.status == AmountStatus::OutOfRange ||
           amount.units == std::numeric_limits<std::int32_t>::min();
}

// Deposit and charge: an empty field or an amount of 0 means there is nothing to add.
EntryPlan PlanAddition(std::string_view rawText, const AmountReading& amount, bool negate) {
    if (rawText.empty()) {
        return NothingToDo();
    }
    if (OutsideAccountRange(amount)) {
        return Refuse();
    }
    if (amount.units == 0) {
        return NothingToDo();
    }
    return Apply(negate ? -amount.units : amount.units);
}

EntryPlan PlanSetBalance(std::string_view rawText, const AmountReading& amount) {
    if (rawText.empty()) {
        return NothingToDo();
    }
    if (OutsideAccountRange(amount)) {
        return Refuse();
    }
    return Apply(amount.units);
}

EntryPlan PlanSetLimit(std::string_view rawText, const AmountReading& amount,
                       bool unlimitedChecked) {
    if (unlimitedChecked) {
        const std::int32_t units = amount.status == AmountStatus::Read ? amount.units : 0;
        return Apply(units, UnlimitedChange::Set);
    }
    if (rawText.empty()) {
        return NothingToDo();
    }
    if (OutsideAccountRange(amount)) {
        return Refuse();
    }
    return Apply(amount.units, UnlimitedChange::Clear);
}

}  // namespace

EntryPlan PlanAccountOperation(AccountOperation operation, std::string_view rawText,
                               const AmountReading& amount, bool unlimitedChecked) {
    switch (operation) {
        case AccountOperation::Deposit:
            return PlanAddition(rawText, amount, false);
        case AccountOperation::Charge:
            return PlanAddition(rawText, amount, true);
        case AccountOperation::SetBalance:
            return PlanSetBalance(rawText, amount);
        case AccountOperation::SetLimit:
            return PlanSetLimit(rawText, amount, unlimitedChecked);
    }
    return NothingToDo();
}

std::string ChargeReasonFromField(std::string_view field) {
    if (field.empty()) {
        return kDefaultChargeReasonText;
    }
    return std::string(field.substr(0, kChargeReasonChars));
}
