// compile-scripts and compile-xml as a user runs them: messages, modes, directories, golden
// compiled files, and what both do with arguments that are no sources; --depfile of every
// command.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <tuple>

#include "support/platform.h"
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

// --depfile as make and ninja read it, and compile-xml -m after edits of included files.
using Files = std::map<std::string, std::string>;
using Commands = std::vector<std::vector<std::string>>;

const std::string level_log = test::recorded_log({"d\\b.txt"});

// Windows spells paths with backslashes, in the case given: compared as it matches names.
std::string on_this_system(const std::string& text) {
    return test::on_windows ? test::canonical(text) : text;
}

TEST(DepfileTest, NamesEveryInputAsTheDiskSpellsItAndChangesNoOtherOutput) {
    const std::tuple<const char*, Files, Commands, std::string, std::string> cases[] = {
        {"includes, transitively, escaped",
         {{"a b$#/x.xml", "<x><xi:include href=\"inc/i.xml\"/></x>"},
          {"a b$#/Inc/i.xml", "<i><xi:include href=\"j.xml\"/></i>"},
          {"a b$#/Inc/j.xml", "<j><k/></j>"}},
         {{"compile-xml", "--depfile", "-r", "a b$#", "a b$#/x.xml"}},
         "a b$#/x.xmb.d",
         "a\\ b$$\\#/x.xmb: \\\n  a\\ b$$\\#/x.xml \\\n  a\\ b$$\\#/Inc/i.xml \\\n"
         "  a\\ b$$\\#/Inc/j.xml\n"},
        {"a script names its source alone, over its old dependency file",
         {{"s/a.ksf", "f() { return 1; }\n"}, {"s/a.kxe.d", "s/a.kxe: old.ksf\n"}},
         {{"compile-scripts", "--depfile", "s"}},
         "s/a.kxe.d",
         "s/a.kxe: \\\n  s/a.ksf\n"},
        {"a bundle: its logs, force files, listed directories and packed files",
         {{"r/a.txt", "a"}, {"r/d/b.txt", "b"}, {"r/d/c.txt", "c"}, {"log.xml", level_log}},
         {{"bundle", "--depfile", "-r", "r", "-D", "o.bundle", "-F", "r/a.txt", "log.xml"}},
         "o.bundle.d",
         "o.bundle: \\\n  log.xml \\\n  r/a.txt \\\n  r \\\n  r/d \\\n  r/d/b.txt\n"},
        {"the directory the outputs go to is left out",
         {{"r/a.txt", "a"}},
         {{"quick-bundle", "--depfile", "-r", "r"}, {"quick-bundle", "--depfile", "-r", "r"}},
         "r/bundles/quick.bundle.d",
         "r/bundles/quick.bundle: \\\n  r \\\n  r/a.txt\n"},
        {"a patch names the bundles it compares",
         {{"r/a.txt", "a"}},
         {{"quick-bundle", "-r", "r", "-D", "a.bundle"},
          {"quick-bundle", "-r", "r", "-D", "b.bundle"},
          {"make-patch", "--depfile", "a.bundle", "b.bundle", "p.bundle"}},
         "p.bundle.d",
         "p.bundle: \\\n  a.bundle \\\n  b.bundle\n"},
    };
    for (const char* jobs : {"1", "2"}) {
        for (const auto& [name, files, commands, depfile, expected] : cases) {
            SCOPED_TRACE(std::string(name) + ", -j " + jobs);
            test::TempDir dir, plain;
            // Without --depfile, in a directory of its own: every other output is the same.
            std::string printed[2];
            for (const test::TempDir* where : {&dir, &plain}) {
                for (const auto& [path, content] : files)
                    where->write(path, content);
                for (std::vector<std::string> command : commands) {
                    if (where == &plain)
                        std::erase(command, "--depfile");
                    command.insert(command.begin(), {"-j", jobs});
                    const auto result = test::run_trovex(where->path(), command);
                    ASSERT_EQ(result.exit_code, 0) << result.output;
                    printed[where == &plain] += result.output;
                }
            }
            EXPECT_EQ(on_this_system(dir.read(depfile)), on_this_system(expected));
            auto outputs = test::snapshot(dir.path()), plain_outputs = test::snapshot(plain.path());
            outputs.erase(depfile);
            plain_outputs.erase(depfile);
            EXPECT_EQ(outputs, plain_outputs);
            EXPECT_EQ(printed[0], printed[1]);
        }
    }
}

// Every file made an hour older, so that what a step writes is newer than every output.
void age(const fs::path& directory) {
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& entry : fs::recursive_directory_iterator(directory))
        fs::last_write_time(entry.path(), past);
}

TEST(DepfileTest, OnlyIfModifiedFollowsIncludes) {
    if (test::under_wine())
        GTEST_SKIP() << "Wine refuses to set the times of the files";
    const std::string compiled = "Compiling a.xml\n";
    const std::string missing =
        compiled + test::framed("a.xml (1): Cannot include b.xml: b.xml does not exist");
    // Steps of the files written, then the output after the banner and the exit status.
    const std::pair<const char*, std::vector<std::tuple<Files, std::string, int>>> cases[] = {
        {"an edited include rebuilds its includer",
         {{{{"a.xml", "<a><xi:include href=\"b.xml\"/></a>"}, {"b.xml", "<b><c/></b>"}},
           compiled,
           0},
          {{{"b.xml", "<b><d/></b>"}}, compiled, 0},
          {{}, "", 0}}},
        {"so does an edited include of an include",
         {{{{"a.xml", "<a><xi:include href=\"b.xml\"/></a>"},
            {"b.xml", "<b><xi:include href=\"sub/c.xml\"/></b>"},
            {"sub/c.xml", "<c><d/></c>"}},
           compiled,
           0},
          {{{"sub/c.xml", "<c><e/></c>"}}, compiled, 0},
          {{}, "", 0}}},
        {"a missing include rebuilds until it appears",
         {{{{"a.xml",
             "<a><!-- <xi:include href=\"gone.xml\"/> --><xi:include href=\"b.xml\"/></a>"}},
           missing,
           1},
          {{}, missing, 1},
          {{{"b.xml", "<b><c/></b>"}}, compiled, 0},
          {{}, "", 0}}},
    };
    for (const bool depfile : {false, true}) {
        for (const auto& [name, steps] : cases) {
            SCOPED_TRACE(std::string(name) + (depfile ? ", with --depfile" : ""));
            test::TempDir dir;
            std::vector<std::string> command = {"-v", "compile-xml", "-m", "-r", "t", "t/a.xml"};
            if (depfile)
                command.push_back("--depfile");
            for (const auto& [writes, output, exit_code] : steps) {
                age(dir.path());
                for (const auto& [path, content] : writes)
                    dir.write("t/" + path, content);
                const auto result = test::run_trovex(dir.path(), command);
                EXPECT_EQ(result.output, test::banner() + output);
                EXPECT_EQ(result.exit_code, exit_code);
            }
        }
    }
}

}  // namespace
