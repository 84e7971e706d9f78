// Appending transaction records to the accounting log, which the accounting server and other
// copies of TallyDesk append to at the same time.
//
// Every writer follows the log's append convention (docs/accounting-log.md): open the log for
// writing with shared read and write access (created when absent), take an exclusive lock on the
// one byte at tally::platform::kAppendLockOffset of the log itself, write the whole record at
// the end in one write, unlock, close. The lock makes "find the end, write there" one step for
// everybody who follows the convention, so records never overwrite each other or interleave.
//
// TallyDesk holds the lock only to write and flush records that are ready; the records of
// changes on their way wait in the writer's outbox (accounting/record_outbox.h). The wait for
// the lock is bounded and taken in turn, so a program that holds the log locked for good cannot
// freeze this one, and none can starve another.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

enum class LogAppendStage {
    Written,   // the whole record is in the log
    Open,      // the log could not be opened (or created); nothing was written
    Locked,    // another program held the log's lock for longer than the wait; nothing written
    Write,     // the log was opened but the record could not be written or flushed
    Withheld,  // the directory could not save its changes to the disk, so their records were
               // not written either (a record must never outlive the change it reports)
    Outbox,    // the writer's outbox could not be written, so no change could be made safely
};

struct LogAppendResult {
    LogAppendResult() = default;
    LogAppendResult(LogAppendStage stageMet, std::string text, int waiting = 0)
        : stage(stageMet), errorText(std::move(text)), waitingRecords(waiting) {}

    LogAppendStage stage = LogAppendStage::Written;
    // For a failure: the system's text for the error with its code, as SystemErrorText gives it.
    std::string errorText;
    // Records that could not be appended now and wait in the writer's outbox for the next
    // chance (accounting/record_outbox.h).
    int waitingRecords = 0;
    std::string waitingIn;  // the outbox they wait in

    bool Written() const { return stage == LogAppendStage::Written; }
};

// How long a writer waits for the log's lock before it gives up and says so, unless the shared
// settings give another bound (LogLockWait).
inline constexpr std::chrono::milliseconds kLogLockWait{30000};

// The log opened for appending and locked for as long as the object lives; unlocked and closed
// on every way out.
class LockedLog {
  public:
    // Opens `logPath` (created when absent) and takes its lock, waiting at most `wait`. The
    // result tells Open, Locked or Written (held).
    static LockedLog Open(const std::string& logPath, LogAppendResult& result,
                          std::chrono::milliseconds wait = kLogLockWait);

    LockedLog(LockedLog&& other) noexcept;
    LockedLog& operator=(LockedLog&& other) noexcept;
    LockedLog(const LockedLog&) = delete;
    LockedLog& operator=(const LockedLog&) = delete;
    ~LockedLog();

    bool Held() const { return locked_; }

    // Writes `records` at the end of the log in one write and flushes them to the disk before
    // it returns. Write stage on failure.
    LogAppendResult Append(std::string_view records);

  private:
    LockedLog() = default;
    void Release();

    std::intptr_t handle_ = -1;
    bool locked_ = false;
};

// Whether the log can be opened for appending (created when absent): Written, or Open with the
// system's text. Takes no lock.
LogAppendResult CheckLogWritable(const std::string& logPath);

// Opens the log, appends `record` under the lock, flushes it and closes the log again: no handle
// stays open between records.
LogAppendResult AppendLogRecord(const std::string& logPath, std::string_view record);

// The text of the calling thread's last system error followed by its code, "<text> (<code>)".
// The code is taken before anything else can change it.
std::string SystemErrorText();
