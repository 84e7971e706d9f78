// Recording account changes in the accounting log from the Win32 program.
#pragma once

#include <windows.h>

#include "accounting/transaction_log.h"

// The local date of now (converted the NT way with TimeZoneInfo, else through file time) and the
// system default locale's 24-hour time without seconds.
RecordMoment CurrentRecordMoment();

// The warning box, owned by `owner`, for a record that did not reach the log; when the failure
// was found before the change, the box also says that nothing was changed.
void ShowLogFailure(HWND owner, const LogAppendResult& result, bool nothingChanged);
