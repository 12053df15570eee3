// Everyday mistakes, run as a user would: each fails with a message naming what went wrong and
// leaves every file it was not asked to write as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "bundle/bundle_bytes.h"
#include "support/platform.h"
#include "support/trovex_runner.h"

namespace {

namespace fs = std::filesystem;

// Every file under the directory with its bytes.
std::map<std::string, std::string> snapshot(const test::TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        if (entry.is_regular_file()) {
            const std::string relative = fs::relative(entry.path(), dir.path()).generic_string();
            files[relative] = dir.read(relative);
        }
    }
    return files;
}

const std::string good_xml = "<game><level name=\"forest\"/></game>";

struct Row {
    const char* item;
    std::function<void(const test::TempDir&)> setup;
    std::vector<std::string> arguments;
    int exit_code;
    std::string message;  // found in the output
    std::set<std::string> written = {};  // the only files that may be new or changed afterwards
};

const Row rows[] = {
    // Failures before any work: the exit status says so.
    {"unknown flag", [](auto& dir) { dir.write("c/a.xml", good_xml); },
     {"compile-xml", "-q", "-r", "c", "c/a.xml"}, 1, "Unknown flag -q", {"c/a.xmb"}},
    // rows: xml and compiles
    // rows: bundles
    {"list of a file that is no bundle", [](auto& dir) { dir.write("junk.bundle", good_xml); },
     {"list", "junk.bundle"}, 1, "junk.bundle is not a bundle"},
    {"patch against a file that is no bundle",
     [](auto& dir) {
         dir.write("good.bundle", test::Bytes().header(2).file("a.txt", 0, 0).end().data);
         dir.write("junk.bundle", std::string(64, '\0'));
     },
     {"make-patch", "good.bundle", "junk.bundle", "p.bundle"}, 1, "junk.bundle is not a bundle"},
    {"extract over the content tree of a bundle of one log",
     [](auto& dir) {
         dir.write("root/a.xml", good_xml);
         dir.write("root/b.xml", "<b/>");
         dir.write("level.log", "<open path=\"a.xml\"/>");
         test::run_trovex(dir.path(), {"bundle", "-r", "root", "-D", "level.bundle", "level.log"});
     },
     {"extract", "-r", "level.bundle", "", "root"}, 0, ""},
    {"extract into a directory that does not exist",
     [](auto& dir) { dir.write("q.bundle", test::Bytes().header(2).end().data); },
     {"extract", "q.bundle", "", "nowhere"}, 1, "Directory 'nowhere' doesn't exist."},
    {"bundle of names that differ only in case",
     [](auto& dir) {
         dir.write("root/A.txt", "1");
         dir.write("root/a.txt", "2");
     },
     {"quick-bundle", "-r", "root", "-D", "q.bundle"}, test::on_windows ? 0 : 1,
     test::on_windows ? "" : "names several files that differ only in case",
     {"q.bundle", "q.bundle.log"}},
    {"prepend log that does not exist", [](auto& dir) { dir.write("root/a.txt", "a"); },
     {"quick-bundle", "-r", "root", "-p", "first.log"}, 1,
     "The prepend log first.log does not exist"},
    {"bundle forced onto its log",
     [](auto& dir) {
         dir.write("root/a.txt", "a");
         dir.write("level.log", "");
     },
     {"bundle", "-r", "root", "-D", "LEVEL.LOG", "level.log"}, 1,
     "The output LEVEL.LOG is the input level.log"},
    {"listing beside the bundle onto a prepend log",
     [](auto& dir) {
         dir.write("root/a.txt", "a");
         dir.write("first.log", "");
     },
     {"quick-bundle", "-r", "root", "-p", "first.log", "-D", "first"}, 1,
     "The output first.log is the input first.log"},
    {"default listing onto the log it is made from",
     [](auto& dir) {
         dir.write("root/a.txt", "a");
         dir.write("root/bundles/level.log", "");
     },
     {"bundle", "-r", "root", "root/bundles/level.log"}, 1, "is the input root/bundles/level.log"},
    {"two logs forced into one bundle",
     [](auto& dir) {
         dir.write("root/a.txt", "a");
         dir.write("a.log", "");
         dir.write("b.log", "");
     },
     {"bundle", "-r", "root", "-D", "x.bundle", "a.log", "b.log"}, 1,
     "The logs a.log and b.log would both be bundled into x.bundle"},
    {"patch written over the bundle it compares",
     [](auto& dir) {
         dir.write("a.bundle", test::Bytes().header(2).file("a.txt", 0, 0).end().data);
         dir.write("b.bundle", test::Bytes().header(2).end().data);
     },
     {"make-patch", "a.bundle", "b.bundle", "./b.bundle"}, 1,
     "The output ./b.bundle is the input b.bundle"},
    // rows: temporaries and messages
};

TEST(SafetyTest, FailuresExitNonZeroAndLeaveFilesAlone) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.item);
        test::TempDir dir;
        row.setup(dir);
        const auto before = snapshot(dir);
        const auto result = test::run_trovex(dir.path(), row.arguments);
        EXPECT_EQ(result.exit_code, row.exit_code) << result.output;
        EXPECT_NE(result.output.find(row.message), std::string::npos) << result.output;
        auto after = snapshot(dir);
        for (const std::string& path : row.written) after.erase(path);
        auto expected = before;
        for (const std::string& path : row.written) expected.erase(path);
        EXPECT_EQ(after, expected);
    }
}

}  // namespace
