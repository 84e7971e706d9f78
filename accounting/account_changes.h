// The account changes of the amount dialog as they really happen: through the directory client
// on DirectoryContext (ApplyAccountOperation), noted in the writer's outbox and from there into
// the accounting log at LogFilePath.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "accounting/account_batch.h"
#include "accounting/record_outbox.h"
#include "accounting/transaction_log.h"
#include "directory/buffer_owner.h"

class DirectoryAccountHost : public AccountOperationHost {
  public:
    using Clock = std::function<RecordMoment()>;
    explicit DirectoryAccountHost(Clock clock) : clock_(std::move(clock)) {}

    void Announce(const std::string&) override {}
    // Set Balance of a batch reads the balance it replaces first; a Set Credit Limit that was
    // made leaves the new limit in AccountValues, so that its record carries it.
    DirStatus Change(const std::string& name, bool readBalanceFirst) override;
    // Deposits and charges go ahead of their answers where the directory can send them so
    // (a server's); everything else is made one change at a time.
    int ChangesAhead() const override;
    void Send(const std::string& name) override;
    DirStatus Take(const std::string& name) override;
    bool Recording() const override;
    // Claims this writer's outbox, appends what earlier runs left waiting in any outbox nobody
    // holds, and checks that the log can be opened.
    LogAppendResult OpenLog() override;
    // Reads the value the change moves from and notes the change with the record it gets.
    LogAppendResult Intend(const std::string& name, const std::string& listedName) override;
    LogAppendResult NotesWritten() override;
    void Record(const std::string& listedName) override;
    // A change whose fate the directory cannot tell (a server's answer lost) is left in flight
    // in the outbox instead: a later read of the account settles it.
    void Refused() override;
    LogAppendResult Commit() override;
    void ReportLogFailure(const LogAppendResult&, bool) override {}
    // What the operator is told when OpenLog took up an outbox whose change in flight the
    // directory cannot settle.
    virtual void ReportRecovery(const std::string& message) { (void)message; }

  private:
    // The changes the directory could not say were made or not (DirClientChangeInDoubt) are
    // settled by reading the accounts before the next run's changes.
    void SettleChangesInDoubt();
    // Settles the oldest open note; false when a change before it is in doubt, so that it
    // joins those in doubt (the outbox settles its notes in order).
    bool SettledInTurn();

    Clock clock_;
    std::optional<RecordOutbox> outbox_;
    // Changes noted in the outbox whose outcome is still to come, oldest first, with the moment
    // their records were composed for.
    struct OpenNote {
        IntendedChange change;
        RecordMoment moment;
    };
    std::deque<OpenNote> open_;
    // Changes whose fate is open: their notes stay in the outbox, neither recorded nor refused,
    // for the next run (or the next start) to settle.
    std::vector<IntendedChange> inDoubt_;
    std::deque<DirStatus> sent_;             // how each change sent ahead left (DIR_OK: on its way)
    std::optional<DirBufferOwner> request_;  // the request buffer of the changes sent ahead
};

// The bound of every wait for the log's lock (the shared settings' LogLockWait).
std::chrono::milliseconds LogLockWaitSetting();

// The account values as the directory client reads them now, for settling a change in flight.
AccountValueReader DirectoryValueReader();

// At the start of the window or tallycmd: appends the records that earlier runs of this
// workstation left waiting in outboxes nobody holds, and settles their changes in flight.
OutboxRecovery DeliverWaitingRecords();
