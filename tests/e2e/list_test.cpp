// The list command as a user runs it: exact tree and flat lines, widths, subdirectories, hidden
// entries and the errors for names that cannot be looked up again.
#include <gtest/gtest.h>

#include "bundle/bundle_bytes.h"
#include "support/trovex_runner.h"

namespace {

// A line of the listing: the name, and the size or kind ending in the last column.
std::string line(const std::string& name, const std::string& tail, size_t width = 79) {
    return name + std::string(width - name.size() - tail.size(), ' ') + tail + "\n";
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
        line("+-- data", " <dir>") + line("    +-- units.xml", " [120 bytes]") +
        line("+-- readme.txt", " [5 bytes]");
    const struct {
        std::vector<std::string> arguments;
        std::string lines;
        int exit_code = 0;
    } cases[] = {
        {{"list", "-r", "sample.bundle"}, tree_lines},
        {{"list", "--recursive", "--width", "-5", "sample.bundle"}, tree_lines},
        // A name column of 10, which names overflow.
        {{"list", "-rW", "30", "sample.bundle"},
         line("+-- data", " <dir>", 30) + line("    +-- units.xml", " [120 bytes]", 30) +
             line("+-- readme.txt", " [5 bytes]", 30)},
        {{"list", "-r", "-f", "sample.bundle"},
         line("readme.txt", "[5 bytes]") + line("data\\units.xml", "[120 bytes]")},
        {{"list", "-f", "sample.bundle"}, line("readme.txt", "[5 bytes]")},
        {{"list", "sample.bundle"},
         line("+-- data", " <dir>") + line("+-- readme.txt", " [5 bytes]")},
        {{"list", "sample.bundle", "DATA/"}, line("+-- units.xml", " [120 bytes]")},
        {{"list", "-f", "sample.bundle", "data"}, line("data\\units.xml", "[120 bytes]")},
        {{"list", "-r", "sample.bundle", "missing"}, ""},
        {{"list", "-r", "sample.bundle", "readme.txt"}, ""},
        // Hidden entries show instead of a size.
        {{"list", "-r", "patch.bundle"},
         line("+-- a", " <dir>") + line("|   +-- x", " [0 bytes]") + line("+-- gone", " <hidden>") +
             line("+-- empty.txt", " [0 bytes]") + line("+-- old.txt", " <hidden>")},
        {{"list", "-r", "patch.bundle", "gone"}, ""},
        {{"list", "-rf", "patch.bundle"},
         line("empty.txt", "[0 bytes]") + line("old.txt", "<hidden>") + line("a\\x", "[0 bytes]")},
        // Names that cannot be looked up again end the listing, after the lines before them.
        {{"list", "odd.bundle"}, test::framed("Error parsing bundle dir Maps"), 1},
        {{"list", "-f", "odd_file.bundle"},
         line("a.txt", "[0 bytes]") + test::framed("Error parsing bundle file b.TXT"),
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
