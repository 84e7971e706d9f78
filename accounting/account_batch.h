// Applying the current operation to what the operator selected: one user, the users of a multiple
// selection, the members of a group, or every user of the current context.
//
// Every user that a change reaches is handled alike, in order: the dialog says whose account is
// being changed, the change is made, and a change that succeeded is recorded in the accounting
// log when recording is on. Where the host can send changes ahead (a directory server's
// deposits and charges), several are on their way at once and their outcomes are taken, and
// recorded, in the batch's order. A change that failed gets no record; the operator learns
// which changes failed in one message once the batch has ended, and the batch goes on meanwhile.
// What this needs of the directory, the log and the dialog comes through AccountOperationHost,
// so that the rules can be exercised without any of them.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "accounting/amounts.h"
#include "accounting/log_append.h"
#include "directory/dirclient.h"
#include "program/list_entries.h"
#include "program/values.h"

enum class SelectionKind {
    MultipleSelection,  // more than one entry
    OneUser,
    Group,
    AllUsers,  // the "* (All users in this context)" entry
};

SelectionKind ClassifySelection(std::int32_t selectedCount, bool groupSelected,
                                std::string_view selectionText);

// The name a group member is listed under in the current context: its complete name without
// the context's own name at the end, so that its record reads like that of a user picked from
// the list. Members of other contexts keep their complete names.
std::string ListedNameInContext(std::string_view completeName, std::string_view contextName);

// How the changes of a batch reach the disk and the log: each change is noted in the writer's
// outbox before it is made and its record after, so that a change is never made without its
// record surviving the program (accounting/record_outbox.h). Every kChangesPerCommit changes
// (once those on their way are taken) and at the end the directory's changes are saved to the disk
// first, then their records are appended to the log and flushed in one short hold of the log's
// lock, so that after a power loss the log never holds a record of a change the directory lost. The
// log's lock is never held across a directory call.
inline constexpr int kChangesPerCommit = 256;

class AccountOperationHost {
  public:
    virtual ~AccountOperationHost() = default;
    // The prompt line shows whose account is about to change.
    virtual void Announce(const std::string& name) = 0;
    // Changes one user's account. `readBalanceFirst`: a Set Balance of a batch takes the balance
    // it replaces from the directory just before the change (a single user's comes from the
    // selection display).
    virtual DirStatus Change(const std::string& name, bool readBalanceFirst) = 0;
    // Changes sent ahead of their answers: how many may be on their way at once (1: each is
    // made by Change). Send starts the change to `name`; Take ends the oldest change started,
    // whose user is `name`, with its outcome (also when it could not even be sent) and the
    // values it left in AccountValues.
    virtual int ChangesAhead() const { return 1; }
    virtual void Send(const std::string& name) { sent_.push_back(Change(name, true)); }
    virtual DirStatus Take(const std::string& name) {
        (void)name;
        const DirStatus status = sent_.empty() ? DIR_ERR_BAD_BUFFER : sent_.front();
        if (!sent_.empty()) {
            sent_.pop_front();
        }
        return status;
    }
    virtual bool Recording() const = 0;
    // Before the first change of a run (only while recording): makes sure that the records of
    // the changes to come have somewhere to go, and appends records that an earlier run left
    // waiting. Anything but Written means that no change may be made.
    virtual LogAppendResult OpenLog() = 0;
    // Notes the change about to be made to `name`, listed as `listedName`, so that it is known
    // even if the program is killed while it is made (only while recording). Anything but
    // Written means that this change must not be made.
    virtual LogAppendResult Intend(const std::string& name, const std::string& listedName) {
        (void)name;
        (void)listedName;
        return {};
    }
    // Makes the notes of Intend so far reach the outbox file (one write for several changes
    // sent ahead together); no change is made before. Anything but Written means that none of
    // those changes may be made.
    virtual LogAppendResult NotesWritten() { return {}; }
    // Keeps the record of the change just made, for the next commit.
    virtual void Record(const std::string& listedName) = 0;
    // The change announced by Intend was refused by the directory: it has no record.
    virtual void Refused() {}
    // Saves the directory's changes to the disk, then appends the kept records to the log and
    // flushes them. Returns the log's result (Written when not recording and the directory's
    // changes were saved); records that could not be appended wait in the outbox
    // (waitingRecords).
    virtual LogAppendResult Commit() = 0;
    // A record could not reach the log: the operator is told at once. `nothingChanged`: it was
    // found before the change it would have recorded, which was therefore not made.
    virtual void ReportLogFailure(const LogAppendResult& result, bool nothingChanged) = 0;

  private:
    std::deque<DirStatus> sent_;  // outcomes of changes made by the default Send
};

struct FailedChange {
    std::string name;
    DirStatus status = DIR_OK;

    bool operator==(const FailedChange&) const = default;
};

struct BatchOutcome {
    int changed = 0;                   // changes the directory accepted
    std::vector<FailedChange> failed;  // changes it refused, in the order tried
    int unrecorded = 0;                // accepted changes whose record did not reach the log
    // Records of accepted changes that wait in the outbox for the log (which stayed locked or
    // could not be written); the batch stopped there.
    int recordsWaiting = 0;
    std::string outbox;  // where they wait
    // The directory was locked by another program for longer than it waits: the batch stopped
    // at that change.
    bool directoryLocked = false;
    // The directory server could not be reached (or stayed silent) for as long as the client
    // tries it again ([Store] RetrySeconds): the batch stopped at that change rather than wait
    // as long again for every user after it.
    bool serverAway = false;
    // The users a batch that stopped did not change (named as the batch names them), in order.
    std::vector<std::string> notDone;
    // The log could not be opened or locked before a change: that change and every one after it
    // were not made.
    bool logUnavailable = false;
    // The listing of the context's users or the group's members stopped with this status
    // (DIR_OK when it ran to its end); the names after that point were not changed.
    DirStatus listingStatus = DIR_OK;
};

// One user (the selection's text): the change, then its record when it succeeded. The caller
// reports a refused change (in Failed) as "Accounting error %d!"; log failures were shown.
BatchOutcome ApplyToOneUser(const std::string& name, AccountOperationHost& host);

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
    std::int32_t balance = 0;
    std::int32_t creditLimit = 0;
    bool unlimited = false;
};

// The prompt line above the amount field, by the first case that applies: "%s for %ld users",
// "%s for group %s", "Credit limit is ..." (Set Credit Limit on one user) or "Current balance
// is ...".
std::string AmountPromptLine(AccountOperation operation, std::int32_t selectedCount,
                             bool groupSelected, std::string_view selectionText,
                             const PromptValues& values, const AmountMode& mode);

// "<name> for all members of group <selection>?"
std::string GroupQuestion(AccountOperation operation, std::string_view selectionText);

// "Accounting error <status>!", with what the status means where the operator can act on it.
std::string AccountingErrorMessage(DirStatus status);

// The refusal of an amount that does not fit 32 bits, as typed or once scaled, with the range in
// the form the operator types. The lower end is the smallest amount that can also be charged.
std::string AmountOutOfRangeMessage(std::string_view fieldText, const AmountMode& mode);
