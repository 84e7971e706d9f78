// What the amount dialog does with what the operator entered, decided before anything in the
// directory is touched. Kept apart from the dialog so the rules can be exercised directly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "accounting/amounts.h"
#include "program/values.h"

inline constexpr std::size_t kChargeReasonChars = 31;
inline constexpr const char* kDefaultChargeReasonText = "Charge";

enum class EntryAction {
    Apply,        // carry the operation out with OperationAmount
    NothingToDo,  // close the dialog, nothing changes
    Refuse,       // the amount does not fit; tell the operator, nothing changes
};

// What happens to the unlimited-credit flag (Set Credit Limit only).
enum class UnlimitedChange { Leave, Set, Clear };

struct EntryPlan {
    EntryAction action = EntryAction::NothingToDo;
    std::int32_t operationAmount = 0;  // signed stored units, already negated for a charge
    UnlimitedChange unlimited = UnlimitedChange::Leave;

    bool operator==(const EntryPlan&) const = default;
};

// `rawText` is the amount field exactly as typed: "empty" means no characters at all, so a
// single blank is an amount of 0, which sets a balance or limit to 0 but deposits nothing.
// `unlimitedChecked` is the "Allow unlimited credit" box; only Set Credit Limit looks at it, and
// with it checked the field does not matter at all (not even an amount that does not fit).
EntryPlan PlanAccountOperation(AccountOperation operation, std::string_view rawText,
                               const AmountReading& amount, bool unlimitedChecked);

// The reason a charge is remembered and logged under: the field's first 31 characters, or
// "Charge" when it is empty. It is taken even when the charge itself comes to nothing.
std::string ChargeReasonFromField(std::string_view field);
