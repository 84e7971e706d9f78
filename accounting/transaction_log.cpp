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

// The operator's full name, asked for once for each operator and name context rather than for
// every record of a batch.
std::string OperatorFullName() {
    static std::string operatorName;
    static std::string nameContext;
    static std::string fullName;
    char context[DIR_MAX_NAME_BYTES] = {};
    DirGetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, context);
    if (!fullName.empty() && operatorName == gSettings.OperatorName && nameContext == context) {
        return fullName;
    }
    char found[DIR_MAX_NAME_BYTES] = {};
    if (DirGetFullName(DirectoryContext, gSettings.OperatorName.c_str(), found) != DIR_OK ||
        found[0] == '\0') {
        return gSettings.OperatorName;  // asked again next time
    }
    operatorName = gSettings.OperatorName;
    nameContext = context;
    fullName = found;
    return fullName;
}

}  // namespace

std::string ComposeCurrentRecord(std::string_view listedName, const RecordMoment& moment) {
    // Full names are asked for only where the layout shows them.
    const bool fullNames = LogLayoutFromFormat(gSettings.LogFormat) == LogLayout::AsciiDelimited;
    return ComposeCurrentRecord(listedName, fullNames ? FullNameOf(listedName) : std::string(),
                                moment);
}

std::string ComposeCurrentRecord(std::string_view listedName, std::string_view userFullName,
                                 const RecordMoment& moment) {
    const LogLayout layout = LogLayoutFromFormat(gSettings.LogFormat);
    const bool fullNames = layout == LogLayout::AsciiDelimited;
    const std::string operatorFullName = fullNames ? OperatorFullName() : std::string();

    TransactionRecordInput in;
    in.layout = layout;
    in.operation = CurrentOperation;
    in.userName = listedName;
    in.userFullName = fullNames ? userFullName : std::string_view();
    in.operatorName = gSettings.OperatorName;
    in.operatorFullName = operatorFullName;
    in.logServer = gSettings.LogServer;
    in.chargeReason = gSettings.ChargeReason;
    in.operationAmount = OperationAmount;
    in.balanceAfter = AccountValues.Balance;
    in.creditLimit = AccountValues.CreditLimit;
    in.mode = CurrentAmountMode();
    in.date = moment.date;
    in.dateOrder = gSettings.DateOrder;
    in.timeText = moment.timeText;
    return ComposeTransactionRecord(in);
}

namespace {

std::string FailureOnly(const LogAppendResult& result, std::string_view logPath) {
    switch (result.stage) {
        case LogAppendStage::Open:
            return LogOpenFailureMessage(logPath, result.errorText);
        case LogAppendStage::Locked:
            return LogLockedMessage(logPath);
        case LogAppendStage::Withheld:
            return LogWithheldMessage(logPath, result.errorText);
        case LogAppendStage::Outbox:
            return LogOutboxFailureMessage(result.errorText);
        case LogAppendStage::Written:
        case LogAppendStage::Write:
            break;
    }
    return LogWriteFailureMessage(logPath, result.errorText);
}

}  // namespace

std::string LogAppendFailureMessage(const LogAppendResult& result, std::string_view logPath) {
    std::string message = FailureOnly(result, logPath);
    if (result.waitingRecords > 0) {
        message += "\n" + LogRecordsWaitingMessage(result.waitingRecords, result.waitingIn);
    }
    return message;
}
