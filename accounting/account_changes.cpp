#include "accounting/account_changes.h"

#include "app/settings.h"
#include "directory/account_attributes.h"

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

LogAppendResult DirectoryAccountHost::record(const std::string& listedName) {
    return AppendLogRecord(gSettings.LogFilePath, ComposeCurrentRecord(listedName, clock_()));
}
