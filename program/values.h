// The program-wide values through which the subsystems meet: the MainList selection as it was
// last shown, the account of the user read last, and the account operation under way. Each is
// set by one subsystem and read by others (the selection display sets the selection and the
// account values; the main window's commands set the operation; the amount dialogs, the reports
// and the balances list read them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ---------------------------------------------------------------------------------------------
// The selection
// ---------------------------------------------------------------------------------------------

// Number of selected MainList entries.
extern std::int32_t SelectedCount;
// The text of the list's current entry as last shown, without the group marker: the object name
// of a single selection. The Select Group dialog leaves its chosen entry here, marker included.
extern std::string SelectionText;
// The current entry is a group or the all-users entry (kept from the last selection of at most
// one entry).
extern bool GroupSelected;

// Longest text SelectionText holds; longer entries are cut to it.
inline constexpr std::size_t kSelectionTextChars = 255;

// Length of the longest user name put into a list by the last listing of users.
extern std::int32_t MaxUserNameLength;

// ---------------------------------------------------------------------------------------------
// The account read last and the operation under way
// ---------------------------------------------------------------------------------------------

// Balance, credit limit and unlimited flag of the user read last.
struct AccountValuesRecord {
    std::int32_t Balance = 0;
    std::int32_t CreditLimit = 0;
    std::uint8_t Unlimited = 0;
};
extern AccountValuesRecord AccountValues;

// The four things an operator can do to an account. The numbers are the ones held in
// `CurrentOperation` and used to index the operation tables, so they must not change.
enum class AccountOperation {
    Deposit = 0,
    Charge = 1,
    SetBalance = 2,
    SetLimit = 3,
};

// The operation chosen by the last account command, and its amount in stored units (already
// negative for a charge).
extern AccountOperation CurrentOperation;
extern std::int32_t OperationAmount;
