// The list command as a user runs it: exact tree and flat lines, widths, subdirectories, hidden
// entries and the errors for names that cannot be looked up again.
#include <gtest/gtest.h>

#include "bundle/bundle_bytes.h"
#include "support/trovex_runner.h"

namespace {

std::string spaces(size_t count) {
    return std::string(count, ' ');
}

TEST(ListCommandTest, LinesAndErrors) {
    test::TempDir dir;
    // data\units.xml of 120 bytes and readme.txt of 5 bytes.
    dir.write("tree/data/units.xml", std::string(120, 'u'));
    dir.write("tree/readme.txt", "hello");
    ASSERT_TRUE(test::quick_bundle(dir.path() / "tree", dir.path() / "sample.bundle"));
    dir.write("patch.bundle",
              test::Bytes().header(2).records("a/ x ] -gone/ ] -old.txt empty.txt ]").data);
    dir.write("odd.bundle", test::Bytes().header(2).records("Maps/ ] a.txt ]").data);
    dir.write("odd_file.bundle", test::Bytes().header(2).records("a.txt b.TXT ]").data);
    dir.write("cut.bundle", test::Bytes().header(2).dir("data").data);

    const std::string tree_lines =  // the default width: every line ends in column 79
        "+-- data" + spaces(65) + " <dir>\n" + "    +-- units.xml" + spaces(50) + " [120 bytes]\n" +
        "+-- readme.txt" + spaces(55) + " [5 bytes]\n";
    const std::string narrow_lines =  // -W 30: a name column of 10 that names overflow
        "+-- data  " + spaces(14) + " <dir>\n" + "    +-- units.xml" + spaces(1) +
        " [120 bytes]\n" + "+-- readme.txt" + spaces(6) + " [5 bytes]\n";
    const struct {
        std::vector<std::string> arguments;
        std::string lines;
        int exit_code = 0;
    } cases[] = {
        {{"list", "-r", "sample.bundle"}, tree_lines},
        {{"list", "--recursive", "--width", "-5", "sample.bundle"}, tree_lines},
        {{"list", "-rW", "30", "sample.bundle"}, narrow_lines},
        {{"list", "-r", "-f", "sample.bundle"},
         "readme.txt" + spaces(60) + "[5 bytes]\n" + "data\\units.xml" + spaces(54) +
             "[120 bytes]\n"},
        {{"list", "-f", "sample.bundle"}, "readme.txt" + spaces(60) + "[5 bytes]\n"},
        {{"list", "sample.bundle"},
         "+-- data" + spaces(65) + " <dir>\n" + "+-- readme.txt" + spaces(55) + " [5 bytes]\n"},
        {{"list", "sample.bundle", "DATA/"}, "+-- units.xml" + spaces(54) + " [120 bytes]\n"},
        {{"list", "-f", "sample.bundle", "data"}, "data\\units.xml" + spaces(54) + "[120 bytes]\n"},
        {{"list", "-r", "sample.bundle", "missing"}, ""},
        {{"list", "-r", "sample.bundle", "readme.txt"}, ""},
        // Hidden entries show instead of a size.
        {{"list", "-r", "patch.bundle"},
         "+-- a" + spaces(68) + " <dir>\n" + "|   +-- x" + spaces(60) + " [0 bytes]\n" +
             "+-- gone" + spaces(62) + " <hidden>\n" + "+-- empty.txt" + spaces(56) +
             " [0 bytes]\n" + "+-- old.txt" + spaces(59) + " <hidden>\n"},
        {{"list", "-r", "patch.bundle", "gone"}, ""},
        {{"list", "-rf", "patch.bundle"},
         "empty.txt" + spaces(61) + "[0 bytes]\n" + "old.txt" + spaces(64) + "<hidden>\n" + "a\\x" +
             spaces(67) + "[0 bytes]\n"},
        // Names that cannot be looked up again end the listing, after the lines before them.
        {{"list", "odd.bundle"}, test::framed("Error parsing bundle dir Maps"), 1},
        {{"list", "-f", "odd_file.bundle"},
         "a.txt" + spaces(65) + "[0 bytes]\n" + test::framed("Error parsing bundle file b.TXT"),
         1},
        {{"list", "cut.bundle", "-x"},
         test::framed("Unknown flag -x use -h for help") +
             test::framed(
                 "Archive::checked_read() Attempt to read past end of archive 'cut.bundle'"),
         1},
    };
    for (const auto& c : cases) {
        const auto result = test::run_trovex(dir.path(), c.arguments);
        EXPECT_EQ(result.output, test::banner() + c.lines)
            << c.arguments[1] << " " << c.arguments.back();
        EXPECT_EQ(result.exit_code, c.exit_code);
    }
    // Nothing but the JSON, for tools that read standard output whole.
    const auto json = test::run_trovex(dir.path(), {"list", "--json", "sample.bundle", "data"});
    EXPECT_EQ(json.output.substr(0, 46),
              "[\n{\"path\": \"data\\\\units.xml\", \"kind\": \"file\", ");
    EXPECT_NE(json.output.find("\"size\": 120, "), std::string::npos) << json.output;
}

}  // namespace
