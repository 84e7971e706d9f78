#include "tools/gendir/gendir_lib.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <vector>

#include "accounting/transaction_record.h"

namespace tally::gendir {
namespace {

// A small generator of our own: the standard distributions differ between libraries, and the
// output has to be the same wherever the tool is built.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A number in [low, high].
    std::int64_t Between(std::int64_t low, std::int64_t high) {
        return low + static_cast<std::int64_t>(Next() % static_cast<std::uint64_t>(high - low + 1));
    }
    bool Percent(int chance) { return Between(0, 99) < chance; }

  private:
    std::uint64_t state_;
};

constexpr std::array<const char*, 16> kGivenNames = {
    "John", "Mary", "Alan",  "Karen", "Ravi",   "Laura", "Tomas", "Nina",
    "Emma", "Gary", "Sarah", "Frank", "Olivia", "Ian",   "Zoe",   "Victor"};
constexpr std::array<const char*, 16> kSurnames = {
    "Smith", "Jones", "Davis", "Lee",   "Patel", "White", "Garcia", "Roberts",
    "King",  "Hall",  "Clark", "Young", "Allen", "Ross",  "Evans",  "Green"};
// Seeds of the independent streams, so that changing the log length leaves the tree alone.
constexpr std::uint64_t kTreeStream = 0x7472656500000000ull;
constexpr std::uint64_t kLogStream = 0x6C6F670000000000ull;

int DigitsOf(std::uint32_t value) {
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

void Appendf(std::string& out, const char* format, auto... args) {
    char line[512];
    int length = std::snprintf(line, sizeof line, format, args...);
    if (length > 0) {
        out.append(line, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof line - 1));
    }
}

std::string ContextDn(const Options& options, std::uint32_t index) {
    std::string name = ContextName(options, index);
    return "ou=" + name.substr(0, name.find('.')) + ",o=CORP";
}

std::string UserDn(const Options& options, std::uint32_t index) {
    return "cn=" + UserName(options, index) + "," + ContextDn(options, index % options.contexts);
}

// `implied`: the balance the log implies, written instead of a drawn one (the draws are made
// all the same, so that the rest of the tree stays as it is).
void AppendUser(std::string& out, const Options& options, std::uint32_t index, Random& random,
                std::optional<std::int64_t> implied) {
    Appendf(out, "dn: %s\nobjectClass: tallyUser\ncn: %s\n", UserDn(options, index).c_str(),
            UserName(options, index).c_str());
    // One user in twenty has no account and no full name, as accounts that were never set up.
    if (random.Percent(5)) {
        if (implied) {
            Appendf(out, "accountBalance: %lld\n", static_cast<long long>(*implied));
        }
        out += '\n';
        return;
    }
    Appendf(out, "fullName: %s %s\n", kGivenNames[random.Next() % kGivenNames.size()],
            kSurnames[random.Next() % kSurnames.size()]);
    const bool hasBalance = !random.Percent(5);
    const long long drawn = hasBalance ? static_cast<long long>(random.Between(-5000, 20000)) : 0;
    if (implied) {
        Appendf(out, "accountBalance: %lld\n", static_cast<long long>(*implied));
    } else if (hasBalance) {
        Appendf(out, "accountBalance: %lld\n", drawn);
    }
    Appendf(out, "minimumAccountBalance: %lld\nallowUnlimitedCredit: %s\n",
            static_cast<long long>(random.Between(-20, 0) * 100),
            random.Percent(5) ? "TRUE" : "FALSE");
    if (random.Percent(10)) {
        Appendf(out,
                "jobtallyColourBalance: %lld\njobtallyColourLimit: 0\n"
                "jobtallyColourNolimit: FALSE\n",
                static_cast<long long>(random.Between(-1000, 5000)));
    }
    out += '\n';
}

void AppendGroup(std::string& out, const Options& options, std::uint32_t index, Random& random) {
    Appendf(out, "dn: cn=%s,%s\nobjectClass: tallyGroup\ncn: %s\nfullName: Group %u\n",
            GroupName(options, index).c_str(), ContextDn(options, index % options.contexts).c_str(),
            GroupName(options, index).c_str(), index + 1);
    // Consecutive users from a random start: distinct members, spread over the contexts.
    std::uint32_t first =
        options.users == 0 ? 0 : static_cast<std::uint32_t>(random.Next() % options.users);
    for (std::uint32_t m = 0; m < options.members; ++m) {
        Appendf(out, "member: %s\n", UserDn(options, (first + m) % options.users).c_str());
    }
    out += '\n';
}

// ---------------------------------------------------------------------------------------------
// The accounting log
// ---------------------------------------------------------------------------------------------

// A printer as the accounting server knows it: the queue that feeds it, the print server that
// runs the queue, its price per page, and its share of the jobs (busy office lasers, rarely used
// plotters). Names hold blanks, and two of them a comma, as operators name printers.
struct Printer {
    const char* name;
    std::uint8_t queue;
    std::uint8_t server;
    std::int32_t centsPerPage;
    std::uint32_t weight;
};

constexpr std::array<const char*, 6> kPrintServers = {"PS_CORP", "PS_EAST", "PS_WEST",
                                                      "PS_HQ",   "PS_LAB",  "PS_ANNX"};
constexpr std::array<const char*, 12> kQueues = {
    "Q_SALES", "Q_EAST", "Q_WEST", "Q_COLOUR",  "Q_ACCOUNTS", "Q_HQ",
    "Q_LAB",   "Q_DESK", "Q_MAIL", "Q_PLOTTER", "Q_LIBRARY",  "Annex, colour"};
constexpr std::array<Printer, 24> kPrinters = {{
    {"LASER01", 0, 0, 5, 14},
    {"LASER02", 0, 0, 5, 12},
    {"LASER03", 1, 1, 5, 10},
    {"LASER04", 1, 1, 5, 8},
    {"LASER05", 2, 2, 5, 10},
    {"LASER06", 2, 2, 5, 6},
    {"LASER07", 4, 0, 5, 9},
    {"LASER08", 4, 0, 5, 5},
    {"LASER09", 5, 3, 5, 8},
    {"LASER10", 5, 3, 5, 6},
    {"LASER11", 7, 3, 5, 4},
    {"LASER12", 8, 3, 5, 3},
    {"COLOUR1", 3, 0, 50, 5},
    {"COLOUR2", 3, 0, 50, 3},
    {"COLOUR3", 6, 4, 50, 3},
    {"COLOUR4", 11, 5, 50, 2},
    {"Lab A", 6, 4, 5, 6},
    {"Lab B", 6, 4, 5, 4},
    {"Front desk", 7, 3, 10, 3},
    {"Mail room", 8, 3, 5, 2},
    {"Plotter", 9, 4, 200, 1},
    {"Library 1", 10, 5, 10, 4},
    {"Laser, 2nd floor", 5, 3, 5, 3},
    {"Colour, annex", 11, 5, 50, 1},
}};
constexpr std::size_t kClientCodes = 40;  // C100, C110, ... C490
constexpr std::array<const char*, 16> kDocuments = {
    "Document", "Invoice",    "Quarterly report", "Minutes",      "Letter", "Price list",
    "Memo",     "Slides",     "Brochure proof",   "Spreadsheet",  "Ledger", "Route plan",
    "Contract", "Order form", "Timesheet",        "Meeting notes"};

constexpr const char* kOperator = "ADMIN.CORP";
constexpr const char* kLogServer = "ACCT1";
constexpr const char* kChargeReason = "Photocopies";   // an operator's own charge reason
constexpr std::int64_t kCentsPerPageUnit = 5;          // a page on a laser, in Pages format
constexpr std::int64_t kBalanceBound = 1'000'000'000;  // balances stay well inside 32 bits
constexpr RecordDate kFirstDay = {1999, 7, 1};
constexpr int kFirstMinute = 7 * 60;  // the office's printing day: 07:00 to 19:00
constexpr int kDayMinutes = 12 * 60;

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

RecordDate NextDay(RecordDate day) {
    static constexpr std::array<int, 12> kMonthDays = {31, 28, 31, 30, 31, 30,
                                                       31, 31, 30, 31, 30, 31};
    int monthDays = kMonthDays[static_cast<std::size_t>(day.month - 1)] +
                    (day.month == 2 && IsLeapYear(day.year) ? 1 : 0);
    if (++day.day > monthDays) {
        day.day = 1;
        if (++day.month > 12) {
            day.month = 1;
            ++day.year;
        }
    }
    return day;
}

void AppendNumber(std::string& out, std::int64_t value) {
    std::array<char, 24> digits{};
    auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    out.append(digits.data(), end);
}

// "%-N.Ns" and "%Ns": the Readable layout's columns.
void AppendLeft(std::string& out, std::string_view text, std::size_t width) {
    text = text.substr(0, width);
    out += text;
    out.append(width - text.size(), ' ');
}

void AppendRight(std::string& out, std::string_view text, std::size_t width) {
    if (text.size() < width) {
        out.append(width - text.size(), ' ');
    }
    out += text;
}

// Writes the log line by line: the accounting server's print jobs and the operators'
// transaction records, in both layouts, in the order of a working year. Each user's balance is
// carried from record to record, so that "balance after" reads like a real account's.
class LogWriter {
  public:
    explicit LogWriter(const Options& options)
        : options_(options),
          random_(options.seed ^ kLogStream),
          mode_(options.amounts == Amounts::Pages ? IntegerAmountMode() : MakeAmountMode(true, 2)),
          linesPerDay_(std::max<std::uint64_t>(200, (std::uint64_t{options.logLines} + 364) / 365)),
          day_(kFirstDay),
          dayText_(RecordDateText(kFirstDay, options.dateOrder)) {
        for (std::uint32_t c = 0; c < options.contexts; ++c) {
            contextSuffixes_.push_back("." + ContextName(options, c));
        }
        std::uint32_t total = 0;
        for (std::size_t p = 0; p < kPrinters.size(); ++p) {
            total += kPrinters[p].weight;
            printerBounds_[p] = total;
        }
        balances_.resize(options.users);
        recorded_.resize(options.users);
        for (std::int64_t& balance : balances_) {
            balance = Units(random_.Between(-200, 1000) * kCentsPerPageUnit);
        }
    }

