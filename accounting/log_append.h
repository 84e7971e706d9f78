// Appending one transaction record to the accounting log, which the accounting server and other
// copies of TallyDesk append to at the same time.
//
// Every writer follows the log's append convention (docs/accounting-log.md): open the log for
// writing with shared read and write access (created when absent), take an exclusive lock on the
// one byte at tally::platform::kAppendLockOffset of the log itself, write the whole record at
// the end in one write, unlock, close. The lock makes "find the end, write there" one step for
// everybody who follows the convention, so records never overwrite each other or interleave.
#pragma once

#include <string>
#include <string_view>

enum class LogAppendStage {
    Written,  // the whole record is in the log
    Open,     // the log could not be opened (or created); nothing was written
    Write,    // the log was opened but the record could not be locked in or written
};

struct LogAppendResult {
    LogAppendStage Stage = LogAppendStage::Written;
    // For a failure: the system's text for the error with its code, as SystemErrorText gives it.
    std::string ErrorText;

    bool written() const { return Stage == LogAppendStage::Written; }
};

// Opens `logPath`, appends `record` under the append lock and closes the log again: no handle
// stays open between records.
LogAppendResult AppendLogRecord(const std::string& logPath, std::string_view record);

// The text of the calling thread's last system error followed by its code, "<text> (<code>)".
// The code is taken before anything else can change it.
std::string SystemErrorText();
