// tallycmd's command line: the command, its target and amount, the report's options and the
// options every command takes. Reading it needs nothing but the words, so every mistake is found
// before the directory or a file is touched.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tally::tallycmd {

enum class Command {
    None,  // no command word: the overview
    Deposit,
    Charge,
    SetBalance,
    SetLimit,
    Show,
    History,
    Stats,
    Balances,
    Trend,
    Audit,
};

// Exit codes, the same for every command.
inline constexpr int kExitDone = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitBadInput = 2;

struct CommandLine {
    Command command = Command::None;
    bool help = false;
    bool version = false;  // --version

    // Every command.
    std::optional<std::string> iniFile;         // --ini
    std::optional<std::string> settingsFile;    // --settings
    std::optional<std::string> currencyDigits;  // --currency-digits
    std::optional<std::string> dateOrder;       // --date-order
    std::optional<std::string> startContext;    // --in

    // Account commands: the target is `users`, `group` or `context`.
    std::optional<std::string> amount;
    std::vector<std::string> users;
    std::optional<std::string> group;    // --group
    std::optional<std::string> context;  // --context
    bool unlimited = false;              // --unlimited (set-limit)
    std::optional<std::string> reason;   // --reason (charge)
    std::optional<std::string> csvFile;  // --from
    bool dryRun = false;                 // --dry-run

    // Reports (and show's --csv).
    std::string subject;                 // history's user or group, balances' context
    std::optional<std::string> by;       // --by (stats)
    std::optional<std::string> logFile;  // --log (stats)
    std::optional<std::string> outFile;  // --out ("-": standard output)
    bool csv = false;                    // --csv
    bool html = false;                   // --html (stats, history, trend)
    std::optional<std::string> since;    // --since (history, stats, trend)
    std::optional<std::string> until;    // --until
    std::optional<std::string> period;   // --period
    std::optional<std::string> below;    // --below (balances)
};

// False with `error` naming the word at fault when the words are not a command line.
bool ParseCommandLine(const std::vector<std::string>& words, CommandLine& line, std::string& error);

// The command's name as typed ("set-balance"), "" for None.
std::string_view CommandName(Command command);

// The text of --help: the overview for None, the command's own page otherwise.
std::string HelpText(Command command);

// The line of --version: "tallycmd (TallyDesk) 4.25f+12.g1a2b3c4".
std::string VersionText();

// "usage: ..." lines of the command, for a mistake.
std::string UsageText(Command command);

// What a statistics run totals by: "user", "server", "printer", "queue", "client-code" or
// "group:NAME". False with `error` for anything else.
struct StatisticsChoiceText {
    std::string category;  // one of the five words, or "group"
    std::string group;     // for "group:NAME"
};
bool ParseStatisticsChoice(std::string_view text, StatisticsChoiceText& choice, std::string& error);

}  // namespace tally::tallycmd
