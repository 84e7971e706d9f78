// tallycmd's account changes against the window's: a CSV deposit of 10,000 lines leaves the same
// store and log as the amount dialog's deposit to the same users; a command line or a CSV line
// that cannot be applied changes nothing and is named; a dry run changes nothing at all.
#include <sys/stat.h>

#include <algorithm>

#include "accounting/account_changes.h"
#include "accounting/amounts.h"
#include "directory/dirclient_setup.h"
#include "dirstore/store.h"
#include "platform/files.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/values.h"
#include "tests/core/tools/tallycmd_fixture.h"
#include "tools/gendir/gendir_lib.h"

namespace tally::tallycmd::testing {
namespace {

std::size_t LineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::string Exported(const fs::path& store) {
    std::string ldif;
    store::Problem problem;
    EXPECT_TRUE(store::ExportLdif(store, ldif, &problem));
    return ldif;
}

struct Network {
    fs::path ini;
    fs::path log;
    fs::path journal;
};

Network SampleNetwork(const fs::path& where) {
    LaySampleNetwork(where);
    return {where / "tallynet.ini", SampleLog(where), where / "directory/journal.ldif"};
}

TEST(TallyCmdChanges, ACommandLineChangesAndRecordsOrIsRefusedWhole) {
    TempFolder folder("tallycmd-changes");
    const fs::path headerOnly = folder.Path() / "header-only.csv";
    WriteBytes(headerOnly, "user,amount\r\n\r\n");
    const fs::path crOnly = folder.Path() / "cr-only.csv";
    WriteBytes(crOnly, "user,amount\rJSMITH,5\r");
    const fs::path semicolons = folder.Path() / "semicolons.csv";  // a decimal-comma locale's
    WriteBytes(semicolons, "User;Amount\r\nJSMITH;5,00\r\nMJONES;2,50\r\n");
    const fs::path pipe = folder.Path() / "pipe.csv";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);  // nobody writes it: tallycmd must not wait
    struct Case {
        std::vector<std::string> words;
        int code;
        std::size_t records;   // new lines in the log
        const char* output;    // on standard output or error
        const char* inRecord;  // in every new record
    };
    const std::vector<Case> cases = {
        {{"deposit", "5", "JSMITH"}, 0, 1, "JSMITH: balance 20.00", "\"Deposit\",\"ADMIN.CORP\""},
        {{"charge", "1.50", "MJONES", "--reason", "Toner, colour"},
         0,
         1,
         "MJONES: balance -4.00",
         "\"Toner; colour\""},
        {{"set-balance", "0", "JSMITH", "MJONES"}, 0, 2, "MJONES: balance 0.00", "SetBal"},
        {{"set-limit", "--unlimited", "--group", "SALESTEAM"},
         0,
         5,
         "GHALL.WEST: credit limit Unlimited",
         "SetLimit"},
        {{"deposit", "1", "--context", "EAST.SALES.CORP"}, 0, 3, "SCLARK: balance 0.10", "Deposit"},
        {{"deposit", "0", "JSMITH"}, 0, 0, "Nothing to change", ""},
        {{"deposit", "12,50", "JSMITH"}, 2, 0, "\"12,50\" is not a number", ""},
        // An amount the currency cannot hold whole would be cut: refused, naming it.
        {{"deposit", "12.505", "JSMITH"}, 2, 0, "\"12.505\" has 3 decimals", ""},
        {{"deposit", "0.004", "JSMITH"}, 2, 0, "\"0.004\" has 3 decimals", ""},
        {{"balances", "--below", "8.505", "--out", "-"}, 2, 0, "--below 8.505: the amount", ""},
        {{"deposit", "--from", semicolons.string()}, 0, 2, "MJONES: balance 0.00", "Deposit"},
        {{"set-balance", "99999999", "JSMITH"}, 2, 0, "does not fit an account", ""},
        {{"charge", "-21474836.48", "JSMITH"}, 2, 0, "does not fit an account", ""},
        {{"set-balance", "-21474836.48", "JSMITH"}, 2, 0, "between -21474836.47 and", ""},
        {{"deposit", "--from", crOnly.string()}, 2, 0, "ends its lines with CR alone", ""},
        {{"deposit", "--from", folder.Path().string()}, 2, 0, "is a folder, not a CSV file", ""},
        {{"deposit", "--from", pipe.string()}, 2, 0, "is not an ordinary file", ""},
        {{"deposit", "5", "JSMITH", "NOBODY"}, 2, 0, "user NOBODY: no such user in SALES.CORP", ""},
        {{"deposit", "5", "SALESTEAM"}, 2, 0, "user SALESTEAM: is a group, not a user", ""},
        {{"deposit", "5", "--group", "JSMITH"}, 2, 0, "group JSMITH: is a user, not a group", ""},
        {{"deposit", "5", "JSMITH", "SALESTEAM (Group)"}, 2, 0, "as the window writes a group", ""},
        {{"deposit", "--from", headerOnly.string()}, 2, 0, "holds no lines to apply", ""},
        {{"deposit", "5", "--context", "NOWHERE.CORP"}, 2, 0, "no such container", ""},
        {{"deposit", "5", "--context", "SALES.CORP", "--dry-run"},
         0,
         0,
         "ZEVANS: balance 999.99 -> 1004.99",
         ""},
        {{"deposit", "21474836", "HBIG", "--dry-run"},
         1,
         0,
         "HBIG: would fail: accounting error -613",
         ""},
        {{"set-limit", "20", "--group", "SALESTEAM", "--dry-run"},
         0,
         0,
         "MJONES: credit limit -10.00 -> 20.00",
         ""},
    };
    int run = 0;
    for (const Case& c : cases) {
        const Network net = SampleNetwork(folder.Path() / ("net" + std::to_string(run++)));
        const std::string logBefore = ReadBytes(net.log);
        const std::string storeBefore = Exported(net.ini.parent_path() / "directory");
        std::vector<std::string> words = {"--ini", net.ini.string()};
        words.insert(words.end(), c.words.begin(), c.words.end());
        const CmdResult result = RunCmd(words);
        const std::string what = ::testing::PrintToString(c.words);
        EXPECT_EQ(result.code, c.code) << what << "\n" << result.out << result.err;
        EXPECT_NE((result.out + result.err).find(c.output), std::string::npos)
            << what << "\n"
            << result.out << result.err;
        const std::string logAfter = ReadBytes(net.log);
        ASSERT_EQ(logAfter.substr(0, logBefore.size()), logBefore) << what;
        const std::string added = logAfter.substr(logBefore.size());
        EXPECT_EQ(LineCount(added), c.records) << what << "\n" << added;
        std::istringstream records(added);
        for (std::string record; std::getline(records, record);) {
            EXPECT_NE(record.find(c.inRecord), std::string::npos) << what << ": " << record;
            EXPECT_NE(record.find("\"07/05/1999\",\"10:30\""), std::string::npos) << record;
        }
        if (c.records == 0) {
            EXPECT_EQ(Exported(net.ini.parent_path() / "directory"), storeBefore)
                << what << " changed the store";
        }
    }
}

TEST(TallyCmdChanges, APipeInTheLogsPlaceIsRefusedWithoutWaiting) {
    TempFolder folder("tallycmd-log-pipe");
    const Network net = SampleNetwork(folder.Path() / "net");
    fs::remove(net.log);
    ASSERT_EQ(::mkfifo(net.log.c_str(), 0600), 0);  // nobody reads it
    const std::string storeBefore = Exported(net.ini.parent_path() / "directory");
    const CmdResult result = RunCmd({"--ini", net.ini.string(), "deposit", "5", "JSMITH"});
    EXPECT_NE(result.code, 0) << result.out << result.err;
    EXPECT_NE(result.err.find("not an ordinary file"), std::string::npos) << result.err;
    EXPECT_EQ(Exported(net.ini.parent_path() / "directory"), storeBefore);
}

TEST(TallyCmdChanges, ACsvLineThatCannotBeAppliedIsNamedAndChangesNothing) {
    TempFolder folder("tallycmd-csv-lines");
    const std::string csv =
        "user,amount,reason\r\n"                   // 1: a header
        "JSMITH,5.00\r\n"                          // 2
        "NOBODY,5.00\r\n"                          // 3
        "MJONES,abc\r\n"                           // 4
        "MJONES,99999999\r\n"                      // 5
        "MJONES\r\n"                               // 6
        "MJONES,1,x,y\r\n"                         // 7
        "SALESTEAM,1\r\n"                          // 8
        "MJONES,1,Toner\r\n"                       // 9
        "MJONES,1x\"\r\n"                          // 10
        "\r\n"                                     // 11
        " \"MJONES\" ,2.50\r\n"                    // 12: a quote after a blank is text
        "\"MJONES\",2.50\r\n"                      // 13
        "JSMITH,0\r\n" +                           // 14
        std::string("JSMITH\0EVIL,1.00\r\n", 18);  // 15: never JSMITH's
    const std::vector<std::pair<int, const char*>> expected = {
        {2, "JSMITH: balance 20.00"},
        {3, "NOBODY: not applied: no such user in SALES.CORP"},
        {4, "MJONES: not applied: the amount \"abc\" is not a number"},
        {5, "MJONES: not applied: The amount \"99999999\" does not fit an account"},
        {6, "MJONES: not applied: 1 field; a line is user,amount"},
        {7, "MJONES: not applied: 4 fields"},
        {8, "SALESTEAM: not applied: is a group, not a user"},
        {9, "MJONES: not applied: a reason is taken by charge only"},
        {10, "-: not applied: a quote inside field 2"},
        {12, "-: not applied: a quote inside field 1"},
        {13, "MJONES: balance 0.00"},
        {14, "JSMITH: nothing to change"},
        {15, "-: not applied: field 1 holds a NUL byte"},
    };
    for (const bool dryRun : {true, false}) {
        const Network net = SampleNetwork(folder.Path() / (dryRun ? "dry" : "real"));
        const fs::path file = folder.Path() / "term.csv";
        WriteBytes(file, csv);
        const std::string logBefore = ReadBytes(net.log);
        const std::string journalBefore = ReadBytes(net.journal);
        std::vector<std::string> words = {"--ini", net.ini.string(), "deposit", "--from",
                                          file.string()};
        if (dryRun) {
            words.push_back("--dry-run");
        }
        const CmdResult result = RunCmd(words);
        EXPECT_EQ(result.code, 1) << result.out << result.err;
        for (const auto& [line, text] : expected) {
            std::string want = file.string() + ":" + std::to_string(line) + ": " + text;
            if (dryRun && line == 2) {
                want = file.string() + ":2: JSMITH: balance 15.00 -> 20.00";
            } else if (dryRun && line == 13) {
                want = file.string() + ":13: MJONES: balance -2.50 -> 0.00";
            }
            EXPECT_NE(result.out.find(want), std::string::npos) << want << "\n" << result.out;
        }
        EXPECT_NE(result.err.find("10 lines of " + file.string()), std::string::npos) << result.err;
        if (dryRun) {
            EXPECT_EQ(ReadBytes(net.log), logBefore);
            EXPECT_EQ(ReadBytes(net.journal), journalBefore);
            continue;
        }
        const std::string added = ReadBytes(net.log).substr(logBefore.size());
        EXPECT_EQ(added,
                  "\"JSMITH.SALES.CORP\",\"Deposit\",\"ADMIN.CORP\",\"\",\"ACCT1\",\"\",\"\","
                  "\"07/05/1999\",\"10:30\",,,5.00,20.00\r\n"
                  "\"MJONES.SALES.CORP\",\"Deposit\",\"ADMIN.CORP\",\"\",\"ACCT1\",\"\",\"\","
                  "\"07/05/1999\",\"10:30\",,,2.50,0.00\r\n");
    }
}

// A lock held by another program for good: the batch waits for it once, not once per line. With
// the store locked it stops at the first line and names the lines not done; with the log locked
// the changes are made, their records wait in the outbox and the exit code says so, and the next
// start appends them, once.
TEST(TallyCmdChanges, ABatchStopsAtALockItCannotGetAndNamesWhatWasNotDone) {
    TempFolder folder("tallycmd-locks");
    const char* temp = std::getenv("TMPDIR");
    const std::string oldTemp = temp ? temp : "";
    ::setenv("TMPDIR", folder.Path().c_str(), 1);  // the outbox of these runs
    const fs::path file = folder.Path() / "six.csv";
    WriteBytes(file, "JSMITH,1\nMJONES,1\nJSMITH,1\nMJONES,1\nJSMITH,1\nMJONES,1\n");
    const struct {
        const char* what;
        const char* lockFile;  // in the network's folder
        const char* outLine2;
        const char* err;
    } cases[] = {
        {"store", "directory/store.lock",
         ":2: MJONES: not applied: the batch stopped, as the directory is locked by another "
         "program",
         "6 lines of $FILE were not applied: lines 1-6"},
        {"log", "servers/ACCT1/SYS/SYSTEM/JOBTALLY/JOBTALLY.LOG", ":2: MJONES: balance",
         "6 records of changes that were made wait in "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Network net = SampleNetwork(folder.Path() / c.what);
        std::ofstream(net.ini.parent_path() / "servers/ACCT1/SYS/PUBLIC/JOBTALLY.INI",
                      std::ios::app | std::ios::binary)
            << "LogLockWait=1\r\n";
        const std::string logBefore = ReadBytes(net.log);
        const std::vector<std::string> words = {"--ini", net.ini.string(), "deposit", "--from",
                                                file.string()};
        std::string error;
        std::optional<tally::platform::AppendLock> held =
            tally::platform::AppendLock::Acquire(net.ini.parent_path() / c.lockFile, &error);
        ASSERT_TRUE(held) << error;
        const auto started = std::chrono::steady_clock::now();
        const CmdResult locked = RunCmd(words);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
        held.reset();
        EXPECT_EQ(locked.code, 1) << locked.out << locked.err;
        EXPECT_NE(locked.out.find(file.string() + c.outLine2), std::string::npos) << locked.out;
        std::string err = c.err;
        if (const std::size_t at = err.find("$FILE"); at != std::string::npos) {
            err.replace(at, 5, file.string());
        }
        EXPECT_NE(locked.err.find(err), std::string::npos) << locked.err;
        EXPECT_EQ(ReadBytes(net.log), logBefore);

        // The next start: what waited is appended first, then the batch's own records.
        const CmdResult next = RunCmd(words);
        EXPECT_EQ(next.code, 0) << next.out << next.err;
        const std::string added = ReadBytes(net.log).substr(logBefore.size());
        const std::size_t waited = std::string(c.what) == "log" ? 6 : 0;
        EXPECT_EQ(static_cast<std::size_t>(std::count(added.begin(), added.end(), '\n')),
                  waited + 6);
        if (waited > 0) {
            EXPECT_NE(next.err.find("6 transaction records left waiting by an earlier run were "
                                    "appended to the accounting log."),
                      std::string::npos)
                << next.err;
        }
    }
    if (oldTemp.empty()) {
        ::unsetenv("TMPDIR");
    } else {
        ::setenv("TMPDIR", oldTemp.c_str(), 1);
    }
}

// The window's deposit to a multiple selection: ApplyToEntries with the dialog's host, the
// settings as LoadSettings leaves them for ACCT1's Currency, ASCII delimited log.
void WindowDeposit(const fs::path& ini, const std::vector<std::string>& users,
                   const std::string& amount) {
    ASSERT_TRUE(DirClientLoadConfig(ini.string().c_str())) << DirClientLastProblem();
    OpenDirectoryContext();
    gSettings = Settings{};
    DeriveNumberFormat(gSettings, "2", "0");
    gSettings.Schema = SelectAccountSchema(kStandardSchemaKeyword);
    gSettings.OperatorName = "ADMIN.CORP";
    gSettings.LogServer = "ACCT1";
    gSettings.LogFilePath = SampleLog(ini.parent_path()).string();
    CurrentOperation = AccountOperation::Deposit;
    OperationAmount = ReadAmount(amount, CurrentAmountMode()).units;
    DirectoryAccountHost host(FixedMoment);
    const BatchOutcome outcome = ApplyToEntries(users, host);
    EXPECT_EQ(outcome.changed, static_cast<int>(users.size()));
    EXPECT_EQ(BatchProblemMessage(outcome), "");
    DirFreeContext(DirectoryContext);
}

TEST(TallyCmdChanges, ACsvDepositOfTenThousandLinesIsTheWindowsDepositToTheSameUsers) {
    TempFolder folder("tallycmd-bulk");
    gendir::Options options;
    options.schema = std::string(TALLY_SOURCE_DIR) + "/dirstore/schema/tallydesk.ldif";
    options.users = 10000;
    options.logLines = 100;
    std::string error;
    std::vector<fs::path> nets;
    for (const char* name : {"cmd", "window"}) {
        options.out = folder.Path() / name;
        ASSERT_TRUE(gendir::WriteNetwork(options, error)) << error;
        nets.push_back(options.out);
    }
    std::vector<std::string> users;
    std::string csv = "User,Amount\r\n";
    for (std::uint32_t i = 0; i < options.users; ++i) {
        users.push_back(gendir::UserName(options, (i * 7919) % options.users));
        csv += users.back() + ",1.25\r\n";
    }
    const fs::path file = folder.Path() / "term.csv";
    WriteBytes(file, csv);
    const std::string logBefore = ReadBytes(SampleLog(nets[0]));
    const std::string storeBefore = Exported(nets[0] / "directory");

    const CmdResult result =
        RunCmd({"--ini", (nets[0] / "tallynet.ini").string(), "deposit", "--from", file.string()});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.out.find("10000 of 10000 lines applied."), std::string::npos);
    WindowDeposit(nets[1] / "tallynet.ini", users, "1.25");

    const std::string cmdLog = ReadBytes(SampleLog(nets[0]));
    EXPECT_EQ(LineCount(cmdLog) - LineCount(logBefore), 10000u);
    EXPECT_TRUE(cmdLog == ReadBytes(SampleLog(nets[1]))) << "the logs differ";
    const std::string cmdStore = Exported(nets[0] / "directory");
    EXPECT_TRUE(cmdStore == Exported(nets[1] / "directory")) << "the stores differ";
    EXPECT_NE(cmdStore, storeBefore) << "nothing was deposited";
}

}  // namespace
}  // namespace tally::tallycmd::testing
