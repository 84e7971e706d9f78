#include "accounting/account_batch.h"

#include "directory/buffer_owner.h"
#include "directory/dirclient_setup.h"
#include "dirstore/names.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <limits>

namespace {

// Changes sent ahead are noted in the outbox this many at a time, one write for all.
constexpr int kNotedTogether = 8;

// The failures named one by one in the message after a batch; the rest are counted.
constexpr std::size_t kNamedFailures = 10;
constexpr const char* kMemberAttribute = "Member";

// Drives the log and the disk through one run of changes: the log is made ready before the
// first change that will be recorded, each change is announced to the host before it is made,
// and the changes and their records are saved every kChangesPerCommit changes and at the end. A
// run stops when the log cannot take its records (they wait in the outbox) or the directory
// stays locked, rather than waiting the whole bound again for every user. Only the first log
// failure of a run is shown to the operator, so that a log that stays unreachable does not bury
// them in messages.
//
// Where the host sends changes ahead, up to its ChangesAhead() are on their way at once; their
// outcomes are taken in the order sent, so records keep the batch's order. A user met again
// while a change to it is on its way waits for that change first (its note in the outbox starts
// from the value the first change left), and the run commits only when nothing is on its way,
// so that emptying the outbox never drops the note of a change whose outcome is still to come.
class ChangeRun {
  public:
    ChangeRun(AccountOperationHost& host, BatchOutcome& outcome)
        : host_(host), outcome_(outcome), ahead_(std::max(1, host.ChangesAhead())) {}
    ChangeRun(const ChangeRun&) = delete;
    ChangeRun& operator=(const ChangeRun&) = delete;
    ~ChangeRun() { Finish(); }

    bool SendsAhead() const { return ahead_ > 1; }

    // One change of the batch, sent ahead of the outcomes of those before it. Changes are
    // gathered a few at a time, so that their notes reach the outbox in one write before any
    // of them is sent. False when the run has to stop before the next user.
    bool SendAhead(const std::string& name, const std::string& listedName) {
        auto same = [&](const OnItsWay& change) { return SameUser(change.name, name); };
        if (unsavedChanges_ >= kChangesPerCommit ||
            std::any_of(gathered_.begin(), gathered_.end(), same) ||
            std::any_of(onItsWay_.begin(), onItsWay_.end(), same)) {
            SendGathered();
            TakeAll();
        }
        gathered_.push_back({name, listedName});
        if (static_cast<int>(gathered_.size()) >= std::min(ahead_, kNotedTogether)) {
            SendGathered();
        }
        return !Stopped();
    }

    // The end of the run: every change gathered sent, every change on its way taken,
    // everything committed.
    void Finish() {
        SendGathered();
        TakeAll();
        Commit();
    }

    // Takes the outcome of every change still on its way.
    void TakeAll() {
        while (!onItsWay_.empty()) {
            TakeOldest();
        }
    }

    bool Stopped() const {
        return outcome_.logUnavailable || outcome_.recordsWaiting > 0 || outcome_.directoryLocked ||
               outcome_.serverAway;
    }

    // A user the run did not reach because it stopped before it.
    void NotDone(const std::string& name) { outcome_.notDone.push_back(name); }

    // False when the change must not be made: its record could not follow it. `noteNow`: its
    // note reaches the outbox before this returns (else with the next NotesWritten).
    bool ReadyForChange(const std::string& name, const std::string& listedName,
                        bool noteNow = true) {
        if (Stopped()) {
            return false;
        }
        if (!host_.Recording()) {
            return true;
        }
        if (!logOpen_) {
            const LogAppendResult opened = host_.OpenLog();
            if (!opened.Written()) {
                return Unavailable(opened);
            }
            logOpen_ = true;
        }
        LogAppendResult noted = host_.Intend(name, listedName);
        if (noted.Written() && noteNow) {
            noted = host_.NotesWritten();
            if (!noted.Written()) {
                host_.Refused();
            }
        }
        return noted.Written() || Unavailable(noted);
    }

