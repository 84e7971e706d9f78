// TallyDesk writers (native, and the Windows build's under Wine when there is one) and the
// accounting server's stand-in change the same balances and append to one log at the same time:
// every record must arrive whole on its own line, none may be lost, and the balances must come
// out exact.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "accounting/account_batch.h"
#include "accounting/account_changes.h"
#include "directory/client_config.h"
#include "directory/dirclient_setup.h"
#include "directory/dirclient_state.h"
#include "dirstore/store.h"
#include "tests/core/accounting/child_processes.h"
#include "tests/core/accounting/deposit_session.h"
#include "tests/core/directory/ldap_server.h"
#include "tools/gendir/gendir_lib.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using tally::testing::Environment;
using tally::testing::Spawn;
using tally::testing::WaitFor;

constexpr int kUsers = 4;
constexpr int kServerJobs = 1500;    // per stand-in server, cost 3 each
constexpr int kDepositRounds = 300;  // per TallyDesk writer, 1 to each user per round
constexpr int kJobCost = 3;

// Started with its output in `output` (standard output, and error unless `errors` names a file
// of its own), so that a batch's thousands of lines stay out of the test's own.
pid_t SpawnQuietly(const std::vector<std::string>& arguments, const fs::path& output,
                   const fs::path& errors = {}) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (errors.empty()) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    pid_t pid = 0;
    const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return started == 0 ? pid : -1;
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

// What a log says per user: its deposit records (each of 1, with the balance it left) and its
// print jobs; every line must be one of the two, whole.
struct LogTally {
    std::map<std::string, std::vector<long>> deposits;  // user -> balances after, in log order
    std::map<std::string, long> jobs;
    long broken = 0;
};

LogTally TallyLog(const fs::path& log) {
    // The operator is ADMIN.CORP on the embedded store and whoever bound over LDAP.
    const std::regex deposit(
        "\"(U\\d+\\.[A-Z.]+)\",\"Deposit\",\"[^\",]+\",\"\",\"ACCT1\",\"\",\"\","
        "\"\\d\\d/\\d\\d/\\d{4}\",\"\\d?\\d:\\d\\d\",,,1(?:\\.00)?,(-?\\d+)(?:\\.\\d\\d)?\\r");
    const std::regex printJob(
        "\"(U\\d+\\.[A-Z.]+)\",\"Document \\d+\",\"LASER1\",\"PSERV1\",\"QUEUE1\",\"ACCT1\",\"\","
        "\"07/04/1999\",\"14:05\",1,1,3,-?\\d+\\r");
    LogTally tally;
    for (const std::string& line : Lines(log)) {
        std::smatch match;
        if (std::regex_match(line, match, deposit)) {
            tally.deposits[match[1]].push_back(std::stol(match[2]));
        } else if (std::regex_match(line, match, printJob)) {
            ++tally.jobs[match[1]];
        } else if (++tally.broken <= 3) {
            ADD_FAILURE() << "broken record: " << line;
        }
    }
    return tally;
}

// A network of `users` users for the tallycmd runs, with the deposit-of-1 CSV file: line i
// deposits to user i modulo `users`.
struct CommandNetwork {
    tally::gendir::Options options;
    fs::path ini;
    fs::path log;
    std::vector<std::string> users;  // complete names

    fs::path WriteCsv(const std::string& name, int lines) const {
        const fs::path csv = options.out / name;
        std::ofstream out(csv, std::ios::binary);
        out << "user,amount\n";
        for (int i = 0; i < lines; ++i) {
            out << "." << users[static_cast<std::size_t>(i) % users.size()] << ",1\n";
        }
        return csv;
    }
    std::vector<std::string> Tallycmd(const char* program, const fs::path& csv) const {
        return {program, "--ini",   ini.string(), "--currency-digits",
                "0",     "deposit", "--from",     csv.string()};
    }
};

void RestoreTemp(const std::string& temp) {
    if (temp.empty()) {
        ::unsetenv("TMPDIR");
    } else {
        ::setenv("TMPDIR", temp.c_str(), 1);
    }
}

