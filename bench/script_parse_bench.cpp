// Scanning and parsing throughput of the script compiler, in source lines per second.
// The source is the file named by TROVEX_BENCH_KSF (see script_parse_vs_luac.sh); each round
// reads it from disk and parses it, as a compile does.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "script/parser.h"

namespace {

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void BM_ScanAndParse(benchmark::State& state) {
    const char* path = std::getenv("TROVEX_BENCH_KSF");
    if (path == nullptr) {
        state.SkipWithError("set TROVEX_BENCH_KSF to a .ksf file");
        return;
    }
    const auto lines =
        static_cast<int64_t>(std::count(std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()),
                                        std::istreambuf_iterator<char>(), '\n'));
    for (auto _ : state) {
        kam::script::StringScanner scanner(read_file(path), path);
        kam::script::Parser parser(scanner);
        if (!parser.parse()) {
            state.SkipWithError(parser.error_text().c_str());
            return;
        }
        benchmark::DoNotOptimize(parser.instruction_count());
    }
    state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_ScanAndParse)->Unit(benchmark::kMillisecond);

}  // namespace
