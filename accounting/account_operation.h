// The four things an operator can do to an account. The numbers are the ones held in
// `CurrentOperation` and used to index the operation tables, so they must not change.
#pragma once

enum class AccountOperation {
    Deposit = 0,
    Charge = 1,
    SetBalance = 2,
    SetLimit = 3,
};
