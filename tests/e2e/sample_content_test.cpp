// The sample content in examples/ stays what the README promises: XML that loads with its
// includes and defines resolved, scripts that compile, and load logs that name its files.
#include <gtest/gtest.h>

#include <filesystem>

#include "bundle/load_log.h"
#include "e2e/packed_files.h"
#include "support/trovex_runner.h"
#include "utility/disk_file_system.h"
#include "utility/virtual_file_system.h"
#include "xml/xml_document.h"

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

// Every include and every reference to a define is gone from the tree.
void expect_resolved(const kam::XMLNode& node, const std::string& file) {
    EXPECT_NE(node.name(), "xi:include") << file;
    for (const auto& [name, value] : node.parameters()) {
        EXPECT_EQ(value.find('@'), std::string::npos) << file << ": " << kam::string_of(name);
    }
    for (int i = 0; i < node.num_children(); ++i)
        expect_resolved(*node.child(i), file);
}

TEST(SampleContentTest, XmlLoadsWithIncludesAndDefinesResolved) {
    kam::VirtualFileSystem files;
    kam::DiskFileSystem disk(content.string());
    files.mount("/", &disk, false);
    const auto paths = files_with(".xml");
    EXPECT_GE(paths.size(), 24u);
    for (const std::string& path : paths) {
        kam::XMLDocument document;
        ASSERT_TRUE(document.load(path)) << path;
        expect_resolved(document.root(), path);
    }
    kam::XMLDocument tank;
    ASSERT_TRUE(tank.load("data/units/tank.xml"));
    EXPECT_EQ(tank.dependencies.size(), 2u);
}

TEST(SampleContentTest, LogsAreRecordedLinesNamingTheTree) {
    for (const char* name : {"forest.log", "harbour.log"}) {
        const fs::path log = examples / "logs" / name;
        std::istringstream lines(test::read_file(log));
        for (std::string line; std::getline(lines, line);) {
            EXPECT_TRUE(line.starts_with("   <open path=\"") && line.ends_with("\" />\r")) << line;
        }
        const auto paths = kam::read_load_log(log.string());
        EXPECT_GE(paths.size(), 40u);
        for (kam::IdString id : paths) {
            std::string path = kam::string_of(id);
            // The game reads binary XML; the probe for an override finds nothing on purpose.
            if (path.ends_with(".xmb"))
                path.replace(path.size() - 4, 4, ".xml");
            std::replace(path.begin(), path.end(), '\\', '/');
            EXPECT_TRUE(fs::exists(content / path) || path.find("override") != std::string::npos)
                << path;
        }
    }
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