    void AppendLine(std::string& out, std::uint64_t line) {
        SetClock(line);
        auto user = static_cast<std::uint32_t>(random_.Next() % options_.users);
        current_ = user;
        name_ = UserName(options_, user);
        fullName_ = name_ + contextSuffixes_[user % options_.contexts];
        const bool readable = random_.Percent(10);
        if (random_.Percent(88)) {
            AppendPrintJob(out, balances_[user], readable);
        } else {
            AppendTransaction(out, balances_[user], readable);
        }
    }

    // The balance the log implies for `user` so far, when a record has stated one.
    std::optional<std::int64_t> ImpliedBalance(std::uint32_t user) const {
        return recorded_[user] ? std::optional<std::int64_t>(balances_[user]) : std::nullopt;
    }

  private:
    // The date moves on every linesPerDay_ lines; the time runs through the day, so that the
    // log is in order as a real one is.
    void SetClock(std::uint64_t line) {
        const std::uint64_t dayIndex = line / linesPerDay_;
        for (; shownDay_ < dayIndex; ++shownDay_) {
            day_ = NextDay(day_);
            dayText_ = RecordDateText(day_, options_.dateOrder);
        }
        const auto minute =
            static_cast<int>(kFirstMinute + static_cast<std::int64_t>(line % linesPerDay_ *
                                                                      kDayMinutes / linesPerDay_));
        time_ = {static_cast<char>('0' + minute / 600), static_cast<char>('0' + minute / 60 % 10),
                 ':', static_cast<char>('0' + minute % 60 / 10),
                 static_cast<char>('0' + minute % 10)};
    }

