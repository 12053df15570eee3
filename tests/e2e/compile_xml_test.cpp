// compile-xml as a user runs it: messages, -a, -b, and the .xmb files it leaves; and what both
// compilers do with arguments that are no sources.
#include <gtest/gtest.h>

#include <regex>

#include "support/trovex_runner.h"

namespace {

// Both compilers report and skip arguments that are no sources: an extension in capitals makes
// none, in a directory as well.
TEST(CompileXmlTest, SourcesAreCompiledAndOtherArgumentsReported) {
    test::TempDir dir;
    for (const char* xml :
         {"a.xml", "Data.XML", "tree/Skipped.XML", "tree/b.xml", "tree/sub/c.xml"})
        dir.write(xml, "<a/>");
    for (const char* script : {"A.KSF", "d/A.KSF", "d/b.ksf"})
        dir.write(script, "f() {}");
    dir.write("notes.txt", "x");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-v", "compile-xml", "a.xml", "Data.XML", "notes.txt", "missing.xml", "tree", "-q"},
         test::framed("Unknown flag -q use -h for help") + "Compiling a.xml\n" +
             test::framed("data.xml is not an xml file") +
             test::framed("notes.txt is not an xml file") +
             test::framed("Source file doesn't exist missing.xml") +
             "Compiling tree\\b.xml\nCompiling tree\\sub\\c.xml\n"},
        {{"compile-scripts", "A.KSF", "missing.ksf", "d"},
         test::framed("A.KSF is not a script file") +
             test::framed("Source file doesn't exist missing.ksf")},
    };
    for (const auto& [arguments, output] : cases) {
        const auto result = test::run_trovex(dir.path(), arguments);
        EXPECT_EQ(result.output, test::banner() + output);
        EXPECT_EQ(result.exit_code, 1);
    }
    std::vector<std::string> compiled;
    for (const auto& [name, bytes] : test::snapshot(dir.path())) {
        if (name.ends_with(".xmb") || name.ends_with(".kxe"))
            compiled.push_back(name);
    }
    EXPECT_EQ(compiled,
              (std::vector<std::string>{"a.xmb", "d/b.kxe", "tree/b.xmb", "tree/sub/c.xmb"}));
    EXPECT_EQ(dir.read("a.xmb"),
              std::string("XML\x01\x01\0\0\0a\0\x01\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 30));
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
