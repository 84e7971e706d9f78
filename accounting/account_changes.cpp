#include "accounting/account_changes.h"

#include <filesystem>
#include <limits>
#include <system_error>

#include "accounting/account_attributes.h"
#include "directory/dirclient_setup.h"
#include "program/session.h"
#include "program/settings.h"

namespace {

// Stands for "not known" where a value the change would leave cannot be worked out: no 32-bit
// attribute ever holds it, so such a change is never taken as made.
constexpr std::int64_t kUnknownValue = std::numeric_limits<std::int64_t>::min();

std::int32_t Clamped(std::int64_t value) {
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return 0;
    }
    return static_cast<std::int32_t>(value);
}

std::optional<std::int64_t> ReadValue(const std::string& object, const std::string& attribute) {
    std::int32_t value = 0;
    const DirStatus status = ReadAccountAttribute(object.c_str(), attribute.c_str(), &value);
    if (status == DIR_ERR_NO_SUCH_ATTRIBUTE) {
        return 0;
    }
    if (status != DIR_OK) {
        return std::nullopt;
    }
    return value;
}

// The value the change moves from, as the batch saw it last (its listing, or the result of an
// earlier change in the same run) rather than read once more for every user. It only ever goes
// into the outbox's note of the change in flight, which a later start settles by reading the
// account: a value that others changed meanwhile then matches neither end and the change is
// told as doubtful; the record of a change that is made carries the value the directory
// returned with it.
std::optional<std::int64_t> KnownValue(const std::string& object, const std::string& attribute) {
    std::int32_t value = 0;
    const DirStatus status =
        DirClientKnownNumber(DirectoryContext, object.c_str(), attribute.c_str(), &value);
    if (status == DIR_ERR_NO_SUCH_ATTRIBUTE) {
        return 0;
    }
    if (status != DIR_OK) {
        return std::nullopt;
    }
    return value;
}

// The complete name with a leading point, which the directory takes as it is whatever the
// name context is when the outbox is read again.
// `fullName` gets what DirGetFullName gives (the name itself when it gives nothing).
std::string CompleteObjectName(const std::string& name, std::string* fullName = nullptr) {
    char found[DIR_MAX_NAME_BYTES] = {};
    if (DirGetFullName(DirectoryContext, name.c_str(), found) != DIR_OK || found[0] == '\0') {
        if (fullName != nullptr) {
            *fullName = name;
        }
        return name;
    }
    if (fullName != nullptr) {
        *fullName = found;
    }
    return std::string(".") + found;
}

// The settings name the folder at start-up; a program that set its settings by hand (a test, a
// tool) keeps its outbox in the temporary folder.
std::filesystem::path OutboxFolder() {
    if (!gSettings.OutboxFolder.empty()) {
        return gSettings.OutboxFolder;
    }
    std::error_code ignored;
    return std::filesystem::temp_directory_path(ignored);
}

}  // namespace

std::chrono::milliseconds LogLockWaitSetting() {
    return std::chrono::seconds(gSettings.LogLockWaitSeconds >= 1 ? gSettings.LogLockWaitSeconds
                                                                  : kDefaultLogLockWaitSeconds);
}

AccountValueReader DirectoryValueReader() {
    return ReadValue;
}

OutboxRecovery DeliverWaitingRecords() {
    return RecoverWaitingRecords(OutboxFolder(), gSettings.LogFilePath, LogLockWaitSetting(),
                                 DirectoryValueReader());
}

DirStatus DirectoryAccountHost::Change(const std::string& name, bool readBalanceFirst) {
    if (readBalanceFirst && CurrentOperation == AccountOperation::SetBalance) {
        ReadAccountAttribute(name.c_str(), gSettings.Schema.BalanceAttribute.c_str(),
                             &AccountValues.Balance);
    }
    const DirStatus status = ApplyAccountOperation(name.c_str());
    if (status == DIR_OK && CurrentOperation == AccountOperation::SetLimit) {
        // An unlimited account's limit attribute is cleared, which reads as 0.
        AccountValues.CreditLimit = AccountValues.Unlimited != 0 ? 0 : OperationAmount;
    }
    return status;
}

