#include "accounting/account_changes.h"

#include "accounting/account_attributes.h"
#include "directory/dirclient_setup.h"
#include "program/settings.h"

DirStatus DirectoryAccountHost::change(const std::string& name, bool readBalanceFirst) {
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

bool DirectoryAccountHost::recording() const {
    return gSettings.RecordingEnabled;
}

LogAppendResult DirectoryAccountHost::openLog() {
    LogAppendResult result;
    LockedLog opened = LockedLog::open(gSettings.LogFilePath, result);
    if (opened.held()) {
        log_.emplace(std::move(opened));
    }
    return result;
}

void DirectoryAccountHost::record(const std::string& listedName) {
    records_ += ComposeCurrentRecord(listedName, clock_());
}

LogAppendResult DirectoryAccountHost::commit() {
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
    return log->append(records);
}
