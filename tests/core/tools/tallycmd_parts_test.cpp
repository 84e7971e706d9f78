// tallycmd's parts that need no network: the command line, the CSV reader and writer, the amount
// a script may give, and server paths found through [Volumes].
#include <gtest/gtest.h>

#include "tools/tallycmd/account_commands.h"
#include "tools/tallycmd/command_line.h"
#include "tools/tallycmd/csv.h"
#include "tools/tallycmd/native_settings.h"

namespace tally::tallycmd {
namespace {

TEST(TallyCmdCommandLine, EveryMistakeIsNamedBeforeAnythingIsTouched) {
    struct Case {
        std::vector<std::string> words;
        const char* error;  // "" when the line is good
    };
    const std::vector<Case> cases = {
        {{"deposit", "5", "JSMITH"}, ""},
        {{"deposit", "-5", "JSMITH", "MJONES"}, ""},  // a negative amount is no option
        {{"set-limit", "--unlimited", "--group", "SALESTEAM"}, ""},
        {{"charge", "--from=term.csv", "--dry-run", "--reason", "Toner"}, ""},
        {{"stats", "--by", "group:SALESTEAM", "--csv", "--out", "-"}, ""},
        {{"--ini", "x.ini", "balances", "SALES.CORP"}, ""},
        {{"--version"}, ""},
        {{"stats", "--version", "--by", "colour"}, ""},  // the version, nothing else is read
        {{}, "no command given"},
        {{"depsit", "5", "JSMITH"}, "unknown command 'depsit'"},
        {{"deposit", "JSMITH"}, "name a user"},  // the amount took JSMITH's place
        {{"deposit"}, "the amount is missing"},
        {{"deposit", "5", "JSMITH", "--group", "SALESTEAM"}, "only one of them"},
        {{"deposit", "5", "--from", "x.csv"}, "cannot be given beside it"},
        {{"set-limit", "--unlimited", "--from", "x.csv"}, "--unlimited cannot be given"},
        {{"deposit", "5", "JSMITH", "--reason", "x"}, "--reason is not one of deposit's"},
        {{"deposit", "5", "JSMITH", "--unlimited"}, "--unlimited is not one of deposit's"},
        {{"show", "JSMITH", "--dry-run"}, "--dry-run is not one of show's"},
        {{"history"}, "name the user or group"},
        {{"history", "A", "B"}, "'B' is one too many"},
        {{"stats", "--by", "colour"}, "--by colour: choose user"},
        {{"stats", "--by", "group:"}, "needs the group's name"},
        {{"stats", "User"}, "'User' is not an option of stats"},
        {{"balances", "A", "B"}, "'B' is one too many"},
        {{"stats", "--log"}, "option --log needs a value"},
        {{"stats", "--csv=yes"}, "option --csv takes no value"},
        {{"stats", "--verbose"}, "unknown option '--verbose'"},
    };
    for (const Case& c : cases) {
        CommandLine line;
        std::string error;
        const bool parsed = ParseCommandLine(c.words, line, error);
        const std::string what = ::testing::PrintToString(c.words);
        if (*c.error == '\0') {
            EXPECT_TRUE(parsed) << what << ": " << error;
        } else {
            EXPECT_FALSE(parsed) << what;
            EXPECT_NE(error.find(c.error), std::string::npos) << what << ": " << error;
        }
    }
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"set-balance", "--", "-12.5", "JSMITH", "MJONES"}, line, error));
    EXPECT_EQ(line.amount, "-12.5");
    EXPECT_EQ(line.users, (std::vector<std::string>{"JSMITH", "MJONES"}));
    ASSERT_TRUE(ParseCommandLine({"help", "stats"}, line, error));
    EXPECT_TRUE(line.help);
    EXPECT_EQ(line.command, Command::Stats);
    ASSERT_TRUE(ParseCommandLine({"--version"}, line, error));
    EXPECT_TRUE(line.version);
}

TEST(TallyCmdCommandLine, EveryCommandHasAHelpPageThatNamesItsExitCodes) {
    for (Command command :
         {Command::None, Command::Deposit, Command::Charge, Command::SetBalance, Command::SetLimit,
          Command::Show, Command::History, Command::Stats, Command::Balances}) {
        const std::string page = HelpText(command);
        EXPECT_NE(page.find("usage: tallycmd"), std::string::npos) << CommandName(command);
        EXPECT_NE(page.find("  2  bad usage or input"), std::string::npos) << CommandName(command);
    }
}