bool DirectoryAccountHost::Recording() const {
    return gSettings.RecordingEnabled;
}

int DirectoryAccountHost::ChangesAhead() const {
    return SendsAhead(CurrentOperation) ? DirClientChangesAhead() : 1;
}

void DirectoryAccountHost::Send(const std::string& name) {
    if (!request_) {
        request_.emplace(DIR_BUFFER_SIZE);
    }
    sent_.push_back(SendAccountOperation(name.c_str(), request_->Get()));
}

DirStatus DirectoryAccountHost::Take(const std::string& name) {
    if (sent_.empty()) {
        return DIR_ERR_BAD_BUFFER;
    }
    const DirStatus sent = sent_.front();
    sent_.pop_front();
    // A change that could not be sent has that for its outcome; the directory has none to take.
    return sent == DIR_OK ? TakeAccountOperation(name.c_str()) : sent;
}

LogAppendResult DirectoryAccountHost::OpenLog() {
    if (!inDoubt_.empty()) {
        SettleChangesInDoubt();
    }
    if (!outbox_) {
        std::string error;
        outbox_ = RecordOutbox::Claim(OutboxFolder(), &error);
        if (!outbox_) {
            return {LogAppendStage::Outbox, error};
        }
    }
    OutboxRecovery recovery;
    RecoverOutbox(*outbox_, gSettings.LogFilePath, LogLockWaitSetting(), DirectoryValueReader(),
                  recovery);
    const OutboxRecovery others = RecoverWaitingRecords(OutboxFolder(), gSettings.LogFilePath,
                                                        LogLockWaitSetting(), ReadValue);
    recovery.appended += others.appended;
    recovery.waiting += others.waiting;
    recovery.waitingIn.insert(recovery.waitingIn.end(), others.waitingIn.begin(),
                              others.waitingIn.end());
    recovery.doubtful.insert(recovery.doubtful.end(), others.doubtful.begin(),
                             others.doubtful.end());
    if (recovery.failure.Written()) {
        recovery.failure = others.failure;
    }
    if (!recovery.doubtful.empty()) {
        ReportRecovery(OutboxRecoveryMessage(recovery));
    }
    if (recovery.waiting > 0) {
        // The log cannot take what waits: new changes would only wait behind it.
        LogAppendResult result = recovery.failure;
        result.waitingRecords = recovery.waiting;
        result.waitingIn = recovery.waitingIn.front();
        return result;
    }
    return CheckLogWritable(gSettings.LogFilePath);
}

LogAppendResult DirectoryAccountHost::Intend(const std::string& name,
                                             const std::string& listedName) {
    const AccountSchema& schema = gSettings.Schema;
    const bool limit = CurrentOperation == AccountOperation::SetLimit;
    IntendedChange change;
    // The record shows the full name of the user as listed: the same name, mostly, asked once.
    std::string fullName;
    change.object = CompleteObjectName(name, name == listedName ? &fullName : nullptr);
    change.attribute = limit ? schema.LimitAttribute : schema.BalanceAttribute;
    change.before = KnownValue(name, change.attribute);
    switch (CurrentOperation) {
        case AccountOperation::Deposit:
        case AccountOperation::Charge:
            change.expected = change.before ? *change.before + OperationAmount : kUnknownValue;
            break;
        case AccountOperation::SetBalance:
            change.expected = OperationAmount;
            break;
        case AccountOperation::SetLimit:
            change.expected = AccountValues.Unlimited != 0 ? 0 : OperationAmount;
            break;
    }
    // The record the change gets if it is made, with the value it leaves.
    const AccountValuesRecord kept = AccountValues;
    (limit ? AccountValues.CreditLimit : AccountValues.Balance) = Clamped(change.expected);
    const RecordMoment moment = clock_();
    change.record = name == listedName ? ComposeCurrentRecord(listedName, fullName, moment)
                                       : ComposeCurrentRecord(listedName, moment);
    AccountValues = kept;
    std::string error;
    if (!outbox_ || !outbox_->NoteIntent(change, &error, false)) {
        return {LogAppendStage::Outbox, error};
    }
    open_.push_back({std::move(change), moment});
    return {};
}

