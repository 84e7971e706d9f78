#include "tools/tallycmd/account_commands.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>

#include "accounting/account_attributes.h"
#include "accounting/account_batch.h"
#include "accounting/account_changes.h"
#include "accounting/amount_entry.h"
#include "accounting/amounts.h"
#include "accounting/transaction_log.h"
#include "directory/dirclient_setup.h"
#include "browse/selection.h"
#include "program/list_entries.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/values.h"
#include "reports/log_records.h"
#include "tools/tallycmd/csv.h"

namespace tally::tallycmd {
namespace {

constexpr const char* kUnlimitedWord = "unlimited";
constexpr const char* kHeaderUserField = "user";

AccountOperation OperationOf(Command command) {
    switch (command) {
        case Command::Charge:
            return AccountOperation::Charge;
        case Command::SetBalance:
            return AccountOperation::SetBalance;
        case Command::SetLimit:
            return AccountOperation::SetLimit;
        default:
            return AccountOperation::Deposit;
    }
}

std::string Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

// One change to make: the command line's (line 0) or a line of a CSV file's.
struct PlannedChange {
    int line = 0;
    std::string user;
    EntryPlan plan;
    std::string reason;   // a charge's reason
    std::string problem;  // why the line is not applied; "" when it is
};

// What one change did or, in a dry run, would do.
struct ChangeResult {
    std::string name;  // the user as the target lists it
    DirStatus status = DIR_OK;
    AccountValuesRecord before;
    AccountValuesRecord after;
    bool beforeKnown = false;
};

// The program-wide values the account core reads, for one change.
void UsePlan(const PlannedChange& change) {
    OperationAmount = change.plan.operationAmount;
    if (change.plan.unlimited == UnlimitedChange::Set) {
        AccountValues.Unlimited = 1;
    } else if (change.plan.unlimited == UnlimitedChange::Clear) {
        AccountValues.Unlimited = 0;
    }
    if (CurrentOperation == AccountOperation::Charge) {
        gSettings.ChargeReason = change.reason;
    }
}

// False with `problem` when the amount cannot be used; NothingToDo is a plan, not a problem.
bool PlanAmount(const std::string& text, bool unlimited, const AmountMode& mode, EntryPlan& plan,
                std::string& problem) {
    if (!unlimited) {
        problem = AmountSyntaxProblem(text, mode);
        if (!problem.empty()) {
            return false;
        }
    }
    const AmountReading reading = unlimited ? AmountReading{} : ReadAmount(text, mode);
    plan = PlanAccountOperation(CurrentOperation, unlimited ? std::string() : text, reading,
                                unlimited);
    if (plan.action == EntryAction::Refuse) {
        // The window's refusal, without its closing "Nothing was changed.", which the caller
        // says in its own words.
        const std::string message = AmountOutOfRangeMessage(text, mode);
        problem = message.substr(0, message.find('\n'));
        if (!problem.empty() && problem.back() == '.') {
            problem.pop_back();
        }
        return false;
    }
    return true;
}

// Balance, limit and flag as the selection display reads them; a user without a balance has 0.
DirStatus ReadAccount(const std::string& name, AccountValuesRecord& values) {
    return ReadAccountValues(name.c_str(), values);
}

// The real changes: the window's host over the directory and the log, the plan of each change
// put in place just before it, and the outcome kept for the report.
class CommandAccountHost final : public DirectoryAccountHost {
  public:
    CommandAccountHost(const Run& run, const std::vector<PlannedChange>& plans, bool planPerChange)
        : DirectoryAccountHost(run.environment.clock),
          run_(run),
          plans_(plans),
          planPerChange_(planPerChange) {}