    // Cents in the log's amount format: Currency keeps them, Pages counts laser pages.
    std::int64_t Units(std::int64_t cents) const {
        return options_.amounts == Amounts::Pages ? cents / kCentsPerPageUnit : cents;
    }

    static std::int64_t Bounded(std::int64_t balance) {
        return std::clamp(balance, -kBalanceBound, kBalanceBound);
    }

    const Printer& PickPrinter() {
        const std::uint32_t ticket =
            static_cast<std::uint32_t>(random_.Next() % printerBounds_.back());
        std::size_t p = 0;
        while (ticket >= printerBounds_[p]) {
            ++p;
        }
        return kPrinters[p];
    }

    // Mostly short jobs, now and then a long one; one in fifty printed nothing (cancelled, or
    // stopped by the account's limit) and costs nothing.
    std::int64_t PageCount() {
        if (random_.Percent(2)) {
            return 0;
        }
        const auto roll = random_.Between(0, 99);
        return roll < 55   ? random_.Between(1, 4)
               : roll < 85 ? random_.Between(5, 20)
               : roll < 97 ? random_.Between(21, 80)
                           : random_.Between(81, 300);
    }

    void AppendPrintJob(std::string& out, std::int64_t& balance, bool readable) {
        const Printer& printer = PickPrinter();
        const std::int64_t copies = random_.Percent(85) ? 1 : random_.Between(2, 5);
        const std::int64_t pages = PageCount() * copies;
        const std::int64_t cost = Units(pages * printer.centsPerPage);
        balance = Bounded(balance - cost);
        const char* server = kPrintServers[printer.server];
        const char* queue = kQueues[printer.queue];
        if (readable) {
            AppendLeft(out, name_, 10);
            out += ' ';
            AppendLeft(out, printer.name, 8);
            out += ' ';
            AppendLeft(out, queue, 12);
            out += ' ';
            out += dayText_;
            out += ' ';
            out.append(time_.data(), time_.size());
            out += ' ';
            AppendLeft(out, server, 7);
            out += ' ';
            AppendRight(out, std::to_string(pages), 4);  // columns 58-61
            out += ' ';
            out += AmountColumnText(static_cast<std::int32_t>(cost), mode_);  // columns 63-70
            out += "\r\n";
            return;
        }
        out += '"';
        out += fullName_;
        out += "\",\"";
        out += kDocuments[random_.Next() % kDocuments.size()];
        out += ' ';
        AppendNumber(out, random_.Between(1, 999));
        out += "\",\"";
        out += printer.name;
        out += "\",\"";
        out += server;
        out += "\",\"";
        out += queue;
        // One job in two hundred comes without its file server: an empty, unquoted field 6.
        out += random_.Between(0, 199) == 0 ? "\",," : "\",\"ACCT1\",";
        out += "\"C";
        AppendNumber(out, 100 + 10 * static_cast<std::int64_t>(random_.Next() % kClientCodes));
        out += "\",\"";
        out += dayText_;
        out += "\",\"";
        out.append(time_.data(), time_.size());
        out += "\",";
        AppendNumber(out, copies);
        out += ',';
        AppendNumber(out, pages);
        out += ',';
        out += AmountText(static_cast<std::int32_t>(cost), mode_);
        out += ',';
        out += AmountText(static_cast<std::int32_t>(balance), mode_);
        out += "\r\n";
    }