LogAppendResult DirectoryAccountHost::NotesWritten() {
    std::string error;
    if (!outbox_ || !outbox_->Flush(&error)) {
        return {LogAppendStage::Outbox, error};
    }
    return {};
}

void DirectoryAccountHost::SettleChangesInDoubt() {
    OutboxRecovery told;
    for (const IntendedChange& change : inDoubt_) {
        if (!outbox_) {
            break;
        }
        switch (JudgeInFlight(change, ReadValue(change.object, change.attribute))) {
            case InFlightVerdict::Made:
                outbox_->NoteRecord(change.record, nullptr);
                break;
            case InFlightVerdict::NotMade:
                outbox_->NoteRefused(nullptr);
                break;
            case InFlightVerdict::Unknown:
                told.doubtful.push_back(
                    change.record.substr(0, change.record.find_last_not_of("\r\n") + 1));
                outbox_->NoteRefused(nullptr);
                break;
        }
    }
    inDoubt_.clear();
    if (!told.doubtful.empty()) {
        ReportRecovery(OutboxRecoveryMessage(told));
    }
}

bool DirectoryAccountHost::SettledInTurn() {
    if (open_.empty()) {
        return true;  // noted without an outbox: nothing to settle
    }
    // The outbox settles its open notes oldest first, so once one is in doubt, every later one
    // waits behind it (made or not) for the read that settles them all in order.
    if (inDoubt_.empty()) {
        open_.pop_front();
        return true;
    }
    inDoubt_.push_back(std::move(open_.front().change));
    open_.pop_front();
    return false;
}

void DirectoryAccountHost::Record(const std::string& listedName) {
    const RecordMoment moment = clock_();
    // A deposit or charge that left the balance its note expected, in the same minute, has the
    // record its note carries already.
    std::string record;
    if (!open_.empty()) {
        const OpenNote& note = open_.front();
        if (SendsAhead(CurrentOperation) && note.change.expected == AccountValues.Balance &&
            note.moment == moment) {
            record = note.change.record;
        }
    }
    // A note that cannot reach the outbox file is still kept for the commit; only its
    // protection against a kill is lost.
    if (SettledInTurn() && outbox_) {
        outbox_->NoteRecord(record.empty() ? ComposeCurrentRecord(listedName, moment) : record,
                            nullptr);
    }
}

void DirectoryAccountHost::Refused() {
    if (DirClientChangeInDoubt() && !open_.empty()) {
        inDoubt_.push_back(std::move(open_.front().change));
        open_.pop_front();
        return;
    }
    if (SettledInTurn() && outbox_) {
        outbox_->NoteRefused(nullptr);
    }
}

LogAppendResult DirectoryAccountHost::Commit() {
    const DirStatus saved = DirClientSaveChanges();
    if (saved != DIR_OK) {
        if (outbox_) {
            outbox_->Drop(nullptr);
        }
        return {LogAppendStage::Withheld, std::to_string(saved)};
    }
    if (!outbox_) {
        return {};
    }
    const bool emptied = outbox_->WaitingCount() > 0;
    LogAppendResult result = outbox_->Deliver(gSettings.LogFilePath, LogLockWaitSetting());
    if (!result.Written()) {
        result.waitingIn = outbox_->Path().string();
    } else if (emptied) {
        // Delivering emptied the outbox: the changes in doubt are noted again, so that whoever
        // takes the outbox up next settles them.
        for (const IntendedChange& change : inDoubt_) {
            outbox_->NoteIntent(change, nullptr);
        }
    }
    return result;
}
