// TallyDesk writers (native, and the Windows build's under Wine when there is one) and the
// accounting server's stand-in change the same balances and append to one log at the same time:
// every record must arrive whole on its own line, none may be lost, and the balances must come
// out exact.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "accounting/account_batch.h"
#include "accounting/account_changes.h"
#include "directory/client_config.h"
#include "directory/dirclient_setup.h"
#include "directory/dirclient_state.h"
#include "dirstore/store.h"
#include "tests/core/accounting/deposit_session.h"
#include "tests/core/directory/ldap_server.h"
#include "tools/gendir/gendir_lib.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kUsers = 4;
constexpr int kServerJobs = 1500;    // per stand-in server, cost 3 each
constexpr int kDepositRounds = 300;  // per TallyDesk writer, 1 to each user per round
constexpr int kJobCost = 3;

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

pid_t Spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int WaitFor(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Lines(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// `store`: the embedded store's folder, or a tallynet.ini that names the directory.
std::map<std::string, long> Balances(const fs::path& store, const std::vector<std::string>& users) {
    std::unique_ptr<tally::store::Store> opened;
    if (fs::is_regular_file(store)) {
        std::string problem;
        opened = tally::directory::OpenConfiguredStore(tally::directory::LoadClientConfig(store),
                                                       problem);
        EXPECT_TRUE(opened) << problem;
    } else {
        tally::store::Problem problem;
        opened = tally::store::Store::Open(store, &problem);
    }
    std::map<std::string, long> balances;
    for (const std::string& user : users) {
        const tally::store::Entry* entry = opened ? opened->Find(user) : nullptr;
        long balance = 0;
        if (entry) {
            auto found = entry->attributes.find("Account Balance");
            if (found != entry->attributes.end() && !found->second.empty()) {
                balance = std::stol(found->second.front());
            }
        }
        balances[user] = balance;
    }
    return balances;
}

TEST(LogConcurrency, TallyDeskAndTheServerAppendAndChargeTogether) {
    const char* server = Environment("TALLY_ACCTSERVER");
    const char* writer = Environment("TALLY_DEPOSIT_WRITER");
    ASSERT_TRUE(server && writer) << "TALLY_ACCTSERVER and TALLY_DEPOSIT_WRITER must be set";
    const char* windowsWriter = Environment("TALLY_DEPOSIT_WRITER_WIN");
    const char* wineRun = Environment("TALLY_WINE_RUN");
    const bool withWine = windowsWriter && fs::exists(windowsWriter) && wineRun &&
                          std::system("command -v wine >/dev/null 2>&1") == 0;
    // The full test run builds the Windows writer first: there, running without it would be a
    // green result for a test that left out its main case.
    ASSERT_TRUE(withWine || !Environment("TALLY_REQUIRE_WINE_WRITERS"))
        << "no Windows writer at "
        << (windowsWriter ? windowsWriter : "(TALLY_DEPOSIT_WRITER_WIN unset)")
        << " or no wine, though TALLY_REQUIRE_WINE_WRITERS is set";

    tally::gendir::Options options;
    options.out = fs::temp_directory_path() / "tally-log-concurrency";
    options.schema = fs::path(TALLY_SOURCE_DIR) / "dirstore/schema/tallydesk.ldif";
    options.users = kUsers;
    std::string error;
    ASSERT_TRUE(tally::gendir::WriteNetwork(options, error)) << error;
    const fs::path store = options.out / "directory";
    const fs::path log = options.out / "CONCURRENT.LOG";
    std::vector<std::string> users;
    for (int i = 0; i < kUsers; ++i) {
        users.push_back(tally::gendir::UserFullName(options, static_cast<std::uint32_t>(i)));
    }
    const auto before = Balances(store, users);
    {
        // The journal exists before the writers start, as on any network in use.
        tally::store::Problem problem;
        auto opened = tally::store::Store::Open(store, &problem);
        ASSERT_TRUE(opened) << problem.Describe();
        ASSERT_EQ(opened->Modify(users[0],
                                 {{tally::store::ChangeKind::AddValue, "Account Balance", "0"}}),
                  tally::store::kOk);
    }

    std::vector<std::string> depositArguments = {std::to_string(kDepositRounds)};
    depositArguments.insert(depositArguments.end(), users.begin(), users.end());
    std::vector<pid_t> running;
    auto start = [&](std::vector<std::string> arguments) {
        const pid_t pid = Spawn(arguments);
        ASSERT_GT(pid, 0) << "cannot start " << arguments[0];
        running.push_back(pid);
    };
    int writers = 1;
    if (withWine) {
        // Wine takes seconds to start: the others begin once its first record is in the log.
        std::vector<std::string> arguments = {wineRun, windowsWriter,
                                              "Z:" + (options.out / "tallynet.ini").string(),
                                              "Z:" + log.string()};
        arguments.insert(arguments.end(), depositArguments.begin(), depositArguments.end());
        start(arguments);
        ++writers;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!fs::exists(log) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::vector<std::string> native = {writer, (options.out / "tallynet.ini").string(),
                                       log.string()};
    native.insert(native.end(), depositArguments.begin(), depositArguments.end());
    start(native);
    for (int s = 0; s < 2; ++s) {
        std::vector<std::string> arguments = {server,
                                              store.string(),
                                              log.string(),
                                              "Account Balance",
                                              std::to_string(kJobCost),
                                              std::to_string(kServerJobs)};
        arguments.insert(arguments.end(), users.begin(), users.end());
        start(arguments);
    }
    for (pid_t pid : running) {
        EXPECT_EQ(WaitFor(pid), 0);
    }

    const std::regex deposit(
        "\"(U\\d+\\.[A-Z.]+)\",\"Deposit\",\"ADMIN\\.CORP\",\"\",\"ACCT1\",\"\",\"\","
        "\"07/04/1999\",\"14:05\",,,1,-?\\d+\\r");
    const std::regex printJob(
        "\"(U\\d+\\.[A-Z.]+)\",\"Document \\d+\",\"LASER1\",\"PSERV1\",\"QUEUE1\",\"ACCT1\",\"\","
        "\"07/04/1999\",\"14:05\",1,1,3,-?\\d+\\r");
    std::map<std::string, long> deposits;
    std::map<std::string, long> jobs;
    long broken = 0;
    for (const std::string& line : Lines(log)) {
        std::smatch match;
        if (std::regex_match(line, match, deposit)) {
            ++deposits[match[1]];
        } else if (std::regex_match(line, match, printJob)) {
            ++jobs[match[1]];
        } else if (++broken <= 3) {
            ADD_FAILURE() << "broken record: " << line;
        }
    }
    EXPECT_EQ(broken, 0);
    const auto after = Balances(store, users);
    const long serverJobsPerUser = 2 * kServerJobs / kUsers;
    for (const std::string& user : users) {
        EXPECT_EQ(deposits[user], writers * kDepositRounds) << user;
        EXPECT_EQ(jobs[user], serverJobsPerUser) << user;
        EXPECT_EQ(after.at(user),
                  before.at(user) + writers * kDepositRounds - kJobCost * serverJobsPerUser)
            << user;
    }
    if (!withWine) {
        std::printf("(no Windows writer: build the Windows build beside this one for it)\n");
    }
    fs::remove_all(options.out);
}

// The same over one slapd (run under scripts/lib/scratch_slapd.py: ctest's
// accounting_ldap_concurrency): eight writers of a thousand changes each on the same four
// users, TallyDesk's native and (with a Windows build) Windows writers and the accounting
// server's stand-in, half of each kind with the server's increment and half with delete-and-add,
// so that each way of changing a counter meets the other. The sums must come out exact.
TEST(LogConcurrency, EightWritersOnOneDirectoryServerLoseNoChange) {
    const tally::testing::LdapServer ldap = tally::testing::LdapServer::FromEnvironment();
    if (!ldap.Available()) {
        GTEST_SKIP() << "no scratch slapd (TALLY_LDAP_URL is not set)";
    }
    const char* server = Environment("TALLY_ACCTSERVER");
    const char* writer = Environment("TALLY_DEPOSIT_WRITER");
    ASSERT_TRUE(server && writer) << "TALLY_ACCTSERVER and TALLY_DEPOSIT_WRITER must be set";
    const char* windowsWriter = Environment("TALLY_DEPOSIT_WRITER_WIN");
    const char* wineRun = Environment("TALLY_WINE_RUN");
    const bool withWine = windowsWriter && fs::exists(windowsWriter) && wineRun &&
                          std::system("command -v wine >/dev/null 2>&1") == 0;
    ASSERT_TRUE(withWine || !Environment("TALLY_REQUIRE_WINE_WRITERS"))
        << "no Windows writer or no wine, though TALLY_REQUIRE_WINE_WRITERS is set";

    constexpr int kChangesPerWriter = 1000;
    tally::gendir::Options options;
    options.out = fs::temp_directory_path() / "tally-ldap-concurrency";
    options.schema = fs::path(TALLY_SOURCE_DIR) / "dirstore/schema/tallydesk.ldif";
    options.users = kUsers;
    std::string error;
    ASSERT_TRUE(tally::gendir::WriteNetwork(options, error)) << error;
    std::ifstream tree(options.out / "directory/directory.ldif", std::ios::binary);
    const std::string base = ldap.LoadTree("ldap-concurrency-" + std::to_string(::getpid()),
                                           std::string(std::istreambuf_iterator<char>(tree), {}));
    ASSERT_FALSE(base.empty());
    // One ini per way of changing a counter, each gendir's own with another [Store]; paths as
    // Wine shows them, which the native build reads too.
    std::string otherSections;
    bool inStore = false;
    for (const std::string& line : Lines(options.out / "tallynet.ini")) {
        if (!line.empty() && line.front() == '[') {
            inStore = line.rfind("[Store]", 0) == 0;
        }
        if (!inStore) {
            otherSections += line + "\n";
        }
    }
    auto writeIni = [&](const char* file, const char* extra) {
        const fs::path ini = options.out / file;
        std::ofstream(ini, std::ios::binary)
            << "[Store]\nKind=ldap\nUrl=" << ldap.url << "\nBase=" << base
            << "\nBindDN=" << ldap.operatorDn << "\nPasswordFile=Z:" << ldap.passwordFile << "\n"
            << extra << otherSections;
        return ini.string();
    };
    const std::string increment = writeIni("increment.ini", "");
    const std::string deleteAdd = writeIni("delete-add.ini", "Increment=no\n");
    // A log of each writer's own: the log's lock across processes is the other test's subject;
    // eight writers on one lock would mostly measure who waits for it.
    std::vector<fs::path> logs;
    auto nextLog = [&] {
        logs.push_back(options.out / ("WRITER" + std::to_string(logs.size()) + ".LOG"));
        return logs.back();
    };
    std::vector<std::string> users;
    for (int i = 0; i < kUsers; ++i) {
        users.push_back(tally::gendir::UserFullName(options, static_cast<std::uint32_t>(i)));
    }
    const auto before = Balances(increment, users);

    std::vector<std::string> depositArguments = {std::to_string(kChangesPerWriter / kUsers)};
    depositArguments.insert(depositArguments.end(), users.begin(), users.end());
    std::vector<pid_t> running;
    auto start = [&](std::vector<std::string> arguments) {
        const pid_t pid = Spawn(arguments);
        ASSERT_GT(pid, 0) << "cannot start " << arguments[0];
        running.push_back(pid);
    };
    int depositWriters = 0;
    if (withWine) {
        const fs::path log = nextLog();
        std::vector<std::string> arguments = {wineRun, windowsWriter, "Z:" + increment,
                                              "Z:" + log.string()};
        arguments.insert(arguments.end(), depositArguments.begin(), depositArguments.end());
        start(arguments);
        ++depositWriters;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!fs::exists(log) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    const std::string natives[] = {increment, deleteAdd, deleteAdd, increment};
    for (int n = 0; depositWriters < 4; ++n, ++depositWriters) {
        std::vector<std::string> arguments = {writer, natives[n], nextLog().string()};
        arguments.insert(arguments.end(), depositArguments.begin(), depositArguments.end());
        start(arguments);
    }
    constexpr int kServers = 4;
    for (int s = 0; s < kServers; ++s) {
        std::vector<std::string> arguments = {server,
                                              s % 2 == 0 ? increment : deleteAdd,
                                              nextLog().string(),
                                              "Account Balance",
                                              std::to_string(kJobCost),
                                              std::to_string(kChangesPerWriter)};
        arguments.insert(arguments.end(), users.begin(), users.end());
        start(arguments);
    }
    for (pid_t pid : running) {
        EXPECT_EQ(WaitFor(pid), 0);
    }

    std::map<std::string, long> deposits;
    std::map<std::string, long> jobs;
    for (const fs::path& log : logs) {
        for (const std::string& line : Lines(log)) {
            const std::string user = line.substr(1, line.find('"', 1) - 1);
            if (line.find("\"Deposit\"") != std::string::npos) {
                ++deposits[user];
            } else if (line.find("\"Document ") != std::string::npos) {
                ++jobs[user];
            } else {
                ADD_FAILURE() << "broken record: " << line;
            }
        }
    }
    const auto after = Balances(increment, users);
    const long jobsPerUser = kServers * kChangesPerWriter / kUsers;
    const long depositsPerUser = depositWriters * kChangesPerWriter / kUsers;
    for (const std::string& user : users) {
        EXPECT_EQ(deposits[user], depositsPerUser) << user;
        EXPECT_EQ(jobs[user], jobsPerUser) << user;
        EXPECT_EQ(after.at(user), before.at(user) + depositsPerUser - kJobCost * jobsPerUser)
            << user;
    }
    std::printf("%d writers x %d changes on one slapd%s\n", depositWriters + kServers,
                kChangesPerWriter, withWine ? " (one TallyDesk writer under Wine)" : "");
    fs::remove_all(options.out);
}

// The directory server goes away in the middle of a deposit to sixty users (run under
// scratch_slapd.py with a server of its own: ctest's accounting_ldap_server_loss). The changes
// made before are recorded, every later one is reported as failed with the reason, and nothing
// is recorded that did not happen.
class ServerKillingHost : public DirectoryAccountHost {
  public:
    ServerKillingHost(int changesBefore, pid_t server, std::function<void()> beforeKilling)
        : DirectoryAccountHost([] {
              return RecordMoment{{1999, 7, 4}, "14:05"};
          }),
          changesBefore_(changesBefore),
          server_(server),
          beforeKilling_(std::move(beforeKilling)) {}

    DirStatus Change(const std::string& name, bool readBalanceFirst) override {
        if (++calls_ == changesBefore_ + 1) {
            beforeKilling_();
            ::kill(server_, SIGKILL);
            // Its sockets close as it dies; wait until it is gone.
            for (int i = 0; i < 200 && ::kill(server_, 0) == 0; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                int status = 0;
                ::waitpid(server_, &status, WNOHANG);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return DirectoryAccountHost::Change(name, readBalanceFirst);
    }

  private:
    int calls_ = 0;
    int changesBefore_;
    pid_t server_;
    std::function<void()> beforeKilling_;
};

TEST(ServerLoss, ChangesMadeBeforeTheServerWentAreRecordedAndTheRestFail) {
    const tally::testing::LdapServer ldap = tally::testing::LdapServer::FromEnvironment();
    const char* pid = Environment("TALLY_LDAP_SLAPD_PID");
    if (!ldap.Available() || pid == nullptr) {
        GTEST_SKIP() << "no scratch slapd of its own (TALLY_LDAP_URL, TALLY_LDAP_SLAPD_PID)";
    }
    constexpr int kMany = 60, kBefore = 25;
    std::string tree =
        "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
        "dn: cn=ADMIN,o=CORP\nobjectClass: tallyUser\ncn: ADMIN\n";
    std::vector<std::string> users;
    for (int i = 0; i < kMany; ++i) {
        users.push_back("U" + std::to_string(i) + ".CORP");
        tree += "\ndn: cn=U" + std::to_string(i) +
                ",o=CORP\nobjectClass: tallyUser\naccountBalance: 100\n";
    }
    const std::string base = ldap.LoadTree("server-loss", tree);
    const fs::path folder = fs::temp_directory_path() / "tally-ldap-server-loss";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path ini = folder / "tallynet.ini";
    std::ofstream(ini, std::ios::binary) << ldap.StoreSection(base, ldap.operatorDn, "Timeout=2\n")
                                         << "[Login]\nContext=CORP\n[Connections]\nDefault=ACCT1\n";
    ASSERT_TRUE(DirClientLoadConfig(ini.string().c_str()));
    ASSERT_EQ(DirIsLoggedIn(), 1) << DirClientLastProblem();
    const fs::path log = folder / "DEPOSITS.LOG";
    StartDepositOfOne(log.string());

    // What the server holds just before it goes: the first kBefore users deposited to, no other.
    std::map<std::string, long> held;
    ServerKillingHost host(kBefore, static_cast<pid_t>(std::atol(pid)),
                           [&] { held = Balances(ini, users); });
    const BatchOutcome outcome = ApplyToEntries(users, host);
    for (int i = 0; i < kMany; ++i) {
        EXPECT_EQ(held[users[static_cast<std::size_t>(i)]], i < kBefore ? 101 : 100) << users[i];
    }
    EXPECT_EQ(outcome.changed, kBefore);
    ASSERT_EQ(outcome.failed.size(), static_cast<std::size_t>(kMany - kBefore));
    for (const FailedChange& failed : outcome.failed) {
        EXPECT_EQ(failed.status, DIR_ERR_UNAVAILABLE) << failed.name;
    }
    EXPECT_EQ(outcome.failed.front().name, users[kBefore]);
    const std::string message = BatchProblemMessage(outcome);
    EXPECT_NE(message.find("The directory server could not be reached, or went away."),
              std::string::npos)
        << message;
    EXPECT_NE(message.find(ldap.url), std::string::npos) << message;
    std::vector<std::string> recorded;
    for (const std::string& line : Lines(log)) {
        recorded.push_back(line.substr(1, line.find('"', 1) - 1));
    }
    EXPECT_EQ(recorded, std::vector<std::string>(users.begin(), users.begin() + kBefore));
    DirClientReset();
    fs::remove_all(folder);
}

}  // namespace
