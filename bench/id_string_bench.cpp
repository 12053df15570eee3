// Interning throughput for new and for repeated strings.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "utility/id_string.h"

namespace {

std::vector<std::string> make_names(int count) {
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        names.push_back("data\\units\\unit_" + std::to_string(i) + ".xml");
    return names;
}

void BM_InternNew(benchmark::State& state) {
    const auto names = make_names(100000);
    for (auto _ : state) {
        kam::IdStringTable table;
        for (const auto& name : names)
            benchmark::DoNotOptimize(table.intern(name));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
}
BENCHMARK(BM_InternNew)->Unit(benchmark::kMillisecond);

void BM_InternRepeated(benchmark::State& state) {
    const auto names = make_names(100000);
    kam::IdStringTable table;
    for (const auto& name : names)
        table.intern(name);
    for (auto _ : state) {
        for (const auto& name : names)
            benchmark::DoNotOptimize(table.intern(name));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
}
BENCHMARK(BM_InternRepeated)->Unit(benchmark::kMillisecond);

}  // namespace