    // Deposits, charges (plain and with the operator's reason), set balances and set limits, as
    // the program's own writer composes them.
    void AppendTransaction(std::string& out, std::int64_t& balance, bool readable) {
        TransactionRecordInput record;
        record.layout = readable ? LogLayout::Readable : LogLayout::AsciiDelimited;
        record.userName = name_;
        record.userFullName = fullName_;
        record.operatorName = kOperator;
        record.operatorFullName = kOperator;
        record.logServer = kLogServer;
        record.mode = mode_;
        record.date = day_;
        record.timeText = std::string_view(time_.data(), time_.size());
        std::int64_t amount = 0;
        const auto roll = random_.Between(0, 99);
        if (roll < 35) {
            record.operation = AccountOperation::Deposit;
            amount = Units(random_.Between(1, 40) * 250);
        } else if (roll < 75) {
            record.operation = AccountOperation::Charge;
            if (roll < 50) {
                amount = -Units(random_.Between(2, 400) * kCentsPerPageUnit);
            } else {
                record.chargeReason = kChargeReason;
                amount = -Units(random_.Between(1, 100) * kCentsPerPageUnit);
            }
        } else if (roll < 87) {
            record.operation = AccountOperation::SetBalance;
            balance = Units(random_.Between(0, 40) * 500);
        } else {
            record.operation = AccountOperation::SetLimit;
            record.creditLimit = static_cast<std::int32_t>(Units(-random_.Between(0, 10) * 500));
        }
        balance = Bounded(balance + amount);
        if (record.operation != AccountOperation::SetLimit) {
            recorded_[current_] = true;
        }
        record.dateOrder = options_.dateOrder;
        record.operationAmount = static_cast<std::int32_t>(amount);
        record.balanceAfter = static_cast<std::int32_t>(balance);
        out += ComposeTransactionRecord(record);
    }

