// Everyday mistakes, run as a user would: each fails with a message naming what went wrong and
// leaves every file it was not asked to write as it was; pipes where files are expected; and the
// entry sequence's usage, version and unknown commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <tuple>

#include "bundle/bundle_bytes.h"
#include "e2e/packed_files.h"
#include "support/platform.h"
#include "support/run_program.h"
#include "support/trovex_runner.h"

namespace {

namespace fs = std::filesystem;

using Files = std::vector<std::pair<std::string, std::string>>;

const std::string good_xml = "<game><level name=\"forest\"/></game>";
const std::string broken_xml = "<game>\n<level>\n</game>";
const Files good = {{"c/a.xml", good_xml}};
const Files root_a = {{"root/a.txt", "a"}};
const Files two_logs = {{"a.log", test::recorded_log({"f1"})},
                        {"b.log", test::recorded_log({"f2"})}};
const std::string empty_bundle = test::Bytes().header(2).end().data;
const std::string bundle_of_a = test::Bytes().header(2).file("a.txt", 0, 0).end().data;

struct Row {
    const char* item;
    Files files;
    std::vector<std::string> arguments;
    int exit_code;
    std::string message;                 // found in the output
    std::set<std::string> written = {};  // the only files that may be new or changed afterwards
};

const Row rows[] = {
    // Failures before any work: the exit status says so.
    {"value keeps its letters",
     good,
     {"quick-bundle", "-r", "c", "-Dbvx.bundle"},
     0,
     "",
     {"bvx.bundle", "bvx.bundle.log"}},
    {"log taken as -g value",
     two_logs,
     {"merge-logs", "-g", "m.log", "a.log", "b.log"},
     1,
     "-g takes a number of seconds, not m.log"},
    {"merged log is a source",
     two_logs,
     {"merge-logs", "./a.log", "b.log", "a.log"},
     1,
     "The merged log ./a.log is one of the source logs"},
    {"jobs not a number",
     good,
     {"-j", "x", "compile-xml", "-r", "c", "c/a.xml"},
     1,
     "-j takes a number of jobs from 1 to 256, not x"},
    // A failed compile keeps the old binary form: older than the edited text, it stays stale.
    {"xml that does not parse",
     {{"c/data/game.xml", broken_xml}, {"c/data/game.xmb", "old"}},
     {"-v", "-b", "compile-xml", "-r", "c", "c/data/game.xml"},
     1,
     "ERROR: data\\game.xml (3): Identifiers must match"},
    {"xml in a directory that does not parse",
     {{"c/a.xml", good_xml}, {"c/b.xml", broken_xml}},
     {"compile-xml", "c"},
     1,
     "ERROR: c\\b.xml (3): Identifiers must match",
     {"c/a.xmb"}},
    {"xml with an unknown entity",
     {{"a.xml", "<a>\n&nope;</a>"}},
     {"compile-xml", "a.xml"},
     1,
     "a.xml (2): Unknown entity &nope;"},
    // game.xml includes a missing file and part.xml, which includes a broken file. The includer's
    // binary form is written, an included includer's is not: it would hide the failure from the
    // next compile.
    {"missing include, and an include that does not parse",
     {{"c/game.xml", "<g>\n<xi:include href=\"gone.xml\"/><xi:include href=\"part.xml\"/></g>"},
      {"c/part.xml", "<p><xi:include href=\"bad.xml\"/></p>"},
      {"c/bad.xml", broken_xml}},
     {"compile-xml", "c/game.xml"},
     1,
     "c\\game.xml (2): Cannot include c\\gone.xml: c\\gone.xml does not exist\n"
     "c\\part.xml (1): Cannot include c\\bad.xml: c\\bad.xml (3): Identifiers must match",
     {"c/game.xmb"}},
    {"include whose binary form holds an unknown node kind",
     {{"c/k.xml", "<k/>"},
      {"c/k.xmb", std::string("XML\x01\0\0\0\0\x03\0\0\0\0\0\0\0", 16)},
      {"c/m.xml", "<m><xi:include href=\"k.xml\"/></m>"}},
     {"compile-xml", "c/m.xml"},
     1,
     "c\\m.xml (1): Cannot include c\\k.xml: Binary XML c\\k.xmb is corrupt at byte 12",
     {"c/m.xmb"}},
    {"compiled script that cannot be written",
     {{"s/ok.ksf", "object x;\n"}, {"s/ok.kxe/keep", ""}},
     {"compile-scripts", "s/ok.ksf"},
     1,
     "Cannot save compiled script s\\ok.kxe"},
    // A file listed without data stands for the one on disk: extracted over it, it changes nothing.
    {"entry without data extracted over its file",
     {{"root/a.txt", "a"}, {"q.bundle", bundle_of_a}},
     {"extract", "q.bundle", "", "root"},
     0,
     ""},
    {"extract into a directory that does not exist",
     {{"q.bundle", empty_bundle}},
     {"extract", "q.bundle", "", "nowhere"},
     1,
     "Directory 'nowhere' doesn't exist."},
    {"prepend log that does not exist",
     root_a,
     {"quick-bundle", "-r", "root", "-p", "first.log"},
     1,
     "The prepend log first.log does not exist"},
    {"bundle forced onto its log",
     {{"root/a.txt", "a"}, {"level.log", ""}},
     {"bundle", "-r", "root", "-D", "LEVEL.LOG", "level.log"},
     1,
     "The output LEVEL.LOG is the input level.log"},
    {"listing beside the bundle onto a prepend log",
     {{"root/a.txt", "a"}, {"first.log", ""}},
     {"quick-bundle", "-r", "root", "-p", "first.log", "-D", "first"},
     1,
     "The output first.log is the input first.log"},
    {"default listing onto the log it is made from",
     {{"root/a.txt", "a"}, {"root/bundles/level.log", ""}},
     {"bundle", "-r", "root", "root/bundles/level.log"},
     1,
     "is the input root/bundles/level.log"},
    {"two logs forced into one bundle",
     {{"root/a.txt", "a"}, {"a.log", ""}, {"b.log", ""}},
     {"bundle", "-r", "root", "-D", "x.bundle", "a.log", "b.log"},
     1,
     "The logs a.log and b.log would both be bundled into x.bundle"},
    {"patch written over the bundle it compares",
     {{"a.bundle", bundle_of_a}, {"b.bundle", empty_bundle}},
     {"make-patch", "a.bundle", "b.bundle", "./b.bundle"},
     1,
     "The output ./b.bundle is the input b.bundle"},
    {"patch of a bundle that does not exist",
     {},
     {"make-patch", "missing.bundle", "post", "p.bundle"},
     1,
     "Cannot open missing.bundle with create mode: 0x3"},
    {"bundle name that climbs out of the target",
     {{"evil.bundle", test::Bytes().header(2).file("..", 0, 0).file("z", 0, 0).end().data},
      {"out/keep", ""}},
     {"extract", "-r", "-d", "evil.bundle", "", "out"},
     1,
     "Corrupt bundle evil.bundle: bad name \"..\" at offset 16"},
    {"bundle into a missing folder",
     root_a,
     {"quick-bundle", "-r", "root", "-D", "none/x.bundle"},
     1,
     "Cannot open none/x.bundle with"},
    {"directory where a file goes",
     {{"s.bundle", bundle_of_a}, {"out/a.txt/d/keep", ""}},
     {"extract", "s.bundle", "", "out"},
     1,
     "Cannot replace out\\a.txt => "},
};

TEST(SafetyTest, FailuresExitNonZeroAndLeaveFilesAlone) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.item);
        test::TempDir dir;
        for (const auto& [path, bytes] : row.files)
            dir.write(path, bytes);
        const auto before = test::snapshot(dir.path());
        const auto result = test::run_trovex(dir.path(), row.arguments);
        EXPECT_EQ(result.exit_code, row.exit_code) << result.output;
        EXPECT_NE(result.output.find(row.message), std::string::npos) << result.output;
        auto after = test::snapshot(dir.path());
        auto expected = before;
        for (const std::string& path : row.written) {
            after.erase(path);
            expected.erase(path);
        }
        EXPECT_EQ(after, expected);
    }
}

