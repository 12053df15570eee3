// The list command as a user runs it: exact tree and flat lines, widths, subdirectories, hidden
// entries and the errors for names that cannot be looked up again.
#include <gtest/gtest.h>

#include "bundle/bundle_bytes.h"
#include "bundle/bundle_maker.h"
#include "support/trovex_runner.h"

namespace {

std::string spaces(size_t count) { return std::string(count, ' '); }

// data\units.xml of 120 bytes and readme.txt of 5 bytes.
struct Sample {
    Sample() {
        dir.write("tree/data/units.xml", std::string(120, 'u'));
        dir.write("tree/readme.txt", "hello");
        test::bundle_tree(dir.path() / "tree", dir.path() / "sample.bundle");
    }
    test::TempDir dir;
};

TEST(ListCommandTest, TreeAndFlatLines) {
    const std::string tree_lines =  // the default width: every line ends in column 79
        "+-- data" + spaces(65) + " <dir>\n" +
        "    +-- units.xml" + spaces(50) + " [120 bytes]\n" +
        "+-- readme.txt" + spaces(55) + " [5 bytes]\n";
    const std::string narrow_lines =  // -W 30: a name column of 10 that names overflow
        "+-- data  " + spaces(14) + " <dir>\n" +
        "    +-- units.xml" + spaces(1) + " [120 bytes]\n" +
        "+-- readme.txt" + spaces(6) + " [5 bytes]\n";
    const struct {
        std::vector<std::string> arguments;
        std::string lines;
    } cases[] = {
        {{"list", "-r", "sample.bundle"}, tree_lines},
        {{"list", "--recursive", "--width", "-5", "sample.bundle"}, tree_lines},
        {{"list", "-r", "-W", "many", "sample.bundle"}, tree_lines},
        {{"list", "-rW", "30", "sample.bundle"}, narrow_lines},
        {{"list", "-r", "-f", "sample.bundle"},
         "readme.txt" + spaces(60) + "[5 bytes]\n" + "data\\units.xml" + spaces(54) + "[120 bytes]\n"},
        {{"list", "-f", "sample.bundle"}, "readme.txt" + spaces(60) + "[5 bytes]\n"},
        {{"list", "sample.bundle"},
         "+-- data" + spaces(65) + " <dir>\n" + "+-- readme.txt" + spaces(55) + " [5 bytes]\n"},
        {{"list", "sample.bundle", "DATA/"}, "+-- units.xml" + spaces(54) + " [120 bytes]\n"},
        {{"list", "-f", "sample.bundle", "data"}, "data\\units.xml" + spaces(54) + "[120 bytes]\n"},
        {{"list", "-r", "sample.bundle", "missing"}, ""},
        {{"list", "-r", "sample.bundle", "readme.txt"}, ""},
    };
    Sample sample;
    for (const auto& c : cases) {
        const auto result = test::run_trovex(sample.dir.path(), c.arguments);
        EXPECT_EQ(result.output, test::banner() + c.lines) << c.arguments[1];
        EXPECT_EQ(result.exit_code, 0);
    }
    // Nothing but the JSON, for tools that read standard output whole.
    const auto json = test::run_trovex(sample.dir.path(), {"list", "--json", "sample.bundle", "data"});
    EXPECT_EQ(json.output.substr(0, 46), "[\n{\"path\": \"data\\\\units.xml\", \"kind\": \"file\", ");
    EXPECT_NE(json.output.find("\"size\": 120, "), std::string::npos) << json.output;
}

TEST(ListCommandTest, HiddenEntriesShowInsteadOfASize) {
    test::TempDir dir;
    dir.write("patch.bundle", test::Bytes()
                                  .header(2)
                                  .dir("a")
                                  .file("x", 0, 0)
                                  .end()
                                  .dir("gone", 0)
                                  .end()
                                  .file("old.txt", 0, 0, 0)
                                  .file("empty.txt", 0, 0)
                                  .end()
                                  .data);
    auto result = test::run_trovex(dir.path(), {"list", "-r", "patch.bundle"});
    EXPECT_EQ(result.output, test::banner() + "+-- a" + spaces(68) + " <dir>\n" + "|   +-- x" +
                                 spaces(60) + " [0 bytes]\n" + "+-- gone" + spaces(62) +
                                 " <hidden>\n" +
                                 "+-- empty.txt" + spaces(56) + " [0 bytes]\n" + "+-- old.txt" +
                                 spaces(59) + " <hidden>\n");
    EXPECT_EQ(test::run_trovex(dir.path(), {"list", "-r", "patch.bundle", "gone"}).output,
              test::banner());
    result = test::run_trovex(dir.path(), {"list", "-rf", "patch.bundle"});
    EXPECT_EQ(result.output, test::banner() + "empty.txt" + spaces(61) + "[0 bytes]\n" +
                                 "old.txt" + spaces(64) + "<hidden>\n" + "a\\x" + spaces(67) +
                                 "[0 bytes]\n");
}

TEST(ListCommandTest, NamesThatCannotBeLookedUpAgainEndTheListing) {
    test::TempDir dir;
    dir.write("odd.bundle",
              test::Bytes().header(2).dir("Maps").end().file("a.txt", 0, 0).end().data);
    dir.write("odd_file.bundle",
              test::Bytes().header(2).file("a.txt", 0, 0).file("b.TXT", 0, 0).end().data);
    auto result = test::run_trovex(dir.path(), {"list", "odd.bundle"});
    EXPECT_EQ(result.output, test::banner() + test::framed("Error parsing bundle dir Maps"));
    EXPECT_EQ(result.exit_code, 1);
    // The lines before the error are printed first.
    result = test::run_trovex(dir.path(), {"list", "-f", "odd_file.bundle"});
    EXPECT_EQ(result.output, test::banner() + "a.txt" + spaces(65) + "[0 bytes]\n" +
                                 test::framed("Error parsing bundle file b.TXT"));
    EXPECT_EQ(result.exit_code, 1);
}

TEST(ListCommandTest, UnreadableBundles) {
    test::TempDir dir;
    dir.write("cut.bundle", test::Bytes().header(2).dir("data").data);
    auto result = test::run_trovex(dir.path(), {"list", "cut.bundle", "-x"});
    EXPECT_EQ(result.output,
              test::banner() + test::framed("Unknown flag -x use -h for help") +
                  test::framed("Archive::checked_read() Attempt to read past end of archive "
                               "'cut.bundle'"));
    EXPECT_EQ(result.exit_code, 1);
}

}  // namespace