// `groupMembers`: with a group G0001 of that many members.
CommandNetwork LayCommandNetwork(const char* name, int users, int groupMembers = 0) {
    CommandNetwork network;
    network.options.out = fs::temp_directory_path() / name;
    network.options.schema = fs::path(TALLY_SOURCE_DIR) / "dirstore/schema/tallydesk.ldif";
    network.options.users = static_cast<std::uint32_t>(users);
    network.options.groups = groupMembers > 0 ? 1 : 0;
    network.options.members = static_cast<std::uint32_t>(groupMembers);
    std::string error;
    EXPECT_TRUE(tally::gendir::WriteNetwork(network.options, error)) << error;
    network.ini = network.options.out / "tallynet.ini";
    network.log = network.options.out / "servers/ACCT1/SYS/SYSTEM/JOBTALLY/JOBTALLY.LOG";
    for (int i = 0; i < users; ++i) {
        network.users.push_back(
            tally::gendir::UserFullName(network.options, static_cast<std::uint32_t>(i)));
    }
    // The children keep their outboxes in the network's folder, not in the machine's.
    ::setenv("TMPDIR", network.options.out.c_str(), 1);
    return network;
}

// A tallycmd batch of `lines` deposits killed at random points, 50 times over (the first killed
// at once, the later ones further in): once a later start has taken up what its outbox held,
// every deposit the directory holds has exactly one record, and no record names a deposit that
// was not made. `directory`: the embedded store's folder, or the ini that names a server.
void KillBatchRepeatedly(const CommandNetwork& network, const fs::path& directory, int lines) {
    const char* tallycmd = Environment("TALLY_TALLYCMD");
    ASSERT_TRUE(tallycmd) << "TALLY_TALLYCMD must be set";
    constexpr int kKills = 50;
    const fs::path csv = network.WriteCsv("deposit.csv", lines);
    const fs::path output = network.options.out / "tallycmd.out";
    const auto before = Balances(directory, network.users);

    // Whole runs tell how long a batch takes here; the kills fall anywhere within the quicker
    // of two (one slowed by the machine's other work would leave most kills after the end).
    auto whole = std::chrono::microseconds::max();
    for (int run = 0; run < 2; ++run) {
        const auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(WaitFor(SpawnQuietly(network.Tallycmd(tallycmd, csv), output)), 0);
        whole = std::min(whole, std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now() - started));
    }
    std::mt19937 random(16);
    int killedMidway = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        const pid_t pid = SpawnQuietly(network.Tallycmd(tallycmd, csv), output);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(
            std::uniform_int_distribution<long>(0, whole.count())(random)));
        ::kill(pid, SIGKILL);
        killedMidway += WaitFor(pid) == -1 ? 1 : 0;
    }
    // A start with nothing to change takes up what the last kill left.
    ASSERT_EQ(WaitFor(SpawnQuietly({tallycmd, "--ini", network.ini.string(), "deposit", "0",
                                    "." + network.users.front()},
                                   output)),
              0);
    // One writer alone: the directory always tells whether its change in flight was made.
    for (const std::string& line : Lines(output)) {
        EXPECT_EQ(line.find("cannot tell"), std::string::npos) << line;
    }

    LogTally tally = TallyLog(network.log);
    EXPECT_EQ(tally.broken, 0);
    const auto after = Balances(directory, network.users);
    long recorded = 0;
    for (const std::string& user : network.users) {
        const std::vector<long>& balances = tally.deposits[user];
        recorded += static_cast<long>(balances.size());
        EXPECT_EQ(after.at(user) - before.at(user), static_cast<long>(balances.size())) << user;
        // Each deposit of 1 leaves another balance: a record written twice repeats one.
        EXPECT_EQ(std::set<long>(balances.begin(), balances.end()).size(), balances.size()) << user;
    }
    std::printf("%d of %d runs killed midway; %ld deposits, each recorded once\n", killedMidway,
                kKills, recorded);
    EXPECT_GT(killedMidway, kKills / 2);
}

TEST(KilledBatch, EveryChangeInTheStoreHasExactlyOneRecord) {
    constexpr int kBatchUsers = 2000;
    const std::string oldTemp = Environment("TMPDIR") ? Environment("TMPDIR") : "";
    const CommandNetwork network = LayCommandNetwork("tally-killed-batch", kBatchUsers);
    KillBatchRepeatedly(network, network.options.out / "directory", kBatchUsers);
    RestoreTemp(oldTemp);
    fs::remove_all(network.options.out);
}

