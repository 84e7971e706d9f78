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
// limit, not a balance, and are passed over. Every print job's cost is deducted, whatever its
// page count says (the print server charged it). A record whose balance is not a number leaves
// the user's balance unknown until the next record: the audit says it could not be read.
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
    bool recorded = false;         // a deposit, charge or set balance was found
    bool unreadable = false;       // the last such record's balance is not a number
    std::string unreadableRecord;  // that record, without its line end
    std::int64_t implied = 0;      // stored units: the last record's balance less the jobs after it
    std::uint64_t recordEnd = 0;   // where the line after that record begins in the log
    std::vector<std::string> linesSince;  // the user's lines after that record, without line ends
};

class BalanceAudit {
  public:
    BalanceAudit(std::vector<AuditedUser> users, AmountMode mode);

    // Reads one line of the log, which begins `offset` bytes into it.
    void Take(std::string_view line, std::uint64_t offset);

    // A second reading, for the users of `wanted` only: their lines after their last record are
    // kept in linesSince. (The first reading keeps no lines: most users agree, and a million
    // lines copied to be dropped again would cost more than reading the log twice.)
    void Want(std::size_t user) { wanted_[user] = true; }
    void TakeSince(std::string_view line, std::uint64_t offset);

    const std::vector<AuditedUser>& Users() const { return users_; }
    LogBalance Of(std::size_t user) const;

  private:
    std::uint32_t UserOf(std::string_view line) const;
    void TakeDelimited(std::uint32_t user, std::string_view line);
    void TakeReadable(std::uint32_t user, std::string_view line);
    void Record(std::uint32_t user, std::optional<std::int64_t> balance, std::string_view line);
    void Deduct(std::uint32_t user, const Cost& cost);
    std::int64_t Units(const Cost& cost) const;

    std::vector<AuditedUser> users_;
    AmountMode mode_;
    // What is touched for every line is kept small and apart, so that it stays in the cache: the
    // running balance per user (kNoRecord until a record states one, kUnreadable after a record
    // whose balance is not a number).
    static constexpr std::int64_t kNoRecord = INT64_MIN;
    static constexpr std::int64_t kUnreadable = INT64_MIN + 1;
    std::vector<std::int64_t> implied_;
    std::vector<std::string> unreadableRecord_;
    std::vector<std::uint64_t> recordEnd_;
    std::vector<std::vector<std::string>> linesSince_;
    std::vector<bool> wanted_;
    std::uint64_t lineEnd_ = 0;  // of the line being read
    // Names as the directory spells them are found byte for byte, which is quicker; the folded
    // indexes find the same names written in another case.
    NameIndex byFullName_{NameIndex::Case::Exact};
    NameIndex byFullNameFolded_{NameIndex::Case::Ignored};
    NameIndex byListedName_{NameIndex::Case::Exact};  // cut to 10 characters
    NameIndex byListedNameFolded_{NameIndex::Case::Ignored};
    DelimitedFields fields_;
};

enum class AuditState {
    Differs,
    Agrees,
    Unreadable,  // the log's last balance record for the user could not be read
    NoRecord,    // no deposit, charge or set balance in the log
};

// One line of the audit: the directory's balance beside the log's.
struct AuditLine {
    std::string user;
    BalanceReading directory;
    LogBalance log;

    bool Agrees() const {
        return log.recorded && !log.unreadable && directory.read &&
               directory.balance == log.implied;
    }
    AuditState State() const;
};

struct AuditSummary {
    std::size_t differing = 0;
    std::size_t agreeing = 0;
    std::size_t unreadable = 0;
    std::size_t unrecorded = 0;
};
AuditSummary Summarize(const std::vector<AuditLine>& lines);

// The report: a heading with the counts, the users whose balances differ (each with its lines
// since the last record), those that agree, those whose last record could not be read (with
// that record), then those the log implies nothing for. Lines end in CR LF.
std::string AuditReport(std::string_view subject, const std::vector<AuditLine>& lines,
                        const AmountMode& mode);
// CSV: User,Directory,Log,Difference,State; State is "differs", "agrees", "unreadable record"
// or "no record".
std::string AuditCsv(const std::vector<AuditLine>& lines, const AmountMode& mode);

}  // namespace tally::reports
