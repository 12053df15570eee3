// compile-scripts and compile-xml as a user runs them: messages, modes, directories, golden
// compiled files, and what both do with arguments that are no sources.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <tuple>

#include "support/trovex_runner.h"

namespace {

namespace fs = std::filesystem;

const char* const bad_source = "f() {\n x := 1 }";
const char* const good_source = "f() {}";

// A golden file below tests/script/data, written as whitespace-separated tokens with '#' comments:
// hexadecimal bytes in file order, "text", u32(N) and i32(N) little-endian, token*N repeated.
std::string golden_file(const std::string& name) {
    std::string bytes;
    std::istringstream lines(
        test::read_file(fs::path(TROVEX_SOURCE_DIR) / "tests/script/data" / name));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream tokens(line.substr(0, line.find('#')));
        for (std::string token; tokens >> token;) {
            const size_t star = token.back() == '"' ? std::string::npos : token.rfind('*');
            const size_t count = star == std::string::npos ? 1 : std::stoul(token.substr(star + 1));
            token.resize(std::min(star, token.size()));
            std::string one;
            if (token.front() == '"') {
                one = token.substr(1, token.size() - 2);
            } else if (token.back() == ')') {
                const auto value = static_cast<std::uint32_t>(std::stoll(token.substr(4)));
                for (int shift = 0; shift < 32; shift += 8)
                    one += static_cast<char>(value >> shift);
            } else {
                for (size_t i = 0; i < token.size(); i += 2)
                    one += static_cast<char>(std::stoul(token.substr(i, 2), nullptr, 16));
            }
            for (size_t i = 0; i < count; ++i)
                bytes += one;
        }
    }
    return bytes;
}

// The golden files were derived by hand from the rules of the compiled-script format.
TEST(CompileScriptsTest, CompiledFilesMatchTheGoldenFiles) {
    test::TempDir dir;
    dir.write("golden.ksf",
              test::read_file(fs::path(TROVEX_SOURCE_DIR) / "tests/script/data/golden.ksf"));
    const auto result = test::run_trovex(dir.path(), {"compile-scripts", "golden.ksf"});
    EXPECT_EQ(result.output, test::banner());
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(dir.read("golden.kxe"), golden_file("golden.kxe.txt"));
    // An absolute path works as well; -s leaves the debug section out.
    const auto stripped = test::run_trovex(
        dir.path(), {"compile-scripts", "-s", (dir.path() / "golden.ksf").string()});
    EXPECT_EQ(stripped.output, test::banner());
    EXPECT_EQ(dir.read("golden.kxe"), golden_file("golden_stripped.kxe.txt"));
}

TEST(CompileTest, DirectoryErrorsAtOnceOrCollected) {
    test::TempDir dir;
    dir.write("d/a_bad.ksf", bad_source);
    dir.write("d/b_good.ksf", good_source);
    dir.write("e/c_good.ksf", good_source);
    // A directory where an xml file's binary form should go cannot be written.
    for (const std::string tree : {"one", "two"}) {
        dir.write(tree + "/x.xml", "<x/>");
        dir.write(tree + "/x.xmb/keep", "");
        dir.write(tree + "/y.xml", "<y/>");
    }
    const std::string error =
        "d\\a_bad.ksf:syntax error\nd\\a_bad.ksf(2):Non valid statement (token:})";
    const std::string compiling = "Compiling d\\a_bad.ksf\n";
    const std::string compiling_good = "Compiling d\\b_good.ksf\n";
    const std::string one = "Cannot open one\\x.xmb", two = "Cannot open two\\x.xmb";
    // The arguments, the output, and a file that only a run going on past the error makes.
    const std::tuple<std::vector<std::string>, std::string, std::string, bool> cases[] = {
        {{"-v", "compile-scripts", "d"},
         compiling + test::framed(error) + compiling_good,
         "d/b_good.kxe",
         true},
        {{"-v", "compile-scripts", "-a", "d"},
         compiling + compiling_good + test::framed(error),
         "d/b_good.kxe",
         true},
        // The collected errors are never emptied: every later directory reports them again.
        {{"compile-scripts", "-a", "d", "e", "d"},
         test::framed(error) + test::framed(error) + test::framed(error + "\nERROR: " + error),
         "d/b_good.kxe",
         true},
        {{"-b", "compile-scripts", "d"}, test::framed(error), "d/b_good.kxe", false},
        {{"compile-xml", "-a", "one", "two"},
         test::framed(one + "\n") + test::framed(one + "\nERROR: " + two + "\n"),
         "two/y.xmb",
         true},
        {{"-b", "compile-xml", "one", "two"}, test::framed(one), "two/y.xmb", false},
    };
    for (const auto& [arguments, output, made, going_on] : cases) {
        fs::remove(dir.path() / made);
        const auto result = test::run_trovex(dir.path(), arguments);
        // The system's words for a failed open differ between systems; the throw's source line
        // is no behaviour.
        EXPECT_EQ(
            std::regex_replace(result.output,
                               std::regex(R"(archive\.cpp\(\d+\) (Cannot open \S+) .*)"), "$1"),
            test::banner() + output)
            << arguments.back();
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(dir.exists(made), going_on) << made;
    }
}

TEST(CompileScriptsTest, OnlyIfModifiedOverATreeTouchesOnlyWhatIsNotUpToDate) {
    test::TempDir dir;
    for (const char* source :
         {"Tree/a.ksf", "Tree/Sub/B.ksf", "Tree/Sub/c.ksf", "Tree/Sub/Deeper/d.ksf"}) {
        dir.write(source, good_source);
    }
    ASSERT_EQ(test::run_trovex(dir.path(), {"compile-scripts", "Tree"}).exit_code, 0);
    const auto compiled = test::snapshot(dir.path());
    const auto source_time = fs::last_write_time(dir.path() / "Tree/a.ksf");
    const auto later = source_time + std::chrono::hours(1);
    for (const char* kept : {"Tree/a.kxe", "Tree/Sub/b.kxe", "Tree/Sub/c.kxe"})
        fs::last_write_time(dir.path() / kept, later);
    fs::last_write_time(dir.path() / "Tree/Sub/c.ksf", later + std::chrono::hours(1));
    // As old as its source: the command says it compiles, the load takes the compiled file.
    fs::last_write_time(dir.path() / "Tree/Sub/Deeper/d.ksf", source_time);
    fs::last_write_time(dir.path() / "Tree/Sub/Deeper/d.kxe", source_time);

    const auto result = test::run_trovex(dir.path(), {"-v", "compile-scripts", "-m", "Tree"});
    EXPECT_EQ(result.output,
              test::banner() + "Compiling tree\\sub\\c.ksf\nCompiling tree\\sub\\deeper\\d.ksf\n");
    EXPECT_EQ(fs::last_write_time(dir.path() / "Tree/a.kxe"), later);
    EXPECT_EQ(fs::last_write_time(dir.path() / "Tree/Sub/b.kxe"), later);
    EXPECT_NE(fs::last_write_time(dir.path() / "Tree/Sub/c.kxe"), later);
    EXPECT_EQ(fs::last_write_time(dir.path() / "Tree/Sub/Deeper/d.kxe"), source_time);
    EXPECT_EQ(test::snapshot(dir.path()), compiled);
}

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

}  // namespace