// A busy site on one log: print-server stand-ins charging print jobs and tallycmd CSV batches
// of deposits on the same 100 users, all at once (and, with a Windows build beside this one, a
// TallyDesk writer under Wine). Nobody gives up, no record is torn or doubled, every change has
// its record, and the directory's sums are the log's. `directory`: the embedded store's folder,
// or the tallynet.ini that names a directory server.
struct BusySiteSize {
    int batches;
    int batchLines;
    int servers;
    int jobs;
};

void PlayBusySite(const CommandNetwork& network, const fs::path& directory,
                  const BusySiteSize& size) {
    const char* server = Environment("TALLY_ACCTSERVER");
    const char* tallycmd = Environment("TALLY_TALLYCMD");
    ASSERT_TRUE(server && tallycmd) << "TALLY_ACCTSERVER and TALLY_TALLYCMD must be set";
    const char* windowsWriter = Environment("TALLY_DEPOSIT_WRITER_WIN");
    const char* wineRun = Environment("TALLY_WINE_RUN");
    const bool withWine = windowsWriter && fs::exists(windowsWriter) && wineRun &&
                          std::system("command -v wine >/dev/null 2>&1") == 0;
    constexpr int kWineRounds = 20, kWineUsers = 10;
    const long users = static_cast<long>(network.users.size());
    const auto before = Balances(directory, network.users);

    std::vector<pid_t> running;
    if (withWine) {
        std::vector<std::string> arguments = {wineRun, windowsWriter, "Z:" + network.ini.string(),
                                              "Z:" + network.log.string(),
                                              std::to_string(kWineRounds)};
        arguments.insert(arguments.end(), network.users.begin(),
                         network.users.begin() + kWineUsers);
        running.push_back(SpawnQuietly(arguments, network.options.out / "wine.out"));
        // Wine takes seconds to start: the others begin once its first record is in the log.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!fs::exists(network.log) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    for (int b = 0; b < size.batches; ++b) {
        const fs::path csv =
            network.WriteCsv("batch" + std::to_string(b) + ".csv", size.batchLines);
        running.push_back(SpawnQuietly(network.Tallycmd(tallycmd, csv),
                                       network.options.out / ("batch" + std::to_string(b))));
    }
    for (int s = 0; s < size.servers; ++s) {
        std::vector<std::string> arguments = {server,
                                              directory.string(),
                                              network.log.string(),
                                              "Account Balance",
                                              std::to_string(kJobCost),
                                              std::to_string(size.jobs)};
        arguments.insert(arguments.end(), network.users.begin(), network.users.end());
        running.push_back(
            SpawnQuietly(arguments, network.options.out / ("server" + std::to_string(s))));
    }
    for (pid_t pid : running) {
        EXPECT_EQ(WaitFor(pid), 0)
            << "a writer gave up or failed (its output is in " << network.options.out << ")";
    }

    LogTally tally = TallyLog(network.log);
    EXPECT_EQ(tally.broken, 0);
    const auto after = Balances(directory, network.users);
    const long jobsPerUser = size.servers * size.jobs / users;
    for (std::size_t u = 0; u < network.users.size(); ++u) {
        const std::string& user = network.users[u];
        const long deposits =
            size.batches * size.batchLines / users + (withWine && u < kWineUsers ? kWineRounds : 0);
        const std::vector<long>& balances = tally.deposits[user];
        EXPECT_EQ(static_cast<long>(balances.size()), deposits) << user;
        EXPECT_EQ(tally.jobs.count(user) ? tally.jobs.at(user) : 0, jobsPerUser) << user;
        EXPECT_EQ(after.at(user), before.at(user) + deposits - kJobCost * jobsPerUser) << user;
    }
    std::printf("%d print-server stand-ins x %d jobs, %d batches x %d lines%s on one log\n",
                size.servers, size.jobs, size.batches, size.batchLines,
                withWine ? ", a TallyDesk writer under Wine" : "");
}

