// The directory client over a slapd against its parts, in one run, as ratios
// (scripts/bench-ldap.sh lays a 10,000-user context and starts the server):
//   - one balance change through the client against ldapmodify making the same increment
//     (one ldapmodify for all changes, so that neither pays for connecting per change; and one
//     ldapmodify per change, as a site's scripts would run it);
//   - listing the 10,000-user context in the program's 4096-byte chunks (Paged Results below);
//   - the window's two lists: MainList of the context (users, then groups) and the Select
//     Context list at the context's parent, through FillObjectList as the window fills them;
//   - a deposit to all 10,000 users of the context (store plus log) against 10,000 times one
//     change through the client plus one log append.
//
//   ldap_bench NETWORK   (under scripts/lib/scratch_slapd.py, whose environment names the server)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "accounting/account_batch.h"
#include "accounting/account_changes.h"
#include "browse/context_navigation.h"
#include "browse/object_list.h"
#include "directory/dirclient.h"
#include "directory/dirclient_setup.h"
#include "platform/files.h"
#include "program/session.h"
#include "tests/core/accounting/deposit_session.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kChanges = 2000;
constexpr int kSpawnedChanges = 100;

const char* Env(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        std::fprintf(stderr, "ldap_bench: %s is not set (run under scratch_slapd.py)\n", name);
        std::exit(2);
    }
    return value;
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Runs a program with its output thrown away; its exit status.
int Run(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct BufferFree {
    void operator()(DirBuffer* buffer) const { DirFreeBuffer(buffer); }
};

DirStatus AddToBalance(const char* user, std::int32_t amount) {
    DirBuffer* raw = nullptr;
    DirAllocBuffer(DIR_BUFFER_SIZE, &raw);
    std::unique_ptr<DirBuffer, BufferFree> request(raw);
    DirInitBuffer(DirectoryContext, DIR_REQ_MODIFY, request.get());
    DirPutChange(DirectoryContext, request.get(), DIR_CHANGE_ADD_VALUE, "Account Balance");
    DirPutAttrValue(DirectoryContext, request.get(), SYN_COUNTER, &amount);
    return DirModifyObject(DirectoryContext, user, nullptr, 0, request.get());
}

std::uint32_t ListUsers() {
    DirBuffer* raw = nullptr;
    DirAllocBuffer(DIR_BUFFER_SIZE, &raw);
    std::unique_ptr<DirBuffer, BufferFree> result(raw);
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    std::uint32_t total = 0;
    do {
        if (DirListByClass(DirectoryContext, "", "User", nullptr, &handle, result.get()) !=
            DIR_OK) {
            return 0;
        }
        std::uint32_t count = 0;
        DirGetObjectCount(DirectoryContext, result.get(), &count);
        total += count;
    } while (handle != DIR_NO_MORE_ITERATIONS);
    return total;
}

// The entries of a list without a window.
class CountingSink final : public ObjectListSink {
  public:
    void Clear() override { entries = 0; }
    void Add(const std::string&) override { ++entries; }
    void SelectFirst() override {}
    std::size_t entries = 0;
};

// The best of three fills of a list of `className` in the current context: seconds, entries.
std::pair<double, std::size_t> TimeFill(const char* className) {
    double best = 1e9;
    CountingSink sink;
    for (int round = 0; round < 3; ++round) {
        const Clock::time_point start = Clock::now();
        if (FillObjectList(sink, className) != DIR_OK) {
            std::fprintf(stderr, "ldap_bench: %s\n", ListingFailureMessage(DIR_OK, 0).c_str());
            std::exit(1);
        }
        best = std::min(best, Seconds(start));
    }
    return {best, sink.entries};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ldap_bench NETWORK\n");
        return 2;
    }
    const fs::path network = argv[1];
    const std::string url = Env("TALLY_LDAP_URL");
    const std::string suffix = Env("TALLY_LDAP_SUFFIX");
    const std::string operatorDn = Env("TALLY_LDAP_OPERATOR_DN");
    const std::string passwordFile = Env("TALLY_LDAP_PASSWORD_FILE");

    // gendir's tallynet.ini with the server as its [Store], without its [Login] User.
    std::string others;
    {
        std::ifstream in(network / "tallynet.ini");
        bool inStore = false;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.front() == '[') {
                inStore = line.rfind("[Store]", 0) == 0;
            }
            // The operator is whoever the server says is bound; gendir's User names another.
            if (!inStore && line.rfind("User=", 0) != 0) {
                others += line + "\n";
            }
        }
    }
    const fs::path ini = network / "tallynet-ldap.ini";
    std::ofstream(ini) << "[Store]\nKind=ldap\nUrl=" << url << "\nBase=" << suffix
                       << "\nBindDN=" << operatorDn << "\nPasswordFile=" << passwordFile << "\n"
                       << others;
    // ldapmodify takes the whole file as the password: a copy without the line end.
    const fs::path toolPassword = network / "ldap-password";
    {
        std::ifstream in(passwordFile);
        std::string password;
        std::getline(in, password);
        std::ofstream(toolPassword) << password;
        fs::permissions(toolPassword, fs::perms::owner_read | fs::perms::owner_write);
    }
    if (!DirClientLoadConfig(ini.string().c_str()) || DirIsLoggedIn() != 1) {
        std::fprintf(stderr, "ldap_bench: %s\n", DirClientLastProblem());
        return 1;
    }
    const fs::path log = network / "BENCH.LOG";
    StartDepositOfOne(log.string());
    std::printf("server %s, context %s\n\n", url.c_str(), CurrentContextName.c_str());

    // 1. One balance change through the client, against ldapmodify's increment.
    Clock::time_point start = Clock::now();
    for (int i = 0; i < kChanges; ++i) {
        if (AddToBalance("U00001", 1) != DIR_OK) {
            std::fprintf(stderr, "ldap_bench: change failed: %s\n", DirClientLastProblem());
            return 1;
        }
    }
    const double client = Seconds(start) / kChanges;
    const std::string dn = "cn=U00001,ou=SALES,o=CORP," + suffix;
    const fs::path ldif = network / "increments.ldif";
    {
        std::ofstream out(ldif);
        for (int i = 0; i < kChanges; ++i) {
            out << "dn: " << dn
                << "\nchangetype: modify\nincrement: accountBalance\naccountBalance: 1\n-\n\n";
        }
    }
    const std::vector<std::string> ldapmodify = {
        "ldapmodify", "-x", "-H", url, "-D", operatorDn, "-y", toolPassword.string(), "-f"};
    std::vector<std::string> all = ldapmodify;
    all.push_back(ldif.string());
    start = Clock::now();
    if (Run(all) != 0) {
        std::fprintf(stderr, "ldap_bench: ldapmodify failed\n");
        return 1;
    }
    const double batched = Seconds(start) / kChanges;
    const fs::path one = network / "increment.ldif";
    std::ofstream(one) << "dn: " << dn
                       << "\nchangetype: modify\nincrement: accountBalance\naccountBalance: 1\n-\n";
    std::vector<std::string> single = ldapmodify;
    single.push_back(one.string());
    start = Clock::now();
    for (int i = 0; i < kSpawnedChanges; ++i) {
        if (Run(single) != 0) {
            std::fprintf(stderr, "ldap_bench: ldapmodify failed\n");
            return 1;
        }
    }
    const double spawned = Seconds(start) / kSpawnedChanges;
    std::printf("one balance change\n");
    std::printf("  through the client (%s)       %9.1f us\n",
                DirClientConfig().ldap.increment ? "increment" : "delete-and-add", client * 1e6);
    std::printf("  ldapmodify, %d in one run          %9.1f us   client/ldapmodify %.2f\n",
                kChanges, batched * 1e6, client / batched);
    std::printf("  ldapmodify, one run per change     %9.1f us   client/ldapmodify %.2f\n\n",
                spawned * 1e6, client / spawned);

    // 2. Listing the context.
    double best = 1e9;
    std::uint32_t listed = 0;
    for (int round = 0; round < 3; ++round) {
        start = Clock::now();
        listed = ListUsers();
        best = std::min(best, Seconds(start));
    }
    std::printf("listing the context: %u users in %.1f ms (%.1f us per user)\n\n", listed,
                best * 1e3, best * 1e6 / listed);

    // 3. The window's lists: MainList at the start, and Select Context opened at the parent.
    const std::string context = CurrentContextName;
    const auto [mainList, mainEntries] = TimeFill(kUserClass);
    MoveToContextOfEntry(kParentEntry);
    const std::string parent = CurrentContextName;
    const auto [select, selectEntries] = TimeFill(kUnitClass);
    MoveToContextOfEntry(context.substr(0, context.find('.')));
    if (CurrentContextName != context) {
        std::fprintf(stderr, "ldap_bench: could not go back to %s\n", context.c_str());
        return 1;
    }
    std::printf("MainList of %s: %zu entries in %.1f ms\n", context.c_str(), mainEntries,
                mainList * 1e3);
    std::printf("Select Context at %s: %zu entries in %.1f ms   (goal 300 ms: %.2f of it)\n\n",
                parent.c_str(), selectEntries, select * 1e3, select / 0.3);

    // 4. A deposit to every user of the context, against its parts.
    DirectoryAccountHost host([] { return RecordMoment{{1999, 7, 4}, "14:05"}; });
    start = Clock::now();
    const BatchOutcome outcome = ApplyToContextUsers(DirectoryContext, host);
    const double whole = Seconds(start);
    if (!outcome.failed.empty() || outcome.changed == 0) {
        std::fprintf(stderr, "ldap_bench: deposit: %s\n", BatchProblemMessage(outcome).c_str());
        return 1;
    }
    const std::string record =
        "\"U00001.SALES.CORP\",\"Deposit\",\"ADMIN.CORP\",\"\",\"ACCT1\",\"\",\"\","
        "\"07/04/1999\",\"14:05\",,,1,1\r\n";
    start = Clock::now();
    for (int i = 0; i < outcome.changed; ++i) {
        std::string error;
        if (AddToBalance("U00001", 1) != DIR_OK ||
            !tally::platform::AppendUnderLock(log, log, record, &error)) {
            std::fprintf(stderr, "ldap_bench: part failed: %s %s\n", DirClientLastProblem(),
                         error.c_str());
            return 1;
        }
    }
    const double parts = Seconds(start);
    std::printf("deposit to all %d users (store plus log)  %8.2f s  (%.1f us per user)\n",
                outcome.changed, whole, whole * 1e6 / outcome.changed);
    std::printf("%d x (one change + one append)            %8.2f s  (%.1f us per user)\n",
                outcome.changed, parts, parts * 1e6 / outcome.changed);
    std::printf("  whole/parts %.2f\n", whole / parts);
    DirClientReset();
    return 0;
}
