// Load logs read in their recorded and merged forms; log merging: the worked examples, and the
// fast code against the direct rules on random logs.
#include "bundle/log_merger.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <random>

#include "bundle/load_log.h"
#include "bundle/plain_log_merger.h"
#include "support/trovex_runner.h"
#include "utility/virtual_file_system.h"

namespace {

using kam::IdString;

std::vector<IdString> ids_of(const std::vector<std::string>& paths) {
    std::vector<IdString> ids;
    for (const auto& path : paths)
        ids.push_back(kam::intern(path));
    return ids;
}

std::uint32_t bits(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

std::vector<std::string> paths_of(const std::vector<kam::IdString>& ids) {
    std::vector<std::string> paths;
    for (kam::IdString id : ids)
        paths.push_back(kam::string_of(id));
    return paths;
}

TEST(LoadLogTest, FormsReadAlike) {
    using Paths = std::vector<std::string>;
    const std::pair<std::string, Paths> cases[] = {
        // Two recording runs appended to one file read as one sequence, duplicates kept.
        {"   <open path=\"a\\b.xml\" flags=\"r\" />\r\n   <open path=\"c.ksf\" flags=\"rc\" />\r\n"
         "   <open path=\"a\\b.xml\" flags=\"r\" />\r\n",
         {"a\\b.xml", "c.ksf", "a\\b.xml"}},
        {"<open path=\"\" dir=\"/Maps//One/\"/><open/>", {"maps\\one", ""}},
        {"<close path=\"a\"/>text<open path=\"b\"/><!-- c -->", {"b"}},
        {"", {}},
        // What recording writes for any path reads back as that path in canonical form.
        {kam::VirtualFileSystem::load_log_line("Data/Units/Tank.XML", "r+") +
             kam::VirtualFileSystem::load_log_line("r&d\\<draft>\\\"quoted\" 'x'.xml", "r") +
             kam::VirtualFileSystem::load_log_line("a&amp;b.xml", "rc"),
         {"data\\units\\tank.xml", "r&d\\<draft>\\\"quoted\" 'x'.xml", "a&amp;b.xml"}},
    };
    for (const auto& [content, expected] : cases) {
        EXPECT_EQ(paths_of(kam::parse_load_log(content, "x.log")), expected) << content;
    }
}

TEST(LogMergerTest, WorkedExamples) {
    using Paths = std::vector<std::string>;
    struct Case {
        std::vector<Paths> logs;
        Paths ordering;
        float score;
    };
    const Case cases[] = {
        // One log: itself without repeats.
        {{{"m1", "m2", "m1", "m3", "m2"}}, {"m1", "m2", "m3"}, 1.0f},
        // An empty log adds nothing and does not count.
        {{{"f1", "f2", "f3"}, {}, {"f3", "f2", "f1"}}, {"f3", "f2", "f1"}, 2.0f},
        {{{}, {}}, {}, 0.0f},
        // Both neighbours match.
        {{{"g1", "g5", "g2"}, {"g1", "g2", "g3"}}, {"g1", "g5", "g2", "g3"}, 1.0f / 3},
    };
    for (const auto& c : cases) {
        kam::LoadLogs logs;
        for (const auto& log : c.logs)
            logs.push_back(ids_of(log));
        const auto ordering = kam::build_ordering(logs);
        EXPECT_EQ(ordering, ids_of(c.ordering));
        EXPECT_EQ(bits(kam::merge_score(logs, ordering)), bits(c.score))
            << kam::merge_score(logs, ordering);
    }
}

// Logs over a small alphabet (repeats, pairs of one path, the empty path that shares id 0 with
// the start and end), larger ones with runs, and ones that crowd many paths into one gap.
kam::LoadLogs random_logs(std::mt19937& random) {
    static const std::vector<IdString> alphabet = [] {
        std::vector<IdString> ids{0};
        for (int i = 0; i < 600; ++i)
            ids.push_back(kam::intern("rnd" + std::to_string(i)));
        return ids;
    }();
    if (random() % 8 == 0) {
        // Many paths crowd into one gap between two anchors, then more go between those.
        const std::size_t anchors = 4 + random() % 3;
        kam::LoadLogs result(1);
        for (std::size_t a = 0; a < anchors; ++a)
            result[0].push_back(alphabet[1 + a]);
        const std::size_t gap = random() % (anchors - 1);
        const std::size_t crowd = 40 + random() % 80;
        for (std::size_t i = 0; i < crowd; ++i) {
            // Twice, so that the anchors outnumber the neighbours added below.
            for (int twice = 0; twice < 2; ++twice) {
                result.push_back({alphabet[1 + gap], alphabet[1 + anchors + i], alphabet[2 + gap]});
            }
        }
        for (std::size_t i = 0; i < 50; ++i) {
            result.push_back({alphabet[1 + anchors + random() % crowd],
                              alphabet[1 + anchors + crowd + i],
                              alphabet[1 + anchors + random() % crowd]});
        }
        return result;
    }
    const bool large = random() % 8 == 0;
    const std::size_t logs = 1 + random() % (large ? 12 : 6);
    const std::size_t files = large ? 100 + random() % 500 : 1 + random() % 20;
    const std::size_t from = random() % 3 == 0 ? 0 : 1;
    kam::LoadLogs result(logs);
    for (auto& log : result) {
        const std::size_t length = random() % (large ? 400 : 25);
        std::size_t at = random() % files;
        for (std::size_t i = 0; i < length; ++i) {
            at = random() % 4 == 0 ? random() % files : (at + 1) % files;
            log.push_back(alphabet[from + at]);
        }
    }
    return result;
}

TEST(LogMergerTest, MatchesThePlainRulesOnRandomLogs) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 400; ++round) {
        const kam::LoadLogs logs = random_logs(random);
        SCOPED_TRACE("round " + std::to_string(round));
        const auto ordering = kam::build_ordering(logs);
        ASSERT_EQ(ordering, plain::build_ordering(logs));

        kam::OrderingSearch fast(logs, ordering);
        plain::Search slow(logs, ordering);
        ASSERT_EQ(bits(fast.best_score()), bits(slow.best_score()));
        ASSERT_EQ(bits(kam::merge_score(logs, ordering)), bits(slow.best_score()));
        std::size_t paths = 0;
        for (const auto& log : logs)
            paths += log.size();
        // The plain search rebuilds a map per candidate: fewer candidates on large sets.
        for (int attempt = 0; attempt < (paths > 500 ? 30 : 200); ++attempt) {
            ASSERT_EQ(fast.attempt(), slow.attempt()) << "attempt " << attempt;
            ASSERT_EQ(bits(fast.best_score()), bits(slow.best_score())) << "attempt " << attempt;
        }
        ASSERT_EQ(fast.best_ordering(), slow.best_ordering());
    }
}

