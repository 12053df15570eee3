// bundle and quick-bundle as a user runs them: the root, the order of the packed data, the
// ignore rules, the expansions of logged paths, the output files and their bytes; and merge-logs,
// which makes the logs they read.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "e2e/packed_files.h"
#include "support/platform.h"
#include "support/trovex_runner.h"

namespace {

namespace fs = std::filesystem;

using Paths = std::vector<std::string>;

// A content root "root" in a temporary directory, with logs beside it.
class BundleCommandTest : public ::testing::Test {
protected:
    void tree(const Paths& files) {
        for (const std::string& file : files)
            dir.write("root/" + file, "<" + file + ">");
    }
    test::RunResult run(std::vector<std::string> arguments) {
        return test::run_trovex(dir.path(), arguments);
    }
    // As the tool prints it: canonical, with its leading separator.
    std::string root() const { return test::canonical((dir.path() / "root").string()); }
    // The bundle and listing written without -D, named after the log or "quick".
    Paths packed_default(const std::string& name = "level") const {
        return test::packed_files(dir.path() / ("root/bundles/" + name + ".bundle"));
    }
    std::string listing(const std::string& name = "level") const {
        return dir.read("root/bundles/" + name + ".log");
    }
    std::string ignoring(const std::string& path) const {
        return "Ignoring file " + root() + "\\" + path + "\n";
    }
    // What -v prints for bundling level.log.
    static std::string logged(const std::string& lines) {
        return test::banner() + "Creating file log bundle from \"level.log\"\n" +
               "------- Bundle start -------\nAdding directory\n" + lines +
               "------- Bundle end!! -------\n";
    }

