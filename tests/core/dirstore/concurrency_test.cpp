// Several writer processes add to the same balances while this process compacts the store:
// every addition must be in the final balances, exactly once.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "dirstore/store.h"
#include "store_fixture.h"

extern char** environ;

namespace tally::store {
namespace {

constexpr int kAdditionsPerWriter = 2000;
const char* const kUsers[] = {"JSMITH.SALES.CORP", "ADMIN.CORP"};

pid_t Spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    int error = posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    return error == 0 ? pid : -1;
}

bool Exited(pid_t pid, int* status) {
    pid_t done = waitpid(pid, status, WNOHANG);
    return done == pid;
}

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return (value && *value) ? value : nullptr;
}

// Runs `writers` (each: command prefix and folder as that program names it), compacting the
// store until they have all ended, and checks the balances.
void RunWriters(const std::filesystem::path& folder,
                const std::vector<std::pair<std::vector<std::string>, std::string>>& writers) {
    std::vector<pid_t> running;
    std::int64_t expected[2] = {1500, 0};
    for (std::size_t w = 0; w < writers.size(); ++w) {
        const auto& [prefix, storeFolder] = writers[w];
        int amount = static_cast<int>(w) + 1;
        std::vector<std::string> arguments = prefix;
        for (const std::string& a : {std::string("add"), storeFolder, std::string(kUsers[w % 2]),
                                     std::string("Account Balance"), std::to_string(amount),
                                     std::to_string(kAdditionsPerWriter)}) {
            arguments.push_back(a);
        }
        pid_t pid = Spawn(arguments);
        ASSERT_GT(pid, 0) << "cannot start " << arguments[0];
        running.push_back(pid);
        expected[w % 2] += std::int64_t{amount} * kAdditionsPerWriter;
    }
    Problem problem;
    auto compactor = Store::Open(folder, &problem);
    ASSERT_TRUE(compactor) << problem.Describe();
    int compactions = 0;
    std::vector<int> statuses;
    while (!running.empty()) {
        EXPECT_EQ(compactor->Compact(), kOk);
        ++compactions;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (auto it = running.begin(); it != running.end();) {
            int status = 0;
            if (Exited(*it, &status)) {
                statuses.push_back(status);
                it = running.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (int status : statuses) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer failed: " << status;
    }
    EXPECT_GT(compactions, 1);
    auto store = Store::Open(folder, &problem);
    ASSERT_TRUE(store) << problem.Describe();
    for (int u = 0; u < 2; ++u) {
        const Entry* entry = store->Find(kUsers[u]);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->attributes.at("Account Balance").front(), std::to_string(expected[u]))
            << kUsers[u];
    }
    EXPECT_TRUE(store->Warnings().empty()) << store->Warnings().front().Describe();
}

TEST(Concurrency, NativeWritersWhileCompacting) {
    const char* tool = Environment("TALLY_STORETOOL");
    ASSERT_NE(tool, nullptr) << "TALLY_STORETOOL is not set";
    testing::ScratchFolder folder("concurrent");
    testing::LayStore(folder.Path());
    std::vector<std::pair<std::vector<std::string>, std::string>> writers;
    for (int w = 0; w < 4; ++w) {
        writers.push_back({{tool}, folder.Path().string()});
    }
    RunWriters(folder.Path(), writers);
}

// Half the writers are the Windows storetool.exe under Wine: its LockFileEx and the native
// fcntl lock must exclude each other.
TEST(Concurrency, WindowsAndNativeWritersWhileCompacting) {
    const char* tool = Environment("TALLY_STORETOOL");
    const char* windowsTool = Environment("TALLY_STORETOOL_WIN");
    const char* wineRun = Environment("TALLY_WINE_RUN");
    ASSERT_NE(tool, nullptr) << "TALLY_STORETOOL is not set";
    if (!windowsTool || !std::filesystem::exists(windowsTool) || !wineRun ||
        std::system("command -v wine >/dev/null 2>&1") != 0) {
        // The full test run builds the Windows storetool first: a skip there would hide that
        // this test never ran.
        ASSERT_EQ(Environment("TALLY_REQUIRE_WINE_WRITERS"), nullptr)
            << "no Windows storetool.exe at " << (windowsTool ? windowsTool : "(unset)")
            << " or no wine, though TALLY_REQUIRE_WINE_WRITERS is set";
        GTEST_SKIP() << "no wine or no Windows storetool.exe (build the Windows build beside "
                        "this one, or set TALLY_STORETOOL_WIN)";
    }
    testing::ScratchFolder folder("mixed");
    testing::LayStore(folder.Path());
    std::string windowsFolder = "Z:" + folder.Path().string();
    std::vector<std::pair<std::vector<std::string>, std::string>> writers;
    for (int w = 0; w < 4; ++w) {
        if (w % 2 == 0) {
            writers.push_back({{tool}, folder.Path().string()});
        } else {
            writers.push_back({{wineRun, windowsTool}, windowsFolder});
        }
    }
    RunWriters(folder.Path(), writers);
}

}  // namespace
}  // namespace tally::store