    const Options& options_;
    Random random_;
    AmountMode mode_;
    std::uint64_t linesPerDay_;
    std::uint64_t shownDay_ = 0;
    RecordDate day_;
    std::string dayText_;
    std::array<char, 5> time_{};
    std::vector<std::string> contextSuffixes_;
    std::array<std::uint32_t, kPrinters.size()> printerBounds_{};
    std::vector<std::int64_t> balances_;
    std::vector<bool> recorded_;
    std::uint32_t current_ = 0;
    std::string name_;
    std::string fullName_;
};

bool ParseCount(std::string_view option, std::string_view text, std::uint64_t limit,
                std::uint64_t& value, std::string& error) {
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size() || value > limit) {
        error = std::string(option) + ": '" + std::string(text) +
                "' is not a whole number from 0 to " + std::to_string(limit);
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::filesystem::path& path, const std::string& contents,
                    std::string& error) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    file.close();
    if (!file) {
        error = path.string() + ": cannot be written";
        return false;
    }
    return true;
}

// The log goes to the file piece by piece: a million lines are over a hundred megabytes.
bool WriteLog(const std::filesystem::path& path, const Options& options, std::string& error) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    bool written = file && WriteAccountingLog(options, [&file](std::string_view piece) {
                       file.write(piece.data(), static_cast<std::streamsize>(piece.size()));
                       return static_cast<bool>(file);
                   });
    file.close();
    if (!written || !file) {
        error = path.string() + ": cannot be written";
        return false;
    }
    return true;
}

bool IsReplaceable(const std::filesystem::path& out, std::string& error) {
    std::error_code failure;
    if (!std::filesystem::exists(out, failure)) {
        return true;
    }
    if (!std::filesystem::is_directory(out, failure)) {
        error = out.string() + ": exists and is not a folder";
        return false;
    }
    if (!std::filesystem::is_empty(out, failure) &&
        !std::filesystem::exists(out / "tallynet.ini", failure)) {
        error = out.string() + ": not empty and holds no tallynet.ini; not overwriting it";
        return false;
    }
    return true;
}

}  // namespace

std::string Usage() {
    return "usage: gendir --out DIR --users N [--contexts C] [--groups G] [--members M]\n"
           "              [--log-lines L] [--amounts currency|pages] [--balances random|log]\n"
           "              [--date-order N] [--seed S] [--schema FILE]\n";
}

std::string HelpText() {
    return Usage() +
           "\n"
           "Writes a generated network folder for benchmarks and scale tests. The same options\n"
           "and seed always give the same bytes.\n"
           "  --out DIR       the folder; replaced only if empty or an earlier network folder\n"
           "  --users N       users U00001, ... besides ADMIN, dealt over the contexts\n"
           "  --contexts C    organizational units SALES, UNIT0002, ... under CORP (default 1)\n"
           "  --groups G      groups G0001, ..., dealt over the contexts like the users\n"
           "  --members M     distinct members of every group, at most N\n"
           "  --log-lines L   lines of ACCT1's accounting log: print jobs and transaction\n"
           "                  records in both layouts (a million take about a second)\n"
           "  --amounts A     the log's amounts: currency, \"12.50\" (the default), or pages,\n"
           "                  whole numbers; ACCT1's NumericalFormat says the same\n"
           "  --balances B    the directory's balances: random (the default), or log, the\n"
           "                  balances the log implies, so that an audit finds them all agreed\n"
           "  --date-order N  the log's dates: 0 M/D/Y (the default), 1 D/M/Y, 2 Y/M/D\n"
           "  --seed S        the seed of every choice (default 1); the log has its own stream,\n"
           "                  so L does not change the tree\n"
           "  --schema FILE   the schema copied into the store (default: the source tree's)\n"
           "  --help          this text\n";
}

