// compile-scripts as a user runs it: messages, modes, directories, golden compiled files.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

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

TEST(CompileScriptsTest, DirectoryErrorsAtOnceOrCollected) {
    test::TempDir dir;
    dir.write("d/a_bad.ksf", bad_source);
    dir.write("d/b_good.ksf", good_source);
    dir.write("e/c_good.ksf", good_source);
    const std::string error =
        "d\\a_bad.ksf:syntax error\nd\\a_bad.ksf(2):Non valid statement (token:})";
    const std::string compiling = "Compiling d\\a_bad.ksf\n";
    const std::string compiling_good = "Compiling d\\b_good.ksf\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-v", "compile-scripts", "d"}, compiling + test::framed(error) + compiling_good},
        {{"-v", "compile-scripts", "-a", "d"}, compiling + compiling_good + test::framed(error)},
        // The collected errors are never emptied: every later directory reports them again.
        {{"compile-scripts", "-a", "d", "e", "d"},
         test::framed(error) + test::framed(error) + test::framed(error + "\nERROR: " + error)},
        {{"-b", "compile-scripts", "d"}, test::framed(error)},
    };
    for (const auto& [arguments, output] : cases) {
        fs::remove(dir.path() / "d/b_good.kxe");
        const auto result = test::run_trovex(dir.path(), arguments);
        EXPECT_EQ(result.output, test::banner() + output) << arguments.back();
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(dir.exists("d/b_good.kxe"), arguments.front() != "-b");
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

}  // namespace
