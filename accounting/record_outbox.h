// The outbox: a workstation's own file of transaction records that have not reached the shared
// log yet (docs/accounting-log.md, "The outbox").
//
// A change is noted in the outbox before it is made, with the record it gets when it is made;
// once made, its real record follows, or a note that the directory refused it. Every few hundred
// changes the records are appended to the log in one short hold of the log's lock, and the
// outbox is emptied. So the log's lock is never held across a directory call, and a program
// killed at any point leaves at most one change (the one in flight) whose fate is open: the next
// start reads the outbox, asks the directory about that change, and appends what is waiting.
//
// Each writer has an outbox of its own, held by the append lock on the outbox file itself for
// as long as it writes there (tallydsk.out, then tallydsk.2.out, ... for more writers on one
// workstation); an outbox nobody holds is one whose writer has ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accounting/log_append.h"
#include "platform/files.h"

// A change about to be made, as the outbox notes it: the value it moves from and to, so that
// whether it was made can be told afterwards from the directory alone.
struct IntendedChange {
    std::string object;                  // the complete name, with a leading point
    std::string attribute;               // the attribute whose value shows the change
    std::optional<std::int64_t> before;  // nullopt when it could not be read
    std::int64_t expected = 0;           // its value once the change is made
    std::string record;                  // the record of the change once made (with CR LF)

    bool operator==(const IntendedChange&) const = default;
};

// What an outbox file holds, read back.
struct OutboxContents {
    std::vector<std::string> records;  // records of changes that were made, in order
    // Changes noted but neither made nor refused, in the order noted. A record or a refusal
    // settles the oldest change still open: a batch that sends changes ahead takes their
    // outcomes in the order it noted them.
    std::vector<IntendedChange> inFlight;
    // The records before the first delivery note were being appended to the log, which was no
    // longer than this then: they may be in it from there on.
    std::optional<std::uint64_t> sentFrom;
    std::size_t sentCount = 0;
    int unreadLines = 0;  // lines that are no entry (a line cut short by a kill, say)
};

OutboxContents ParseOutbox(std::string_view text);

enum class InFlightVerdict { Made, NotMade, Unknown };

// Whether the change was made, from the attribute's value now (nullopt: it could not be read).
// A value that is neither the old nor the new one cannot tell: somebody else changed it since.
InFlightVerdict JudgeInFlight(const IntendedChange& change, std::optional<std::int64_t> now);

// The value of an attribute of an object as the directory has it now (an absent attribute
// reads 0); nullopt when it cannot be read.
using AccountValueReader = std::function<std::optional<std::int64_t>(const std::string& object,
                                                                     const std::string& attribute)>;

class RecordOutbox {
  public:
    // Claims an outbox in `folder` that no running writer holds, creating it when needed. On
    // failure returns nothing and says why in `error`.
    static std::optional<RecordOutbox> Claim(const std::filesystem::path& folder,
                                             std::string* error);

    // Takes the outbox `file` (created when absent) unless a running writer holds it (`busy`).
    static std::optional<RecordOutbox> Take(const std::filesystem::path& file, bool* busy,
                                            std::string* error);

    RecordOutbox(RecordOutbox&&) noexcept = default;
    RecordOutbox& operator=(RecordOutbox&&) noexcept = default;
    ~RecordOutbox();

    const std::filesystem::path& Path() const { return path_; }
    // What the file held when it was claimed (left by a writer that ended before delivering).
    const std::string& LeftOver() const { return leftOver_; }

    // Each note reaches the system before the call returns, so it survives the program being
    // killed; FlushToDisk makes the notes so far survive a power loss as well. A record's note
    // goes with the next note (the next change's intent, or the delivery), one write for both:
    // a program killed in between leaves its change's intent open, and the next start settles
    // it by reading the account like any change in flight.
    // `flush` false: the intent goes with the next Flush (or note that flushes), which the
    // writer calls before it makes the change.
    bool NoteIntent(const IntendedChange& change, std::string* error, bool flush = true);
    bool Flush(std::string* error);
    bool NoteRecord(std::string_view record, std::string* error);
    bool NoteRefused(std::string* error);
    // Takes the records that the file holds already as the waiting ones.
    void Resume(const std::vector<std::string>& records);
    // Notes that the waiting records are in the log already.
    bool NoteDelivered(std::string* error);

    // The records noted since the outbox was last emptied, in order.
    const std::string& Waiting() const { return waiting_; }
    int WaitingCount() const { return waitingCount_; }

    // Appends the waiting records to the log at `logPath` in one hold of its lock (waiting at
    // most `wait`), flushed, and empties the outbox. On failure the records stay waiting.
    LogAppendResult Deliver(const std::string& logPath, std::chrono::milliseconds wait);

    // Empties the outbox without delivering (the records must not be written).
    bool Drop(std::string* error);

  private:
    RecordOutbox(std::filesystem::path path, tally::platform::AppendLock lock)
        : path_(std::move(path)), lock_(std::move(lock)) {}
    bool Note(const std::string& line, std::string* error, bool flush = true);
    bool Reopen(const char* mode, std::string* error);

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::filesystem::path path_;
    tally::platform::AppendLock lock_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::string leftOver_;
    std::string waiting_;
    int waitingCount_ = 0;
};

// What the records left in outboxes came to when they were taken up.
struct OutboxRecovery {
    int appended = 0;                    // records appended to the log now
    int waiting = 0;                     // records that still wait (the log could not be had)
    std::vector<std::string> waitingIn;  // the outboxes they wait in
    // Changes in flight when their writer ended that the directory cannot tell about: neither
    // recorded nor dropped silently, but told to the operator (their records, without CR LF).
    std::vector<std::string> doubtful;
    LogAppendResult failure;  // the first failure to reach the log
};

// Takes up what an outbox holds: its change in flight settled with the directory, its records
// appended to the log unless they are there already.
void RecoverOutbox(RecordOutbox& outbox, const std::string& logPath, std::chrono::milliseconds wait,
                   const AccountValueReader& reader, OutboxRecovery& recovery);

// Every outbox in `folder` that no running writer holds, taken up as RecoverOutbox does.
OutboxRecovery RecoverWaitingRecords(const std::filesystem::path& folder,
                                     const std::string& logPath, std::chrono::milliseconds wait,
                                     const AccountValueReader& reader);

// What the operator is told about a recovery ("" when there is nothing to tell).
std::string OutboxRecoveryMessage(const OutboxRecovery& recovery);