bool ParseArguments(const std::vector<std::string_view>& args, Options& options,
                    std::string& error) {
    bool haveUsers = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string_view option = args[i];
        if (i + 1 >= args.size()) {
            error = std::string(option) + ": a value must follow";
            return false;
        }
        std::string_view text = args[++i];
        std::uint64_t value = 0;
        constexpr std::uint64_t kMaxCount = 10'000'000;
        if (option == "--out") {
            options.out = std::filesystem::path(text);
        } else if (option == "--schema") {
            options.schema = std::filesystem::path(text);
        } else if (option == "--amounts") {
            if (text == "currency") {
                options.amounts = Amounts::Currency;
            } else if (text == "pages") {
                options.amounts = Amounts::Pages;
            } else {
                error = "--amounts: '" + std::string(text) + "' is neither currency nor pages";
                return false;
            }
        } else if (option == "--balances") {
            if (text == "random") {
                options.balancesFromLog = false;
            } else if (text == "log") {
                options.balancesFromLog = true;
            } else {
                error = "--balances: '" + std::string(text) + "' is neither random nor log";
                return false;
            }
        } else if (option == "--date-order") {
            if (text != "0" && text != "1" && text != "2") {
                error = "--date-order: '" + std::string(text) + "' is not 0, 1 or 2";
                return false;
            }
            options.dateOrder = text[0] - '0';
        } else if (option == "--seed") {
            if (!ParseCount(option, text, UINT64_MAX, options.seed, error)) {
                return false;
            }
        } else if (option == "--users" || option == "--contexts" || option == "--groups" ||
                   option == "--members" || option == "--log-lines") {
            if (!ParseCount(option, text, kMaxCount, value, error)) {
                return false;
            }
            auto count = static_cast<std::uint32_t>(value);
            if (option == "--users") {
                options.users = count;
                haveUsers = true;
            } else if (option == "--contexts") {
                options.contexts = count;
            } else if (option == "--groups") {
                options.groups = count;
            } else if (option == "--members") {
                options.members = count;
            } else {
                options.logLines = count;
            }
        } else {
            error = std::string(option) + ": unknown option";
            return false;
        }
    }
    if (options.out.empty()) {
        error = "--out: the network folder must be given";
    } else if (!haveUsers) {
        error = "--users: the number of users must be given";
    } else if (options.contexts == 0) {
        error = "--contexts: at least one context is needed";
    } else if (options.contexts > 9999) {
        error = "--contexts: at most 9999 contexts";
    } else if (options.members > options.users) {
        error = "--members: " + std::to_string(options.members) + " is more than the " +
                std::to_string(options.users) + " users";
    } else if (options.logLines > 0 && options.users == 0) {
        error = "--log-lines: log records need at least one user";
    }
    return error.empty();
}

std::string ContextName(const Options& options, std::uint32_t index) {
    (void)options;
    if (index == 0) {
        return "SALES.CORP";
    }
    std::string name;
    Appendf(name, "UNIT%04u.CORP", index + 1);
    return name;
}

std::string UserName(const Options& options, std::uint32_t index) {
    std::string name;
    Appendf(name, "U%0*u", std::max(5, DigitsOf(options.users)), index + 1);
    return name;
}

std::string UserFullName(const Options& options, std::uint32_t index) {
    return UserName(options, index) + "." + ContextName(options, index % options.contexts);
}

std::string GroupName(const Options& options, std::uint32_t index) {
    std::string name;
    Appendf(name, "G%0*u", std::max(4, DigitsOf(options.groups)), index + 1);
    return name;
}

// Every user's balance at the end of the log, when a record states one.
std::vector<std::optional<std::int64_t>> LogImpliedBalances(const Options& options) {
    std::vector<std::optional<std::int64_t>> implied(options.users);
    if (options.users == 0 || options.contexts == 0) {
        return implied;
    }
    LogWriter writer(options);
    std::string line;
    for (std::uint64_t l = 0; l < options.logLines; ++l) {
        line.clear();
        writer.AppendLine(line, l);
    }
    for (std::uint32_t u = 0; u < options.users; ++u) {
        implied[u] = writer.ImpliedBalance(u);
    }
    return implied;
}

