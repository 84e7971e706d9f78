// The balance a record carries is the balance its own change produced: four writer processes
// deposit 1 to the same user a thousand times each, and the log's balances must be exactly the
// values start+1 ... start+4000, each once. A balance read back after the change would now and
// then be another writer's (one value twice, another never). Over the embedded store, and, under
// scripts/lib/scratch_slapd.py, over a server with its increment and with delete-and-add.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "directory/client_config.h"
#include "dirstore/store.h"
#include "tests/core/accounting/child_processes.h"
#include "tests/core/directory/ldap_server.h"
#include "tools/gendir/gendir_lib.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using tally::testing::Environment;
using tally::testing::Spawn;
using tally::testing::WaitFor;

constexpr int kWriters = 4;

// Runs the writers on `ini` (each `rounds` deposits of 1 to `user`) and checks the balances the
// log's records carry against `start`.
void ExpectEveryBalanceOnce(const fs::path& ini, const fs::path& log, const std::string& user,
                            long start, int rounds) {
    const char* writer = Environment("TALLY_DEPOSIT_WRITER");
    ASSERT_TRUE(writer) << "TALLY_DEPOSIT_WRITER must be set";
    std::vector<pid_t> running;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = Spawn({writer, ini.string(), log.string(), std::to_string(rounds), user});
        ASSERT_GT(pid, 0) << "cannot start " << writer;
        running.push_back(pid);
    }
    for (pid_t pid : running) {
        EXPECT_EQ(WaitFor(pid), 0);
    }
    std::map<long, int> seen;  // balance after -> records carrying it
    std::ifstream in(log, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        seen[std::stol(line.substr(line.rfind(',') + 1))]++;
    }
    const long total = static_cast<long>(kWriters) * rounds;
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(total));
    int wrong = 0;
    for (long balance = start + 1; balance <= start + total; ++balance) {
        auto found = seen.find(balance);
        const int count = found == seen.end() ? 0 : found->second;
        if (count != 1 && ++wrong <= 5) {
            ADD_FAILURE() << "balance " << balance << " is in " << count << " records";
        }
    }
    EXPECT_EQ(wrong, 0);
}

fs::path FreshFolder(const std::string& name) {
    const fs::path folder = fs::temp_directory_path() / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

TEST(BalanceAfter, EveryRecordCarriesTheBalanceItsChangeProducedOnTheEmbeddedStore) {
    tally::gendir::Options options;
    options.out = FreshFolder("tally-balance-after");
    options.schema = fs::path(TALLY_SOURCE_DIR) / "dirstore/schema/tallydesk.ldif";
    options.users = 1;
    std::string error;
    ASSERT_TRUE(tally::gendir::WriteNetwork(options, error)) << error;
    const std::string user = tally::gendir::UserFullName(options, 0);
    long start = 0;
    {
        tally::store::Problem problem;
        auto opened = tally::store::Store::Open(options.out / "directory", &problem);
        ASSERT_TRUE(opened) << problem.Describe();
        ASSERT_EQ(
            opened->Modify(user, {{tally::store::ChangeKind::AddValue, "Account Balance", "37"}}),
            tally::store::kOk);
        start = std::stol(opened->Find(user)->attributes.at("Account Balance").front());
    }
    ExpectEveryBalanceOnce(options.out / "tallynet.ini", options.out / "AFTER.LOG", user, start,
                           1000);
    fs::remove_all(options.out);
}

TEST(BalanceAfter, EveryRecordCarriesTheBalanceItsChangeProducedOnAServer) {
    const tally::testing::LdapServer ldap = tally::testing::LdapServer::FromEnvironment();
    if (!ldap.Available()) {
        GTEST_SKIP() << "no scratch slapd (TALLY_LDAP_URL is not set)";
    }
    // With the increment the server returns each value (post-read control); without it the
    // client writes each value itself, and retries when another writer came first.
    const struct {
        const char* name;
        const char* extra;
        int rounds;
    } kWays[] = {{"increment", "", 1000}, {"delete-add", "Increment=no\n", 250}};
    for (const auto& way : kWays) {
        SCOPED_TRACE(way.name);
        const std::string base = ldap.LoadTree(
            std::string("balance-after-") + way.name,
            "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
            "dn: cn=JSMITH,o=CORP\nobjectClass: tallyUser\ncn: JSMITH\naccountBalance: -12\n");
        const fs::path folder = FreshFolder(std::string("tally-balance-after-") + way.name);
        const fs::path ini = folder / "tallynet.ini";
        std::ofstream(ini, std::ios::binary)
            << ldap.StoreSection(base, ldap.operatorDn, way.extra)
            << "[Login]\nContext=CORP\n[Connections]\nDefault=ACCT1\n";
        ExpectEveryBalanceOnce(ini, folder / "AFTER.LOG", "JSMITH.CORP", -12, way.rounds);
        fs::remove_all(folder);
    }
}

}  // namespace
