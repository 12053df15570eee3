// merge-logs on generated level logs (50 logs of 20000 paths over 60000 files): the plain merge
// and the search's candidates per second, this implementation beside the plain rules.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "../tests/bundle/plain_log_merger.h"
#include "bundle/log_merger.h"

namespace {

constexpr int log_count = 50;
constexpr std::size_t log_length = 20000;
constexpr std::uint32_t file_count = 60000;
constexpr std::uint32_t common_files = 3000;

// splitmix64: the same numbers on every machine, unlike the standard distributions.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(next() % bound); }

private:
    std::uint64_t state_;
};

// Each level opens most of the shared engine files in their usual order, then runs of
// consecutive files around its own part of the content, which overlaps its neighbours' parts,
// now and then going back to a file it opened before or to a shared one.
const kam::LoadLogs& level_logs() {
    static const kam::LoadLogs logs = [] {
        std::vector<kam::IdString> files;
        for (std::uint32_t i = 0; i < file_count; ++i) {
            files.push_back(kam::intern("content\\area" + std::to_string(i / 500) + "\\file" +
                                        std::to_string(i) + ".xml"));
        }
        Random random(20240611);
        kam::LoadLogs result(log_count);
        const std::uint32_t stride = (file_count - common_files) / log_count;
        for (int level = 0; level < log_count; ++level) {
            auto& log = result[level];
            for (std::uint32_t i = 0; i < common_files; ++i) {
                if (random.below(10) < 8)
                    log.push_back(files[i]);
            }
            const std::uint32_t centre = common_files + stride * static_cast<std::uint32_t>(level);
            while (log.size() < log_length) {
                const std::uint32_t roll = random.below(100);
                if (roll < 5) {
                    log.push_back(log[log.size() - 1 -
                                      random.below(static_cast<std::uint32_t>(
                                          std::min<std::size_t>(log.size(), 200)))]);
                    continue;
                }
                if (roll < 10) {
                    log.push_back(files[random.below(common_files)]);
                    continue;
                }
                const std::int64_t offset =
                    static_cast<std::int64_t>(random.below(4 * stride)) - 2 * stride;
                auto at = static_cast<std::uint32_t>(
                    std::clamp<std::int64_t>(centre + offset, common_files, file_count - 1));
                for (std::uint32_t run = 5 + random.below(56); run > 0 && log.size() < log_length;
                     --run) {
                    if (random.below(10) != 0)
                        log.push_back(files[at]);
                    at = std::min(at + 1, file_count - 1);
                }
            }
        }
        return result;
    }();
    return logs;
}

std::size_t total_entries(const kam::LoadLogs& logs) {
    std::size_t total = 0;
    for (const auto& log : logs)
        total += log.size();
    return total;
}

using Ordering = std::vector<kam::IdString>;

// Builds and scores the ordering; checks it against this implementation's own.
template <Ordering (*build)(const kam::LoadLogs&),
          float (*score)(const kam::LoadLogs&, const Ordering&)>
void plain_merge(benchmark::State& state) {
    const auto& logs = level_logs();
    Ordering ordering;
    float merge_score = 0;
    for (auto _ : state) {
        ordering = build(logs);
        merge_score = score(logs, ordering);
        benchmark::DoNotOptimize(merge_score);
    }
    state.counters["paths"] = static_cast<double>(total_entries(logs));
    state.counters["files"] = static_cast<double>(ordering.size());
    state.counters["score"] = merge_score;
    if (ordering != kam::build_ordering(logs))
        state.SkipWithError("the orderings differ");
}

void BM_PlainMerge(benchmark::State& state) {
    plain_merge<kam::build_ordering, kam::merge_score>(state);
}

void BM_PlainMergeReference(benchmark::State& state) {
    plain_merge<plain::build_ordering, plain::score>(state);
}

template <typename Search>
void search(benchmark::State& state) {
    const auto& logs = level_logs();
    Search search(logs, kam::build_ordering(logs));
    int improvements = 0;
    for (auto _ : state)
        improvements += search.attempt();
    state.counters["candidates/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["entries/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * total_entries(logs)), benchmark::Counter::kIsRate);
    state.counters["improved"] = improvements;
    state.counters["best"] = search.best_score();
}

void BM_Search(benchmark::State& state) {
    search<kam::OrderingSearch>(state);
}

void BM_SearchReference(benchmark::State& state) {
    search<plain::Search>(state);
}

}  // namespace

BENCHMARK(BM_PlainMerge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainMergeReference)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Search)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_SearchReference)->Unit(benchmark::kMillisecond)->MinTime(2.0);