    // The plan is in place before the change is noted, so that the note has its amount, and
    // again when a change sent ahead is taken, so that its record has it.
    LogAppendResult Intend(const std::string& name, const std::string& listedName) override {
        UsePlan(Plan(started_));
        return DirectoryAccountHost::Intend(name, listedName);
    }
    DirStatus Change(const std::string& name, bool readBalanceFirst) override {
        UsePlan(Plan(started_++));
        const DirStatus status = DirectoryAccountHost::Change(name, readBalanceFirst);
        results_.push_back({name, status, {}, AccountValues, false});
        return status;
    }
    void Send(const std::string& name) override {
        UsePlan(Plan(started_++));
        DirectoryAccountHost::Send(name);
    }
    DirStatus Take(const std::string& name) override {
        UsePlan(Plan(results_.size()));
        const DirStatus status = DirectoryAccountHost::Take(name);
        results_.push_back({name, status, {}, AccountValues, false});
        return status;
    }
    void Record(const std::string& listedName) override {
        results_.back().name = listedName;
        DirectoryAccountHost::Record(listedName);
    }
    void ReportLogFailure(const LogAppendResult& result, bool nothingChanged) override {
        std::string text = LogAppendFailureMessage(result, gSettings.LogFilePath);
        if (nothingChanged) {
            text += "\nNothing was changed.";
        }
        run_.Error(text);
    }
    void ReportRecovery(const std::string& message) override { run_.Error(message); }
    const std::vector<ChangeResult>& Results() const { return results_; }

  private:
    const PlannedChange& Plan(std::size_t change) const {
        return plans_[planPerChange_ ? change : 0];
    }

    const Run& run_;
    const std::vector<PlannedChange>& plans_;
    bool planPerChange_;
    std::size_t started_ = 0;  // changes made or sent so far
    std::vector<ChangeResult> results_;
};

// A dry run: each user's account is read and the change worked out, nothing is written. A user
// changed twice (two lines of a file) starts the second change where the first left it.
class DryRunHost final : public AccountOperationHost {
  public:
    DryRunHost(const std::vector<PlannedChange>& plans, bool planPerChange)
        : plans_(plans), planPerChange_(planPerChange) {}

    void Announce(const std::string&) override {}
    DirStatus Change(const std::string& name, bool) override {
        UsePlan(plans_[planPerChange_ ? results_.size() : 0]);
        ChangeResult result;
        result.name = name;
        const std::string key = AccountKey(name);
        const auto known = accounts_.find(key);
        if (known != accounts_.end()) {
            result.before = known->second;
        } else {
            result.status = ReadAccount(name, result.before);
        }
        if (result.status == DIR_OK) {
            result.beforeKnown = true;
            result.status = WorkOut(result.before, result.after);
        }
        if (result.status == DIR_OK) {
            accounts_[key] = result.after;
        }
        results_.push_back(result);
        return result.status;
    }
    // On, so that Record() hears each change's listed name; nothing is written.
    bool Recording() const override { return true; }
    LogAppendResult OpenLog() override { return {}; }
    void Record(const std::string& listedName) override { results_.back().name = listedName; }
    LogAppendResult Commit() override { return {}; }
    void ReportLogFailure(const LogAppendResult&, bool) override {}
    const std::vector<ChangeResult>& Results() const { return results_; }

  private:
    static std::string AccountKey(const std::string& name) {
        char fullName[DIR_MAX_NAME_BYTES] = {};
        std::string key = DirGetFullName(DirectoryContext, name.c_str(), fullName) == DIR_OK
                              ? std::string(fullName)
                              : name;
        std::transform(key.begin(), key.end(), key.begin(), reports::FoldCase);
        return key;
    }
    // The store refuses a balance that would not fit 32 bits, with this status.
    static DirStatus WorkOut(const AccountValuesRecord& before, AccountValuesRecord& after) {
        after = before;
        switch (CurrentOperation) {
            case AccountOperation::Deposit:
            case AccountOperation::Charge: {
                const std::int64_t sum = std::int64_t{before.Balance} + OperationAmount;
                if (sum < std::numeric_limits<std::int32_t>::min() ||
                    sum > std::numeric_limits<std::int32_t>::max()) {
                    return DIR_ERR_BAD_SYNTAX;
                }
                after.Balance = static_cast<std::int32_t>(sum);
                break;
            }
            case AccountOperation::SetBalance:
                after.Balance = OperationAmount;
                break;
            case AccountOperation::SetLimit:
                after.Unlimited = AccountValues.Unlimited;
                after.CreditLimit = AccountValues.Unlimited != 0 ? 0 : OperationAmount;
                break;
        }
        return DIR_OK;
    }

