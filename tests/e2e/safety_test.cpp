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
const std::string broken_xml = "<game>\n<level>\n</game>";

// game.xml includes a missing file and part.xml, which includes a broken file.
void broken_includes(const test::TempDir& dir) {
    dir.write("c/game.xml",
              "<g>\n<xi:include href=\"gone.xml\"/><xi:include href=\"part.xml\"/></g>");
    dir.write("c/part.xml", "<p><xi:include href=\"bad.xml\"/></p>");
    dir.write("c/bad.xml", broken_xml);
}

void two_logs(const test::TempDir& dir) {
    dir.write("a.log", "   <open path=\"f1\" flags=\"r\" />\r\n");
    dir.write("b.log", "   <open path=\"f2\" flags=\"r\" />\r\n");
}

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
    // rows: command line and merge-logs
    {"value keeps its letters", [](auto& dir) { dir.write("c/a.xml", good_xml); },
     {"quick-bundle", "-r", "c", "-Dbvx.bundle"}, 0, "", {"bvx.bundle", "bvx.bundle.log"}},
    {"log taken as -g value", two_logs, {"merge-logs", "-g", "m.log", "a.log", "b.log"}, 1,
     "-g takes a number of seconds, not m.log"},
    {"merged log is a source", two_logs, {"merge-logs", "./a.log", "b.log", "a.log"}, 1,
     "The merged log ./a.log is one of the source logs"},
    // rows: xml and compiles
    // A failed compile keeps the old binary form: older than the edited text, it stays stale.
    {"xml that does not parse",
     [](auto& dir) {
         dir.write("c/data/game.xml", broken_xml);
         dir.write("c/data/game.xmb", "old");
     },
     {"-v", "-b", "compile-xml", "-r", "c", "c/data/game.xml"}, 1,
     "ERROR: data\\game.xml (3): Identifiers must match"},
    {"xml in a directory that does not parse",
     [](auto& dir) { dir.write("c/a.xml", good_xml); dir.write("c/b.xml", broken_xml); },
     {"compile-xml", "c"}, 1, "ERROR: c\\b.xml (3): Identifiers must match", {"c/a.xmb"}},
    {"xml in a directory that does not parse, all reported",
     [](auto& dir) { dir.write("c/a.xml", broken_xml); dir.write("c/b.xml", broken_xml); },
     {"compile-xml", "-a", "c"}, 1, "c\\a.xml (3): Identifiers must match\nERROR: c\\b.xml (3)"},
    {"xml with an unknown entity", [](auto& dir) { dir.write("a.xml", "<a>\n&nope;</a>"); },
     {"compile-xml", "a.xml"}, 1, "a.xml (2): Unknown entity &nope;"},
    // The includer's binary form is written, an included includer's is not: it would hide the
    // failure from the next compile.
    {"missing include", broken_includes, {"compile-xml", "c/game.xml"}, 1,
     "c\\game.xml (2): Cannot include c\\gone.xml: c\\gone.xml does not exist", {"c/game.xmb"}},
    {"include that does not parse", broken_includes, {"compile-xml", "c/game.xml"}, 1,
     "c\\part.xml (1): Cannot include c\\bad.xml: c\\bad.xml (3): Identifiers must match",
     {"c/game.xmb"}},
    {"include whose binary form holds an unknown node kind",
     [](auto& dir) {
         dir.write("c/k.xml", "<k/>");
         dir.write("c/k.xmb", std::string("XML\x01\0\0\0\0\x03\0\0\0\0\0\0\0", 16));
         dir.write("c/m.xml", "<m><xi:include href=\"k.xml\"/></m>");
     },
     {"compile-xml", "c/m.xml"}, 1,
     "c\\m.xml (1): Cannot include c\\k.xml: Binary XML c\\k.xmb is corrupt at byte 12",
     {"c/m.xmb"}},
    {"compiled script that cannot be written",
     [](auto& dir) { dir.write("s/ok.ksf", "object x;\n"); dir.write("s/ok.kxe/keep", ""); },
     {"compile-scripts", "s/ok.ksf"}, 1, "Cannot save compiled script s\\ok.kxe"},
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
