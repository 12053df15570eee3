// compile-xml as a user runs it: messages, -a, -b, and the .xmb files it leaves.
#include <gtest/gtest.h>

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
    for (const char* tree : {"one", "two"}) {
        dir.write(std::string(tree) + "/x.xml", "<x/>");
        dir.write(std::string(tree) + "/x.xmb/keep", "");
        dir.write(std::string(tree) + "/y.xml", "<y/>");
    }
    const auto result = test::run_trovex(dir.path(), {"compile-xml", "-a", "one", "two"});
    const std::string& out = result.output;
    EXPECT_EQ(result.exit_code, 1);
    const size_t first_report = out.find("ERROR: archive.cpp");
    ASSERT_NE(first_report, std::string::npos) << out;
    const size_t second_report = out.find("ERROR: archive.cpp", first_report + 1);
    ASSERT_NE(second_report, std::string::npos) << out;
    // The second report holds the first directory's error again, then the second's.
    const std::string first_error =
        out.substr(first_report, out.find('\n', first_report) - first_report);
    EXPECT_NE(first_error.find("one\\x.xmb"), std::string::npos);
    EXPECT_EQ(out.substr(second_report, first_error.size()), first_error);
    EXPECT_NE(out.find("\nERROR: archive.cpp", second_report), std::string::npos);
    EXPECT_NE(out.find("two\\x.xmb", second_report), std::string::npos);
    EXPECT_TRUE(dir.exists("one/y.xmb"));
    EXPECT_TRUE(dir.exists("two/y.xmb"));

    const auto stopped = test::run_trovex(dir.path(), {"-b", "compile-xml", "one", "two"});
    EXPECT_EQ(stopped.output.find("ERROR: archive.cpp"), test::banner().size() + 71)
        << stopped.output;
    EXPECT_EQ(stopped.output.find("two"), std::string::npos);
    EXPECT_EQ(stopped.exit_code, 1);
}

}  // namespace