    const std::vector<PlannedChange>& plans_;
    bool planPerChange_;
    std::vector<ChangeResult> results_;
    std::map<std::string, AccountValuesRecord> accounts_;
};

std::string LimitText(const AccountValuesRecord& values, const AmountMode& mode) {
    return values.Unlimited != 0 ? std::string("Unlimited") : AmountText(values.CreditLimit, mode);
}

// What a refused change's status means in a few words, as the window's message says it ("the
// directory server takes no changes"); "" for a status without words of its own.
std::string StatusWords(DirStatus status) {
    const std::string message = AccountingErrorMessage(status);
    const std::size_t start = message.find('\n');
    if (start == std::string::npos) {
        return {};
    }
    std::string words = message.substr(start + 1, message.find('\n', start + 1) - start - 1);
    words = words.substr(0, words.find(". "));
    while (!words.empty() && (words.back() == '.' || words.back() == ':')) {
        words.pop_back();
    }
    if (!words.empty() && words.front() >= 'A' && words.front() <= 'Z') {
        words.front() = static_cast<char>(words.front() - 'A' + 'a');
    }
    return words;
}

// "balance 15.00 -> 20.00", "credit limit Unlimited", "not changed: accounting error -601",
// "not changed: accounting error -672 (the directory server takes no changes)".
std::string ResultText(const ChangeResult& result, const AmountMode& mode, bool dryRun) {
    if (result.status != DIR_OK) {
        std::string why = result.status == DIR_ERR_BAD_SYNTAX && dryRun
                              ? std::string("the balance would not fit an account")
                              : StatusWords(result.status);
        return std::string(dryRun ? "would fail" : "not changed") + ": accounting error " +
               std::to_string(result.status) + (why.empty() ? "" : " (" + why + ")");
    }
    const bool limit = CurrentOperation == AccountOperation::SetLimit;
    std::string text = limit ? "credit limit " : "balance ";
    if (result.beforeKnown) {
        text += (limit ? LimitText(result.before, mode) : AmountText(result.before.Balance, mode)) +
                " -> ";
    }
    text += limit ? LimitText(result.after, mode) : AmountText(result.after.Balance, mode);
    return text;
}

bool WentWell(const BatchOutcome& outcome) {
    return outcome.failed.empty() && outcome.unrecorded == 0 && !outcome.logUnavailable &&
           outcome.recordsWaiting == 0 && outcome.listingStatus == DIR_OK;
}

// Why the lines after the point where a batch stopped were not applied.
std::string StoppedBatchText(const BatchOutcome& outcome) {
    if (outcome.serverAway) {
        return "not applied: the batch stopped, as the directory server stayed away ([Store] "
               "RetrySeconds)";
    }
    if (outcome.directoryLocked) {
        return "not applied: the batch stopped, as the directory is locked by another program";
    }
    if (outcome.recordsWaiting > 0) {
        return "not applied: the batch stopped, as the accounting log " + gSettings.LogFilePath +
               " could not take the records (it may be locked by another program)";
    }
    return "not applied: the accounting log could not be reached";
}

// "3, 7, 12-10000": the line numbers in order, runs of consecutive ones as ranges; the first
// kListedRuns runs, then "...".
std::string LineList(const std::vector<int>& lines) {
    constexpr std::size_t kListedRuns = 20;
    std::string list;
    std::size_t runs = 0;
    for (std::size_t i = 0; i < lines.size(); ++runs) {
        std::size_t last = i;
        while (last + 1 < lines.size() && lines[last + 1] == lines[last] + 1) {
            ++last;
        }
        if (runs == kListedRuns) {
            return list + ", ...";
        }
        list += (list.empty() ? "" : ", ") + std::to_string(lines[i]);
        if (last > i) {
            list += "-" + std::to_string(lines[last]);
        }
        i = last + 1;
    }
    return list;
}

// Why `name` cannot be changed as a user ("" when it can).
std::string UserProblem(const std::string& name) {
    if (!IsUserEntry(name)) {
        // The batch functions pass such an entry over as the window's group or all-users entry,
        // so it could never be changed and would shift the file's lines against the changes.
        return "is written as the window writes a group or all users, not a user";
    }
    DirStatus status = DIR_OK;
    const ObjectKind kind = KindOfObject(name, &status);
    if (kind == ObjectKind::User) {
        return {};
    }
    if (kind == ObjectKind::Missing) {
        if (status == DIR_ERR_NO_SUCH_ENTRY || status == DIR_ERR_ILLEGAL_NAME) {
            return "no such user in " + CurrentContextName;
        }
        // The server's words say why (an answer that cannot be read, a server gone).
        const std::string words = DirClientLastProblem();
        return "cannot be read from the directory (error " + std::to_string(status) + ")" +
               (words.empty() ? std::string() : ": " + words);
    }
    return std::string("is ") + KindText(kind) + ", not a user";
}

// The whole target of the command line, checked before anything changes. False after saying
// what is wrong.
bool CheckTarget(const Run& run) {
    const CommandLine& line = run.line;
    bool good = true;
    DirClientLookUpNames(DirectoryContext, line.users);
    for (const std::string& user : line.users) {
        const std::string problem = UserProblem(user);
        if (!problem.empty()) {
            run.Error("user " + user + ": " + problem);
            good = false;
        }
    }
    if (line.group) {
        DirStatus status = DIR_OK;
        const ObjectKind kind = KindOfObject(*line.group, &status);
        if (kind != ObjectKind::Group) {
            run.Error("group " + *line.group + ": " +
                      (kind == ObjectKind::Missing
                           ? "no such group in " + CurrentContextName
                           : std::string("is ") + KindText(kind) + ", not a group"));
            good = false;
        }
    }
    if (line.context) {
        if (const std::string problem = EnterContext(*line.context); !problem.empty()) {
            run.Error("context " + *line.context + ": " + problem);
            good = false;
        }
    }
    return good;
}

// Runs the batch function the window runs for the target.
BatchOutcome ApplyToTarget(const CommandLine& line, AccountOperationHost& host) {
    if (line.group) {
        SelectedCount = 1;
        GroupSelected = true;
        SelectionText = *line.group;
        return ApplyToGroupMembers(DirectoryContext, *line.group, CurrentContextName, host);
    }
    if (line.context) {
        SelectedCount = 1;
        GroupSelected = true;
        SelectionText = kAllUsersEntry;
        return ApplyToContextUsers(DirectoryContext, host);
    }
    SelectedCount = static_cast<std::int32_t>(line.users.size());
    GroupSelected = false;
    if (line.users.size() == 1) {
        SelectionText = line.users.front();
        // As the selection display leaves them: a single user's Set Balance replaces this
        // balance, and an unchanged flag keeps this one.
        ReadAccount(SelectionText, AccountValues);
        return ApplyToOneUser(SelectionText, host);
    }
    return ApplyToEntries(line.users, host);
}

int ReportOutcome(const Run& run, const BatchOutcome& outcome,
                  const std::vector<ChangeResult>& results, bool dryRun) {
    const AmountMode mode = CurrentAmountMode();
    for (const ChangeResult& result : results) {
        run.Out(result.name + ": " + ResultText(result, mode, dryRun) + "\n");
    }
    // The users a batch stopped by the server's absence did not reach, each by name, so that a
    // script can run them again.
    if (outcome.serverAway) {
        for (const std::string& name : outcome.notDone) {
            run.Out(name + ": " + StoppedBatchText(outcome) + "\n");
        }
    }
    if (dryRun) {
        run.Out("Dry run: nothing was changed.\n");
        if (outcome.listingStatus != DIR_OK) {
            // The exit status says something went wrong: say what (a server's size limit, say).
            std::string message = "Dry run: the list of users could not be read to its end (" +
                                  std::to_string(outcome.listingStatus) +
                                  "); the users after that point were not looked at.";
            if (const std::string why = DirClientLastProblem(); !why.empty()) {
                message += "\n" + why;
            }
            run.Error(message);
        }
        return outcome.failed.empty() && outcome.listingStatus == DIR_OK ? kExitDone
                                                                         : kExitSomeFailed;
    }
    const CommandLine& line = run.line;
    if (line.users.size() == 1 && !line.group && !line.context) {
        if (!outcome.failed.empty()) {
            run.Error(line.users.front() + ": " +
                      AccountingErrorMessage(outcome.failed.front().status));
        }
    } else {
        const std::string problems = BatchProblemMessage(outcome);
        if (!problems.empty()) {
            run.Error(problems);
        }
    }
    if (results.empty() && WentWell(outcome)) {
        run.Out("No user to change.\n");
    }
    return WentWell(outcome) ? kExitDone : kExitSomeFailed;
}

// ---------------------------------------------------------------------------------------------
// Changes from a CSV file
// ---------------------------------------------------------------------------------------------

// An amount of a semicolon-separated file, written by a spreadsheet whose locale has the decimal
// comma ("5,00"), with the point the amounts are read with; any other text as it is.
std::string WithDecimalPoint(const std::string& amount, char separator) {
    if (separator != ';' || amount.find('.') != std::string::npos ||
        std::count(amount.begin(), amount.end(), ',') != 1) {
        return amount;
    }
    std::string pointed = amount;
    pointed[pointed.find(',')] = '.';
    return pointed;
}

PlannedChange CheckLine(const CsvRecord& record, const AmountMode& mode,
                        const std::string& defaultReason, char separator) {
    PlannedChange change;
    change.line = record.line;
    const std::vector<std::string>& fields = record.fields;
    change.user = fields.empty() ? std::string() : Trimmed(fields.front());
    if (fields.size() < 2 || fields.size() > 3) {
        const char* shape = separator == ';' ? "user;amount or user;amount;reason"
                                             : "user,amount or user,amount,reason";
        change.problem = std::to_string(fields.size()) +
                         (fields.size() == 1 ? " field" : " fields") + "; a line is " + shape;
        if (fields.size() == 1 && fields.front().find('\t') != std::string::npos) {
            change.problem += " (this line is separated by tabs: save the file comma-separated)";
        }
        return change;
    }
    if (change.user.empty()) {
        change.problem = "no user named";
        return change;
    }
    const std::string written = Trimmed(fields[1]);
    const std::string amount = WithDecimalPoint(written, separator);
    const std::string reason = fields.size() == 3 ? Trimmed(fields[2]) : std::string();
    if (!reason.empty() && CurrentOperation != AccountOperation::Charge) {
        change.problem = "a reason is taken by charge only";
        return change;
    }
    change.reason = reason.empty() ? defaultReason : ChargeReasonFromField(reason);
    const bool unlimited = CurrentOperation == AccountOperation::SetLimit &&
                           reports::EqualsIgnoringCase(amount, kUnlimitedWord);
    if (!PlanAmount(amount, unlimited, mode, change.plan, change.problem)) {
        if (amount != written) {  // said as the file writes it
            const std::size_t quoted = change.problem.find("\"" + amount + "\"");
            if (quoted != std::string::npos) {
                change.problem.replace(quoted + 1, amount.size(), written);
            }
        }
        return change;
    }
    change.problem = UserProblem(change.user);
    return change;
}

int RunFromFile(const Run& run, const AmountMode& mode, const std::string& defaultReason) {
    const std::string& fileName = *run.line.csvFile;
    const std::optional<std::string> path = run.LocalPath(fileName);
    std::string text;
    if (!path) {
        return kExitBadInput;
    }
    std::string unreadable;
    if (!ReadCsvFile(*path, text, unreadable)) {
        run.Error(unreadable + "; nothing was changed");
        return kExitBadInput;
    }
    const CsvContents contents = ReadCsv(text);
    std::vector<PlannedChange> lines;
    for (const CsvProblem& problem : contents.problems) {
        lines.push_back({problem.line, "", {}, "", problem.what});
    }
    // The file's users are looked up together first, so that checking each line asks the
    // directory nothing more.
    std::vector<std::string> named;
    for (const CsvRecord& record : contents.records) {
        if (!record.fields.empty()) {
            named.push_back(Trimmed(record.fields.front()));
        }
    }
    DirClientLookUpNames(DirectoryContext, named);
    bool first = true;
    for (const CsvRecord& record : contents.records) {
        const bool header =
            first && !record.fields.empty() &&
            reports::EqualsIgnoringCase(Trimmed(record.fields.front()), kHeaderUserField);
        first = false;
        if (!header) {
            lines.push_back(CheckLine(record, mode, defaultReason, contents.separator));
        }
    }
    if (lines.empty()) {
        run.Error(fileName + " holds no lines to apply (a line is user,amount[,reason])");
        return kExitBadInput;
    }
    if (contents.separator == ';') {
        run.Error("note: " + fileName +
                  " is separated by semicolons; its amounts are read with a decimal comma");
    }
    std::stable_sort(
        lines.begin(), lines.end(),
        [](const PlannedChange& a, const PlannedChange& b) { return a.line < b.line; });

    std::vector<PlannedChange> toApply;
    std::vector<std::string> entries;
    for (const PlannedChange& line : lines) {
        if (line.problem.empty() && line.plan.action == EntryAction::Apply) {
            toApply.push_back(line);
            entries.push_back(line.user);
        }
    }
    SelectedCount = static_cast<std::int32_t>(entries.size());
    GroupSelected = false;
    const bool dryRun = run.line.dryRun;
    std::vector<ChangeResult> results;
    BatchOutcome outcome;
    if (dryRun) {
        DryRunHost host(toApply, true);
        outcome = ApplyToEntries(entries, host);
        results = host.Results();
    } else {
        CommandAccountHost host(run, toApply, true);
        outcome = ApplyToEntries(entries, host);
        results = host.Results();
    }

    std::size_t next = 0;
    std::size_t applied = 0;
    std::vector<int> notApplied;
    for (const PlannedChange& line : lines) {
        std::string outcomeText;
        const std::string where = fileName + ":" + std::to_string(line.line) + ": " +
                                  (line.user.empty() ? std::string("-") : line.user) + ": ";
        if (!line.problem.empty()) {
            outcomeText = "not applied: " + line.problem;
            notApplied.push_back(line.line);
        } else if (line.plan.action != EntryAction::Apply) {
            outcomeText = "nothing to change (an amount of 0)";
        } else if (next < results.size()) {
            const ChangeResult& result = results[next++];
            outcomeText = ResultText(result, mode, dryRun);
            if (result.status == DIR_OK) {
                ++applied;
            } else {
                notApplied.push_back(line.line);
            }
        } else {
            outcomeText = StoppedBatchText(outcome);
            notApplied.push_back(line.line);
        }
        run.Out(where + outcomeText + "\n");
    }
    run.Out(std::to_string(applied) + " of " + std::to_string(lines.size()) + " lines " +
            (dryRun ? "would be applied; dry run: nothing was changed.\n" : "applied.\n"));
    if (!notApplied.empty()) {
        const std::string list = LineList(notApplied);
        const bool one = notApplied.size() == 1;
        run.Error(std::to_string(notApplied.size()) + (one ? " line of " : " lines of ") +
                  fileName +
                  (dryRun ? " could not be applied"
                   : one  ? " was not applied"
                          : " were not applied") +
                  (one ? ": line " : ": lines ") + list);
    }
    if (!dryRun) {
        const std::string problems = BatchProblemMessage(outcome);
        if (!problems.empty()) {
            run.Error(problems);
        }
    }
    return notApplied.empty() && (dryRun || WentWell(outcome)) ? kExitDone : kExitSomeFailed;
}

// The selection display's three lines for one user, through the display's own code.
class OneEntry final : public SelectionList {
  public:
    explicit OneEntry(std::string entry) : entry_(std::move(entry)) {}
    int CountSelected() const override { return 1; }
    std::string CurrentText() const override { return entry_; }

