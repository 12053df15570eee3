// The entry sequence as a user sees it: banner, usage, unknown commands, -b and -w.
#include <gtest/gtest.h>

#include <regex>

#include "support/trovex_runner.h"

namespace {

const char* const usage =
    "trovex [global-flags] command [command-flags]\n"
    "\n"
    "Global flags:\n"
    "\n"
    "    -h, --help             Print this help text.\n"
    "    -b, --break-on-error   Break on error.\n"
    "    -v, --verbose          Print more detailed information.\n"
    "    -w, --wait-when-done   Wait when compile is done.\n"
    "    -j, --jobs N           Run N jobs at once (default: 1).\n"
    "        --version          Print the version and exit.\n"
    "\n"
    "Commands:\n"
    "\n"
    "    compile-scripts        Compile script files.\n"
    "    compile-xml            Compile xml files.\n"
    "    merge-logs             Merge load logs.\n"
    "    bundle                 Create file bundle from file log.\n"
    "    quick-bundle           Create file bundle from directory.\n"
    "    make-patch             Compare two bundles and create a patch.\n"
    "    list                   List contents of a bundle.\n"
    "    extract                Extract contents from a bundle.\n"
    "\n"
    "Use:\n"
    "\n"
    "    trovex [command] -h\n"
    "\n"
    "to get help for individual commands.\n";

TEST(FrontEndTest, UsageIsPrintedWithExitZero) {
    test::TempDir dir;
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {}, {"-h"}, {"--help"}, {"-v", "-h"}, {"-w"}, {"-vb"}}) {
        const auto result = test::run_trovex(dir.path(), arguments, "never read\n");
        EXPECT_EQ(result.output, test::banner() + usage);
        EXPECT_EQ(result.exit_code, 0);
    }
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

TEST(FrontEndTest, UnknownCommandIsFramedWithExitOne) {
    test::TempDir dir;
    const std::string expected =
        test::banner() + test::framed("Unknown command frobnicate -- use -h for help.");
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"frobnicate"}, {"-b", "frobnicate"}, {"frobnicate", "-v"}}) {
        const auto result = test::run_trovex(dir.path(), arguments);
        EXPECT_EQ(result.output, expected);
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

TEST(FrontEndTest, CommandWordsAreCaseSensitive) {
    test::TempDir dir;
    const auto result = test::run_trovex(dir.path(), {"LIST"});
    EXPECT_EQ(result.output, test::banner() + test::framed("Unknown command LIST -- use -h for help."));
    EXPECT_EQ(result.exit_code, 1);
}

}  // namespace