TEST(TallyCmdCsv, ReadsWhatSpreadsheetsWriteAndNamesTheLineOfAMalformedRecord) {
    struct Case {
        std::string text;
        std::vector<std::vector<std::string>> records;
        std::vector<int> lines;  // each record's first line
        std::vector<int> problemLines;
    };
    const std::vector<Case> cases = {
        {"a,b\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}, {1, 2}, {}},
        {"\xEF\xBB\xBFuser,amount\nJSMITH,5", {{"user", "amount"}, {"JSMITH", "5"}}, {1, 2}, {}},
        {"\"Smith, J\",\"say \"\"hi\"\"\",\n", {{"Smith, J", "say \"hi\"", ""}}, {1}, {}},
        {"\"two\nlines\",1\nnext,2\n", {{"two\nlines", "1"}, {"next", "2"}}, {1, 3}, {}},
        {"a,b\n\n   \nc,d", {{"a", "b"}, {"c", "d"}}, {1, 4}, {}},
        {",\n", {{"", ""}}, {1}, {}},
        {"ok,1\nx\"y,2\nok,3\n", {{"ok", "1"}, {"ok", "3"}}, {1, 3}, {2}},
        {"ok,1\n\"a\"b,2\nok,3\r\n", {{"ok", "1"}, {"ok", "3"}}, {1, 3}, {2}},
        {"ok,1\n\"open,2\nok,3\n", {{"ok", "1"}}, {1}, {2}},
        {"a,b\r", {{"a", "b"}}, {1}, {}},
        // A spreadsheet of a decimal-comma locale separates with semicolons.
        {"JSMITH;5,00\r\nMJONES;2,5;x\r\n",
         {{"JSMITH", "5,00"}, {"MJONES", "2,5", "x"}},
         {1, 2},
         {}},
        {"\r\nuser;amount\nJSMITH;5\n", {{"user", "amount"}, {"JSMITH", "5"}}, {2, 3}, {}},
        {"\"A;B\",5\n", {{"A;B", "5"}}, {1}, {}},          // a name holding one, in quotes
        {"A;B;C;D,5\n", {{"A;B;C;D", "5"}}, {1}, {}},      // four fields by semicolons: commas
        {"JSMITH,5;00\n", {{"JSMITH", "5;00"}}, {1}, {}},  // the first field decides
    };
    for (const Case& c : cases) {
        const CsvContents contents = ReadCsv(c.text);
        std::vector<std::vector<std::string>> records;
        std::vector<int> lines;
        for (const CsvRecord& record : contents.records) {
            records.push_back(record.fields);
            lines.push_back(record.line);
        }
        std::vector<int> problemLines;
        for (const CsvProblem& problem : contents.problems) {
            problemLines.push_back(problem.line);
        }
        EXPECT_EQ(records, c.records) << c.text;
        EXPECT_EQ(lines, c.lines) << c.text;
        EXPECT_EQ(problemLines, c.problemLines) << c.text;
    }
    EXPECT_EQ(ReadCsv("JSMITH;5,00\n").separator, ';');
    EXPECT_EQ(ReadCsv("JSMITH,5.00\n").separator, ',');
    // What the writer writes, the reader reads back.
    const std::vector<std::string> fields = {"plain",        "a,b",  "say \"hi\"",
                                             "two\r\nlines", " pad", ""};
    EXPECT_EQ(CsvRow(fields), "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\",\" pad\",\r\n");
    const CsvContents back = ReadCsv(CsvRow(fields) + CsvRow({"x"}));
    ASSERT_EQ(back.records.size(), 2u);
    EXPECT_EQ(back.records[0].fields, fields);
    EXPECT_EQ(back.records[1].line, 3);
}

TEST(TallyCmdAmounts, AScriptsAmountIsANumberOfItsNumberFormatAndNothingElse) {
    const AmountMode currency = MakeAmountMode(true, 2);
    const AmountMode pages = IntegerAmountMode();
    struct Case {
        const char* text;
        bool currencyGood;
        bool pagesGood;
    };
    const std::vector<Case> cases = {
        {"12", true, true},
        {" -12 ", true, true},
        {"+7", true, true},
        {"12.50", true, false},
        {".5", true, false},
        {"5.", true, false},
        {"1e3", true, false},
        {"12,50", false, false},
        {"12x", false, false},
        {"", false, false},
        {"-", false, false},
        {".", false, false},
        {"1e", false, false},
        {"1 2", false, false},
        {"0x10", false, false},
        {"--5", false, false},
        // More decimals than the currency has would be cut: 12.505 is not 12.50.
        {"12.505", false, false},
        {"0.004", false, false},
        {"8.505", false, false},
        {"1.23456e2", false, false},
        {"1250e-3", true, false},
        {"12.500", true, false},
        {"1.23e1", true, false},
        {"1.2345e2", true, false},
        {"0.000", true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AmountSyntaxProblem(c.text, currency).empty(), c.currencyGood) << c.text;
        EXPECT_EQ(AmountSyntaxProblem(c.text, pages).empty(), c.pagesGood) << c.text;
    }
    EXPECT_NE(AmountSyntaxProblem("12.50", pages).find("whole number"), std::string::npos);
    EXPECT_EQ(AmountSyntaxProblem("12.505", currency),
              "the amount \"12.505\" has 3 decimals; this number format keeps 2, and the rest "
              "would be cut");
}

TEST(TallyCmdServerPaths, AServerPathIsTheFileBelowItsVolumeAndOnlyAKnownServerIsMapped) {
    const VolumeMap volumes = {{"ACCT1", "/net/servers/ACCT1"}, {"FS2", "/srv/fs2"}};
    EXPECT_EQ(MapServerPath("\\\\ACCT1\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG", volumes),
              "/net/servers/ACCT1/SYS/SYSTEM/JOBTALLY/JOBTALLY.LOG");
    EXPECT_EQ(MapServerPath("\\\\acct1\\SYS\\PUBLIC\\JOBTALLY.INI", volumes),
              "/net/servers/ACCT1/SYS/PUBLIC/JOBTALLY.INI");
    EXPECT_EQ(MapServerPath("//FS2/SYS/x.log", volumes), "/srv/fs2/SYS/x.log");
    EXPECT_EQ(MapServerPath("\\\\NOWHERE\\SYS\\x", volumes), std::nullopt);
    EXPECT_EQ(MapServerPath("reports/User.txt", volumes), "reports/User.txt");
    EXPECT_EQ(MapServerPath("/tmp/x", volumes), "/tmp/x");
}

}  // namespace
}  // namespace tally::tallycmd