TEST(BusySite, EveryWriterGetsThroughAndEveryChangeIsRecordedOnce) {
    const std::string oldTemp = Environment("TMPDIR") ? Environment("TMPDIR") : "";
    const CommandNetwork network = LayCommandNetwork("tally-busy-site", 100);
    PlayBusySite(network, network.options.out / "directory", {4, 2500, 8, 500});
    RestoreTemp(oldTemp);
    if (!::testing::Test::HasFailure()) {
        fs::remove_all(network.options.out);
    }
}

// Puts the network's directory on the scratch slapd: its tree loaded there, and network.ini
// made to name the server (over LDAP the operator is whoever binds, so it names no user).
bool PointAtServer(CommandNetwork& network, const tally::testing::LdapServer& ldap,
                   const std::string& name, const std::string& extraStoreKeys = "") {
    std::ifstream tree(network.options.out / "directory/directory.ldif", std::ios::binary);
    const std::string base = ldap.LoadTree(name + "-" + std::to_string(::getpid()),
                                           std::string(std::istreambuf_iterator<char>(tree), {}));
    if (base.empty()) {
        return false;
    }
    std::string otherSections;
    bool inStore = false;
    for (const std::string& line : Lines(network.ini)) {
        if (!line.empty() && line.front() == '[') {
            inStore = line.rfind("[Store]", 0) == 0;
        }
        if (!inStore && line.rfind("User=", 0) != 0) {
            otherSections += line + "\n";
        }
    }
    network.ini = network.options.out / "ldap.ini";
    std::ofstream(network.ini, std::ios::binary)
        << "[Store]\nKind=ldap\nUrl=" << ldap.url << "\nBase=" << base
        << "\nBindDN=" << ldap.operatorDn << "\nPasswordFile=Z:" << ldap.passwordFile << "\n"
        << extraStoreKeys << otherSections;
    return true;
}

// The busy site with the directory on one slapd (run under scripts/lib/scratch_slapd.py: ctest's
// accounting_ldap_busy_site), smaller, as a change over LDAP takes milliseconds.
TEST(BusySite, OnOneDirectoryServerEveryChangeIsRecordedOnce) {
    const tally::testing::LdapServer ldap = tally::testing::LdapServer::FromEnvironment();
    if (!ldap.Available()) {
        GTEST_SKIP() << "no scratch slapd (TALLY_LDAP_URL is not set)";
    }
    const std::string oldTemp = Environment("TMPDIR") ? Environment("TMPDIR") : "";
    CommandNetwork network = LayCommandNetwork("tally-busy-site-ldap", 100);
    ASSERT_TRUE(PointAtServer(network, ldap, "busy-site"));
    PlayBusySite(network, network.ini, {4, 500, 8, 100});
    RestoreTemp(oldTemp);
    if (!::testing::Test::HasFailure()) {
        fs::remove_all(network.options.out);
    }
}

// The same kills with the directory on one slapd (ctest's accounting_ldap_killed_batch), a
// shorter batch, as a change over LDAP takes milliseconds: a kill can fall between the modify
// and its answer, and the next start still settles that change by reading the account.
TEST(KilledBatch, OnOneDirectoryServerEveryChangeHasExactlyOneRecord) {
    const tally::testing::LdapServer ldap = tally::testing::LdapServer::FromEnvironment();
    if (!ldap.Available()) {
        GTEST_SKIP() << "no scratch slapd (TALLY_LDAP_URL is not set)";
    }
    constexpr int kBatchUsers = 300;
    const std::string oldTemp = Environment("TMPDIR") ? Environment("TMPDIR") : "";
    CommandNetwork network = LayCommandNetwork("tally-killed-batch-ldap", kBatchUsers);
    ASSERT_TRUE(PointAtServer(network, ldap, "killed-batch"));
    KillBatchRepeatedly(network, network.ini, kBatchUsers);
    RestoreTemp(oldTemp);
    if (!::testing::Test::HasFailure()) {
        fs::remove_all(network.options.out);
    }
}

