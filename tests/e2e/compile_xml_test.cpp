// compile-xml as a user runs it: messages, -a, -b, and the .xmb files it leaves.
#include <gtest/gtest.h>

#include <regex>

#include "support/trovex_runner.h"

namespace {

TEST(CompileXmlTest, CompilesFilesAndDirectoriesAndReportsTheRest) {
    test::TempDir dir;
    dir.write("a.xml", "<a/>");
    dir.write("Data.XML", "<d/>");
    dir.write("notes.txt", "x");
    dir.write("tree/Skipped.XML", "<s/>");
    dir.write("tree/b.xml", "<b/>");
    dir.write("tree/sub/c.xml", "<c/>");
    const auto result = test::run_trovex(dir.path(), {"-v", "compile-xml", "a.xml", "Data.XML",
                                                      "notes.txt", "missing.xml", "tree", "-q"});
    EXPECT_EQ(result.output, test::banner() + test::framed("Unknown flag -q use -h for help") +
                                 "Compiling a.xml\n" + test::framed("data.xml is not an xml file") +
                                 test::framed("notes.txt is not an xml file") +
                                 test::framed("Source file doesn't exist missing.xml") +
                                 "Compiling tree\\b.xml\nCompiling tree\\sub\\c.xml\n");
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(dir.read("a.xmb"),
              std::string("XML\x01\x01\0\0\0a\0\x01\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 30));
    EXPECT_TRUE(dir.exists("tree/b.xmb"));
    EXPECT_TRUE(dir.exists("tree/sub/c.xmb"));
    EXPECT_FALSE(dir.exists("Data.xmb"));
    EXPECT_FALSE(dir.exists("tree/Skipped.xmb"));
}

TEST(CompileXmlTest, ReportAllCollectsDirectoryErrorsAndRepeatsThem) {
    test::TempDir dir;
    // A directory where the binary form should go cannot be written.
    for (const std::string tree : {"one", "two"}) {
        dir.write(tree + "/x.xml", "<x/>");
        dir.write(tree + "/x.xmb/keep", "");
        dir.write(tree + "/y.xml", "<y/>");
    }
    // The system's words for the failure differ between systems; the throw's source line is no
    // behaviour.
    const auto run = [&](const std::vector<std::string>& arguments) {
        const auto result = test::run_trovex(dir.path(), arguments);
        EXPECT_EQ(result.exit_code, 1);
        return std::regex_replace(result.output,
                                  std::regex(R"(archive\.cpp\(\d+\) (Cannot open \S+) .*)"), "$1");
    };
    const std::string one = "Cannot open one\\x.xmb", two = "Cannot open two\\x.xmb";
    // The second report holds the first directory's error again, then the second's.
    EXPECT_EQ(
        run({"compile-xml", "-a", "one", "two"}),
        test::banner() + test::framed(one + "\n") + test::framed(one + "\nERROR: " + two + "\n"));
    EXPECT_TRUE(dir.exists("one/y.xmb") && dir.exists("two/y.xmb"));
    EXPECT_EQ(run({"-b", "compile-xml", "one", "two"}), test::banner() + test::framed(one));
}

}  // namespace
