#include "tools/gendir/gendir_lib.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace tally::gendir {
namespace {

// A small generator of our own: the standard distributions differ between libraries, and the
// output has to be the same wherever the tool is built.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A number in [low, high].
    std::int64_t between(std::int64_t low, std::int64_t high) {
        return low + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(high - low + 1));
    }
    bool percent(int chance) { return between(0, 99) < chance; }

  private:
    std::uint64_t state_;
};

constexpr std::array<const char*, 16> kGivenNames = {
    "John", "Mary", "Alan",  "Karen", "Ravi",   "Laura", "Tomas", "Nina",
    "Emma", "Gary", "Sarah", "Frank", "Olivia", "Ian",   "Zoe",   "Victor"};
constexpr std::array<const char*, 16> kSurnames = {
    "Smith", "Jones", "Davis", "Lee",   "Patel", "White", "Garcia", "Roberts",
    "King",  "Hall",  "Clark", "Young", "Allen", "Ross",  "Evans",  "Green"};
constexpr std::array<const char*, 4> kPrinters = {"LASER1", "LASER2", "COLOUR1", "LASER3"};
constexpr std::array<const char*, 3> kPrintServers = {"PS_CORP", "PS_EAST", "PS_WEST"};
constexpr std::array<const char*, 4> kQueues = {"Q_SALES", "Q_EAST", "Q_COLOUR", "Q_ACCOUNTS"};
constexpr std::array<const char*, 4> kClientCodes = {"C100", "C200", "C300", "C400"};
constexpr std::array<const char*, 5> kChargeTags = {"Deposit", "Charge", "Photocopies", "SetBal",
                                                    "SetLimit"};

// Seeds of the independent streams, so that changing the log length leaves the tree alone.
constexpr std::uint64_t kTreeStream = 0x7472656500000000ull;
constexpr std::uint64_t kLogStream = 0x6C6F670000000000ull;

int digitsOf(std::uint32_t value) {
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

void appendf(std::string& out, const char* format, auto... args) {
    char line[512];
    int length = std::snprintf(line, sizeof line, format, args...);
    if (length > 0) {
        out.append(line, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof line - 1));
    }
}

// Cents as the log writes them in Currency format: 1250 -> "12.50", -5 -> "-0.05".
std::string cents(std::int64_t amount) {
    std::string text = amount < 0 ? "-" : "";
    std::uint64_t magnitude =
        amount < 0 ? static_cast<std::uint64_t>(-amount) : static_cast<std::uint64_t>(amount);
    appendf(text, "%llu.%02llu", static_cast<unsigned long long>(magnitude / 100),
            static_cast<unsigned long long>(magnitude % 100));
    return text;
}

std::string contextDn(const Options& options, std::uint32_t index) {
    std::string name = contextName(options, index);
    return "ou=" + name.substr(0, name.find('.')) + ",o=CORP";
}

std::string userDn(const Options& options, std::uint32_t index) {
    return "cn=" + userName(options, index) + "," + contextDn(options, index % options.contexts);
}

void appendUser(std::string& out, const Options& options, std::uint32_t index, Random& random) {
    appendf(out, "dn: %s\nobjectClass: tallyUser\ncn: %s\n", userDn(options, index).c_str(),
            userName(options, index).c_str());
    // One user in twenty has no account and no full name, as accounts that were never set up.
    if (random.percent(5)) {
        out += '\n';
        return;
    }
    appendf(out, "fullName: %s %s\n", kGivenNames[random.next() % kGivenNames.size()],
            kSurnames[random.next() % kSurnames.size()]);
    if (!random.percent(5)) {
        appendf(out, "accountBalance: %lld\n",
                static_cast<long long>(random.between(-5000, 20000)));
    }
    appendf(out, "minimumAccountBalance: %lld\nallowUnlimitedCredit: %s\n",
            static_cast<long long>(random.between(-20, 0) * 100),
            random.percent(5) ? "TRUE" : "FALSE");
    if (random.percent(10)) {
        appendf(out,
                "jobtallyColourBalance: %lld\njobtallyColourLimit: 0\n"
                "jobtallyColourNolimit: FALSE\n",
                static_cast<long long>(random.between(-1000, 5000)));
    }
    out += '\n';
}

