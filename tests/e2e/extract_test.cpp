// The extract command as a user runs it: what lands where, the messages, patches applied with
// and without -d, and links in the target that lead outside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "bundle/bundle_bytes.h"
#include "support/platform.h"
#include "support/trovex_runner.h"

namespace {

namespace fs = std::filesystem;

// readme.txt, empty.txt (no data), data\units.xml and data\maps\level.xml.
struct Sample {
    Sample() {
        dir.write("tree/readme.txt", "hello");
        dir.write("tree/empty.txt", "");
        dir.write("tree/data/units.xml", "<units/>");
        dir.write("tree/data/maps/level.xml", "<level/>");
        EXPECT_TRUE(test::quick_bundle(dir.path() / "tree", dir.path() / "s.bundle"));
        fs::create_directory(dir.path() / "out");
    }
    test::TempDir dir;
};

TEST(ExtractCommandTest, CopiesWhatTheSubpathNamesOrFails) {
    const auto not_found = [](const std::string& subpath) {
        return test::framed("Trovex subpath not found: " + subpath);
    };
    const struct {
        std::vector<std::string> arguments;
        std::string output;
        std::map<std::string, std::string> files;
        int exit_code = 0;
    } cases[] = {
        {{"-v", "extract", "../s.bundle"},
         "Copying file \\empty.txt to empty.txt\nCopying file \\readme.txt to readme.txt\n",
         {{"empty.txt", ""}, {"readme.txt", "hello"}}},
        {{"extract", "-r", "../s.bundle"},
         "",
         {{"empty.txt", ""},
          {"readme.txt", "hello"},
          {"data", "/"},
          {"data/units.xml", "<units/>"},
          {"data/maps", "/"},
          {"data/maps/level.xml", "<level/>"}}},
        {{"extract", "-v", "--recursive", "../s.bundle", "DATA"},
         "Copying file data\\units.xml to units.xml\nCreating directory maps\n"
         "Copying file data\\maps\\level.xml to maps\\level.xml\n",
         {{"units.xml", "<units/>"}, {"maps", "/"}, {"maps/level.xml", "<level/>"}}},
        {{"extract", "-r", "../s.bundle", "data/*.XML"}, "", {{"units.xml", "<units/>"}}},
        {{"-v", "extract", "-r", "../s.bundle", "data/maps/level.xml", "sub"},
         "Copying file data\\maps\\level.xml to sub\\level.xml\n",
         {{"sub", "/"}, {"sub/level.xml", "<level/>"}}},
        {{"extract", "../s.bundle", "data/*.txt"}, not_found("data/*.txt"), {}, 1},
        {{"extract", "../s.bundle", "missing"}, not_found("missing"), {}, 1},
        {{"extract", "../s.bundle", "data/units.xml/x"}, not_found("data/units.xml/x"), {}, 1},
        {{"extract", "../s.bundle", "*/units.xml"}, not_found("*/units.xml"), {}, 1},
    };
    for (const auto& c : cases) {
        Sample sample;
        if (c.arguments.back() == "sub")
            fs::create_directory(sample.dir.path() / "out/sub");
        const auto result = test::run_trovex(sample.dir.path() / "out", c.arguments);
        EXPECT_EQ(result.output, test::banner() + c.output);
        EXPECT_EQ(result.exit_code, c.exit_code);
        EXPECT_EQ(test::snapshot(sample.dir.path() / "out"), c.files) << c.arguments.back();
    }
}

TEST(ExtractCommandTest, HiddenEntriesDeleteOnlyUnderAllowDelete) {
    Sample sample;
    ASSERT_EQ(
        test::run_trovex(sample.dir.path() / "out", {"extract", "-r", "../s.bundle"}).exit_code, 0);
    // A patch that removed data\ and never.txt, which the copy on disk does not have, and a name
    // in another case that lookups cannot find: never taken for a removal.
    sample.dir.write("patch.bundle",
                     test::Bytes().header(2).records("Readme.TXT -data -never.txt ]").data);
    const auto before = test::snapshot(sample.dir.path() / "out");
    const std::string not_found =
        "Copying file \\Readme.TXT to out\\Readme.TXT\n"
        "Failed to copy '\\Readme.TXT' from bundle to 'out\\Readme.TXT'\n";
    auto result = test::run_trovex(sample.dir.path(), {"-v", "extract", "patch.bundle", "", "out"});
    EXPECT_EQ(result.output, test::banner() + not_found);
    EXPECT_EQ(test::snapshot(sample.dir.path() / "out"), before);

    result =
        test::run_trovex(sample.dir.path(), {"-v", "extract", "-d", "patch.bundle", "", "out"});
    EXPECT_EQ(result.output,
              test::banner() + not_found + "Deleting recursive directory out\\data\n");
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_FALSE(sample.dir.exists("out/data"));
    EXPECT_EQ(sample.dir.read("out/readme.txt"), "hello");
}

TEST(ExtractCommandTest, LinksInTheTargetAreNeverFollowed) {
    if (test::on_windows)
        GTEST_SKIP() << "makes symbolic links";
    test::TempDir dir;
    dir.write("outside/victim.txt", "keep");
    dir.write("outside/deep/keep.txt", "keep");
    dir.write("out/old/mine.txt", "mine");
    fs::create_symlink("../outside/victim.txt", dir.path() / "out/readme.txt");
    fs::create_symlink("../outside", dir.path() / "out/data");
    fs::create_symlink("../outside/deep", dir.path() / "out/gone");
    fs::create_symlink("../../outside", dir.path() / "out/old/escape");
    dir.write("evil.bundle",
              test::Bytes().header(2).records("data/ victim.txt ] -gone -old readme.txt ]").data);
    const auto outside = test::snapshot(dir.path() / "outside");
    const auto result =
        test::run_trovex(dir.path(), {"-v", "extract", "-r", "-d", "evil.bundle", "", "out"});
    EXPECT_EQ(result.output,
              test::banner() + "Deleting file out\\gone\nDeleting recursive directory out\\old\n" +
                  "Copying file \\readme.txt to out\\readme.txt\n" +
                  test::framed("Not extracting \\readme.txt: out\\readme.txt is a symbolic link") +
                  test::framed("Not extracting \\data: out\\data is a symbolic link"));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(test::snapshot(dir.path() / "outside"), outside);
    EXPECT_EQ(test::snapshot(dir.path() / "out"),
              (std::map<std::string, std::string>{{"data", "-> ../outside"},
                                                  {"readme.txt", "-> ../outside/victim.txt"}}));
}

}  // namespace
