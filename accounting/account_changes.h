// The account changes of the amount dialog as they really happen: through the directory client
// on DirectoryContext (ApplyAccountOperation) and into the accounting log at LogFilePath.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "accounting/account_batch.h"
#include "accounting/transaction_log.h"

class DirectoryAccountHost : public AccountOperationHost {
  public:
    using Clock = std::function<RecordMoment()>;
    explicit DirectoryAccountHost(Clock clock) : clock_(std::move(clock)) {}

    void Announce(const std::string&) override {}
    // Set Balance of a batch reads the balance it replaces first; a Set Credit Limit that was
    // made leaves the new limit in AccountValues, so that its record carries it.
    DirStatus Change(const std::string& name, bool readBalanceFirst) override;
    bool Recording() const override;
    LogAppendResult OpenLog() override;
    void Record(const std::string& listedName) override;
    LogAppendResult Commit() override;
    void ReportLogFailure(const LogAppendResult&, bool) override {}

  private:
    Clock clock_;
    std::optional<LockedLog> log_;
    std::string records_;
};
