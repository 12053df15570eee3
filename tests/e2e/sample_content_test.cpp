// The sample content in examples/ stays what the README promises: its XML and scripts compile, and
// the level bundle packs the logged files first.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/packed_files.h"
#include "support/trovex_runner.h"

namespace {

namespace fs = std::filesystem;

const fs::path examples = fs::path(TROVEX_SOURCE_DIR) / "examples";
const fs::path content = examples / "content";

std::vector<std::string> files_with(const std::string& extension) {
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(content)) {
        if (entry.path().extension() == extension)
            paths.push_back(fs::relative(entry.path(), content).string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// What the README's first command does: compile the XML and the scripts, bundle a level with -L.
TEST(SampleContentTest, TheLevelBundleHoldsTheLoggedFilesFirstThenTheRest) {
    test::TempDir dir;
    fs::copy(content, dir.path() / "sample", fs::copy_options::recursive);
    for (const std::vector<std::string>& compile :
         {std::vector<std::string>{"compile-xml", "-r", "sample", "sample/data", "sample/local"},
          std::vector<std::string>{"compile-scripts", "sample/scripts"}}) {
        ASSERT_EQ(test::run_trovex(dir.path(), compile).output, test::banner());
    }
    for (const std::string& script : files_with(".ksf")) {
        EXPECT_TRUE(fs::exists(dir.path() / "sample" / fs::path(script).replace_extension(".kxe")))
            << script;
    }
    const auto result = test::run_trovex(
        dir.path(), {"bundle", "-L", "-r", "sample", (examples / "logs/forest.log").string()});
    ASSERT_EQ(result.output, test::banner());

    const auto files = test::packed_files(dir.path() / "sample/bundles/forest.bundle");
    ASSERT_GE(files.size(), 8u);
    const std::string first[] = {"data\\game.xmb",
                                 "data\\interface\\menu.xmb",
                                 "textures\\interface\\menu.dds",
                                 "textures\\interface\\font_small.dds",
                                 "textures\\interface\\font_large.dds",
                                 "sounds\\ambient\\forest_loop.wav",
                                 "local\\english\\strings.xmb",
                                 "local\\german\\strings.xmb",
                                 "local\\english\\interface.xmb",
                                 "local\\german\\interface.xmb",
                                 "scripts\\common.ksf",
                                 "scripts\\common.kxe"};
    for (size_t i = 0; i < std::size(first); ++i)
        EXPECT_EQ(files[i], first[i]);
    // Every file but the empty one, each .xml with its .xmb and each .ksf with its .kxe.
    size_t expected = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path() / "sample")) {
        if (entry.is_regular_file() && entry.file_size() > 0 &&
            entry.path().parent_path().filename() != "bundles")
            ++expected;
    }
    EXPECT_EQ(files.size(), expected);
}

}  // namespace
