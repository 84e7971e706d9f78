// Recording account changes in the accounting log from the Win32 program.
#pragma once

#include <windows.h>

#include "accounting/transaction_log.h"

// The local date of now (converted the NT way with TimeZoneInfo, else through file time) and the
// system default locale's 24-hour time without seconds.
RecordMoment CurrentRecordMoment();

// The warning box, owned by `owner`, for a record that did not reach the log.
void ShowLogFailure(HWND owner, const LogAppendResult& result);

// Appends the record of the current operation for the user listed as `listedName` to the log at
// LogFilePath. When it cannot, a warning box owned by `owner` says so; returns whether the record
// was written.
bool WriteTransactionRecord(HWND owner, const char* listedName);