std::string DirectoryLdif(const Options& options) {
    std::string out;
    out.reserve(160 * (static_cast<std::size_t>(options.users) + 16) +
                64 * static_cast<std::size_t>(options.groups) * (options.members + 2));
    out +=
        "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
        "dn: cn=ADMIN,o=CORP\nobjectClass: tallyUser\ncn: ADMIN\nfullName: Network Administrator\n"
        "accountBalance: 0\nminimumAccountBalance: 0\nallowUnlimitedCredit: TRUE\n\n"
        "dn: cn=ACCT1,o=CORP\nobjectClass: tallyFileServer\ncn: ACCT1\n\n"
        "dn: cn=FS2,o=CORP\nobjectClass: tallyFileServer\ncn: FS2\n\n";
    for (std::uint32_t c = 0; c < options.contexts; ++c) {
        std::string dn = ContextDn(options, c);
        Appendf(out, "dn: %s\nobjectClass: organizationalUnit\nou: %s\n\n", dn.c_str(),
                dn.substr(3, dn.find(',') - 3).c_str());
    }
    const std::vector<std::optional<std::int64_t>> implied =
        options.balancesFromLog ? LogImpliedBalances(options)
                                : std::vector<std::optional<std::int64_t>>(options.users);
    Random random(options.seed ^ kTreeStream);
    for (std::uint32_t u = 0; u < options.users; ++u) {
        AppendUser(out, options, u, random, implied[u]);
    }
    for (std::uint32_t g = 0; g < options.groups; ++g) {
        AppendGroup(out, options, g, random);
    }
    return out;
}

bool WriteAccountingLog(const Options& options, const LogSink& sink) {
    constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
    if (options.users == 0 || options.contexts == 0) {
        return options.logLines == 0;
    }
    std::string piece;
    piece.reserve(kPieceBytes + 1024);
    LogWriter writer(options);
    for (std::uint64_t line = 0; line < options.logLines; ++line) {
        writer.AppendLine(piece, line);
        if (piece.size() >= kPieceBytes) {
            if (!sink(piece)) {
                return false;
            }
            piece.clear();
        }
    }
    return piece.empty() || sink(piece);
}

std::string AccountingLog(const Options& options) {
    std::string out;
    WriteAccountingLog(options, [&out](std::string_view piece) {
        out += piece;
        return true;
    });
    return out;
}

std::string NetworkIni(const Options& options) {
    return "; Generated by gendir. Paths are relative to this file.\n"
           "[Store]\nPath=directory\n\n"
           "[Login]\nUser=ADMIN.CORP\nContext=" +
           ContextName(options, 0) +
           "\n\n"
           "[Connections]\nDefault=ACCT1\nServers=ACCT1\n\n"
           "[Volumes]\nACCT1=servers/ACCT1\n";
}

std::string SharedSettingsIni(const Options& options) {
    return std::string("[Preferences]\r\nNumericalFormat=") +
           (options.amounts == Amounts::Pages ? "1" : "0") +
           "\r\nLogFormat=1\r\n"
           "SchemaKeyword=Standard Netware\r\n";
}

bool WriteNetwork(const Options& options, std::string& error) {
    namespace fs = std::filesystem;
    if (!IsReplaceable(options.out, error)) {
        return false;
    }
    std::error_code failure;
    std::ifstream schemaFile(options.schema, std::ios::binary);
    std::string schema((std::istreambuf_iterator<char>(schemaFile)),
                       std::istreambuf_iterator<char>());
    if (!schemaFile || schema.empty()) {
        error = options.schema.string() + ": the schema cannot be read";
        return false;
    }
    fs::remove_all(options.out, failure);
    fs::path store = options.out / "directory";
    fs::path volume = options.out / "servers" / "ACCT1" / "SYS";
    fs::create_directories(store, failure);
    fs::create_directories(volume / "PUBLIC", failure);
    fs::create_directories(volume / "SYSTEM" / "JOBTALLY", failure);
    if (failure) {
        error = options.out.string() + ": " + failure.message();
        return false;
    }
    return WriteWholeFile(options.out / "tallynet.ini", NetworkIni(options), error) &&
           WriteWholeFile(store / "schema.ldif", schema, error) &&
           WriteWholeFile(store / "directory.ldif", DirectoryLdif(options), error) &&
           WriteWholeFile(store / "journal.ldif", "", error) &&
           WriteWholeFile(volume / "PUBLIC" / "JOBTALLY.INI", SharedSettingsIni(options), error) &&
           WriteLog(volume / "SYSTEM" / "JOBTALLY" / "JOBTALLY.LOG", options, error);
}

}  // namespace tally::gendir