void appendGroup(std::string& out, const Options& options, std::uint32_t index, Random& random) {
    appendf(out, "dn: cn=%s,%s\nobjectClass: tallyGroup\ncn: %s\nfullName: Group %u\n",
            groupName(options, index).c_str(), contextDn(options, index % options.contexts).c_str(),
            groupName(options, index).c_str(), index + 1);
    // Consecutive users from a random start: distinct members, spread over the contexts.
    std::uint32_t first =
        options.users == 0 ? 0 : static_cast<std::uint32_t>(random.next() % options.users);
    for (std::uint32_t m = 0; m < options.members; ++m) {
        appendf(out, "member: %s\n", userDn(options, (first + m) % options.users).c_str());
    }
    out += '\n';
}

std::string date(std::uint32_t dayIndex) {
    std::string text;
    appendf(text, "%02u/%02u/%u", dayIndex / 28 % 12 + 1, dayIndex % 28 + 1,
            1999 + dayIndex / (28 * 12));
    return text;
}

std::string timeOfDay(Random& random) {
    std::string text;
    appendf(text, "%02lld:%02lld", static_cast<long long>(random.between(7, 19)),
            static_cast<long long>(random.between(0, 59)));
    return text;
}

void appendPrintJob(std::string& out, const Options& options, std::uint32_t user,
                    const std::string& when, const std::string& at, Random& random) {
    const char* printer = kPrinters[random.next() % kPrinters.size()];
    const char* server = kPrintServers[random.next() % kPrintServers.size()];
    const char* queue = kQueues[random.next() % kQueues.size()];
    auto pages = random.between(1, 60);
    std::string cost = cents(pages * 5);
    if (random.percent(80)) {
        appendf(out,
                "\"%s\",\"Document "
                "%u\",\"%s\",\"%s\",\"%s\",\"ACCT1\",\"%s\",\"%s\",\"%s\",1,%lld,%s,%s\r\n",
                userFullName(options, user).c_str(), static_cast<unsigned>(random.next() % 1000),
                printer, server, queue, kClientCodes[random.next() % kClientCodes.size()],
                when.c_str(), at.c_str(), static_cast<long long>(pages), cost.c_str(),
                cents(random.between(-5000, 20000)).c_str());
    } else {
        // Pages in columns 58-61 and the cost in 63-70, as the reports read them.
        appendf(out, "%-10.10s %-8.8s %-12.12s %s %s %-7.7s %4lld %8s\r\n",
                userName(options, user).c_str(), printer, queue, when.c_str(), at.c_str(), server,
                static_cast<long long>(pages), cost.c_str());
    }
}

void appendTransaction(std::string& out, const Options& options, std::uint32_t user,
                       const std::string& when, const std::string& at, Random& random) {
    const char* tag = kChargeTags[random.next() % kChargeTags.size()];
    std::string_view tagView = tag;
    std::int64_t amount = random.between(1, 5000);
    if (tagView == "SetBal" || tagView == "SetLimit") {
        amount = 0;
    } else if (tagView != "Deposit") {
        amount = -amount;
    }
    std::string first = cents(amount);
    std::string second = cents(random.between(-5000, 20000));
    if (random.percent(70)) {
        appendf(out,
                "\"%s\",\"%s\",\"ADMIN.CORP\",\"\",\"ACCT1\",\"\",\"\",\"%s\",\"%s\",,,%s,%s\r\n",
                userFullName(options, user).c_str(), tag, when.c_str(), at.c_str(), first.c_str(),
                second.c_str());
    } else {
        appendf(out, "%-10.10s %-8.8s %-12.12s %s %s %8s %4s %8s %8s\r\n",
                userName(options, user).c_str(), tag, "ADMIN", when.c_str(), at.c_str(), "", "",
                first.c_str(), second.c_str());
    }
}

bool parseCount(std::string_view option, std::string_view text, std::uint64_t limit,
                std::uint64_t& value, std::string& error) {
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size() || value > limit) {
        error = std::string(option) + ": '" + std::string(text) +
                "' is not a whole number from 0 to " + std::to_string(limit);
        return false;
    }
    return true;
}

