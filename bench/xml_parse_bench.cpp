// Text-parse throughput of the XML parser in MB/s, on a file named by TROVEX_XML_BENCH_FILE
// (for example a file from bench/gen_xml.py) or, without it, on a generated content file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "xml/xml_document.h"

namespace {

std::string generated_content() {
    std::string text = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<world name=\"G\xF6taland\">\n";
    for (int i = 0; i < 20000; ++i) {
        text += "  <entity id=\"e" + std::to_string(i) +
                "\" class=\"prop_static\" name=\"Ch\xE2teau_gate\" team=\"2\">\n"
                "    <transform pos=\"1.5 2.25 -3.125\" rot=\"0 90 0\" scale=\"1.00\"/>\n"
                "    <!-- patrol: route through M\xFChle -->\n"
                "    <description lang=\"fr\">Le gate garde l'entr\xE9""e &amp; waits.</description>\n"
                "    <script event=\"on_use\"><![CDATA[if (hp < 20) { flee(); }]]></script>\n"
                "  </entity>\n";
    }
    return text + "</world>\n";
}

std::string input() {
    const char* path = std::getenv("TROVEX_XML_BENCH_FILE");
    if (path == nullptr) return generated_content();
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void BM_ParseText(benchmark::State& state) {
    const std::string text = input();
    for (auto _ : state) {
        kam::XMLDocument document;
        if (!document.parse_memory(text)) state.SkipWithError("the input does not parse");
        benchmark::DoNotOptimize(document.root().num_children());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseText)->Unit(benchmark::kMillisecond);

}  // namespace
