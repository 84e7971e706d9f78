#include "tools/tallycmd/command_line.h"

#include <array>
#include <cstdint>

namespace tally::tallycmd {
namespace {

struct CommandWord {
    Command command;
    std::string_view name;
};

constexpr std::array<CommandWord, 10> kCommands = {{
    {Command::Deposit, "deposit"},
    {Command::Charge, "charge"},
    {Command::SetBalance, "set-balance"},
    {Command::SetLimit, "set-limit"},
    {Command::Show, "show"},
    {Command::History, "history"},
    {Command::Stats, "stats"},
    {Command::Balances, "balances"},
    {Command::Trend, "trend"},
    {Command::Audit, "audit"},
}};

constexpr std::uint32_t Bit(Command command) {
    return 1u << static_cast<unsigned>(command);
}
constexpr std::uint32_t kEvery = 0xFFFFFFFFu;
constexpr std::uint32_t kChanges = Bit(Command::Deposit) | Bit(Command::Charge) |
                                   Bit(Command::SetBalance) | Bit(Command::SetLimit);
constexpr std::uint32_t kTargets = kChanges | Bit(Command::Show) | Bit(Command::Audit);
constexpr std::uint32_t kPeriodReports =
    Bit(Command::History) | Bit(Command::Stats) | Bit(Command::Trend);
constexpr std::uint32_t kReports = kPeriodReports | Bit(Command::Balances) | Bit(Command::Audit);

struct OptionRule {
    std::string_view name;
    bool takesValue;
    std::uint32_t commands;  // the commands that take the option
};

constexpr std::array<OptionRule, 23> kOptions = {{
    {"--help", false, kEvery},
    {"--version", false, kEvery},
    {"--ini", true, kEvery},
    {"--settings", true, kEvery},
    {"--currency-digits", true, kEvery},
    {"--date-order", true, kEvery},
    {"--in", true, kEvery},
    {"--group", true, kTargets},
    {"--context", true, kTargets},
    {"--from", true, kChanges},
    {"--dry-run", false, kChanges},
    {"--reason", true, Bit(Command::Charge)},
    {"--unlimited", false, Bit(Command::SetLimit)},
    {"--by", true, Bit(Command::Stats) | Bit(Command::Trend)},
    {"--log", true, Bit(Command::Stats) | Bit(Command::Trend)},
    {"--html", false, kPeriodReports},
    {"--since", true, kPeriodReports},
    {"--until", true, kPeriodReports},
    {"--period", true, kPeriodReports},
    {"--below", true, Bit(Command::Balances)},
    {"--out", true, kReports},
    {"--csv", false, kReports | Bit(Command::Show)},
    {"-h", false, kEvery},
}};

const OptionRule* FindOption(std::string_view name) {
    for (const OptionRule& rule : kOptions) {
        if (rule.name == name) {
            return &rule;
        }
    }
    return nullptr;
}

Command FindCommand(std::string_view word) {
    for (const CommandWord& entry : kCommands) {
        if (entry.name == word) {
            return entry.command;
        }
    }
    return Command::None;
}

// "-5" and "-.5" are amounts, not options.
bool IsOptionWord(std::string_view word) {
    if (word.size() < 2 || word.front() != '-') {
        return false;
    }
    const char second = word[1];
    return !((second >= '0' && second <= '9') || second == '.');
}

void Apply(std::string_view name, const std::string& value, CommandLine& line) {
    if (name == "--help" || name == "-h") {
        line.help = true;
    } else if (name == "--version") {
        line.version = true;
    } else if (name == "--ini") {
        line.iniFile = value;
    } else if (name == "--settings") {
        line.settingsFile = value;
    } else if (name == "--currency-digits") {
        line.currencyDigits = value;
    } else if (name == "--date-order") {
        line.dateOrder = value;
    } else if (name == "--in") {
        line.startContext = value;
    } else if (name == "--group") {
        line.group = value;
    } else if (name == "--context") {
        line.context = value;
    } else if (name == "--from") {
        line.csvFile = value;
    } else if (name == "--dry-run") {
        line.dryRun = true;
    } else if (name == "--reason") {
        line.reason = value;
    } else if (name == "--unlimited") {
        line.unlimited = true;
    } else if (name == "--by") {
        line.by = value;
    } else if (name == "--log") {
        line.logFile = value;
    } else if (name == "--out") {
        line.outFile = value;
    } else if (name == "--csv") {
        line.csv = true;
    } else if (name == "--html") {
        line.html = true;
    } else if (name == "--since") {
        line.since = value;
    } else if (name == "--until") {
        line.until = value;
    } else if (name == "--period") {
        line.period = value;
    } else if (name == "--below") {
        line.below = value;
    }
}

bool Fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

// The target of an account command or of show: names, a group or a context, exactly one.
bool CheckTarget(const CommandLine& line, std::string& error) {
    const int kinds = (line.users.empty() ? 0 : 1) + (line.group ? 1 : 0) + (line.context ? 1 : 0);
    if (kinds == 0) {
        return Fail(error, "name a user, --group NAME or --context CONTEXT");
    }
    if (kinds > 1) {
        return Fail(error, "name users, --group NAME or --context CONTEXT, only one of them");
    }
    return true;
}

bool CheckChange(CommandLine& line, std::vector<std::string>& words, std::string& error) {
    if (line.csvFile) {
        if (!words.empty() || line.group || line.context) {
            return Fail(error,
                        "--from FILE takes the users and amounts from the file; '" +
                            (words.empty() ? std::string(line.group ? "--group" : "--context")
                                           : words.front()) +
                            "' cannot be given beside it");
        }
        if (line.unlimited) {
            return Fail(error,
                        "--unlimited cannot be given with --from: write 'unlimited' as the "
                        "amount of the lines that mean it");
        }
        return true;
    }
    const bool amountGiven = !(line.command == Command::SetLimit && line.unlimited);
    if (amountGiven) {
        if (words.empty()) {
            return Fail(error, "the amount is missing");
        }
        line.amount = words.front();
        words.erase(words.begin());
    }
    line.users = std::move(words);
    return CheckTarget(line, error);
}

bool CheckWords(CommandLine& line, std::vector<std::string> words, std::string& error) {
    switch (line.command) {
        case Command::None:
            return true;
        case Command::Deposit:
        case Command::Charge:
        case Command::SetBalance:
        case Command::SetLimit:
            return CheckChange(line, words, error);
        case Command::Show:
            line.users = std::move(words);
            return CheckTarget(line, error);
        case Command::History:
            if (words.size() != 1) {
                return Fail(error, words.empty() ? "name the user or group"
                                                 : "one user or group only ('" + words[1] +
                                                       "' is one too many)");
            }
            line.subject = words.front();
            return true;
        case Command::Stats:
        case Command::Trend:
            if (!words.empty()) {
                return Fail(error, "'" + words.front() + "' is not an option of " +
                                       std::string(CommandName(line.command)) +
                                       " (choose the totals with --by)");
            }
            return true;
        case Command::Audit:
            line.users = std::move(words);
            return line.users.empty() && !line.group && !line.context ? true
                                                                      : CheckTarget(line, error);
        case Command::Balances:
            if (words.size() > 1) {
                return Fail(error, "one context only ('" + words[1] + "' is one too many)");
            }
            if (!words.empty()) {
                line.subject = words.front();
            }
            return true;
    }
    return true;
}

}  // namespace

std::string_view CommandName(Command command) {
    for (const CommandWord& entry : kCommands) {
        if (entry.command == command) {
            return entry.name;
        }
    }
    return "";
}

bool ParseCommandLine(const std::vector<std::string>& words, CommandLine& line,
                      std::string& error) {
    line = CommandLine{};
    std::vector<std::string> positional;
    std::vector<std::string> options;  // in the order given, checked once the command is known
    bool optionsEnded = false;
    bool helpWord = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || !IsOptionWord(word)) {
            if (line.command == Command::None && !helpWord && positional.empty()) {
                if (word == "help") {
                    helpWord = true;
                    line.help = true;
                    continue;
                }
                line.command = FindCommand(word);
                if (line.command == Command::None) {
                    return Fail(error, "unknown command '" + word +
                                           "' (deposit, charge, set-balance, set-limit, show, "
                                           "history, stats, balances, trend, audit)");
                }
                continue;
            }
            if (helpWord && line.command == Command::None) {
                line.command = FindCommand(word);
                if (line.command == Command::None) {
                    return Fail(error, "no help on '" + word + "': it is not a command");
                }
                continue;
            }
            positional.push_back(word);
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const OptionRule* rule = FindOption(name);
        if (rule == nullptr) {
            return Fail(error, "unknown option '" + name + "'");
        }
        std::string value;
        if (rule->takesValue) {
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
            } else if (i + 1 < words.size()) {
                value = words[++i];
            } else {
                return Fail(error, "option " + name + " needs a value");
            }
        } else if (equals != std::string::npos) {
            return Fail(error, "option " + name + " takes no value");
        }
        options.push_back(name);
        Apply(name, value, line);
    }
    if (line.help || line.version) {
        return true;
    }
    for (const std::string& name : options) {
        const OptionRule* rule = FindOption(name);
        if (line.command != Command::None && (rule->commands & Bit(line.command)) == 0) {
            return Fail(error, "option " + name + " is not one of " +
                                   std::string(CommandName(line.command)) + "'s");
        }
    }
    if (line.command == Command::None) {
        return Fail(error, "no command given");
    }
    if (!CheckWords(line, std::move(positional), error)) {
        return false;
    }
    if (line.csv && line.html) {
        return Fail(error, "--csv and --html: choose one");
    }
    if (line.period && (line.since || line.until)) {
        return Fail(error, "--period cannot be given beside --since or --until");
    }
    if (line.command == Command::Trend) {
        const std::string by = line.by.value_or("");
        if (by != "day" && by != "week" && by != "month") {
            return Fail(error, "trend needs --by day, --by week or --by month");
        }
        return true;
    }
    if (line.command == Command::Stats && line.by) {
        StatisticsChoiceText choice;
        if (!ParseStatisticsChoice(*line.by, choice, error)) {
            return false;
        }
    }
    return true;
}

bool ParseStatisticsChoice(std::string_view text, StatisticsChoiceText& choice,
                           std::string& error) {
    choice = {};
    for (std::string_view word : {"user", "server", "printer", "queue", "client-code"}) {
        if (text == word) {
            choice.category = std::string(word);
            return true;
        }
    }
    constexpr std::string_view kGroupPrefix = "group:";
    if (text.substr(0, kGroupPrefix.size()) == kGroupPrefix) {
        choice.category = "group";
        choice.group = std::string(text.substr(kGroupPrefix.size()));
        if (choice.group.empty()) {
            return Fail(error, "--by group: needs the group's name (--by group:SALESTEAM)");
        }
        return true;
    }
    return Fail(error, "--by " + std::string(text) +
                           ": choose user, server, printer, queue, client-code or group:NAME");
}

}  // namespace tally::tallycmd
