// The directory side of filling MainList: listing the users and groups of one context of 1,000
// and 10,000 users in 4096-byte chunks. The list box's own share is timed under Wine by
// mainlist_fill_timing.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "browse/object_list.h"
#include "generated_network.h"

namespace {

class CountingList : public ObjectListSink {
  public:
    void Clear() override { entries = 0; }
    void Add(const std::string&) override { ++entries; }
    void SelectFirst() override {}
    std::size_t entries = 0;
};

void ListUsersAndGroups(benchmark::State& state) {
    GeneratedNetwork network(static_cast<std::uint32_t>(state.range(0)), TALLY_SCHEMA_FILE);
    if (!network.Ok()) {
        state.SkipWithError(network.Problem().c_str());
        return;
    }
    CountingList list;
    for (auto _ : state) {
        FillObjectList(list, kUserClass);
        benchmark::DoNotOptimize(list.entries);
    }
    state.counters["entries"] = static_cast<double>(list.entries);
    state.SetComplexityN(state.range(0));
}

BENCHMARK(ListUsersAndGroups)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
