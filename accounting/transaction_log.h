// The transaction record of the current operation, composed from the program's state, and the
// message the operator sees when it cannot reach the log.
#pragma once

#include <string>
#include <string_view>

#include "accounting/amounts.h"
#include "accounting/log_append.h"
#include "accounting/transaction_record.h"

// The local date and the locale's 24-hour time of a record, as the platform gives them.
struct RecordMoment {
    RecordDate date;
    std::string timeText;

    bool operator==(const RecordMoment&) const = default;
};

// The whole record line of CurrentOperation for the user listed as `listedName`: amounts from
// OperationAmount and AccountValues (the balance as read back after the change, for a set limit
// the credit limit), names, server, layout and date order from the settings. A full name the
// directory cannot give is written as the name itself.
std::string ComposeCurrentRecord(std::string_view listedName, const RecordMoment& moment);
// The same with the user's full name known already (as DirGetFullName gives it, else the listed
// name).
std::string ComposeCurrentRecord(std::string_view listedName, std::string_view userFullName,
                                 const RecordMoment& moment);

// "Unable to open <path>:\n<text>" or "Unable to write to <path>:\n<text>" for a failed append.
std::string LogAppendFailureMessage(const LogAppendResult& result, std::string_view logPath);
