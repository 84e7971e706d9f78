#include "reports/balance_audit.h"

#include <algorithm>
#include <cmath>

#include "reports/csv_rows.h"
#include "reports/report_periods.h"
#include "reports/report_words.h"

namespace tally::reports {
namespace {

constexpr std::size_t kReadableNameColumns = 10;
constexpr std::size_t kReadableTagColumn = 11;
constexpr std::size_t kReadableTagWidth = 8;
constexpr std::size_t kReadablePagesColumn = 58;
constexpr std::size_t kReadablePagesWidth = 4;
constexpr std::size_t kReadableCostColumn = 63;
constexpr std::size_t kReadableCostWidth = 8;
constexpr std::string_view kSetLimitTag = "SetLimit";

std::string_view TrimmedRight(std::string_view text) {
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view FirstPart(std::string_view name) {
    if (!name.empty() && name.front() == '.') {
        name.remove_prefix(1);
    }
    return name.substr(0, name.find('.'));
}

// The user's name of a Readable line: its first 10 columns without the padding, when a blank
// follows them.
std::string_view ReadableUser(std::string_view line) {
    if (line.size() <= kReadableNameColumns || line[kReadableNameColumns] != ' ') {
        return {};
    }
    return TrimmedRight(line.substr(0, kReadableNameColumns));
}

// Field 13 of a delimited line: what follows field 12 and its comma.
std::string_view FieldAfterCost(const DelimitedFields& fields, std::string_view line) {
    const std::string_view cost = fields.Raw(kCostField);
    const std::size_t end = static_cast<std::size_t>(cost.data() + cost.size() - line.data());
    if (end >= line.size() || line[end] != ',') {
        return {};
    }
    const std::string_view rest = line.substr(end + 1);
    return rest.substr(0, rest.find(','));
}

std::string_view Columns(std::string_view line, std::size_t first, std::size_t width) {
    return line.size() > first ? line.substr(first, width) : std::string_view{};
}

bool AllBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; });
}

// The words of `text` split at blanks.
std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(' ', at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(text.find(' ', start), text.size());
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    return words;
}

// The balance a record states, in stored units: the whole field a number as the writer writes
// it (in integer mode a whole number, in decimal mode one with a point), blanks around it
// allowed; nullopt for anything else, which the audit never takes as a balance.
std::optional<std::int64_t> StatedUnits(std::string_view text, const AmountMode& mode) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    std::size_t at = (text.front() == '+' || text.front() == '-') ? 1 : 0;
    std::size_t digits = 0;
    bool point = false;
    for (; at < text.size(); ++at) {
        if (text[at] >= '0' && text[at] <= '9') {
            ++digits;
        } else if (text[at] == '.' && !point && InDecimalMode(mode)) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    constexpr std::size_t kMostDigits = 18;  // beyond any 32-bit amount, within 64 bits
    if (digits == 0 || digits > kMostDigits) {
        return std::nullopt;
    }
    if (!InDecimalMode(mode)) {
        return ReadIntegerRule(text);
    }
    return std::llround(ReadDecimalRule(text) * mode.amountScale);
}

std::string UnitsText(std::int64_t units, const AmountMode& mode) {
    if (!InDecimalMode(mode)) {
        return std::to_string(units);
    }
    return FixedPointText(static_cast<double>(units) / mode.amountScale, mode.currencyDigits);
}

}  // namespace

BalanceAudit::BalanceAudit(std::vector<AuditedUser> users, AmountMode mode)
    : users_(std::move(users)),
      mode_(mode),
      implied_(users_.size(), kNoRecord),
      unreadableRecord_(users_.size()),
      recordEnd_(users_.size()),
      linesSince_(users_.size()),
      wanted_(users_.size()) {
    for (std::uint32_t i = 0; i < users_.size(); ++i) {
        std::string_view fullName = users_[i].fullName;
        if (!fullName.empty() && fullName.front() == '.') {
            fullName.remove_prefix(1);  // a complete name as typed; the log has none of the point
        }
        byFullName_.Insert(fullName, i);
        byFullNameFolded_.Insert(fullName, i);
        const std::string_view listed = FirstPart(users_[i].name).substr(0, kReadableNameColumns);
        byListedName_.Insert(listed, i);
        byListedNameFolded_.Insert(listed, i);
    }
}

std::int64_t BalanceAudit::Units(const Cost& cost) const {
    if (!InDecimalMode(mode_)) {
        return cost.whole;
    }
    return std::llround(cost.decimal * mode_.amountScale);
}

void BalanceAudit::Record(std::uint32_t user, std::optional<std::int64_t> balance,
                          std::string_view line) {
    implied_[user] = balance ? *balance : kUnreadable;
    if (balance) {
        unreadableRecord_[user].clear();
    } else {
        unreadableRecord_[user].assign(line);
    }
    recordEnd_[user] = lineEnd_;
}

