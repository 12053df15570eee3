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
     [](auto& dir) { dir.write("q.bundle", test::Bytes().header(2).file("a.txt", 0, 0).end().data); },
     {"extract", "q.bundle", "", "nowhere"}, 1, "Directory 'nowhere' doesn't exist."},
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
