// XML parse throughput in MB/s of text, and the time to read the same tree from its binary form,
// on a file named by TROVEX_XML_BENCH_FILE (for example one made by gen_xml.py) or, without it,
// on a generated content file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "utility/archive.h"
#include "xml/xml_document.h"

namespace {

std::string generated_content() {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<world name=\"G\xF6taland\">\n";
    for (int i = 0; i < 20000; ++i) {
        text += "  <entity id=\"e" + std::to_string(i) +
                "\" class=\"prop_static\" name=\"Ch\xE2teau_gate\" team=\"2\">\n"
                "    <transform pos=\"1.5 2.25 -3.125\" rot=\"0 90 0\" scale=\"1.00\"/>\n"
                "    <!-- patrol: route through M\xFChle -->\n"
                "    <description lang=\"fr\">Le gate garde l'entr\xE9"
                "e &amp; waits.</description>\n"
                "    <script event=\"on_use\"><![CDATA[if (hp < 20) { flee(); }]]></script>\n"
                "  </entity>\n";
    }
    return text + "</world>\n";
}

std::string input() {
    const char* path = std::getenv("TROVEX_XML_BENCH_FILE");
    if (path == nullptr)
        return generated_content();
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void BM_ParseText(benchmark::State& state) {
    const std::string text = input();
    for (auto _ : state) {
        auto document = std::make_unique<kam::XMLDocument>();
        if (!document->parse_memory(text))
            state.SkipWithError("the input does not parse");
        state.PauseTiming();  // dropping the tree is not part of loading it
        document.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseText)->Unit(benchmark::kMillisecond);

// Collects what write_binary writes.
class StringStore : public kam::DataStore {
public:
    std::uint32_t write(std::uint64_t offset, const void* data, std::uint32_t count) override {
        bytes.replace(offset, count, static_cast<const char*>(data), count);
        return count;
    }
    std::uint32_t read(std::uint64_t, void*, std::uint32_t) override { return 0; }
    std::string bytes;
};

// The bytes counted are those of the text, so that the rates compare directly.
void BM_ReadBinary(benchmark::State& state) {
    const std::string text = input();
    auto store = std::make_shared<StringStore>();
    {
        kam::XMLDocument document;
        document.parse_memory(text);
        kam::Archive out("bench.xmb", store, 0, 0, true);
        document.write_binary(out);
    }
    const std::string& binary = store->bytes;
    for (auto _ : state) {
        kam::Archive archive(
            "bench.xmb", std::make_shared<kam::ConstMemoryDataStore>(binary.data(), binary.size()),
            0, static_cast<std::int64_t>(binary.size()), false);
        auto document = std::make_unique<kam::XMLDocument>();
        if (!document->read_binary(archive))
            state.SkipWithError("the binary form does not read");
        state.PauseTiming();
        document.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadBinary)->Unit(benchmark::kMillisecond);

}  // namespace