LogBalance BalanceAudit::Of(std::size_t user) const {
    LogBalance found;
    found.recorded = implied_[user] != kNoRecord;
    found.unreadable = implied_[user] == kUnreadable;
    found.unreadableRecord = unreadableRecord_[user];
    found.implied = found.recorded && !found.unreadable ? implied_[user] : 0;
    found.recordEnd = recordEnd_[user];
    found.linesSince = linesSince_[user];
    return found;
}

void BalanceAudit::Deduct(std::uint32_t user, const Cost& cost) {
    // Before any balance the log states, or after one it could not read, nothing to deduct from.
    if (implied_[user] != kNoRecord && implied_[user] != kUnreadable) {
        implied_[user] -= Units(cost);
    }
}

std::uint32_t BalanceAudit::UserOf(std::string_view line) const {
    auto find = [](const NameIndex& exact, const NameIndex& folded, std::string_view name) {
        const std::uint32_t user = exact.Find(name);
        return user != NameIndex::kMissing ? user : folded.Find(name);
    };
    if (!line.empty() && line.front() == '"') {
        const std::string_view rest = line.substr(1);
        return find(byFullName_, byFullNameFolded_, rest.substr(0, rest.find('"')));
    }
    const std::string_view name = ReadableUser(line);
    return name.empty() ? NameIndex::kMissing : find(byListedName_, byListedNameFolded_, name);
}

void BalanceAudit::Take(std::string_view line, std::uint64_t offset) {
    const std::uint32_t user = UserOf(line);
    if (user == NameIndex::kMissing) {
        return;
    }
    lineEnd_ = offset + line.size();
    if (line.front() == '"') {
        TakeDelimited(user, line);
    } else {
        TakeReadable(user, line);
    }
}

void BalanceAudit::TakeSince(std::string_view line, std::uint64_t offset) {
    const std::uint32_t user = UserOf(line);
    if (user != NameIndex::kMissing && wanted_[user] && implied_[user] != kNoRecord &&
        implied_[user] != kUnreadable && offset >= recordEnd_[user]) {
        linesSince_[user].emplace_back(WithoutLineEnd(line));
    }
}

void BalanceAudit::TakeDelimited(std::uint32_t user, std::string_view line) {
    line = WithoutLineEnd(line);
    const std::size_t count = fields_.Split(line);
    if (IsTransactionRecord(fields_)) {
        if (fields_.Text(2) == kSetLimitTag) {
            return;
        }
        const std::string_view balance =
            count < kCostField ? std::string_view{} : FieldAfterCost(fields_, line);
        Record(user, StatedUnits(balance, mode_), line);
        return;
    }
    // The print server deducted the cost whatever the pages say, 0 or fewer included.
    if (count >= kCostField) {
        Deduct(user, ReadCost(fields_.Raw(kCostField), mode_));
    }
}

void BalanceAudit::TakeReadable(std::uint32_t user, std::string_view line) {
    line = WithoutLineEnd(line);
    // A transaction record leaves the page column blank and ends in its two amounts right after
    // the date and time; a print job has its server, pages and cost there.
    const bool pagesBlank = line.size() <= kReadablePagesColumn ||
                            AllBlank(line.substr(kReadablePagesColumn, kReadablePagesWidth));
    const std::string_view date = ReadableDate(line);
    const std::size_t afterDate = static_cast<std::size_t>(date.data() + date.size() - line.data());
    const std::vector<std::string_view> words =
        date.empty() ? std::vector<std::string_view>{} : Words(line.substr(afterDate));
    if (pagesBlank) {
        const std::string_view tag =
            TrimmedRight(line.substr(kReadableTagColumn, kReadableTagWidth));
        if (words.size() == 3 && tag != kSetLimitTag) {  // time, first amount, balance after
            Record(user, StatedUnits(words[2], mode_), line);
        }
        return;
    }
    // A print job: its cost was deducted whatever its pages say, 0 or fewer included.
    Deduct(user, ReadCost(Columns(line, kReadableCostColumn, kReadableCostWidth), mode_));
}

AuditState AuditLine::State() const {
    if (!log.recorded) {
        return AuditState::NoRecord;
    }
    if (log.unreadable) {
        return AuditState::Unreadable;
    }
    return Agrees() ? AuditState::Agrees : AuditState::Differs;
}

