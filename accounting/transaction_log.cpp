#include "accounting/transaction_log.h"

#include "accounting/account_attributes.h"
#include "accounting/log_messages.h"
#include "directory/dirclient.h"
#include "program/session.h"
#include "program/settings.h"

namespace {

std::string FullNameOf(std::string_view name) {
    const std::string text(name);
    char fullName[DIR_MAX_NAME_BYTES] = {};
    if (DirGetFullName(DirectoryContext, text.c_str(), fullName) != DIR_OK || fullName[0] == '\0') {
        return text;
    }
    return fullName;
}

}  // namespace

std::string ComposeCurrentRecord(std::string_view listedName, const RecordMoment& moment) {
    const LogLayout layout = LogLayoutFromFormat(gSettings.LogFormat);
    // Full names are asked for only where the layout shows them.
    const bool fullNames = layout == LogLayout::AsciiDelimited;
    const std::string userFullName = fullNames ? FullNameOf(listedName) : std::string();
    const std::string operatorFullName =
        fullNames ? FullNameOf(gSettings.OperatorName) : std::string();

    TransactionRecordInput in;
    in.Layout = layout;
    in.Operation = CurrentOperation;
    in.UserName = listedName;
    in.UserFullName = userFullName;
    in.OperatorName = gSettings.OperatorName;
    in.OperatorFullName = operatorFullName;
    in.LogServer = gSettings.LogServer;
    in.ChargeReason = gSettings.ChargeReason;
    in.OperationAmount = OperationAmount;
    in.BalanceAfter = AccountValues.Balance;
    in.CreditLimit = AccountValues.CreditLimit;
    in.Mode = CurrentAmountMode();
    in.Date = moment.Date;
    in.DateOrder = gSettings.DateOrder;
    in.TimeText = moment.TimeText;
    return ComposeTransactionRecord(in);
}

std::string LogAppendFailureMessage(const LogAppendResult& result, std::string_view logPath) {
    switch (result.Stage) {
        case LogAppendStage::Open:
            return LogOpenFailureMessage(logPath, result.ErrorText);
        case LogAppendStage::Locked:
            return LogLockedMessage(logPath);
        case LogAppendStage::Withheld:
            return LogWithheldMessage(logPath, result.ErrorText);
        case LogAppendStage::Written:
        case LogAppendStage::Write:
            break;
    }
    return LogWriteFailureMessage(logPath, result.ErrorText);
}