    // The outcome of the change announced by ReadyForChange.
    void Done(const std::string& name, const std::string& listedName, DirStatus status) {
        if (status != DIR_OK) {
            if (host_.Recording()) {
                host_.Refused();
            }
            outcome_.failed.push_back({name, status});
            outcome_.directoryLocked = status == DIR_ERR_LOCKED;
            outcome_.serverAway = status == DIR_ERR_UNAVAILABLE;
            return;
        }
        ++outcome_.changed;
        if (host_.Recording()) {
            host_.Record(listedName);
            ++unsavedRecords_;
        }
        if (++unsavedChanges_ >= kChangesPerCommit && onItsWay_.empty()) {
            Commit();
        }
    }

    void Commit() {
        if (unsavedChanges_ == 0 && unsavedRecords_ == 0) {
            return;
        }
        const LogAppendResult saved = host_.Commit();
        if (!saved.Written() && saved.waitingRecords > 0) {
            Report(saved, false);
            outcome_.recordsWaiting = saved.waitingRecords;
            outcome_.outbox = saved.waitingIn;
        } else if (!saved.Written() && unsavedRecords_ > 0) {
            Report(saved, false);
            outcome_.unrecorded += unsavedRecords_;
        }
        unsavedChanges_ = 0;
        unsavedRecords_ = 0;
    }

  private:
    struct OnItsWay {
        std::string name;
        std::string listedName;
    };

    // Notes the gathered changes, makes the notes reach the outbox in one write, and sends the
    // changes, making room on the way first.
    void SendGathered() {
        while (!onItsWay_.empty() &&
               static_cast<int>(onItsWay_.size() + gathered_.size()) > ahead_) {
            TakeOldest();
        }
        std::vector<OnItsWay> ready;
        for (OnItsWay& change : gathered_) {
            if (ReadyForChange(change.name, change.listedName, false)) {
                ready.push_back(std::move(change));
            } else {
                NotDone(change.name);
            }
        }
        gathered_.clear();
        if (!ready.empty() && host_.Recording()) {
            const LogAppendResult written = host_.NotesWritten();
            if (!written.Written()) {
                for (const OnItsWay& change : ready) {
                    host_.Refused();
                    NotDone(change.name);
                }
                Unavailable(written);
                return;
            }
        }
        for (OnItsWay& change : ready) {
            host_.Announce(change.name);
            host_.Send(change.name);
            onItsWay_.push_back(std::move(change));
        }
    }

    void TakeOldest() {
        const OnItsWay sent = std::move(onItsWay_.front());
        onItsWay_.pop_front();
        Done(sent.name, sent.listedName, host_.Take(sent.name));
    }

    static bool SameUser(std::string_view a, std::string_view b) {
        return tally::store::EqualsIgnoreCase(a, b);
    }

    bool Unavailable(const LogAppendResult& result) {
        outcome_.logUnavailable = true;
        Report(result, true);
        return false;
    }

    void Report(const LogAppendResult& result, bool nothingChanged) {
        if (!reported_) {
            host_.ReportLogFailure(result, nothingChanged);
            reported_ = true;
        }
    }