bool writeFile(const std::filesystem::path& path, const std::string& contents, std::string& error) {
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
bool writeLog(const std::filesystem::path& path, const Options& options, std::string& error) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    bool written = file && writeAccountingLog(options, [&file](std::string_view piece) {
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

bool isReplaceable(const std::filesystem::path& out, std::string& error) {
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

std::string usage() {
    return "usage: gendir --out DIR --users N [--contexts C] [--groups G] [--members M]\n"
           "              [--log-lines L] [--seed S] [--schema FILE]\n";
}

bool parseArguments(const std::vector<std::string_view>& args, Options& options,
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
        } else if (option == "--seed") {
            if (!parseCount(option, text, UINT64_MAX, options.seed, error)) {
                return false;
            }
        } else if (option == "--users" || option == "--contexts" || option == "--groups" ||
                   option == "--members" || option == "--log-lines") {
            if (!parseCount(option, text, kMaxCount, value, error)) {
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

std::string contextName(const Options& options, std::uint32_t index) {
    (void)options;
    if (index == 0) {
        return "SALES.CORP";
    }
    std::string name;
    appendf(name, "UNIT%04u.CORP", index + 1);
    return name;
}

std::string userName(const Options& options, std::uint32_t index) {
    std::string name;
    appendf(name, "U%0*u", std::max(5, digitsOf(options.users)), index + 1);
    return name;
}

std::string userFullName(const Options& options, std::uint32_t index) {
    return userName(options, index) + "." + contextName(options, index % options.contexts);
}

std::string groupName(const Options& options, std::uint32_t index) {
    std::string name;
    appendf(name, "G%0*u", std::max(4, digitsOf(options.groups)), index + 1);
    return name;
}

std::string directoryLdif(const Options& options) {
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
        std::string dn = contextDn(options, c);
        appendf(out, "dn: %s\nobjectClass: organizationalUnit\nou: %s\n\n", dn.c_str(),
                dn.substr(3, dn.find(',') - 3).c_str());
    }
    Random random(options.seed ^ kTreeStream);
    for (std::uint32_t u = 0; u < options.users; ++u) {
        appendUser(out, options, u, random);
    }
    for (std::uint32_t g = 0; g < options.groups; ++g) {
        appendGroup(out, options, g, random);
    }
    return out;
}

bool writeAccountingLog(const Options& options, const LogSink& sink) {
    constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
    std::string piece;
    piece.reserve(kPieceBytes + 1024);
    Random random(options.seed ^ kLogStream);
    for (std::uint32_t line = 0; line < options.logLines; ++line) {
        auto user = static_cast<std::uint32_t>(random.next() % options.users);
        std::string when = date(line / 200);
        std::string at = timeOfDay(random);
        if (random.percent(85)) {
            appendPrintJob(piece, options, user, when, at, random);
        } else {
            appendTransaction(piece, options, user, when, at, random);
        }
        if (piece.size() >= kPieceBytes) {
            if (!sink(piece)) {
                return false;
            }
            piece.clear();
        }
    }
    return piece.empty() || sink(piece);
}

std::string accountingLog(const Options& options) {
    std::string out;
    writeAccountingLog(options, [&out](std::string_view piece) {
        out += piece;
        return true;
    });
    return out;
}

std::string networkIni(const Options& options) {
    return "; Generated by gendir. Paths are relative to this file.\n"
           "[Store]\nPath=directory\n\n"
           "[Login]\nUser=ADMIN.CORP\nContext=" +
           contextName(options, 0) +
           "\n\n"
           "[Connections]\nDefault=ACCT1\nServers=ACCT1\n\n"
           "[Volumes]\nACCT1=servers/ACCT1\n";
}

std::string sharedSettingsIni() {
    return "[Preferences]\r\nNumericalFormat=0\r\nLogFormat=1\r\n"
           "SchemaKeyword=Standard Netware\r\n";
}

bool writeNetwork(const Options& options, std::string& error) {
    namespace fs = std::filesystem;
    if (!isReplaceable(options.out, error)) {
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
    return writeFile(options.out / "tallynet.ini", networkIni(options), error) &&
           writeFile(store / "schema.ldif", schema, error) &&
           writeFile(store / "directory.ldif", directoryLdif(options), error) &&
           writeFile(store / "journal.ldif", "", error) &&
           writeFile(volume / "PUBLIC" / "JOBTALLY.INI", sharedSettingsIni(), error) &&
           writeLog(volume / "SYSTEM" / "JOBTALLY" / "JOBTALLY.LOG", options, error);
}

}  // namespace tally::gendir