    test::TempDir dir;
};

// Without logs nothing is made; a log that does not parse ends the run and leaves the bundles made
// before it.
TEST_F(BundleCommandTest, LogsMustParse) {
    tree({"a.txt"});
    auto result = run({"bundle", "-r", "root"});
    EXPECT_EQ(result.output, test::banner());
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_FALSE(dir.exists("root/bundles"));
    dir.write("good.log", test::recorded_log({"a.txt"}));
    dir.write("bad.log", "<open path=\"a.txt\"");
    result = run({"bundle", "-r", "root", "good.log", "bad.log", "good.log"});
    EXPECT_EQ(result.output, test::banner() + test::framed("Could not load xml: bad.log"));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(packed_default("good"), Paths{"a.txt"});
}

TEST_F(BundleCommandTest, LoggedFilesArePackedInLogOrderOnceEach) {
    tree({"a.xml", "b.xml", "n.xml", "sub/c.xml", "x.ksf"});
    dir.write(
        "level.log",
        test::recorded_log({"b.xml", "x.ksf", "Sub/C.XML", "b.xml", "missing.xml"}) + "<open/>");
    dir.write("post.log", test::recorded_log({"a.xml"}));
    auto result = run({"-vv", "bundle", "-r", "root", "-a", "post.log", "level.log"});
    EXPECT_EQ(result.output,
              logged("  b.xml\n  x.ksf\n  N/A x.kxe\n  sub\\c.xml\n  N/A missing.xml\n  a.xml\n") +
                  "Writing bundle 0 %  (0/0 MB)\nWriting bundle 22 %  (0/0 MB)\n"
                  "Writing bundle 45 %  (0/0 MB)\nWriting bundle 80 %  (0/0 MB)\n");
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(packed_default(), (Paths{"b.xml", "x.ksf", "sub\\c.xml", "a.xml"}));
    EXPECT_EQ(listing(),
              "a.xml\nb.xml\nmissing.xml (NOT EXIST)\nn.xml (NO DATA)\nsub/\n    c.xml\nx.ksf\n"
              "x.kxe (NOT EXIST)\n");

    // -L packs the rest after the logged files; -m leaves the missing names out. The last run's
    // output is no content.
    result = run({"-v", "bundle", "-L", "-m", "-r", "root", "level.log"});
    const std::string own_output =
        ignoring("bundles\\level.bundle") + ignoring("bundles\\level.log");
    EXPECT_EQ(result.output, logged(own_output + ignoring("x.kxe, missing") +
                                    ignoring("missing.xml, missing") + own_output));
    EXPECT_EQ(packed_default(), (Paths{"b.xml", "x.ksf", "sub\\c.xml", "a.xml", "n.xml"}));
    EXPECT_EQ(listing(), "a.xml\nb.xml\nn.xml\nsub/\n    c.xml\nx.ksf\n");
}

TEST_F(BundleCommandTest, LocalPathsStandForEveryLanguage) {
    const std::pair<Paths, Paths> cases[] = {
        {{"local/english/a.xml", "local/german/a.xml", "local/german/b.xml"},
         {"local\\english\\a.xml", "local\\german\\a.xml"}},
        {{"local/a.xml", "other.xml"}, {}},
        {{"other.xml"}, {}},
    };
    dir.write("level.log", test::recorded_log({"local\\english\\a.xml"}));
    for (const auto& [files, expected] : cases) {
        fs::remove_all(dir.path() / "root");
        tree(files);
        EXPECT_EQ(run({"bundle", "-r", "root", "level.log"}).exit_code, 0);
        EXPECT_EQ(packed_default(), expected);
        EXPECT_EQ(listing().find("(NOT EXIST)"), std::string::npos);
    }
}

TEST_F(BundleCommandTest, IgnoreRules) {
    tree({"a.txt", "b.dat", "C.TXT", "skip/c.txt", "skip/deep/d.txt", "sub/e.txt"});
    dir.write("level.log", test::recorded_log({"skip\\c.txt", "a.txt", "sub\\e.txt"}));
    // -n and -e compare with the lower-case name: entries in capitals never match.
    const auto result =
        run({"-v", "bundle", "-L", "-r", "root", "-f", "root/skip", "-f", "root/SUB/e.txt", "-n",
             "b.dat", "-n", "A.TXT", "-e", ".TXT", "level.log"});
    const std::string walk = ignoring("b.dat") + ignoring("skip") + ignoring("sub\\e.txt");
    EXPECT_EQ(result.output, logged(walk + "Ignoring file (below ignored dir) " + root() +
                                    "\\skip\\c.txt\n" + ignoring("sub\\e.txt") + walk));
    EXPECT_EQ(packed_default(), (Paths{"a.txt", "c.txt"}));
}

TEST_F(BundleCommandTest, QuickBundleWalksFilesFirstAndSiblingsInReverse) {
    tree({"z.txt", "a.txt", "b/x.txt", "c/y.txt", "c/d/w.txt", "empty/"});
    dir.write("root/bundles/old.bin", "kept");
    fs::create_directory(dir.path() / "out");
    dir.write("first.log", test::recorded_log({"c\\d\\w.txt"}));
    // A force file goes in last, ignored or not, and is taken from the current directory.
    const auto result = run({"quick-bundle", "-r", "root", "-p", "first.log", "-n", "y.txt", "-D",
                             "out/all.bundle", "-F", "root/c/y.txt", "-q"});
    EXPECT_EQ(result.output, test::banner() + test::framed("Unknown flag -q use -h for help"));
    EXPECT_EQ(test::packed_files(dir.path() / "out/all.bundle"),
              (Paths{"c\\d\\w.txt", "a.txt", "z.txt", "bundles\\old.bin", "b\\x.txt", "c\\y.txt"}));
    EXPECT_TRUE(dir.exists("out/all.bundle.log"));
    EXPECT_FALSE(dir.exists("root/bundles/quick.bundle"));
}

TEST_F(BundleCommandTest, TheBundleNeverPacksItselfAndIsReproducible) {
    tree({"b.dds", "a.xml", "data/c.xml", "data/Sub/d.xml", "e.ksf"});
    dir.write("level.log", test::recorded_log({"data\\sub\\d.xml", "e.ksf"}));

    ASSERT_EQ(run({"bundle", "-L", "-r", "root", "level.log"}).exit_code, 0);
    const std::string first = listing() + dir.read("root/bundles/level.bundle");
    ASSERT_EQ(run({"bundle", "-L", "-r", "root", "level.log", "level.log"}).exit_code, 0);
    EXPECT_EQ(listing() + dir.read("root/bundles/level.bundle"), first);

    // Nor does a destination given with -D inside the root.
    for (int round = 0; round < 2; ++round)
        ASSERT_EQ(run({"quick-bundle", "-r", "root", "-D", "root/data/all.bundle"}).exit_code, 0);
    // Other bundles under the root are content like any other file.
    EXPECT_EQ(test::packed_files(dir.path() / "root/data/all.bundle"),
              (Paths{"a.xml", "b.dds", "e.ksf", "data\\c.xml", "data\\sub\\d.xml",
                     "bundles\\level.bundle", "bundles\\level.log"}));
}

// A link back up is not followed round and round; a link to nothing is a name that does not exist.
TEST_F(BundleCommandTest, Links) {
    if (test::on_windows)
        GTEST_SKIP() << "makes symbolic links";
    tree({"a.txt", "sub/b.txt"});
    fs::create_symlink("nowhere.txt", dir.path() / "root/gone.txt");
    fs::create_directory_symlink("..", dir.path() / "root/sub/up");
    fs::create_directory_symlink(".", dir.path() / "root/sub/self");
    fs::create_directory_symlink("../../other", dir.path() / "root/sub/away");
    dir.write("other/c.txt", "c");
    dir.write("level.log", "");
    // -L goes through the remembered walk again: the links are reported both times.
    const auto result = run({"-v", "bundle", "-L", "-r", "root", "level.log"});
    const std::string loop = ", it leads back to a directory above it";
    const std::string walk = ignoring("sub\\self" + loop) + ignoring("sub\\up" + loop);
    EXPECT_EQ(result.output, logged(walk + walk));
    EXPECT_EQ(packed_default(), (Paths{"a.txt", "sub\\b.txt", "sub\\away\\c.txt"}));
    EXPECT_EQ(listing(),
              "a.txt\ngone.txt (NOT EXIST)\nsub/\n    away/\n        c.txt\n    b.txt\n");
}

TEST_F(BundleCommandTest, OfNamesThatDifferOnlyInCaseTheLowerCaseOneGoesIn) {
    if (test::on_windows)
        GTEST_SKIP() << "the system keeps one spelling per name";
    tree({"A.txt", "a.txt", "Sub/x.txt", "sub/y.txt"});
    dir.write("level.log", test::recorded_log({"a.txt"}));
    const auto result = run({"bundle", "-L", "-r", "root", "level.log"});
    EXPECT_EQ(result.output,
              test::banner() +
                  test::framed(root() + "\\a.txt names several files that differ only in case; "
                                        "the bundle holds one of them") +
                  test::framed(root() + "\\sub names several directories that differ only in "
                                        "case; the bundle holds one of them"));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(packed_default(), (Paths{"a.txt", "sub\\y.txt"}));
    EXPECT_EQ(listing(), "a.txt\nsub/\n    y.txt\n");
    const std::string bytes = dir.read("root/bundles/level.bundle");
    EXPECT_NE(bytes.find("<a.txt>"), std::string::npos);
    EXPECT_EQ(bytes.find("<A.txt>"), std::string::npos);
}

// With no file to take in, the walk -L repeats is a second walk, not a replay of the first.
TEST_F(BundleCommandTest, ACaseClashIsSaidOnceWhenNoFileIsTakenIn) {
    if (test::on_windows)
        GTEST_SKIP() << "the system keeps one spelling per name";
    std::filesystem::create_directories(dir.path() / "root/Sub");
    std::filesystem::create_directories(dir.path() / "root/sub");
    dir.write("level.log", test::recorded_log({}));
    const auto result = run({"bundle", "-L", "-r", "root", "level.log"});
    EXPECT_EQ(result.output,
              test::banner() + test::framed(root() + "\\sub names several directories that "
                                                     "differ only in case; the bundle holds "
                                                     "one of them"));
    EXPECT_EQ(result.exit_code, 1);
}

// merge-logs: progress, the merged log, the search, failures.
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