TEST(SafetyTest, InterruptedRunsLeaveNoTemporaryAndNoPartialFile) {
    if (test::on_windows)
        GTEST_SKIP() << "sends POSIX signals";
    test::TempDir dir;
    // Many small files: the runs last long enough to be caught in the middle.
    for (int n = 0; n < 50; ++n) {
        const fs::path folder =
            dir.path() / ("root/p" + std::to_string(n / 5)) / ("d" + std::to_string(n % 5));
        fs::create_directories(folder);
        for (int i = 0; i < 1000; ++i)
            std::ofstream(folder / ("f" + std::to_string(i))) << i;
    }
    dir.write("root/p1/d0/f1.trovex-tmp4", "a killed run's");
    dir.write("out/target/d4/f1", "old");
    const std::vector<std::string> quick_bundle{"quick-bundle", "-r", "root", "-D", "out/x.bundle"};
    ASSERT_EQ(test::run_trovex(dir.path(), quick_bundle).exit_code, 0);
    EXPECT_EQ(test::packed_files(dir.path() / "out/x.bundle").size(), 50000u);
    const auto before = test::snapshot(dir.path());

    // The arguments, a file that exists once the run is writing, the signal.
    const std::tuple<std::vector<std::string>, std::string, int> interrupts[] = {
        {quick_bundle, "out/x.bundle.trovex-tmp1", SIGINT},
        {{"extract", "-r", "out/x.bundle", "p0", "out/target"}, "out/target/d1", SIGTERM},
    };
    for (const auto& [arguments, file_under_way, interrupt] : interrupts) {
        SCOPED_TRACE(arguments[0]);
        test::TempDir io;
        // On a busy machine the run may end before the signal: that run proves nothing, and
        // leaves the same files; try again.
        int status = 0;
        for (int attempt = 0; attempt < 5 && status == 0; ++attempt) {
            const long process =
                test::start_program(TROVEX_BINARY, arguments, dir.path(), io.path() / "out");
            ASSERT_GT(process, 0);
            // Polled for at most 30 seconds.
            const fs::path under_way = dir.path() / file_under_way;
            for (int i = 0; i < 30000 && !fs::exists(under_way); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            EXPECT_TRUE(fs::exists(under_way));
            test::signal_program(process, interrupt);
            status = test::wait_program(process);
        }
        EXPECT_EQ(status, 128 + interrupt) << io.read("out");
        // Extracted files are whole: the bundled bytes, or the old file not reached yet.
        const auto after = test::snapshot(dir.path());
        auto expected = before;
        const std::string target = "out/target/";
        for (const auto& [name, bytes] : after) {
            if (!name.starts_with(target))
                continue;
            const auto source = before.find("root/p0/" + name.substr(target.size()));
            if (source != before.end() && source->second == bytes)
                expected[name] = bytes;
        }
        // The entries that differ, not the whole trees: a diff of 50 000 files outgrows memory.
        std::vector<std::pair<std::string, std::string>> differing;
        std::set_symmetric_difference(after.begin(), after.end(), expected.begin(), expected.end(),
                                      std::back_inserter(differing));
        EXPECT_EQ(differing, decltype(differing)());
    }
}

// Pipes where files are expected: every command refuses them at once, naming the path, instead of
// waiting for a peer that never comes, and goes on with the rest of a tree.
const std::string refused = "error code 0x20000001: Not a regular file";
const std::string unsaved = "Cannot save compiled script d\\x.kxe: ";

TEST(SpecialFilesTest, PipesAreRefusedWithoutWaiting) {
    if (test::on_windows)
        GTEST_SKIP() << "makes FIFOs";
    const struct {
        std::string pipe;
        Files files;
        std::vector<std::string> arguments;
        std::vector<std::string> messages;
        std::map<std::string, bool> made = {};  // whether each file is there afterwards
    } cases[] = {
        {"a.xml",
         {},
         {"compile-xml", "a.xml"},
         {"Cannot open a.xml with create mode: 0x3", refused}},
        {"t/a.xml", {{"t/b.xml", "<b/>"}}, {"compile-xml", "t"}, {refused}, {{"t/b.xmb", true}}},
        {"root/sub/p.txt",
         {{"root/sub/f.txt", "data"}},
         {"quick-bundle", "-r", "root"},
         {"sub\\p.txt with create mode: 0x3", refused},
         {{"root/bundles/quick.bundle", false}}},
        {"b.bundle", {}, {"list", "b.bundle"}, {refused}},
        // The pipe is newer than its source, so -m would read it.
        {"d/x.kxe", {{"d/x.ksf", "f() {}"}}, {"compile-scripts", "-m", "d"}, {unsaved, refused}},
        {"e/a.ksf",
         {{"e/b.ksf", "f() {}"}},
         {"compile-scripts", "-a", "e"},
         {refused},
         {{"e/b.kxe", true}, {"e/a.kxe", false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        test::TempDir dir;
        for (const auto& [path, content] : c.files)
            dir.write(path, content);
        fs::create_directories((dir.path() / c.pipe).parent_path());
        ASSERT_TRUE(test::make_fifo(dir.path() / c.pipe));
        fs::last_write_time(dir.path() / c.pipe,
                            fs::file_time_type::clock::now() + std::chrono::hours(1));
        const auto result = test::run_trovex(dir.path(), c.arguments);
        EXPECT_EQ(result.exit_code, 1);
        for (const std::string& message : c.messages)
            EXPECT_NE(result.output.find(message), std::string::npos) << result.output;
        for (const auto& [path, there] : c.made)
            EXPECT_EQ(dir.exists(path), there) << path;
    }
}

// The entry sequence: banner, usage, unknown commands and missing arguments, -b and -w.
// Each usage text is pinned by its first line only: the rest is the help text, not behaviour.
TEST(FrontEndTest, EveryCommandPrintsItsUsageAndTheVersion) {
    test::TempDir dir;
    const std::tuple<std::vector<std::string>, std::string, int> cases[] = {
        {{}, "trovex [global-flags] command [command-flags]", 0},
        {{"-v", "-h"}, "trovex [global-flags] command [command-flags]", 0},
        {{"--help"}, "trovex [global-flags] command [command-flags]", 0},
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
