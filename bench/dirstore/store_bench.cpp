// The store's costs for 1,000 and 10,000 users in one context. One change (a counter addition)
// must cost the same whatever the store's size: it reads only the journal's new tail and
// appends one record.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

#include "dirstore/store.h"

namespace {

using tally::store::Change;
using tally::store::ChangeKind;
using tally::store::Store;

std::string UserName(int i) {
    return "USER" + std::to_string(100000 + i);
}

// A store folder with `users` users in SALES.CORP, made once per size and kept for the run.
class GeneratedStore {
  public:
    explicit GeneratedStore(int users) {
        folder_ = std::filesystem::temp_directory_path() /
                  ("tally-bench-" + std::to_string(users) + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        std::ifstream schema(TALLY_SCHEMA_FILE, std::ios::binary);
        std::ofstream(folder_ / "schema.ldif", std::ios::binary) << schema.rdbuf();
        std::ostringstream tree;
        tree << "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
             << "dn: ou=SALES,o=CORP\nobjectClass: organizationalUnit\nou: SALES\n\n";
        for (int i = 0; i < users; ++i) {
            tree << "dn: cn=" << UserName(i)
                 << ",ou=SALES,o=CORP\nobjectClass: tallyUser\ncn: " << UserName(i)
                 << "\nfullName: Generated User " << i
                 << "\naccountBalance: " << (i * 37 % 5000) - 1000
                 << "\nminimumAccountBalance: -500\nallowUnlimitedCredit: FALSE\n\n";
        }
        std::ofstream(folder_ / "directory.ldif", std::ios::binary) << tree.str();
        std::ofstream(folder_ / "journal.ldif", std::ios::binary);
    }
    ~GeneratedStore() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    const std::filesystem::path& Folder() const { return folder_; }

  private:
    std::filesystem::path folder_;
};

std::unique_ptr<Store> OpenStore(const GeneratedStore& generated, benchmark::State& state) {
    tally::store::Problem problem;
    auto store = Store::Open(generated.Folder(), &problem);
    if (!store) {
        state.SkipWithError(problem.Describe().c_str());
    }
    return store;
}

void BM_ListContext(benchmark::State& state) {
    GeneratedStore generated(static_cast<int>(state.range(0)));
    auto store = OpenStore(generated, state);
    if (!store) {
        return;
    }
    for (auto _ : state) {
        auto children = store->Children("SALES.CORP");
        benchmark::DoNotOptimize(children.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ReadOneAttribute(benchmark::State& state) {
    GeneratedStore generated(static_cast<int>(state.range(0)));
    auto store = OpenStore(generated, state);
    if (!store) {
        return;
    }
    std::string name = UserName(static_cast<int>(state.range(0)) / 2) + ".SALES.CORP";
    for (auto _ : state) {
        store->Refresh();
        const auto* entry = store->Find(name);
        auto found = entry->attributes.find("Account Balance");
        benchmark::DoNotOptimize(found->second.front().data());
    }
}

void BM_CounterAddition(benchmark::State& state) {
    GeneratedStore generated(static_cast<int>(state.range(0)));
    auto store = OpenStore(generated, state);
    if (!store) {
        return;
    }
    std::string name = UserName(static_cast<int>(state.range(0)) / 2) + ".SALES.CORP";
    const std::vector<Change> change = {{ChangeKind::AddValue, "Account Balance", "1"}};
    for (auto _ : state) {
        if (store->Modify(name, change) != tally::store::kOk) {
            state.SkipWithError("modify failed");
            break;
        }
    }
}

// One counter addition made durable at once: the flush a caller pays when it cannot group its
// changes.
void BM_CounterAdditionWithSync(benchmark::State& state) {
    GeneratedStore generated(static_cast<int>(state.range(0)));
    auto store = OpenStore(generated, state);
    if (!store) {
        return;
    }
    std::string name = UserName(static_cast<int>(state.range(0)) / 2) + ".SALES.CORP";
    const std::vector<Change> change = {{ChangeKind::AddValue, "Account Balance", "1"}};
    for (auto _ : state) {
        if (store->Modify(name, change) != tally::store::kOk ||
            store->Sync() != tally::store::kOk) {
            state.SkipWithError("modify or sync failed");
            break;
        }
    }
}

void BM_Compaction(benchmark::State& state) {
    GeneratedStore generated(static_cast<int>(state.range(0)));
    auto store = OpenStore(generated, state);
    if (!store) {
        return;
    }
    std::string name = UserName(0) + ".SALES.CORP";
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < 100; ++i) {
            store->Modify(name, {{ChangeKind::AddValue, "Account Balance", "1"}});
        }
        state.ResumeTiming();
        if (store->Compact() != tally::store::kOk) {
            state.SkipWithError("compaction failed");
            break;
        }
    }
}

void BM_Open(benchmark::State& state) {
    GeneratedStore generated(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto store = OpenStore(generated, state);
        benchmark::DoNotOptimize(store.get());
    }
}

}  // namespace

BENCHMARK(BM_ListContext)->Arg(1000)->Arg(10000);
BENCHMARK(BM_ReadOneAttribute)->Arg(1000)->Arg(10000);
BENCHMARK(BM_CounterAddition)->Arg(1000)->Arg(10000);
BENCHMARK(BM_CounterAdditionWithSync)->Arg(1000)->Arg(10000);
BENCHMARK(BM_Compaction)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Open)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