  private:
    std::string entry_;
};

struct ShownUser {
    std::string name;
    SelectionLines lines;
};

// Lists each user a target reaches with the selection display's lines; changes nothing.
class ShowHost final : public AccountOperationHost {
  public:
    void Announce(const std::string&) override {}
    DirStatus Change(const std::string& name, bool) override {
        users_.push_back({name, TakeSelection(OneEntry(name))});
        return DIR_OK;
    }
    bool Recording() const override { return true; }
    LogAppendResult OpenLog() override { return {}; }
    void Record(const std::string& listedName) override { users_.back().name = listedName; }
    LogAppendResult Commit() override { return {}; }
    void ReportLogFailure(const LogAppendResult&, bool) override {}
    const std::vector<ShownUser>& Users() const { return users_; }

  private:
    std::vector<ShownUser> users_;
};

}  // namespace

std::string AmountSyntaxProblem(std::string_view text, const AmountMode& mode) {
    const std::string written = Trimmed(text);
    const std::string quoted = "the amount \"" + std::string(text) + "\"";
    if (written.empty()) {
        return "no amount given";
    }
    std::size_t at = 0;
    if (written[at] == '+' || written[at] == '-') {
        ++at;
    }
    std::string mantissa;  // the digits before and after the point
    auto digits = [&] {
        const std::size_t start = at;
        while (at < written.size() && written[at] >= '0' && written[at] <= '9') {
            mantissa += written[at];
            ++at;
        }
        return at - start;
    };
    const bool decimal = mode.decimal && mode.currencyDigits > 0;
    std::size_t count = digits();
    std::int64_t fraction = 0;  // digits after the point
    if (decimal && at < written.size() && written[at] == '.') {
        ++at;
        fraction = static_cast<std::int64_t>(digits());
        count += static_cast<std::size_t>(fraction);
    }
    std::int64_t exponent = 0;
    if (count > 0 && decimal && at < written.size() && (written[at] == 'e' || written[at] == 'E')) {
        ++at;
        const bool negative = at < written.size() && written[at] == '-';
        if (at < written.size() && (written[at] == '+' || written[at] == '-')) {
            ++at;
        }
        const std::size_t start = at;
        while (at < written.size() && written[at] >= '0' && written[at] <= '9') {
            exponent = std::min<std::int64_t>(exponent * 10 + (written[at] - '0'), 1'000'000);
            ++at;
        }
        if (at == start) {
            count = 0;
        }
        exponent = negative ? -exponent : exponent;
    }
    if (count == 0 || at != written.size()) {
        if (!decimal) {
            return quoted + " is not a whole number; amounts are whole units in this number format";
        }
        return quoted + " is not a number; write it with a point and at most " +
               std::to_string(mode.currencyDigits) + " decimals, such as 12.50";
    }
    // The window reads what it can and cuts the rest (12.505 becomes 12.50): a script's amount
    // must say exactly what is meant. Zeros at the end cut nothing (12.500 is 12.50).
    const std::size_t significant = mantissa.find_last_not_of('0');
    const std::int64_t zeros = significant == std::string::npos
                                   ? 0
                                   : static_cast<std::int64_t>(mantissa.size() - 1 - significant);
    const std::int64_t decimals = significant == std::string::npos
                                      ? 0
                                      : std::max<std::int64_t>(0, fraction - zeros - exponent);
    if (decimals > mode.currencyDigits) {
        return quoted + " has " + std::to_string(decimals) +
               " decimals; this number format keeps " + std::to_string(mode.currencyDigits) +
               ", and the rest would be cut";
    }
    return {};
}

int RunAccountCommand(const Run& run) {
    const CommandLine& line = run.line;
    CurrentOperation = OperationOf(line.command);
    const AmountMode mode = CurrentAmountMode();
    const std::string reason =
        line.reason ? ChargeReasonFromField(*line.reason) : gSettings.ChargeReason;
    if (line.csvFile) {
        return RunFromFile(run, mode, reason);
    }
    std::vector<PlannedChange> plans(1);
    plans.front().reason = reason;
    std::string problem;
    if (!PlanAmount(line.amount.value_or(""), line.unlimited, mode, plans.front().plan, problem)) {
        run.Error(problem + "; nothing was changed");
        return kExitBadInput;
    }
    if (!CheckTarget(run)) {
        run.Error("nothing was changed");
        return kExitBadInput;
    }
    if (plans.front().plan.action == EntryAction::NothingToDo) {
        run.Out("Nothing to change: an amount of 0.\n");
        return kExitDone;
    }
    if (line.dryRun) {
        DryRunHost host(plans, false);
        const BatchOutcome outcome = ApplyToTarget(line, host);
        return ReportOutcome(run, outcome, host.Results(), true);
    }
    CommandAccountHost host(run, plans, false);
    const BatchOutcome outcome = ApplyToTarget(line, host);
    return ReportOutcome(run, outcome, host.Results(), false);
}

int RunShow(const Run& run) {
    if (!CheckTarget(run)) {
        return kExitBadInput;
    }
    ShowHost host;
    CurrentOperation = AccountOperation::Deposit;
    const BatchOutcome outcome = ApplyToTarget(run.line, host);
    std::size_t nameWidth = 4;
    std::size_t fullNameWidth = 9;
    for (const ShownUser& user : host.Users()) {
        nameWidth = std::max(nameWidth, user.name.size());
        fullNameWidth = std::max(fullNameWidth, user.lines.fullName.size());
    }
    if (run.line.csv) {
        run.Out(CsvRow({"User", "Full name", "Balance", "Credit limit"}));
    } else {
        run.Out(reports::PadRight("User", nameWidth + 2) +
                reports::PadRight("Full name", fullNameWidth + 2) +
                reports::PadLeft("Balance", 12) + reports::PadLeft("Credit limit", 14) + "\n");
    }
    for (const ShownUser& user : host.Users()) {
        const SelectionLines& lines = user.lines;
        if (run.line.csv) {
            run.Out(CsvRow({user.name, lines.fullName, lines.balance, lines.creditLimit}));
        } else {
            run.Out(reports::PadRight(user.name, nameWidth + 2) +
                    reports::PadRight(lines.fullName, fullNameWidth + 2) +
                    reports::PadLeft(lines.balance, 12) + reports::PadLeft(lines.creditLimit, 14) +
                    "\n");
        }
    }
    if (outcome.listingStatus != DIR_OK) {
        run.Error(BatchProblemMessage(outcome));
        return kExitSomeFailed;
    }
    return kExitDone;
}

}  // namespace tally::tallycmd
