// Pipes where files are expected: every command refuses them at once, naming the path, instead of
// waiting for a peer that never comes, and goes on with the rest of a tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/platform.h"
#include "support/trovex_runner.h"

namespace {

namespace fs = std::filesystem;

const std::string refused = "error code 0x20000001: Not a regular file";
const std::string unsaved = "Cannot save compiled script d\\x.kxe: ";

TEST(SpecialFilesTest, PipesAreRefusedWithoutWaiting) {
    if (test::on_windows)
        GTEST_SKIP() << "makes FIFOs";
    const struct {
        std::string pipe;
        std::vector<std::pair<std::string, std::string>> files;
        std::vector<std::string> arguments;
        std::vector<std::string> messages;
        std::map<std::string, bool> made = {};  // whether each file is there afterwards
    } cases[] = {
        {"a.xml",
         {},
         {"compile-xml", "a.xml"},
         {"Cannot open a.xml with create mode: 0x3", refused}},
        {"t/a.xml", {{"t/b.xml", "<b/>"}}, {"compile-xml", "t"}, {refused}, {{"t/b.xmb", true}}},
        {"root/sub/p.txt",
         {{"root/sub/f.txt", "data"}},
         {"quick-bundle", "-r", "root"},
         {"sub\\p.txt with create mode: 0x3", refused},
         {{"root/bundles/quick.bundle", false}}},
        {"b.bundle", {}, {"list", "b.bundle"}, {refused}},
        // The pipe is newer than its source, so -m would read it.
        {"d/x.kxe", {{"d/x.ksf", "f() {}"}}, {"compile-scripts", "-m", "d"}, {unsaved, refused}},
        {"e/a.ksf",
         {{"e/b.ksf", "f() {}"}},
         {"compile-scripts", "-a", "e"},
         {refused},
         {{"e/b.kxe", true}, {"e/a.kxe", false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        test::TempDir dir;
        for (const auto& [path, content] : c.files)
            dir.write(path, content);
        fs::create_directories((dir.path() / c.pipe).parent_path());
        ASSERT_TRUE(test::make_fifo(dir.path() / c.pipe));
        fs::last_write_time(dir.path() / c.pipe,
                            fs::file_time_type::clock::now() + std::chrono::hours(1));
        const auto result = test::run_trovex(dir.path(), c.arguments);
        EXPECT_EQ(result.exit_code, 1);
        for (const std::string& message : c.messages)
            EXPECT_NE(result.output.find(message), std::string::npos) << result.output;
        for (const auto& [path, there] : c.made)
            EXPECT_EQ(dir.exists(path), there) << path;
    }
}

}  // namespace
