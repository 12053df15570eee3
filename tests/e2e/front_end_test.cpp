// The entry sequence as a user sees it: banner, usage, unknown commands, -b and -w.
#include <gtest/gtest.h>

#include <regex>

#include "support/trovex_runner.h"

namespace {

// Each usage text is pinned by its first line only: the rest is the help text, not behaviour.
TEST(FrontEndTest, EveryCommandPrintsItsUsage) {
    test::TempDir dir;
    const struct {
        std::vector<std::string> arguments;
        std::string first_line;
        int exit_code;
    } cases[] = {
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
    for (const auto& c : cases) {
        const auto result = test::run_trovex(dir.path(), c.arguments, "never read\n");
        const std::string shown = result.output.substr(0, result.output.find('\n', test::banner().size()));
        EXPECT_EQ(shown, test::banner() + c.first_line) << c.arguments.size();
        EXPECT_EQ(result.exit_code, c.exit_code) << c.first_line;
    }
    EXPECT_TRUE(test::snapshot(dir.path()).empty());
}

TEST(FrontEndTest, VersionIsOneLineWithoutBannerAndExitZero) {
    test::TempDir dir;
    // gtest's own regex on Windows has no groups.
    const std::regex version(R"(trovex \d+\.\d+\.\d+( \(git [0-9a-f]+\))?\n)");
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"--version"}, {"-v", "--version"}}) {
        const auto result = test::run_trovex(dir.path(), arguments);
        EXPECT_TRUE(std::regex_match(result.output, version)) << result.output;
        EXPECT_EQ(result.exit_code, 0);
    }
}

// Command words are case-sensitive, and a word is a global flag only with its dash.
TEST(FrontEndTest, UnknownCommandIsFramedWithExitOne) {
    test::TempDir dir;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"frobnicate"}, "frobnicate"},
        {{"-b", "frobnicate"}, "frobnicate"},
        {{"frobnicate", "-v"}, "frobnicate"},
        {{"LIST"}, "LIST"},
        {{"vb", "--version"}, "vb"},  // global flags without their dash: no command before it
    };
    for (const auto& [arguments, name] : cases) {
        const auto result = test::run_trovex(dir.path(), arguments);
        EXPECT_EQ(result.output,
                  test::banner() + test::framed("Unknown command " + name + " -- use -h for help."));
        EXPECT_EQ(result.exit_code, 1);
    }
}

TEST(FrontEndTest, WaitPromptFollowsTheError) {
    test::TempDir dir;
    const auto result = test::run_trovex(dir.path(), {"-w", "frobnicate"}, "\n");
    EXPECT_EQ(result.output, test::banner() +
                                 test::framed("Unknown command frobnicate -- use -h for help.") +
                                 std::string(60, '-') + "\nPress return to exit.\n");
    EXPECT_EQ(result.exit_code, 1);
}

}  // namespace
