// Generates network folders of any size for benchmarks and scale tests: the same layout as the
// checked-in sample network (tallynet.ini, the store folder, ACCT1's SYS volume), filled with
// made-up users, groups and log records. The same options and seed always give the same bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tally::gendir {

// How the log writes amounts: Currency with two decimals ("12.50") or Pages, whole numbers
// (ACCT1's NumericalFormat says which).
enum class Amounts { Currency, Pages };

struct Options {
    std::filesystem::path out;     // the network folder to (re)create
    std::filesystem::path schema;  // the schema file copied into the store folder
    std::uint32_t users = 0;       // generated users, besides the ADMIN login user
    std::uint32_t contexts = 1;    // organizational units under CORP; users are dealt round-robin
    std::uint32_t groups = 0;      // groups, dealt over the contexts like the users
    std::uint32_t members = 0;     // members of every group, all distinct
    std::uint32_t logLines = 0;    // records in ACCT1's JOBTALLY.LOG
    std::uint64_t seed = 1;
    Amounts amounts = Amounts::Currency;
    // The directory's balances: drawn at random, or those the log implies (the balance after
    // each user's last deposit, charge or set balance, less the print jobs after it), so that an
    // audit of balances against the log finds them all in agreement.
    bool balancesFromLog = false;
    int dateOrder = 0;  // the log's dates: 0 month/day/year, 1 day/month/year, 2 year/month/day
};

// Reads the command line (argv[0] is skipped). On a mistake returns false with a message that
// names the option and the value at fault. "--help" is the caller's to look for.
bool ParseArguments(const std::vector<std::string_view>& args, Options& options,
                    std::string& error);
std::string Usage();     // the synopsis
std::string HelpText();  // the synopsis and what each option does

// Names of generated objects, so that benchmarks can address what they generated.
std::string ContextName(const Options& options, std::uint32_t index);   // "SALES.CORP", ...
std::string UserName(const Options& options, std::uint32_t index);      // "U00042"
std::string UserFullName(const Options& options, std::uint32_t index);  // "U00042.SALES.CORP"
std::string GroupName(const Options& options, std::uint32_t index);     // "G0007"

// Every user's balance as the whole log implies it: the balance after the user's last deposit,
// charge or set balance, less the print jobs after it; nullopt for a user without such a record.
std::vector<std::optional<std::int64_t>> LogImpliedBalances(const Options& options);

// The file contents, separately for tests and benchmarks that want them in memory.
std::string DirectoryLdif(const Options& options);
std::string AccountingLog(const Options& options);  // CR LF line ends

// The same log in pieces of about a megabyte, in order, for logs too big to hold in memory.
// Stops and returns false as soon as `sink` returns false.
using LogSink = std::function<bool(std::string_view piece)>;
bool WriteAccountingLog(const Options& options, const LogSink& sink);
std::string NetworkIni(const Options& options);
// ACCT1's PUBLIC/JOBTALLY.INI, CR LF line ends; NumericalFormat follows options.amounts.
std::string SharedSettingsIni(const Options& options = {});

// Writes the whole folder. An existing `out` is replaced only when it is empty or an earlier
// network folder (it holds tallynet.ini); anything else is left alone and reported.
bool WriteNetwork(const Options& options, std::string& error);

}  // namespace tally::gendir
