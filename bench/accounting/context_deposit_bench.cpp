// A deposit to every user of a context (store change plus log record per user), against its
// parts: one balance change through the directory client and one log append. The per-user time
// of the whole-context deposit should stay a small multiple of the two parts, at any size.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "accounting/account_attributes.h"
#include "accounting/account_changes.h"
#include "directory/dirclient_setup.h"
#include "program/session.h"
#include "program/settings.h"
#include "tests/core/accounting/deposit_session.h"
#include "tools/gendir/gendir_lib.h"

namespace {

namespace fs = std::filesystem;

class Network {
  public:
    explicit Network(std::uint32_t users) {
        options_.out = fs::temp_directory_path() / ("tally-bench-deposit-" + std::to_string(users));
        options_.schema = TALLY_SCHEMA_FILE;
        options_.users = users;
        std::string error;
        if (!tally::gendir::WriteNetwork(options_, error) ||
            !DirClientLoadConfig((options_.out / "tallynet.ini").string().c_str())) {
            ok_ = false;
            return;
        }
        StartDepositOfOne((options_.out / "BENCH.LOG").string());
    }
    ~Network() {
        DirFreeContext(DirectoryContext);
        DirClientReset();
        fs::remove_all(options_.out);
    }
    bool Ok() const { return ok_; }
    std::string FirstUser() const { return tally::gendir::UserName(options_, 0); }

  private:
    tally::gendir::Options options_;
    bool ok_ = true;
};

RecordMoment Moment() {
    return {{1999, 7, 4}, "14:05"};
}

void BM_DepositToAllUsersOfContext(benchmark::State& state) {
    const auto users = static_cast<std::uint32_t>(state.range(0));
    Network network(users);
    if (!network.Ok()) {
        state.SkipWithError("cannot lay the network");
        return;
    }
    DirectoryAccountHost host(Moment);
    for (auto _ : state) {
        const BatchOutcome outcome = ApplyToContextUsers(DirectoryContext, host);
        if (outcome.changed != static_cast<int>(users)) {
            state.SkipWithError("not every user was changed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * users);
    state.counters["per_user"] =
        benchmark::Counter(static_cast<double>(state.iterations() * users),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DepositToAllUsersOfContext)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

// One operator's deposit to one user, as the amount dialog makes it: the log locked, the change,
// the directory's journal and then the record flushed to the disk.
void BM_DepositToOneUser(benchmark::State& state) {
    Network network(static_cast<std::uint32_t>(state.range(0)));
    const std::string user = network.FirstUser();
    DirectoryAccountHost host(Moment);
    for (auto _ : state) {
        if (ApplyToOneUser(user, host).changed != 1) {
            state.SkipWithError("the deposit failed");
            return;
        }
    }
}
BENCHMARK(BM_DepositToOneUser)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_OneBalanceChange(benchmark::State& state) {
    Network network(static_cast<std::uint32_t>(state.range(0)));
    const std::string user = network.FirstUser();
    std::int32_t balance = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(AdjustBalance(user.c_str(), 1, &balance));
    }
}
BENCHMARK(BM_OneBalanceChange)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_OneLogAppend(benchmark::State& state) {
    Network network(1);
    const std::string record = ComposeCurrentRecord(network.FirstUser(), Moment());
    for (auto _ : state) {
        benchmark::DoNotOptimize(AppendLogRecord(gSettings.LogFilePath, record));
    }
}
BENCHMARK(BM_OneLogAppend)->Unit(benchmark::kMicrosecond);

}  // namespace
