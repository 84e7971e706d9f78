// Applying the current operation to what the operator selected: one user, the users of a multiple
// selection, the members of a group, or every user of the current context.
//
// Every user that a change reaches is handled alike, one after the other: the dialog says whose
// account is being changed, the change is made, and a change that succeeded is recorded in the
// accounting log when recording is on. A change that failed gets no record; the operator learns
// which changes failed in one message once the batch has ended, and the batch goes on meanwhile.
// What this needs of the directory, the log and the dialog comes through AccountOperationHost,
// so that the rules can be exercised without any of them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "accounting/account_operation.h"
#include "accounting/amounts.h"
#include "accounting/log_append.h"
#include "directory/dirclient.h"

inline constexpr const char* kAllUsersEntry = "* (All users in this context)";
inline constexpr const char* kGroupMarker = " (Group)";

enum class SelectionKind {
    MultipleSelection,  // more than one entry
    OneUser,
    Group,
    AllUsers,  // the "* (All users in this context)" entry
};

SelectionKind ClassifySelection(std::int32_t selectedCount, bool groupSelected,
                                std::string_view selectionText);

// A MainList entry that names a user: neither a group nor the all-users entry.
bool IsUserEntry(std::string_view entryText);

// The name a group member is listed under in the current context: its complete name without
// the context's own name at the end, so that its record reads like that of a user picked from
// the list. Members of other contexts keep their complete names.
std::string ListedNameInContext(std::string_view completeName, std::string_view contextName);

class AccountOperationHost {
  public:
    virtual ~AccountOperationHost() = default;
    // The prompt line shows whose account is about to change.
    virtual void announce(const std::string& name) = 0;
    // Changes one user's account. `readBalanceFirst`: a Set Balance of a batch takes the balance
    // it replaces from the directory just before the change (a single user's comes from the
    // selection display).
    virtual DirStatus change(const std::string& name, bool readBalanceFirst) = 0;
    virtual bool recording() const = 0;
    virtual LogAppendResult record(const std::string& listedName) = 0;
    // A record could not reach the log: the operator is told at once.
    virtual void reportLogFailure(const LogAppendResult& result) = 0;
};

struct FailedChange {
    std::string Name;
    DirStatus Status = DIR_OK;

    bool operator==(const FailedChange&) const = default;
};

struct BatchOutcome {
    int Changed = 0;                   // changes the directory accepted
    std::vector<FailedChange> Failed;  // changes it refused, in the order tried
    int Unrecorded = 0;                // accepted changes whose record did not reach the log
    // The listing of the context's users or the group's members stopped with this status
    // (DIR_OK when it ran to its end); the names after that point were not changed.
    DirStatus ListingStatus = DIR_OK;
};

// One user (the selection's text): the change, then its record when it succeeded. Returns the
// change's status; the caller reports a failure as "Accounting error %d!".
DirStatus ApplyToOneUser(const std::string& name, AccountOperationHost& host);

// The entries of a multiple selection in list order; groups and the all-users entry are skipped.
BatchOutcome ApplyToEntries(const std::vector<std::string>& entries, AccountOperationHost& host);

// Every member of `group`, read through the directory client in chunks.
BatchOutcome ApplyToGroupMembers(DirContextHandle context, const std::string& group,
                                 std::string_view contextName, AccountOperationHost& host);

// Every user directly inside the current context, listed through the directory client in chunks.
BatchOutcome ApplyToContextUsers(DirContextHandle context, AccountOperationHost& host);

// The one message after a batch that did not go entirely well ("" when it did): which changes
// failed with their statuses (the first few by name), how many changes are missing from the log,
// and whether the listing stopped early.
std::string BatchProblemMessage(const BatchOutcome& outcome);

// ---------------------------------------------------------------------------------------------
// The amount dialog's texts
// ---------------------------------------------------------------------------------------------

// "Deposit", "Charge", "Set Balance", "Set Limit".
const char* OperationDisplayName(AccountOperation operation);

// The display name alone for more than one entry, else "<name>: <selection>".
std::string AmountDialogTitle(AccountOperation operation, std::int32_t selectedCount,
                              std::string_view selectionText);

struct PromptValues {
    std::int32_t Balance = 0;
    std::int32_t CreditLimit = 0;
    bool Unlimited = false;
};

// The prompt line above the amount field, by the first case that applies: "%s for %ld users",
// "%s for group %s", "Credit limit is ..." (Set Credit Limit on one user) or "Current balance
// is ...".
std::string AmountPromptLine(AccountOperation operation, std::int32_t selectedCount,
                             bool groupSelected, std::string_view selectionText,
                             const PromptValues& values, const AmountMode& mode);

// "<name> for all members of group <selection>?"
std::string GroupQuestion(AccountOperation operation, std::string_view selectionText);

// "Accounting error <status>!"
std::string AccountingErrorMessage(DirStatus status);

// The refusal of an amount that does not fit 32 bits, as typed or once scaled, with the range in
// the form the operator types. The lower end is the smallest amount that can also be charged.
std::string AmountOutOfRangeMessage(std::string_view fieldText, const AmountMode& mode);
