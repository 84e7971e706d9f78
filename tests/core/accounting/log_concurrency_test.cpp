// TallyDesk writers (native, and the Windows build's under Wine when there is one) and the
// accounting server's stand-in change the same balances and append to one log at the same time:
// every record must arrive whole on its own line, none may be lost, and the balances must come
// out exact.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "dirstore/store.h"
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

std::map<std::string, long> Balances(const fs::path& store, const std::vector<std::string>& users) {
    tally::store::Problem problem;
    auto opened = tally::store::Store::Open(store, &problem);
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

}  // namespace
