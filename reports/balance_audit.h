// The audit of balances against the accounting log.
//
// Every deposit, charge and set balance that TallyDesk records carries the balance after the
// change; the print server deducts each job's cost from the balance as it logs the job. So the
// log implies a balance for every user with such a record: the balance after the last one, less
// the cost of every print job logged after it. The audit sets that beside the balance the
// directory holds. A difference means a record missing from the log, a change made outside
// TallyDesk, or a print server that does not deduct.
//
// A user's delimited lines are found by the user's full name in field 1, Readable lines by the
// name as listed, cut to 10 characters (case ignored both ways). Set-limit records carry a credit
// limit, not a balance, and are passed over.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reports/account_balances.h"
#include "reports/log_records.h"
#include "reports/name_index.h"

namespace tally::reports {

struct AuditedUser {
    std::string name;      // as listed (its first part names its Readable lines)
    std::string fullName;  // as the delimited records carry it
};

// What the log says of one user.
struct LogBalance {
    bool recorded = false;     // a deposit, charge or set balance was found
    std::int64_t implied = 0;  // stored units: the last record's balance less the jobs after it
    std::vector<std::string> linesSince;  // the user's lines after that record, without line ends
};

class BalanceAudit {
  public:
    BalanceAudit(std::vector<AuditedUser> users, AmountMode mode);

    // Reads one line of the log.
    void Take(std::string_view line);

    const std::vector<AuditedUser>& Users() const { return users_; }
    const LogBalance& Of(std::size_t user) const { return found_[user]; }

  private:
    void TakeDelimited(std::uint32_t user, std::string_view line);
    void TakeReadable(std::uint32_t user, std::string_view line);
    void Record(std::uint32_t user, std::int64_t balance);
    void Deduct(std::uint32_t user, const Cost& cost, std::string_view line);
    std::int64_t Units(const Cost& cost) const;

    std::vector<AuditedUser> users_;
    AmountMode mode_;
    std::vector<LogBalance> found_;
    NameIndex byFullName_{NameIndex::Case::Ignored};
    NameIndex byListedName_{NameIndex::Case::Ignored};  // cut to 10 characters
    DelimitedFields fields_;
};

// One line of the audit: the directory's balance beside the log's.
struct AuditLine {
    std::string user;
    BalanceReading directory;
    LogBalance log;

    bool Agrees() const {
        return log.recorded && directory.read && directory.balance == log.implied;
    }
};

struct AuditSummary {
    std::size_t differing = 0;
    std::size_t agreeing = 0;
    std::size_t unrecorded = 0;  // no deposit, charge or set balance in the log
};
AuditSummary Summarize(const std::vector<AuditLine>& lines);

// The report: a heading with the counts, the users whose balances differ (each with its lines
// since the last record), those that agree, then those the log implies nothing for. Lines end
// in CR LF.
std::string AuditReport(std::string_view subject, const std::vector<AuditLine>& lines,
                        const AmountMode& mode);
// CSV: User,Directory,Log,Difference,State; State is "differs", "agrees" or "no record".
std::string AuditCsv(const std::vector<AuditLine>& lines, const AmountMode& mode);

}  // namespace tally::reports