// The operations a slapd started with --stats logs from byte `from` of its log on: each one
// once, however many lines the server writes about it ("conn=12 op=7 MOD dn=...", "... MOD
// attr=...", "... RESULT ...").
long ServerOperations(const fs::path& log, std::uintmax_t from) {
    std::ifstream in(log, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from));
    const std::regex operation("conn=(\\d+) op=(\\d+) ");
    std::set<std::pair<long, long>> seen;
    std::string line;
    while (std::getline(in, line)) {
        std::smatch match;
        if (std::regex_search(line, match, operation)) {
            seen.insert({std::stol(match[1]), std::stol(match[2])});
        }
    }
    return static_cast<long>(seen.size());
}

// The modify requests a slapd started with --stats logs from byte `from` of its log on.
long ServerModifies(const fs::path& log, std::uintmax_t from) {
    std::ifstream in(log, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from));
    long modifies = 0;
    std::string line;
    while (std::getline(in, line)) {
        modifies += line.find(" MOD dn=") != std::string::npos ? 1 : 0;
    }
    return modifies;
}

// The most modify requests of one connection the server had started and not yet answered at
// once, from byte `from` of its --stats log on: more than one when a batch sends changes ahead.
long MostModifiesOnTheirWay(const fs::path& log, std::uintmax_t from) {
    std::ifstream in(log, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from));
    std::map<std::string, long> open;  // by connection
    long most = 0;
    std::string line;
    const std::regex connection("conn=(\\d+) op=");
    while (std::getline(in, line)) {
        std::smatch match;
        if (!std::regex_search(line, match, connection)) {
            continue;
        }
        long& count = open[match[1]];
        if (line.find(" MOD dn=") != std::string::npos) {
            most = std::max(most, ++count);
        } else if (line.find(" RESULT tag=103 ") != std::string::npos && count > 0) {
            --count;
        }
    }
    return most;
}

