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

// Deposit and charge: an empty field or an amount of 0 means there is nothing to add.
EntryPlan PlanAddition(std::string_view rawText, const AmountReading& amount, bool negate) {
    if (rawText.empty()) {
        return NothingToDo();
    }
    if (amount.status == AmountStatus::OutOfRange) {
        return Refuse();
    }
    if (amount.units == 0) {
        return NothingToDo();
    }
    if (!negate) {
        return Apply(amount.units);
    }
    // The smallest 32-bit value has no positive counterpart: charging it cannot be stored.
    if (amount.units == std::numeric_limits<std::int32_t>::min()) {
        return Refuse();
    }
    return Apply(-amount.units);
}

EntryPlan PlanSetBalance(std::string_view rawText, const AmountReading& amount) {
    if (rawText.empty()) {
        return NothingToDo();
    }
    if (amount.status == AmountStatus::OutOfRange) {
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
    if (amount.status == AmountStatus::OutOfRange) {
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
