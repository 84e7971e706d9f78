#include "accounting/account_changes.h"

#include "accounting/account_attributes.h"
#include "directory/dirclient_setup.h"
#include "program/settings.h"

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

LogAppendResult DirectoryAccountHost::OpenLog() {
    LogAppendResult result;
    LockedLog opened = LockedLog::Open(gSettings.LogFilePath, result);
    if (opened.Held()) {
        log_.emplace(std::move(opened));
    }
    return result;
}

void DirectoryAccountHost::Record(const std::string& listedName) {
    records_ += ComposeCurrentRecord(listedName, clock_());
}

LogAppendResult DirectoryAccountHost::Commit() {
    std::optional<LockedLog> log = std::move(log_);
    log_.reset();
    std::string records = std::move(records_);
    records_.clear();
    const DirStatus saved = DirClientSaveChanges();
    if (saved != DIR_OK) {
        return {LogAppendStage::Withheld, std::to_string(saved)};
    }
    if (records.empty()) {
        return {};
    }
    if (!log) {
        return {LogAppendStage::Write, "the log was not opened"};
    }
    return log->Append(records);
}