AuditSummary Summarize(const std::vector<AuditLine>& lines) {
    AuditSummary summary;
    for (const AuditLine& line : lines) {
        switch (line.State()) {
            case AuditState::Differs:
                ++summary.differing;
                break;
            case AuditState::Agrees:
                ++summary.agreeing;
                break;
            case AuditState::Unreadable:
                ++summary.unreadable;
                break;
            case AuditState::NoRecord:
                ++summary.unrecorded;
                break;
        }
    }
    return summary;
}

namespace {

std::string DirectoryText(const BalanceReading& reading, const AmountMode& mode) {
    return reading.read ? UnitsText(reading.balance, mode)
                        : "error " + std::to_string(reading.status);
}

std::string LogText(const AuditLine& line, const AmountMode& mode) {
    return line.log.recorded && !line.log.unreadable ? UnitsText(line.log.implied, mode) : "";
}

std::string DifferenceText(const AuditLine& line, const AmountMode& mode) {
    if (!line.log.recorded || line.log.unreadable || !line.directory.read) {
        return "";
    }
    return UnitsText(line.directory.balance - line.log.implied, mode);
}

// "3 differ, 1 agrees, 1 whose last record could not be read, 2 without a record in the log".
std::string SummaryText(const AuditSummary& summary) {
    std::string text = CountOf(summary.differing, "differs", "differ") + ", " +
                       CountOf(summary.agreeing, "agrees", "agree") + ", ";
    if (summary.unreadable > 0) {
        text += std::to_string(summary.unreadable) + " whose last record could not be read, ";
    }
    return text + std::to_string(summary.unrecorded) + " without a record in the log";
}

}  // namespace

std::string AuditReport(std::string_view subject, const std::vector<AuditLine>& lines,
                        const AmountMode& mode) {
    const AuditSummary summary = Summarize(lines);
    std::size_t nameWidth = 4;
    for (const AuditLine& line : lines) {
        nameWidth = std::max(nameWidth, line.user.size());
    }
    nameWidth += 2;
    auto row = [&](std::string_view user, std::string directory, std::string log,
                   std::string difference) {
        return PadRight(std::string(user), nameWidth) + PadLeft(std::move(directory), 12) +
               PadLeft(std::move(log), 12) + PadLeft(std::move(difference), 12) + "\r\n";
    };
    auto plainRow = [&](const AuditLine& line) {
        return row(line.user, DirectoryText(line.directory, mode), LogText(line, mode),
                   DifferenceText(line, mode));
    };
    std::string out = std::string(subject) + " balance audit: " + SummaryText(summary) + "\r\n\r\n";
    const std::string heading = row("User", "Directory", "Log", "Difference");
    if (summary.differing > 0) {
        out += "Balances that differ\r\n" + heading;
        for (const AuditLine& line : lines) {
            if (line.State() == AuditState::Differs) {
                out += plainRow(line);
                out += "    " + CountOf(line.log.linesSince.size(), "line", "lines") +
                       " of the log since its last record" +
                       (line.log.linesSince.empty() ? "\r\n" : ":\r\n");
                for (const std::string& since : line.log.linesSince) {
                    out += "    " + since + "\r\n";
                }
            }
        }
        out += "\r\n";
    }
    if (summary.agreeing > 0) {
        out += "Balances that agree\r\n" + heading;
        for (const AuditLine& line : lines) {
            if (line.State() == AuditState::Agrees) {
                out += plainRow(line);
            }
        }
        out += "\r\n";
    }
    if (summary.unreadable > 0) {
        out += "The last balance record could not be read (its balance is not a number)\r\n" +
               row("User", "Directory", "", "");
        for (const AuditLine& line : lines) {
            if (line.State() == AuditState::Unreadable) {
                out += plainRow(line);
                out += "    " + line.log.unreadableRecord + "\r\n";
            }
        }
        out += "\r\n";
    }
    if (summary.unrecorded > 0) {
        out +=
            "No deposit, charge or set balance in the log\r\n" + row("User", "Directory", "", "");
        for (const AuditLine& line : lines) {
            if (line.State() == AuditState::NoRecord) {
                out += plainRow(line);
            }
        }
    }
    return out;
}

std::string AuditCsv(const std::vector<AuditLine>& lines, const AmountMode& mode) {
    std::string out = CsvRow({"User", "Directory", "Log", "Difference", "State"});
    const std::pair<AuditState, const char*> kStates[] = {
        {AuditState::Differs, "differs"},
        {AuditState::Agrees, "agrees"},
        {AuditState::Unreadable, "unreadable record"},
        {AuditState::NoRecord, "no record"},
    };
    for (const auto& [state, word] : kStates) {
        for (const AuditLine& line : lines) {
            if (line.State() == state) {
                out += CsvRow({line.user, DirectoryText(line.directory, mode), LogText(line, mode),
                               DifferenceText(line, mode), word});
            }
        }
    }
    return out;
}

}  // namespace tally::reports
