// The transaction record: the one line appended to the accounting log for each account change.
//
// Two layouts share the log with the accounting server's print-job records. The readers tell
// the kinds apart by fixed places in the line (the quoted tag in field 2, the empty fields 10
// and 11, the blank page columns), so a record must never move those places:
//
//  - Control characters (line breaks and tabs included) become blanks in every field of both
//    layouts; a line break would otherwise end the record early and start a bogus one.
//  - In the ASCII delimited layout a double quote inside a field becomes a single quote, and a
//    comma becomes a semicolon. Readers end a quoted field at its next quote and split at every
//    comma, quoted or not, so either character would shift the amounts into other fields (a
//    charge reason with two commas would make the record look like a print job with a cost).
//  - The Readable layout keeps quotes and commas: its readers go by columns, and the record's
//    user name must match the name the history searches for.
// Records are built whole in a string, however long the full names are.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "accounting/amounts.h"
#include "program/values.h"

enum class LogLayout { Readable, AsciiDelimited };

// The stored `LogFormat`: 0 is Readable, every other value ASCII delimited.
LogLayout LogLayoutFromFormat(int logFormat);

struct RecordDate {
    int year = 0;
    int month = 0;
    int day = 0;

    bool operator==(const RecordDate&) const = default;
};

// The date by the locale's `DateOrder`: 0 month/day/year, 1 day/month/year, 2 year/month/day,
// anything else month/day/year; month and day zero-padded, the year in full.
std::string RecordDateText(const RecordDate& date, int dateOrder);

// The operator as the Readable layout shows it: the login name's first 63 characters, up to its
// first ".".
std::string OperatorShortName(std::string_view operatorName);

// Field 2: "Deposit", "SetBal", "SetLimit", or for a charge the charge reason ("Charge" when it
// is empty).
std::string TransactionTag(AccountOperation operation, std::string_view chargeReason);

struct RecordAmounts {
    std::int32_t first = 0;
    std::int32_t second = 0;
};

// Deposit and charge: the signed amount and the balance after the change. Set balance: 0 and the
// balance after the change. Set limit: 0 and `creditLimit`, whichever limit the caller chooses to
// log (the new one is the useful one).
RecordAmounts TransactionAmounts(AccountOperation operation, std::int32_t operationAmount,
                                 std::int32_t balanceAfter, std::int32_t creditLimit);

struct TransactionRecordInput {
    LogLayout layout = LogLayout::AsciiDelimited;
    AccountOperation operation = AccountOperation::Deposit;
    std::string_view userName;          // as listed (Readable)
    std::string_view userFullName;      // typeless distinguished name (ASCII delimited)
    std::string_view operatorName;      // login name; Readable shows its short form
    std::string_view operatorFullName;  // ASCII delimited
    std::string_view logServer;         // ASCII delimited
    std::string_view chargeReason;
    std::int32_t operationAmount = 0;
    std::int32_t balanceAfter = 0;
    std::int32_t creditLimit = 0;
    AmountMode mode;
    RecordDate date;
    int dateOrder = 0;
    std::string_view timeText;  // the locale's 24-hour "hh:mm", already formatted
};

// The whole line, "\r\n" included.
std::string ComposeTransactionRecord(const TransactionRecordInput& input);
