// Pipes where files are expected: every command refuses them at once, naming the path, instead of
// waiting for a peer that never comes.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/platform.h"
#include "support/trovex_runner.h"

namespace {

namespace fs = std::filesystem;

const std::string refused = "error code 0x20000001: Not a regular file";

void make_fifo(const test::TempDir& dir, const std::string& relative) {
    fs::create_directories((dir.path() / relative).parent_path());
    ASSERT_TRUE(test::make_fifo(dir.path() / relative)) << relative;
}

TEST(SpecialFilesTest, CompileXmlReportsAPipeAndCompilesTheRest) {
    if (test::on_windows) GTEST_SKIP() << "makes FIFOs";
    test::TempDir dir;
    make_fifo(dir, "a.xml");
    make_fifo(dir, "tree/a.xml");
    dir.write("tree/b.xml", "<b/>");
    const auto argument = test::run_trovex(dir.path(), {"compile-xml", "a.xml"});
    EXPECT_EQ(argument.exit_code, 1);
    EXPECT_NE(argument.output.find("Cannot open a.xml with create mode: 0x3"), std::string::npos)
        << argument.output;
    EXPECT_NE(argument.output.find(refused), std::string::npos) << argument.output;

    const auto tree = test::run_trovex(dir.path(), {"compile-xml", "tree"});
    EXPECT_EQ(tree.exit_code, 1);
    EXPECT_NE(tree.output.find(refused), std::string::npos) << tree.output;
    EXPECT_TRUE(dir.exists("tree/b.xmb"));
}

TEST(SpecialFilesTest, BundlesOfTreesHoldingAPipeFailWithoutWritingABundle) {
    if (test::on_windows) GTEST_SKIP() << "makes FIFOs";
    test::TempDir dir;
    dir.write("root/sub/f.txt", "data");
    make_fifo(dir, "root/sub/p.txt");
    dir.write("open.log", "<open path=\"sub/p.txt\" flags=\"r\" />\r\n");
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"quick-bundle", "-r", "root"}, {"bundle", "-r", "root", "open.log"}}) {
        const auto result = test::run_trovex(dir.path(), arguments);
        EXPECT_EQ(result.exit_code, 1) << arguments[0];
        EXPECT_NE(result.output.find("sub\\p.txt with create mode: 0x3"), std::string::npos) << result.output;
        EXPECT_NE(result.output.find(refused), std::string::npos) << result.output;
        EXPECT_FALSE(dir.exists("root/bundles/quick.bundle") ||
                     dir.exists("root/bundles/open.bundle"));
    }
}

TEST(SpecialFilesTest, APipeIsNoBundleToList) {
    if (test::on_windows) GTEST_SKIP() << "makes FIFOs";
    test::TempDir dir;
    make_fifo(dir, "b.bundle");
    const auto result = test::run_trovex(dir.path(), {"list", "b.bundle"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.output.find(refused), std::string::npos) << result.output;
}

}  // namespace