TEST(LogMergerTest, SearchSecondsReadsTheLeadingIntegerClamped) {
    const std::pair<std::string, std::optional<std::int32_t>> cases[] = {
        {" \t+7s", 7},
        {"-3", -3},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"- 4", std::nullopt},
        {"2147483647", std::numeric_limits<std::int32_t>::max()},
        {"2147483648", std::numeric_limits<std::int32_t>::max()},
        {"-99999999999999999999", std::numeric_limits<std::int32_t>::min()},
    };
    for (const auto& [text, seconds] : cases)
        EXPECT_EQ(kam::search_seconds(text), seconds) << text;
}

TEST(LogMergerTest, MergedLogReadsBackWithItsSpecialCharacters) {
    test::TempDir dir;
    const std::string name = (dir.path() / "merged.log").string();
    const auto ordering = ids_of({"a\\b.xml", "r&d\\\"q\"<1>.xml", ""});
    kam::write_merged_log(name, ordering);
    EXPECT_EQ(
        dir.read("merged.log"),
        "\t<open path=\"a\\b.xml\"/>\r\n\t<open path=\"r&amp;d\\&quot;q&quot;&lt;1>.xml\"/>\r\n"
        "\t<open path=\"\"/>\r\n");
    EXPECT_EQ(kam::read_load_log(name), ordering);
}

}  // namespace