// A batch over a directory server costs about one request per change, whatever the target: the
// modify that carries the post-read control. Names, DNs and the values a change starts from
// come from the batch's listing (a context) or from a few searches for all of a file's users
// or a group's members,
// and nothing is read again after a change. Counted in the server's own log (ctest's
// accounting_ldap_round_trips runs this under scratch_slapd.py --stats).
TEST(RoundTrips, ABatchOverADirectoryServerCostsAboutOneOperationPerChange) {
    const tally::testing::LdapServer ldap = tally::testing::LdapServer::FromEnvironment();
    const char* tallycmd = Environment("TALLY_TALLYCMD");
    const char* serverLog = Environment("TALLY_LDAP_LOG");
    if (!ldap.Available() || serverLog == nullptr) {
        GTEST_SKIP() << "no scratch slapd with its log (TALLY_LDAP_URL, TALLY_LDAP_LOG)";
    }
    ASSERT_TRUE(tallycmd) << "TALLY_TALLYCMD must be set";
    constexpr int kBatchUsers = 200;
    constexpr double kMostPerChange = 1.3;
    const std::string oldTemp = Environment("TMPDIR") ? Environment("TMPDIR") : "";
    CommandNetwork network = LayCommandNetwork("tally-round-trips-ldap", kBatchUsers, kBatchUsers);
    ASSERT_TRUE(PointAtServer(network, ldap, "round-trips"));
    const fs::path csv = network.WriteCsv("deposit.csv", kBatchUsers);
    // The same file as the users' names relative to the workstation's context, as a site
    // writes them.
    const fs::path relativeCsv = network.options.out / "relative.csv";
    {
        std::ofstream out(relativeCsv, std::ios::binary);
        for (const std::string& user : network.users) {
            out << user.substr(0, user.find('.')) << ",1\n";
        }
    }
    const std::string context = tally::gendir::ContextName(network.options, 0);
    const std::string ini = network.ini.string();
    struct Batch {
        const char* what;
        std::vector<std::string> arguments;
        int changes;
    };
    const std::vector<Batch> batches = {
        {"a CSV file of complete names",
         {tallycmd, "--ini", ini, "--currency-digits", "0", "deposit", "--from", csv.string()},
         kBatchUsers},
        {"a CSV file of relative names",
         {tallycmd, "--ini", ini, "--in", context, "--currency-digits", "0", "deposit", "--from",
          relativeCsv.string()},
         kBatchUsers},
        {"all users of a context",
         {tallycmd, "--ini", ini, "--currency-digits", "0", "deposit", "1", "--context", context},
         kBatchUsers},
        {"all members of a group",
         {tallycmd, "--ini", ini, "--in", context, "--currency-digits", "0", "deposit", "1",
          "--group", tally::gendir::GroupName(network.options, 0)},
         kBatchUsers},
    };
    const fs::path output = network.options.out / "tallycmd.out";
    const auto before = Balances(network.ini, network.users);
    long mostAhead = 0;
    for (const Batch& batch : batches) {
        const std::uintmax_t from = fs::file_size(serverLog);
        ASSERT_EQ(WaitFor(SpawnQuietly(batch.arguments, output)), 0) << batch.what;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last lines logged
        const long operations = ServerOperations(serverLog, from);
        const long ahead = MostModifiesOnTheirWay(serverLog, from);
        std::printf("%s: %ld operations for %d changes (%.2f each), up to %ld at once\n",
                    batch.what, operations, batch.changes,
                    static_cast<double>(operations) / batch.changes, ahead);
        EXPECT_LE(operations, static_cast<long>(kMostPerChange * batch.changes)) << batch.what;
        EXPECT_LE(ahead, 32) << batch.what;  // [Store] ChangesInFlight's default
        mostAhead = std::max(mostAhead, ahead);
    }
    // The changes went ahead of their answers, not one at a time. How many the server saw at
    // once depends on which of the two was quicker; over four batches it saw more than one.
    EXPECT_GT(mostAhead, 1);
    // Every change was made, once each.
    const auto after = Balances(network.ini, network.users);
    for (const std::string& user : network.users) {
        EXPECT_EQ(after.at(user) - before.at(user), static_cast<long>(batches.size())) << user;
    }
    LogTally tally = TallyLog(network.log);
    EXPECT_EQ(tally.broken, 0);
    for (const std::string& user : network.users) {
        EXPECT_EQ(tally.deposits[user].size(), batches.size()) << user;
    }
    RestoreTemp(oldTemp);
    if (!::testing::Test::HasFailure()) {
        fs::remove_all(network.options.out);
    }
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

// The directory server goes away for good in the middle of a deposit to sixty users (run under
// scratch_slapd.py with a server of its own: ctest's accounting_ldap_server_loss). The changes
// made before are recorded; the change in flight fails once the client has tried the server
// again for [Store] RetrySeconds, and the batch stops there, naming every user it did not
// reach, instead of waiting as long again for each; nothing is recorded that did not happen.
class ServerKillingHost : public DirectoryAccountHost {
  public:
    ServerKillingHost(int changesBefore, pid_t server, std::function<void()> beforeKilling)
        : DirectoryAccountHost([] {
              return RecordMoment{{1999, 7, 4}, "14:05"};
          }),
          changesBefore_(changesBefore),
          server_(server),
          beforeKilling_(std::move(beforeKilling)) {}

    // One change at a time, so that the server goes between two of them (changes sent ahead
    // and lost with it are the restart tests' matter).
    int ChangesAhead() const override { return 1; }
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
    std::ofstream(ini, std::ios::binary)
        << ldap.StoreSection(base, ldap.operatorDn, "Timeout=2\nRetrySeconds=1\n")
        << "[Login]\nContext=CORP\n[Connections]\nDefault=ACCT1\n";
    ASSERT_TRUE(DirClientLoadConfig(ini.string().c_str()));
    ASSERT_EQ(DirIsLoggedIn(), 1) << DirClientLastProblem();
    const fs::path log = folder / "DEPOSITS.LOG";
    StartDepositOfOne(log.string());

    // What the server holds just before it goes: the first kBefore users deposited to, no other.
    std::map<std::string, long> held;
    ServerKillingHost host(kBefore, static_cast<pid_t>(std::atol(pid)),
                           [&] { held = Balances(ini, users); });
    const auto started = std::chrono::steady_clock::now();
    const BatchOutcome outcome = ApplyToEntries(users, host);
    // One retry of a second and a few timeouts of two, not one of each per user left.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    for (int i = 0; i < kMany; ++i) {
        EXPECT_EQ(held[users[static_cast<std::size_t>(i)]], i < kBefore ? 101 : 100) << users[i];
    }
    EXPECT_EQ(outcome.changed, kBefore);
    EXPECT_EQ(outcome.failed, (std::vector<FailedChange>{{users[kBefore], DIR_ERR_UNAVAILABLE}}));
    EXPECT_TRUE(outcome.serverAway);
    EXPECT_EQ(outcome.notDone, std::vector<std::string>(users.begin() + kBefore + 1, users.end()));
    const std::string message = BatchProblemMessage(outcome);
    EXPECT_NE(message.find("The directory server stayed away, so the batch stopped there (25 "
                           "changed before). Not changed:\n" +
                           users[kBefore + 1]),
              std::string::npos)
        << message;
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

// A tallycmd deposit to a few thousand users while the directory server is killed and started
// again a few seconds later (ctest's accounting_ldap_restart, under scratch_slapd.py
// --restartable): the batch rides the restart out. Every user is changed exactly once, the
// change in flight included (its answer was lost with the server; it is sent again only when
// the entry shows it was not made), and every change has exactly one record.
TEST(ServerRestart, EveryUserIsChangedAndRecordedOnceThroughARestart) {
    const tally::testing::LdapServer ldap = tally::testing::LdapServer::FromEnvironment();
    const char* restarter = Environment("TALLY_LDAP_RESTART_PID");
    const char* serverLog = Environment("TALLY_LDAP_LOG");
    if (!ldap.Available() || restarter == nullptr || serverLog == nullptr) {
        GTEST_SKIP() << "no restartable scratch slapd (TALLY_LDAP_URL, TALLY_LDAP_RESTART_PID)";
    }
    const char* tallycmd = Environment("TALLY_TALLYCMD");
    ASSERT_TRUE(tallycmd) << "TALLY_TALLYCMD must be set";
    constexpr int kBatchUsers = 5000;
    const std::string oldTemp = Environment("TMPDIR") ? Environment("TMPDIR") : "";
    CommandNetwork network = LayCommandNetwork("tally-restart-ldap", kBatchUsers);
    ASSERT_TRUE(PointAtServer(network, ldap, "restart", "Timeout=2\nRetrySeconds=30\n"));
    const fs::path csv = network.WriteCsv("deposit.csv", kBatchUsers);
    const fs::path output = network.options.out / "tallycmd.out";
    const auto before = Balances(network.ini, network.users);

    const auto started = std::chrono::steady_clock::now();
    const std::uintmax_t from = fs::file_size(serverLog);
    const pid_t batch = SpawnQuietly(network.Tallycmd(tallycmd, csv), output);
    ASSERT_GT(batch, 0);
    // The server goes once the changes have begun (its log, --stats, shows the first modify).
    for (int i = 0; i < 1000 && ServerModifies(serverLog, from) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int status = 0;
    ASSERT_EQ(::waitpid(batch, &status, WNOHANG), 0) << "the batch ended before the restart";
    ::kill(static_cast<pid_t>(std::atol(restarter)), SIGUSR1);
    if (WaitFor(batch) != 0) {
        std::string said;
        for (const std::string& line : Lines(output)) {
            said += line.find(": balance ") == std::string::npos ? line + "\n" : "";
        }
        ADD_FAILURE() << "the batch failed:\n" << said.substr(0, 3000);
        std::this_thread::sleep_for(std::chrono::seconds(5));  // the server back for the checks
    }
    std::printf("%d deposits through a restart of the server in %.1f s\n", kBatchUsers,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());

    const auto after = Balances(network.ini, network.users);
    LogTally tally = TallyLog(network.log);
    EXPECT_EQ(tally.broken, 0);
    int wrong = 0;
    for (const std::string& user : network.users) {
        const bool once = after.at(user) - before.at(user) == 1 && tally.deposits[user].size() == 1;
        if (!once && ++wrong <= 5) {
            ADD_FAILURE() << user << ": changed by " << after.at(user) - before.at(user) << ", "
                          << tally.deposits[user].size() << " records";
        }
    }
    EXPECT_EQ(wrong, 0);
    RestoreTemp(oldTemp);
    if (!::testing::Test::HasFailure()) {
        fs::remove_all(network.options.out);
    }
}

// The same batch with the server stopped (SIGSTOP) and not resumed while the client tries it
// again (Timeout=1, RetrySeconds=3; ctest's accounting_ldap_stopped): the batch stops within a
// few seconds instead of waiting for every line, names the lines it did not apply and exits 1;
// what the server holds and what the log holds agree, line by line.
TEST(ServerStopped, TheBatchStopsAndNamesTheLinesNotApplied) {
    const tally::testing::LdapServer ldap = tally::testing::LdapServer::FromEnvironment();
    const char* server = Environment("TALLY_LDAP_SLAPD_PID");
    const char* serverLog = Environment("TALLY_LDAP_LOG");
    if (!ldap.Available() || server == nullptr || serverLog == nullptr) {
        GTEST_SKIP() << "no scratch slapd of its own (TALLY_LDAP_URL, TALLY_LDAP_SLAPD_PID)";
    }
    const char* tallycmd = Environment("TALLY_TALLYCMD");
    ASSERT_TRUE(tallycmd) << "TALLY_TALLYCMD must be set";
    constexpr int kBatchUsers = 3000;
    const std::string oldTemp = Environment("TMPDIR") ? Environment("TMPDIR") : "";
    CommandNetwork network = LayCommandNetwork("tally-stopped-ldap", kBatchUsers);
    ASSERT_TRUE(PointAtServer(network, ldap, "stopped", "Timeout=1\nRetrySeconds=3\n"));
    const fs::path csv = network.WriteCsv("deposit.csv", kBatchUsers);
    const fs::path output = network.options.out / "tallycmd.out";
    const auto before = Balances(network.ini, network.users);

    const pid_t slapd = static_cast<pid_t>(std::atol(server));
    const std::uintmax_t from = fs::file_size(serverLog);
    const fs::path errors = network.options.out / "tallycmd.err";
    const pid_t batch = SpawnQuietly(network.Tallycmd(tallycmd, csv), output, errors);
    ASSERT_GT(batch, 0);
    for (int i = 0; i < 1000 && ServerModifies(serverLog, from) < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(slapd, SIGSTOP);
    const auto stopped = std::chrono::steady_clock::now();
    const int exit = WaitFor(batch);
    const auto waited = std::chrono::steady_clock::now() - stopped;
    ::kill(slapd, SIGCONT);
    EXPECT_EQ(exit, 1);
    // The retry and a few timeouts of one second, not a timeout or more per line left.
    EXPECT_LT(waited, std::chrono::seconds(15));

    // Each line's outcome as tallycmd printed it: applied, or not, with the reason.
    int applied = 0, notApplied = 0;
    for (const std::string& line : Lines(output)) {
        if (line.find(": balance ") != std::string::npos) {
            ++applied;
        } else if (line.find("the directory server stayed away") != std::string::npos ||
                   line.find("not changed: accounting error -653") != std::string::npos) {
            ++notApplied;
        }
    }
    EXPECT_GT(applied, 0);
    EXPECT_GT(notApplied, 0);
    EXPECT_EQ(applied + notApplied, kBatchUsers);
    bool told = false;
    for (const std::string& line : Lines(errors)) {
        told = told || line.find("The directory server stayed away, so the batch stopped") == 0;
    }
    EXPECT_TRUE(told) << "see " << errors;
    // The changes on their way when the server stopped ([Store] ChangesInFlight, 32 by
    // default) may have been made without their answers: their notes wait in the outbox, and
    // the next start settles them by reading the accounts.
    ASSERT_EQ(WaitFor(SpawnQuietly({tallycmd, "--ini", network.ini.string(), "deposit", "0",
                                    "." + network.users.front()},
                                   output)),
              0);
    const auto after = Balances(network.ini, network.users);
    LogTally tally = TallyLog(network.log);
    EXPECT_EQ(tally.broken, 0);
    int changed = 0;
    for (const std::string& user : network.users) {
        const long made = after.at(user) - before.at(user);
        changed += static_cast<int>(made);
        EXPECT_EQ(static_cast<long>(tally.deposits[user].size()), made) << user;
    }
    EXPECT_GE(changed, applied);
    EXPECT_LE(changed, applied + 32);
    RestoreTemp(oldTemp);
    if (!::testing::Test::HasFailure()) {
        fs::remove_all(network.options.out);
    }
}

}  // namespace
