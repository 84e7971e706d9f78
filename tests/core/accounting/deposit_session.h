// The operator's session that the log writers and the deposit benchmark both run: ADMIN.CORP
// depositing 1 under the standard schema, every change recorded on ACCT1 in ASCII delimited form
// in `logFile`. The directory client's configuration must have been loaded.
#pragma once

#include <string>

#include "accounting/account_attributes.h"
#include "accounting/account_changes.h"
#include "program/session.h"
#include "program/settings.h"

inline void StartDepositOfOne(const std::string& logFile) {
    OpenDirectoryContext();
    gSettings.Schema = SelectAccountSchema(kStandardSchemaKeyword);
    gSettings.NumericalFormat = 1;
    gSettings.LogFormat = 1;
    gSettings.RecordingEnabled = true;
    gSettings.OperatorName = "ADMIN.CORP";
    gSettings.LogServer = "ACCT1";
    gSettings.LogFilePath = logFile;
    CurrentOperation = AccountOperation::Deposit;
    OperationAmount = 1;
}
