// The --help pages. docs/tallycmd.md says the same at more length.
#include "tools/tallycmd/command_line.h"

#include "program/version.h"

namespace tally::tallycmd {
namespace {

constexpr const char* kCommonOptions =
    "Options of every command:\n"
    "  --ini FILE             the directory client's tallynet.ini (default: $TALLYNET_INI,\n"
    "                         else tallynet.ini beside the program)\n"
    "  --in CONTEXT           the current context, a complete name such as SALES.CORP or\n"
    "                         [Root] (default: the workstation's, from tallynet.ini)\n"
    "  --settings FILE        the local settings file (tallydsk.ini; native build only,\n"
    "                         default: $TALLYDSK_INI, else none)\n"
    "  --currency-digits N    the locale's currency digits (native build only; default:\n"
    "                         $TALLYCMD_CURRENCY_DIGITS, else 2)\n"
    "  --date-order N         the locale's short date order, 0 M/D/Y, 1 D/M/Y, 2 Y/M/D\n"
    "                         (native build only; default: $TALLYCMD_DATE_ORDER, else 0)\n"
    "  --help                 this page\n"
    "  --version              the version of tallycmd\n";

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0  done (also when there was nothing to change)\n"
    "  1  some changes failed: the directory refused a user's change, the accounting log\n"
    "     could not be reached or records wait in the outbox for it (appended at the next\n"
    "     start), a lock could not be had (the run stopped there), lines of a --from file\n"
    "     could not be applied (the other lines were applied), or the directory server\n"
    "     could not be reached or its TLS certificate was refused (nothing was changed)\n"
    "  2  bad usage or input, and nothing was changed: a mistake on the command line, an\n"
    "     amount that is no number or does not fit, an unknown user, group or context, a\n"
    "     tallynet.ini the directory client refuses, a file that cannot be read or written\n";

constexpr const char* kTargets =
    "Targets:\n"
    "  USER...                one or more users, named as the current context lists them\n"
    "                         (JSMITH) or completely with a leading point (.JSMITH.SALES.CORP);\n"
    "                         every name is checked first, and an unknown one changes nothing\n"
    "  --group NAME           every member of the group, wherever the member lives\n"
    "  --context CONTEXT      every user directly inside CONTEXT (a complete name)\n";

constexpr const char* kBulk =
    "  --from FILE            users and amounts from a CSV file, one change per line:\n"
    "                         user,amount[,reason] (reason: charge only), or user;amount with\n"
    "                         a decimal comma; a first line whose\n"
    "                         first field is 'user' is a header; every line is checked first,\n"
    "                         a line that cannot be applied is reported with its number and\n"
    "                         changes nothing, the others are applied and recorded\n"
    "  --dry-run              show every user's balance or limit before and after, and\n"
    "                         change nothing\n";

constexpr const char* kOverview =
    "tallycmd: TallyDesk without a window. It reads the same tallynet.ini and settings as\n"
    "the window and acts as the logged-in operator.\n"
    "\n"
    "usage: tallycmd COMMAND [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "Account commands (each change is recorded in the accounting log):\n"
    "  deposit AMOUNT TARGET          add AMOUNT to the balance\n"
    "  charge AMOUNT TARGET           take AMOUNT from the balance\n"
    "  set-balance AMOUNT TARGET      make the balance AMOUNT\n"
    "  set-limit AMOUNT TARGET        make the credit limit AMOUNT\n"
    "  set-limit --unlimited TARGET   allow unlimited credit\n"
    "  show TARGET                    each user's balance and credit limit\n"
    "  (TARGET: USER..., --group NAME or --context CONTEXT; or --from FILE.csv instead of\n"
    "  AMOUNT and TARGET)\n"
    "\n"
    "Reports (the same files as the window's):\n"
    "  history USER|GROUP             the print history\n"
    "  stats --by user|server|printer|queue|client-code|group:NAME\n"
    "                                 the printing statistics\n"
    "  balances [CONTEXT]             every balance of a context\n"
    "  trend --by day|week|month      pages and cost per day, week or month\n"
    "  audit [TARGET]                 each balance beside the one the log implies\n"
    "\n"
    "'tallycmd COMMAND --help' tells more about each command.\n"
    "\n";

std::string AccountPage(const std::string& usage, const std::string& what) {
    return usage + "\n" + what + "\n" + kTargets + kBulk + "\n" + kCommonOptions + "\n" +
           kExitCodes;
}

constexpr const char* kAmountRules =
    "AMOUNT is read in the number format of the log server's settings: in Currency with\n"
    "the locale's currency digits (12.50), in Pages as whole units (1250). An amount that\n"
    "is not a number in that format, or does not fit an account, changes nothing.\n";

constexpr const char* kReportOutput =
    "  --out FILE             write the report to FILE ('-': standard output) instead of the\n"
    "                         window's file name in the current folder (or, when that cannot\n"
    "                         be created, in the temporary folder)\n"
    "  --csv                  write CSV: one header row, then one row per line of the report,\n"
    "                         amounts in the report's number format; the default file name\n"
    "                         ends in .csv\n"
    "The path of the file written is printed on standard output. On a terminal the reading\n"
    "of the log shows its progress on standard error.\n";

constexpr const char* kPeriodOptions =
    "  --since DATE           only the lines dated DATE (YYYY-MM-DD) or later\n"
    "  --until DATE           only the lines dated DATE or earlier\n"
    "  --period NAME          this-month, last-month, this-year or last-year\n"
    "                         (a line's date is read in the locale's short date order, as the\n"
    "                         records are written; lines whose date cannot be read are left\n"
    "                         out and counted on standard error)\n"
    "  --html                 one HTML page: the table and a bar chart, for a browser or a\n"
    "                         printer; the default file name ends in .html\n";

}  // namespace

std::string VersionText() {
    return "tallycmd (TallyDesk) " + std::string(BuildVersion().text) + "\n";
}

std::string UsageText(Command command) {
    switch (command) {
        case Command::None:
            return "usage: tallycmd COMMAND [ARGUMENTS] [OPTIONS] (tallycmd --help)\n";
        case Command::Deposit:
        case Command::Charge:
        case Command::SetBalance: {
            const std::string name(CommandName(command));
            return "usage: tallycmd " + name + " AMOUNT (USER... | --group NAME | --context " +
                   "CONTEXT) [--dry-run]\n       tallycmd " + name + " --from FILE [--dry-run]\n";
        }
        case Command::SetLimit:
            return "usage: tallycmd set-limit (AMOUNT | --unlimited) (USER... | --group NAME | "
                   "--context CONTEXT) [--dry-run]\n"
                   "       tallycmd set-limit --from FILE [--dry-run]\n";
        case Command::Show:
            return "usage: tallycmd show (USER... | --group NAME | --context CONTEXT) [--csv]\n";
        case Command::History:
            return "usage: tallycmd history USER|GROUP [PERIOD] [--out FILE|-] [--csv|--html]\n";
        case Command::Stats:
            return "usage: tallycmd stats [--by user|server|printer|queue|client-code|"
                   "group:NAME] [--log FILE] [PERIOD]\n                      [--out FILE|-] "
                   "[--csv|--html]\n";
        case Command::Balances:
            return "usage: tallycmd balances [CONTEXT] [--below AMOUNT] [--out FILE|-] [--csv]\n";
        case Command::Trend:
            return "usage: tallycmd trend --by day|week|month [--log FILE] [PERIOD] [--out "
                   "FILE|-]\n"
                   "                      [--csv|--html]\n";
        case Command::Audit:
            return "usage: tallycmd audit [USER... | --group NAME | --context CONTEXT] "
                   "[--out FILE|-] [--csv]\n";
    }
    return {};
}

std::string HelpText(Command command) {
    switch (command) {
        case Command::None:
            return std::string(kOverview) + kCommonOptions + "\n" + kExitCodes;
        case Command::Deposit:
            return AccountPage(UsageText(command),
                               "Adds AMOUNT to each target user's balance, as the window's "
                               "Deposit does.\nAn amount of 0 changes nothing.\n" +
                                   std::string(kAmountRules));
        case Command::Charge:
            return AccountPage(
                       UsageText(command),
                       "Takes AMOUNT from each target user's balance, as the window's Charge "
                       "does.\nAn amount of 0 changes nothing.\n" +
                           std::string(kAmountRules)) +
                   "\nCharge's own option:\n"
                   "  --reason TEXT          the reason recorded in the log (at most 31 "
                   "characters;\n"
                   "                         default: the window's remembered reason, else "
                   "Charge)\n";
        case Command::SetBalance:
            return AccountPage(UsageText(command),
                               "Makes each target user's balance AMOUNT, as the window's Set "
                               "Balance does.\n" +
                                   std::string(kAmountRules));
        case Command::SetLimit:
            return AccountPage(UsageText(command),
                               "Makes each target user's credit limit AMOUNT and takes away "
                               "unlimited credit,\nor with --unlimited allows unlimited "
                               "credit, as the window's Set Limit does.\nIn a --from file the "
                               "amount 'unlimited' allows unlimited credit.\n" +
                                   std::string(kAmountRules));
        case Command::Show:
            return UsageText(command) +
                   "\nShows each target user's full name, balance and credit limit, as the "
                   "main\ndialog shows a selected user. Changes nothing.\n\n" +
                   kTargets +
                   "  --csv                  CSV: user,full name,balance,credit limit\n\n" +
                   kCommonOptions + "\n" + kExitCodes;
        case Command::History:
            return UsageText(command) +
                   "\nThe print history of a user or a group: every line of the accounting log "
                   "that\nbelongs to it, then the total pages and cost, in the file USER.txt or "
                   "GROUP.txt,\nas the window's Print History writes it. A group's members are "
                   "found wherever\nthey live. CSV: pages,cost,record for each line.\n\n" +
                   kPeriodOptions + kReportOutput + "\n" + kCommonOptions + "\n" + kExitCodes;
        case Command::Stats:
            return UsageText(command) +
                   "\nThe printing statistics of the accounting log: pages and cost totalled by\n"
                   "user (the default), print server, printer, queue, client code or the "
                   "members\nof one group, in the file User.txt, Print Server.txt, "
                   "Printer.txt, Queue.txt,\nClient code.txt or GROUP.txt, as the window's "
                   "Statistics writes it.\nCSV: name,pages,cost for each row (no totals row).\n"
                   "\n  --log FILE             read FILE instead of the log server's "
                   "JOBTALLY.LOG\n" +
                   kPeriodOptions + kReportOutput + "\n" + kCommonOptions + "\n" + kExitCodes;
        case Command::Balances:
            return UsageText(command) +
                   "\nEvery user of CONTEXT (default: the current context) with the balance the\n"
                   "directory holds, in the file named after the context's first part "
                   "(SALES.TXT\nfor SALES.CORP), as the window's \"View all balances\" writes "
                   "it.\nCSV: user,balance,error.\n\n"
                   "  --below AMOUNT         only the users whose balance is under AMOUNT\n" +
                   kReportOutput + "\n" + kCommonOptions + "\n" + kExitCodes;
        case Command::Trend:
            return UsageText(command) +
                   "\nPages and cost of the print jobs the statistics count, per day, per week "
                   "(from\nMonday) or per month, in Trend.txt. CSV: period,pages,cost.\n\n"
                   "  --log FILE             read FILE instead of the log server's "
                   "JOBTALLY.LOG\n" +
                   kPeriodOptions + kReportOutput + "\n" + kCommonOptions + "\n" + kExitCodes;
        case Command::Audit:
            return UsageText(command) +
                   "\nEach user's balance in the directory beside the balance the accounting "
                   "log\nimplies: the balance after the user's last deposit, charge or set "
                   "balance,\nless the cost of every print job after it. Users whose two "
                   "differ come first,\nwith the log's lines since that record; users without "
                   "any such record are\nlisted apart. Without a target: every user of the "
                   "current context.\nCSV: user,directory,log,difference,state.\n"
                   "Exit code 0 when every balance agrees, 1 when any differs.\n\n" +
                   kTargets + kReportOutput + "\n" + kCommonOptions + "\n" + kExitCodes;
    }
    return {};
}

}  // namespace tally::tallycmd
