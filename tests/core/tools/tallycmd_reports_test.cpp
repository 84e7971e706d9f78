// tallycmd's reports against the window's: byte for byte the golden files the end-to-end
// scenarios check the dialogs' files against, on the sample network; on a generated network, the
// same bytes as the report runs driven slice by slice as the window drives them, for every kind
// of statistics, a user's and a group's history and a context's balances; and every way a report
// fails is told and ends with a non-zero exit.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "browse/object_list.h"
#include "directory/dirclient_setup.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/values.h"
#include "reports/report_runs.h"
#include "tests/core/tools/tallycmd_fixture.h"
#include "tools/gendir/gendir_lib.h"

namespace tally::tallycmd::testing {
namespace {

TEST(TallyCmdReports, TheSampleNetworksReportsAreTheWindowsFilesByteForByte) {
    TempFolder folder("tallycmd-golden");
    const fs::path net = folder.Path() / "net";
    LaySampleNetwork(net);
    const std::string ini = (net / "tallynet.ini").string();
    // "Other log file": the log with one more line, in a folder of its own.
    const fs::path other = folder.Path() / "OTHER.LOG";
    WriteBytes(other, ReadBytes(SampleLog(net)) +
                          "\"ZEVANS.SALES.CORP\",\"Doc\",\"LASER1\",\"PS_CORP\",\"Q_SALES\","
                          "\"ACCT1\",\"C100\",\"07/09/1999\",\"12:00\",1,100,5.00,1.00\r\n");
    // The Preferences dialog with FS2 chosen stores every key, the schema keyword with them.
    const fs::path fs2 = folder.Path() / "fs2.ini";
    WriteBytes(fs2, "[Preferences]\r\nLogServer=FS2\r\nSchemaKeyword=Standard Netware\r\n");

    const std::string logBefore = ReadBytes(SampleLog(net));
    const std::string journalBefore = ReadBytes(net / "directory/journal.ldif");
    struct Case {
        std::vector<std::string> words;
        const char* file;      // the window's file name
        const char* expected;  // in tests/e2e/expected
    };
    const std::vector<Case> cases = {
        {{"stats"}, "User.txt", "User.txt"},
        {{"stats", "--by", "printer"}, "Printer.txt", "Printer.txt"},
        {{"stats", "--by", "group:SALESTEAM"}, "SALESTEAM.txt", "SALESTEAM.txt"},
        {{"stats", "--log", other.string()}, "User.txt", "User-other.txt"},
        {{"history", "JSMITH"}, "JSMITH.txt", "JSMITH.txt"},
        {{"history", "COLOURPRINT"}, "COLOURPRINT.txt", "COLOURPRINT.txt"},
        {{"balances"}, "SALES.TXT", "SALES-currency.TXT"},
        {{"balances", "--settings", fs2.string()}, "SALES.TXT", "SALES-pages.TXT"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = {"--ini", ini};
        words.insert(words.end(), c.words.begin(), c.words.end());
        fs::remove(c.file);
        const CmdResult toFile = RunCmd(words);
        EXPECT_EQ(toFile.code, 0) << c.expected << ": " << toFile.err;
        EXPECT_EQ(toFile.out, std::string(c.file) + "\n") << c.expected;
        EXPECT_EQ(ReadBytes(c.file), Expected(c.expected)) << c.expected;

        words.insert(words.end(), {"--out", "-"});
        const CmdResult toOutput = RunCmd(words);
        EXPECT_EQ(toOutput.code, 0) << c.expected << ": " << toOutput.err;
        EXPECT_EQ(toOutput.out, Expected(c.expected)) << c.expected << " on standard output";
    }
    EXPECT_EQ(ReadBytes(SampleLog(net)), logBefore) << "a report changes nothing";
    EXPECT_EQ(ReadBytes(net / "directory/journal.ldif"), journalBefore);
}

TEST(TallyCmdReports, CsvHasOneHeaderRowAndTheReportsNumbersUnpadded) {
    TempFolder folder("tallycmd-csv");
    const fs::path net = folder.Path() / "net";
    LaySampleNetwork(net);
    const std::string ini = (net / "tallynet.ini").string();
    struct Case {
        std::vector<std::string> words;
        const char* file;
        std::vector<std::string> lines;  // the first lines of the file
    };
    const std::vector<Case> cases = {
        {{"stats", "--by", "printer", "--csv"},
         "Printer.csv",
         {"Printer,Pages,Cost", "COLOUR1,16,8.00", "\"Laser, 2nd floor\",5,0.25",
          "LASER1,26,1.30"}},
        {{"history", "JSMITH", "--csv"},
         "JSMITH.csv",
         {"Pages,Cost,Record",
          "12,0.60,\"\"\"JSMITH.SALES.CORP\"\",\"\"Quarterly "
          "report\"\",\"\"LASER1\"\",\"\"PS_CORP\"\""
          ",\"\"Q_SALES\"\",\"\"ACCT1\"\",\"\"C100\"\",\"\"07/01/1999\"\",\"\"09:14\"\",1,12,0.60,"
          "14.40\"",
          "3,0.15,JSMITH     LASER1   Q_SALES      07/01/1999 11:45 PS_CORP    3     0.15"}},
        {{"balances", "--csv"},
         "SALES.csv",
         {"User,Balance,Error", "ADAVIS,-120.00,", "BWILSON,0.00,"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = {"--ini", ini};
        words.insert(words.end(), c.words.begin(), c.words.end());
        const CmdResult result = RunCmd(words);
        ASSERT_EQ(result.code, 0) << c.file << ": " << result.err;
        EXPECT_EQ(result.out, std::string(c.file) + "\n");
        std::string expected;
        for (const std::string& line : c.lines) {
            expected += line + "\r\n";
        }
        EXPECT_EQ(ReadBytes(c.file).substr(0, expected.size()), expected) << c.file;
    }
}

// The report runs as the window drives them: one slice after another (here of one line each,
// the smallest a slice can be), into a report of their own, with the directory client on the
// network. tallycmd drives the same runs to the end; any difference is the front ends'.
class WindowDrive {
  public:
    explicit WindowDrive(const fs::path& ini, const fs::path& log) : log_(log.string()) {
        DirClientLoadConfig(ini.string().c_str());
        OpenDirectoryContext();
        gSettings = Settings{};
        gSettings.Schema = SelectAccountSchema(kStandardSchemaKeyword);
    }
    ~WindowDrive() { DirFreeContext(DirectoryContext); }

    std::string Statistics(reports::StatisticsCategory category, const std::string& group) {
        Sink sink;
        reports::StatisticsRun run({category, !group.empty(), group, log_, mode_}, sink);
        EXPECT_TRUE(run.OpenLog()) << run.Failure();
        EXPECT_EQ(run.ReadMembers(), reports::StatisticsRun::Members::Read);
        while (!run.ReadSlice(OneLine)) {
        }
        EXPECT_TRUE(run.Finish()) << run.Failure();
        return sink.text;
    }

    std::string History(const std::string& name, bool group) {
        Sink sink;
        reports::HistoryRun run({name, group, log_, mode_}, sink);
        EXPECT_TRUE(run.Start()) << run.Failure();
        while (!run.ReadSlice(OneLine)) {
        }
        EXPECT_TRUE(run.Finish()) << run.Failure();
        return sink.text;
    }

    std::string Balances(const std::string& context) {
        DirSetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, context.c_str());
        struct Entries final : ObjectListSink {
            void Clear() override { entries.clear(); }
            void Add(const std::string& entry) override { entries.push_back(entry); }
            void SelectFirst() override {}
            std::vector<std::string> entries;
        } list;
        FillObjectList(list, kUserClass);
        // MainList sorts its entries; generated names sort the same with or without case.
        std::sort(list.entries.begin(), list.entries.end());
        Sink sink;
        reports::BalancesRun run(
            {context, list.entries, static_cast<std::size_t>(MaxUserNameLength), mode_}, sink);
        EXPECT_TRUE(run.Write()) << run.Failure();
        return sink.text;
    }

  private:
    struct Sink final : reports::ReportSink {
        bool Create(std::string_view, std::string_view, std::string&) override { return true; }
        void Write(std::string_view bytes) override { text += bytes; }
        bool Finish(std::string&) override { return true; }
        std::string text;
    };
    static bool OneLine() { return true; }

    std::string log_;
    AmountMode mode_ = MakeAmountMode(true, 2);
};

TEST(TallyCmdReports, OnAGeneratedLogEveryReportIsTheWindowsSlicedRun) {
    TempFolder folder("tallycmd-generated");
    gendir::Options options;
    options.out = folder.Path() / "net";
    options.schema = std::string(TALLY_SOURCE_DIR) + "/dirstore/schema/tallydesk.ldif";
    options.users = 400;
    options.contexts = 4;
    options.groups = 2;
    options.members = 60;
    options.logLines = 30000;
    std::string error;
    ASSERT_TRUE(gendir::WriteNetwork(options, error)) << error;
    const fs::path ini = options.out / "tallynet.ini";
    const fs::path log = SampleLog(options.out);
    const std::string user = gendir::UserName(options, 4);  // in the first context, SALES.CORP
    const std::string group = gendir::GroupName(options, 0);

    struct Case {
        std::vector<std::string> words;
        std::function<std::string(WindowDrive&)> core;
    };
    using namespace reports;
    const std::vector<Case> cases = {
        {{"stats"}, [](WindowDrive& c) { return c.Statistics(kByUser, ""); }},
        {{"stats", "--by", "server"},
         [](WindowDrive& c) { return c.Statistics(kByPrintServer, ""); }},
        {{"stats", "--by", "printer"}, [](WindowDrive& c) { return c.Statistics(kByPrinter, ""); }},
        {{"stats", "--by", "queue"}, [](WindowDrive& c) { return c.Statistics(kByQueue, ""); }},
        {{"stats", "--by", "client-code"},
         [](WindowDrive& c) { return c.Statistics(kByClientCode, ""); }},
        {{"stats", "--by", "group:" + group},
         [&](WindowDrive& c) { return c.Statistics(kByUser, group); }},
        {{"history", user}, [&](WindowDrive& c) { return c.History(user, false); }},
        {{"history", group}, [&](WindowDrive& c) { return c.History(group, true); }},
        {{"balances"}, [&](WindowDrive& c) { return c.Balances(gendir::ContextName(options, 0)); }},
        {{"balances", gendir::ContextName(options, 2)},
         [&](WindowDrive& c) { return c.Balances(gendir::ContextName(options, 2)); }},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = {"--ini", ini.string(), "--out", "-"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        const CmdResult result = RunCmd(words);
        ASSERT_EQ(result.code, 0) << ::testing::PrintToString(c.words) << ": " << result.err;
        WindowDrive core(ini, log);
        const std::string expected = c.core(core);
        EXPECT_GT(std::count(expected.begin(), expected.end(), '\n'), 5);
        EXPECT_EQ(result.out, expected) << ::testing::PrintToString(c.words);
    }
}

TEST(TallyCmdReports, AMemberWhoseFullNameCannotBeReadKeepsTheDirectorysName) {
    TempFolder folder("tallycmd-member-names");
    const fs::path net = folder.Path() / "net";
    LaySampleNetwork(net);
    // A member left behind by a deleted user, whose name is too long to be read relative to
    // SALES.CORP: DirGetFullName fails for it.
    const std::string gone = "GONE" + std::string(236, 'X');
    const fs::path ldif = net / "directory/directory.ldif";
    std::string directory = ReadBytes(ldif);
    const std::string last = "member: cn=GHALL,ou=WEST,ou=SALES,o=CORP\n";
    ASSERT_NE(directory.find(last), std::string::npos);
    directory.insert(directory.find(last) + last.size(),
                     "member: cn=" + gone + ",ou=GONE,o=CORP\n");
    WriteBytes(ldif, directory);
    const CmdResult result = RunCmd({"--ini", (net / "tallynet.ini").string(), "stats", "--by",
                                     "group:SALESTEAM", "--csv", "--out", "-"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.out.find("\r\n" + gone + ".GONE.CORP,0,0.00\r\n"), std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find("\r\n,0,0.00\r\n"), std::string::npos) << "an empty row";
}

TEST(TallyCmdReports, AReportThatCannotBeReadOrWrittenWholeIsToldAndExitsNonZero) {
    TempFolder folder("tallycmd-report-failures");
    const fs::path net = folder.Path() / "net";
    LaySampleNetwork(net);
    const std::string ini = (net / "tallynet.ini").string();
    const fs::path pipe = folder.Path() / "PIPE.LOG";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);  // nobody writes it: tallycmd must not wait
    const std::string logFolder = (folder.Path() / "LOGS").string();
    fs::create_directories(logFolder);
    const std::string noSpace = "Error writing /dev/full: " + std::string(std::strerror(ENOSPC));
    struct Case {
        std::vector<std::string> words;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"stats", "--log", logFolder}, logFolder + " is a folder, not a log"},
        {{"stats", "--log", pipe.string()}, pipe.string() + " is not an ordinary file"},
        // /dev/full takes every file's creation and refuses its bytes, as a full disk does.
        {{"stats", "--out", "/dev/full"}, noSpace},
        {{"history", "JSMITH", "--out", "/dev/full"}, noSpace},
        {{"history", "SALESTEAM", "--csv", "--out", "/dev/full"}, noSpace},
        {{"balances", "--out", "/dev/full"}, noSpace},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = {"--ini", ini};
        words.insert(words.end(), c.words.begin(), c.words.end());
        const CmdResult result = RunCmd(words);
        const std::string what = ::testing::PrintToString(c.words);
        EXPECT_EQ(result.code, kExitBadInput) << what << "\n" << result.out << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << what << "\n" << result.err;
        EXPECT_EQ(result.out, "") << what << ": no report path is printed";
    }
}

}  // namespace
}  // namespace tally::tallycmd::testing