    AccountOperationHost& host_;
    BatchOutcome& outcome_;
    bool logOpen_ = false;
    bool reported_ = false;
    int unsavedChanges_ = 0;
    int unsavedRecords_ = 0;
    int ahead_;
    std::vector<OnItsWay> gathered_;  // changes to be noted and sent together
    std::deque<OnItsWay> onItsWay_;
};

// False when the run has to stop before the next user. A user it does not reach is noted as not
// done; the callers go on through their lists (already read) so that every such user is named.
bool ChangeInBatch(const std::string& name, const std::string& listedName,
                   AccountOperationHost& host, ChangeRun& run) {
    if (run.SendsAhead()) {
        return run.SendAhead(name, listedName);
    }
    if (!run.ReadyForChange(name, listedName)) {
        run.NotDone(name);
        return false;
    }
    host.Announce(name);
    run.Done(name, listedName, host.Change(name, true));
    return !run.Stopped();
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// Changes the names of one chunk of a user listing, in the order received. Stops early (with
// DIR_OK) when the run cannot go on.
DirStatus ChangeListedUsers(DirContextHandle context, DirBuffer* result, AccountOperationHost& host,
                            ChangeRun& run) {
    std::uint32_t count = 0;
    DirStatus status = DirGetObjectCount(context, result, &count);
    if (status != DIR_OK) {
        return status;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        char name[DIR_MAX_NAME_BYTES] = {};
        std::uint32_t attributes = 0;
        DirObjectInfo info{};
        status = DirGetObjectName(context, result, name, &attributes, &info);
        if (status != DIR_OK) {
            return status;
        }
        if (!tally::store::EqualsIgnoreCase(info.baseClass, kUserClass)) {
            continue;
        }
        ChangeInBatch(name, name, host, run);
    }
    return DIR_OK;
}

// Changes the members held by one chunk of the group's "Member" values. Stops early (with
// DIR_OK) when the run cannot go on.
DirStatus ChangeMembers(DirContextHandle context, DirBuffer* result, std::string_view contextName,
                        AccountOperationHost& host, ChangeRun& run) {
    std::uint32_t attributeCount = 0;
    DirStatus status = DirGetAttrCount(context, result, &attributeCount);
    if (status != DIR_OK || attributeCount == 0) {
        return status;
    }
    char attribute[DIR_MAX_NAME_BYTES] = {};
    std::uint32_t valueCount = 0;
    std::uint32_t syntax = 0;
    status = DirGetAttrName(context, result, attribute, &valueCount, &syntax);
    if (status != DIR_OK) {
        return status;
    }
    std::vector<std::string> members;
    for (std::uint32_t i = 0; i < valueCount; ++i) {
        char member[DIR_MAX_NAME_BYTES] = {};
        status = DirGetAttrValue(context, result, syntax, member);
        if (status != DIR_OK) {
            return status;
        }
        members.emplace_back(member);
    }
    // The members are complete names (a leading point says so): looked up together, so that a
    // directory server is not asked for each of them on its own.
    std::vector<std::string> complete;
    for (const std::string& member : members) {
        complete.push_back("." + member);
    }
    DirClientLookUpNames(context, complete);
    for (const std::string& member : members) {
        ChangeInBatch(member, ListedNameInContext(member, contextName), host, run);
    }
    return DIR_OK;
}

}  // namespace

SelectionKind ClassifySelection(std::int32_t selectedCount, bool groupSelected,
                                std::string_view selectionText) {
    if (selectedCount > 1) {
        return SelectionKind::MultipleSelection;
    }
    if (selectionText == kAllUsersEntry) {
        return SelectionKind::AllUsers;
    }
    return groupSelected ? SelectionKind::Group : SelectionKind::OneUser;
}

std::string ListedNameInContext(std::string_view completeName, std::string_view contextName) {
    if (contextName.empty() || contextName == DIR_ROOT_NAME ||
        completeName.size() <= contextName.size() + 1) {
        return std::string(completeName);
    }
    const std::size_t cut = completeName.size() - contextName.size() - 1;
    if (completeName[cut] != '.' ||
        !SameNameIgnoringCase(completeName.substr(cut + 1), contextName)) {
        return std::string(completeName);
    }
    return std::string(completeName.substr(0, cut));
}

BatchOutcome ApplyToOneUser(const std::string& name, AccountOperationHost& host) {
    BatchOutcome outcome;
    {
        ChangeRun run(host, outcome);
        if (run.ReadyForChange(name, name)) {
            run.Done(name, name, host.Change(name, false));
        }
    }
    return outcome;
}

BatchOutcome ApplyToEntries(const std::vector<std::string>& entries, AccountOperationHost& host) {
    BatchOutcome outcome;
    ChangeRun run(host, outcome);
    for (const std::string& entry : entries) {
        if (IsUserEntry(entry)) {
            ChangeInBatch(entry, entry, host, run);
        }
    }
    run.Finish();
    return outcome;
}

BatchOutcome ApplyToGroupMembers(DirContextHandle context, const std::string& group,
                                 std::string_view contextName, AccountOperationHost& host) {
    BatchOutcome outcome;
    DirBufferOwner request(DIR_BUFFER_SIZE);
    DirBufferOwner result(DIR_BUFFER_SIZE);
    if (!request.Ok() || !result.Ok()) {
        outcome.listingStatus = request.Ok() ? result.Status() : request.Status();
        return outcome;
    }
    ChangeRun run(host, outcome);
    DirStatus status = DirInitBuffer(context, DIR_REQ_READ, request.Get());
    if (status == DIR_OK) {
        status = DirPutAttrName(context, request.Get(), kMemberAttribute);
    }
    std::int32_t iteration = DIR_NO_MORE_ITERATIONS;
    bool firstRead = true;
    while (status == DIR_OK) {
        status = DirRead(context, group.c_str(), DIR_INFO_NAMES_AND_VALUES, 0, request.Get(),
                         &iteration, result.Get());
        if (firstRead && status == DIR_ERR_NO_SUCH_ATTRIBUTE) {
            // A group without a Member value has no members: it changes nobody, and nothing
            // went wrong.
            status = DIR_OK;
            break;
        }
        firstRead = false;
        if (status == DIR_OK) {
            status = ChangeMembers(context, result.Get(), contextName, host, run);
        }
        if (iteration == DIR_NO_MORE_ITERATIONS) {
            break;
        }
    }
    run.Finish();
    outcome.listingStatus = status;
    return outcome;
}

BatchOutcome ApplyToContextUsers(DirContextHandle context, AccountOperationHost& host) {
    BatchOutcome outcome;
    DirBufferOwner result(DIR_BUFFER_SIZE);
    if (!result.Ok()) {
        outcome.listingStatus = result.Status();
        return outcome;
    }
    ChangeRun run(host, outcome);
    std::int32_t iteration = DIR_NO_MORE_ITERATIONS;
    DirStatus status = DIR_OK;
    do {
        // Every entry of the context, read whole, and the users taken from it: over a server
        // the accounts' values then come with the listing, not with one more read per user.
        status = DirListByClass(context, "", nullptr, nullptr, &iteration, result.Get());
        if (status == DIR_OK) {
            status = ChangeListedUsers(context, result.Get(), host, run);
        }
    } while (status == DIR_OK && iteration != DIR_NO_MORE_ITERATIONS);
    run.Finish();
    outcome.listingStatus = status;
    return outcome;
}

namespace {

// What a directory server's refusal or absence means to the operator, with the server's own
// words (which name the entry and the reason); "" for the other statuses.
std::string DirectoryServerMeaning(DirStatus status) {
    std::string meaning;
    const char* words = DirClientLastProblem();
    if (status == DIR_ERR_NO_ACCESS && words != nullptr &&
        std::string_view(words).find(" is a read-only copy") != std::string_view::npos) {
        meaning = "The directory server takes no changes:";  // a replica; the words say where
    } else if (status == DIR_ERR_NO_ACCESS) {
        meaning = "The directory refused the change: this login may not change these accounts.";
    } else if (status == DIR_ERR_UNAVAILABLE) {
        meaning = "The directory server could not be reached, or went away.";
    } else {
        return meaning;
    }
    if (words != nullptr && *words != '\0') {
        meaning += "\n" + std::string(words);
    }
    return meaning;
}

}  // namespace

std::string BatchProblemMessage(const BatchOutcome& outcome) {
    std::string message;
    if (!outcome.failed.empty()) {
        const std::size_t tried = outcome.failed.size() + static_cast<std::size_t>(outcome.changed);
        message += "Accounting error for " + std::to_string(outcome.failed.size()) + " of " +
                   std::to_string(tried) + " users:";
        const std::size_t named = std::min(outcome.failed.size(), kNamedFailures);
        for (std::size_t i = 0; i < named; ++i) {
            const FailedChange& failed = outcome.failed[i];
            message += "\n" + failed.name + " (" + std::to_string(failed.status) + ")";
        }
        if (outcome.failed.size() > named) {
            message += "\nand " + std::to_string(outcome.failed.size() - named) + " more";
        }
        // Said once, by the last failure of its kind: the server's latest words.
        for (DirStatus status : {DIR_ERR_NO_ACCESS, DIR_ERR_UNAVAILABLE}) {
            if (std::any_of(outcome.failed.begin(), outcome.failed.end(),
                            [&](const FailedChange& failed) { return failed.status == status; })) {
                message += "\n\n" + DirectoryServerMeaning(status);
            }
        }
    }
    if (outcome.unrecorded > 0) {
        if (!message.empty()) {
            message += "\n\n";
        }
        message += std::to_string(outcome.unrecorded) +
                   " changes were made but are not in the accounting log.";
    }
    if (outcome.recordsWaiting > 0) {
        if (!message.empty()) {
            message += "\n\n";
        }
        message += std::to_string(outcome.recordsWaiting) +
                   (outcome.recordsWaiting == 1 ? " record of a change that was made waits"
                                                : " records of changes that were made wait") +
                   " in " + outcome.outbox +
                   ", as the accounting log could not be written; they are appended at the next " +
                   "start. The users after that point were not changed (" +
                   std::to_string(outcome.changed) + " changed before).";
    }
    if (outcome.serverAway) {
        if (!message.empty()) {
            message += "\n\n";
        }
        message += "The directory server stayed away, so the batch stopped there (" +
                   std::to_string(outcome.changed) + " changed before). Not changed:";
        const std::size_t named = std::min(outcome.notDone.size(), kNamedFailures);
        for (std::size_t i = 0; i < named; ++i) {
            message += "\n" + outcome.notDone[i];
        }
        if (outcome.notDone.size() > named) {
            message += "\nand " + std::to_string(outcome.notDone.size() - named) + " more";
        }
    }
    if (outcome.directoryLocked) {
        if (!message.empty()) {
            message += "\n\n";
        }
        message += "The directory is locked by another program, so the users after that point " +
                   std::string("were not changed (") + std::to_string(outcome.changed) +
                   " changed before).";
    }
    if (outcome.logUnavailable) {
        if (!message.empty()) {
            message += "\n\n";
        }
        message += "The accounting log could not be reached, so the users after that point " +
                   std::string("were not changed (") + std::to_string(outcome.changed) +
                   " changed before).";
    }
    if (outcome.listingStatus != DIR_OK) {
        if (!message.empty()) {
            message += "\n\n";
        }
        message += "The list of users could not be read to its end (" +
                   std::to_string(outcome.listingStatus) +
                   "); the users after that point were not changed.";
        // The directory's own words say why (a server's size limit, say), so the operator
        // knows what to ask the administrator for.
        if (const std::string why = DirClientLastProblem(); !why.empty()) {
            message += "\n" + why;
        }
    }
    return message;
}

const char* OperationDisplayName(AccountOperation operation) {
    switch (operation) {
        case AccountOperation::Deposit:
            return "Deposit";
        case AccountOperation::Charge:
            return "Charge";
        case AccountOperation::SetBalance:
            return "Set Balance";
        case AccountOperation::SetLimit:
            return "Set Limit";
    }
    return "";
}

std::string AmountDialogTitle(AccountOperation operation, std::int32_t selectedCount,
                              std::string_view selectionText) {
    std::string title = OperationDisplayName(operation);
    if (selectedCount > 1) {
        return title;
    }
    return title + ": " + std::string(selectionText);
}

std::string AmountPromptLine(AccountOperation operation, std::int32_t selectedCount,
                             bool groupSelected, std::string_view selectionText,
                             const PromptValues& values, const AmountMode& mode) {
    const std::string name = OperationDisplayName(operation);
    if (selectedCount > 1) {
        return name + " for " + std::to_string(selectedCount) + " users";
    }
    if (groupSelected || selectionText == kAllUsersEntry) {
        return name + " for group " + std::string(selectionText);
    }
    if (operation == AccountOperation::SetLimit) {
        return std::string("Credit limit is ") +
               (values.unlimited ? std::string("Unlimited") : AmountText(values.creditLimit, mode));
    }
    return "Current balance is " + AmountText(values.balance, mode);
}

std::string GroupQuestion(AccountOperation operation, std::string_view selectionText) {
    return std::string(OperationDisplayName(operation)) + " for all members of group " +
           std::string(selectionText) + "?";
}

std::string AccountingErrorMessage(DirStatus status) {
    std::string message = "Accounting error " + std::to_string(status) + "!";
    if (status == DIR_ERR_LOCKED) {
        message += "\nThe directory is locked by another program. Nothing was changed.";
    } else if (status == DIR_ERR_NO_ACCESS) {
        message += "\n" + DirectoryServerMeaning(status) + "\nNothing was changed.";
    } else if (status == DIR_ERR_UNAVAILABLE) {
        message += "\n" + DirectoryServerMeaning(status);
    }
    return message;
}

std::string AmountOutOfRangeMessage(std::string_view fieldText, const AmountMode& mode) {
    return "The amount \"" + std::string(fieldText) + "\" does not fit an account: it must lie " +
           "between " + AmountText(std::numeric_limits<std::int32_t>::min() + 1, mode) + " and " +
           AmountText(std::numeric_limits<std::int32_t>::max(), mode) + ".\nNothing was changed.";
}
