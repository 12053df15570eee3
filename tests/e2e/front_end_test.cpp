// The entry sequence as a user sees it: banner, usage, unknown commands and missing arguments, -b
// and -w.
#include <gtest/gtest.h>

#include <regex>
#include <tuple>

#include "support/trovex_runner.h"

namespace {

// Each usage text is pinned by its first line only: the rest is the help text, not behaviour.
TEST(FrontEndTest, EveryCommandPrintsItsUsageAndTheVersion) {
    test::TempDir dir;
    const std::tuple<std::vector<std::string>, std::string, int> cases[] = {
        {{}, "trovex [global-flags] command [command-flags]", 0},
        {{"-v", "-h"}, "trovex [global-flags] command [command-flags]", 0},
        {{"--help"}, "trovex [global-flags] command [command-flags]", 0},
        {{"-vb"}, "trovex [global-flags] command [command-flags]", 0},
        {{"compile-scripts", "--help"}, "trovex compile-scripts [options] file1 [file2] ... ", 1},
        {{"compile-xml"}, "trovex compile-xml [options] file1 [file2] ... ", 1},
        {{"merge-logs"}, "trovex merge-logs merged_log log1 [log2] ... ", 1},
        {{"bundle", "-h", "-r", "x"}, "trovex bundle [options] file_log1 [file_log2] ...", 1},
        {{"quick-bundle", "--help"}, "trovex quick-bundle [options]", 1},
        {{"list", "-h"}, "trovex list [options] bundle [subdir]", 1},
        {{"extract", "--help"}, "trovex extract [options] bundle [subdir] [targetpath]", 1},
        {{"make-patch"}, "trovex make-patch pre-bundle post-bundle dest-bundle", 1},
    };
    for (const auto& [arguments, first_line, exit_code] : cases) {
        const auto result = test::run_trovex(dir.path(), arguments, "never read\n");
        const std::string shown =
            result.output.substr(0, result.output.find('\n', test::banner().size()));
        EXPECT_EQ(shown, test::banner() + first_line) << arguments.size();
        EXPECT_EQ(result.exit_code, exit_code) << first_line;
    }
    EXPECT_TRUE(test::snapshot(dir.path()).empty());
    // The version is one line without the banner; gtest's own regex on Windows has no groups.
    const std::regex version(R"(trovex \d+\.\d+\.\d+( \(git [0-9a-f]+\))?\n)");
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"--version"}, {"-v", "--version"}}) {
        const auto result = test::run_trovex(dir.path(), arguments);
        EXPECT_TRUE(std::regex_match(result.output, version)) << result.output;
        EXPECT_EQ(result.exit_code, 0);
    }
}

// Command words are case-sensitive, and a word is a global flag only with its dash; -w waits for
// return after the error. Missing arguments end a command with what is missing, framed twice.
TEST(FrontEndTest, UnknownCommandsAndMissingArgumentsAreFramedWithExitOne) {
    test::TempDir dir;
    const auto unknown = [](const std::string& name) {
        return test::framed("Unknown command " + name + " -- use -h for help.");
    };
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"frobnicate"}, unknown("frobnicate")},
        {{"LIST"}, unknown("LIST")},
        {{"vb", "--version"}, unknown("vb")},  // global flags without their dash: no command
        {{"-w", "frobnicate"},
         unknown("frobnicate") + std::string(60, '-') + "\nPress return to exit.\n"},
        {{"make-patch", "pre.bundle", "-x"},
         test::framed("No destination-bundle file specified.") + test::framed("No destination")},
        {{"make-patch", "pre.bundle"},
         test::framed("No post-bundle file specified.") + test::framed("No post-bundle")},
        {{"bundle", "a.log"},
         test::framed("No root directory specified.") + test::framed("No root")},
        {{"bundle", "-r", "missing", "a.log"},
         test::framed("The root " + test::canonical((dir.path() / "missing").string()) +
                      " is not a directory")},
    };
    for (const auto& [arguments, output] : cases) {
        const auto result = test::run_trovex(dir.path(), arguments, "\n");
        EXPECT_EQ(result.output, test::banner() + output);
        EXPECT_EQ(result.exit_code, 1);
    }
    EXPECT_TRUE(test::snapshot(dir.path()).empty());
}

}  // namespace
