// merge-logs as a user runs it: progress, the merged log, the search, failures.
#include <gtest/gtest.h>

#include <tuple>

#include "support/trovex_runner.h"

namespace {

std::string merged(const std::vector<std::string>& paths) {
    std::string text;
    for (const auto& path : paths)
        text += "\t<open path=\"" + path + "\"/>\r\n";
    return text;
}

TEST(MergeLogsTest, WritesTheMergedLogOrLeavesTheOldOne) {
    test::TempDir dir;
    dir.write("a.log", test::recorded_log({"f1", "F2", "f3"}));
    dir.write("empty.log", "");
    dir.write("b.log", merged({"f1", "f4", "f3"}));
    dir.write("bad.log", "<open path=\"x\"");
    const std::string old_log = "an older merged log", new_log = merged({"f1", "f4", "f2", "f3"});
    const std::string merging =
        "Parsing logs...\n"
        "Parsing log a.log... done (3 paths)\n"
        "Parsing log empty.log... done (0 paths)\n"
        "Parsing log b.log... done (3 paths)\n"
        "Finding the largest log... done\n"
        "Filling ordering with largest log contents... done\n"
        "Inserting other logs... **\n"
        "Merge score: 0.333333\n"
        "Writing merged log... done\n";
    const std::string usage =
        "A target log and at least one source log must be specified. "
        "Supply flag -h for help.\n";
    // An unknown flag is reported and the merge goes on, but the run fails.
    const std::tuple<std::vector<std::string>, std::string, int, std::string> cases[] = {
        {{"-v", "merge-logs", "-q", "out.log", "a.log", "empty.log", "b.log"},
         test::framed("Unknown flag -q use -h for help") + merging,
         1,
         new_log},
        {{"-v", "merge-logs", "out.log", "a.log", "empty.log", "b.log", "-g", "0"},
         merging,
         0,
         new_log},
        {{"-v", "merge-logs", "out.log", "a.log", "bad.log"},
         "Parsing logs...\nParsing log a.log... done (3 paths)\n" +
             test::framed("Could not load xml: bad.log"),
         1,
         old_log},
        {{"merge-logs", "-g", "5", "out.log"}, usage, 1, old_log},
    };
    for (const auto& [arguments, output, exit_code, log] : cases) {
        dir.write("out.log", old_log);
        const auto result = test::run_trovex(dir.path(), arguments);
        EXPECT_EQ(result.output, test::banner() + output);
        EXPECT_EQ(result.exit_code, exit_code);
        EXPECT_EQ(dir.read("out.log"), log);
        EXPECT_FALSE(dir.exists("out.log.trovex-tmp1"));
    }
}

TEST(MergeLogsTest, SearchReportsImprovementsAndRepeatsItsResult) {
    test::TempDir dir;
    // Four runs through twelve files, wandering off now and then.
    std::uint32_t state = 7;
    std::vector<std::string> names;
    for (int log = 0; log < 4; ++log) {
        std::vector<std::string> paths;
        std::uint32_t at = 0;
        for (int i = 0; i < 10; ++i) {
            state = state * 1103515245u + 12345u;
            at = (state >> 16) % 3 == 0 ? (state >> 20) % 12 : (at + 1) % 12;
            paths.push_back("lvl\\f" + std::to_string(at) + ".xml");
        }
        names.push_back("l" + std::to_string(log) + ".log");
        dir.write(names.back(), test::recorded_log(paths));
    }
    std::vector<std::string> arguments{"-vv", "merge-logs", "-g", "1", "out.log"};
    arguments.insert(arguments.end(), names.begin(), names.end());
    const auto first = test::run_trovex(dir.path(), arguments);
    const std::string first_log = dir.read("out.log");
    test::run_trovex(dir.path(), arguments);
    EXPECT_EQ(dir.read("out.log"), first_log);
    EXPECT_EQ(first.exit_code, 0);

    // Improvements on the detail stream between dots, the last of them once more on the verbose
    // one.
    const std::string& output = first.output;
    ASSERT_NE(output.find("Inserting other logs... ***\n"), std::string::npos) << output;
    const std::size_t last = output.rfind("\nMerge score: ") + 1;
    ASSERT_NE(last, 0u) << output;
    const std::string best = output.substr(last, output.find('\n', last) + 1 - last);
    const std::string tail = output.substr(last + best.size());
    EXPECT_EQ(tail, std::string(tail.find_first_not_of('.'), '.') + best +
                        "Writing merged log... done\n");

    arguments.erase(arguments.begin() + 2, arguments.begin() + 4);
    // Without the search the merged log is the plain ordering, which the search improved on.
    test::run_trovex(dir.path(), arguments);
    EXPECT_NE(dir.read("out.log"), first_log);
}

}  // namespace
