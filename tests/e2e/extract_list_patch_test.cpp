// The extract, list and make-patch commands as a user runs them: what lands where, the messages,
// patches applied with and without -d, links in the target that lead outside it; exact tree and
// flat lines, widths, subdirectories, hidden entries and names that cannot be looked up again;
// the comparison rules, the patch's listing, and the patch extracted over the old version.
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

// A line of the listing: the name, and the size or kind ending in the last column.
std::string line(const std::string& name, const std::string& tail, size_t width = 79) {
    return name + std::string(width - name.size() - tail.size(), ' ') + tail + "\n";
}

TEST(ListCommandTest, LinesAndErrors) {
    test::TempDir dir;
    // data\units.xml of 120 bytes and readme.txt of 5 bytes.
    dir.write("tree/data/units.xml", std::string(120, 'u'));
    dir.write("tree/readme.txt", "hello");
    ASSERT_TRUE(test::quick_bundle(dir.path() / "tree", dir.path() / "sample.bundle"));
    dir.write("patch.bundle",
              test::Bytes().header(2).records("a/ x ] -gone/ ] -old.txt empty.txt ]").data);
    dir.write("odd.bundle", test::Bytes().header(2).records("Maps/ ] a.txt ]").data);
    dir.write("odd_file.bundle", test::Bytes().header(2).records("a.txt b.TXT ]").data);
    dir.write("cut.bundle", test::Bytes().header(2).dir("data").data);

    const std::string tree_lines =  // the default width: every line ends in column 79
        line("+-- data", " <dir>") + line("    +-- units.xml", " [120 bytes]") +
        line("+-- readme.txt", " [5 bytes]");
    const struct {
        std::vector<std::string> arguments;
        std::string lines;
        int exit_code = 0;
    } cases[] = {
        {{"list", "-r", "sample.bundle"}, tree_lines},
        {{"list", "--recursive", "--width", "-5", "sample.bundle"}, tree_lines},
        // A name column of 10, which names overflow.
        {{"list", "-rW", "30", "sample.bundle"},
         line("+-- data", " <dir>", 30) + line("    +-- units.xml", " [120 bytes]", 30) +
             line("+-- readme.txt", " [5 bytes]", 30)},
        {{"list", "-r", "-f", "sample.bundle"},
         line("readme.txt", "[5 bytes]") + line("data\\units.xml", "[120 bytes]")},
        {{"list", "-f", "sample.bundle"}, line("readme.txt", "[5 bytes]")},
        {{"list", "sample.bundle"},
         line("+-- data", " <dir>") + line("+-- readme.txt", " [5 bytes]")},
        {{"list", "sample.bundle", "DATA/"}, line("+-- units.xml", " [120 bytes]")},
        {{"list", "-f", "sample.bundle", "data"}, line("data\\units.xml", "[120 bytes]")},
        {{"list", "-r", "sample.bundle", "missing"}, ""},
        {{"list", "-r", "sample.bundle", "readme.txt"}, ""},
        // Hidden entries show instead of a size.
        {{"list", "-r", "patch.bundle"},
         line("+-- a", " <dir>") + line("|   +-- x", " [0 bytes]") + line("+-- gone", " <hidden>") +
             line("+-- empty.txt", " [0 bytes]") + line("+-- old.txt", " <hidden>")},
        {{"list", "-r", "patch.bundle", "gone"}, ""},
        {{"list", "-rf", "patch.bundle"},
         line("empty.txt", "[0 bytes]") + line("old.txt", "<hidden>") + line("a\\x", "[0 bytes]")},
        // Names that cannot be looked up again end the listing, after the lines before them.
        {{"list", "odd.bundle"}, test::framed("Error parsing bundle dir Maps"), 1},
        {{"list", "-f", "odd_file.bundle"},
         line("a.txt", "[0 bytes]") + test::framed("Error parsing bundle file b.TXT"),
         1},
        {{"list", "cut.bundle", "-x"},
         test::framed("Unknown flag -x use -h for help") +
             test::framed(
                 "Archive::checked_read() Attempt to read past end of archive 'cut.bundle'"),
         1},
    };
    for (const auto& c : cases) {
        const auto result = test::run_trovex(dir.path(), c.arguments);
        EXPECT_EQ(result.output, test::banner() + c.lines)
            << c.arguments[1] << " " << c.arguments.back();
        EXPECT_EQ(result.exit_code, c.exit_code);
    }
    // Nothing but the JSON, for tools that read standard output whole.
    const auto json = test::run_trovex(dir.path(), {"list", "--json", "sample.bundle", "data"});
    EXPECT_EQ(json.output.substr(0, 46),
              "[\n{\"path\": \"data\\\\units.xml\", \"kind\": \"file\", ");
    EXPECT_NE(json.output.find("\"size\": 120, "), std::string::npos) << json.output;
}

using Files = std::map<std::string, std::string>;

void bundle_files(const test::TempDir& dir, const std::string& name, const Files& files) {
    std::filesystem::create_directories(dir.path() / name);
    for (const auto& [path, content] : files)
        dir.write(name + "/" + path, content);
    ASSERT_TRUE(test::quick_bundle(dir.path() / name, dir.path() / (name + ".bundle")));
}

TEST(MakePatchCommandTest, ComparisonRules) {
    const std::string big(600000, 'b');  // more than one chunk of comparison
    const struct {
        const char* what;
        Files pre, post;
        std::string lines, listing;
        std::string pre_bundle = {};  // written as it is, instead of packing pre
    } cases[] = {
        {"size", {{"a.txt", "abc"}}, {{"a.txt", "abcd"}}, "Modify: \\a.txt\n", "a.txt\n"},
        {"one byte", {{"a.txt", "abc"}}, {{"a.txt", "abd"}}, "Modify: \\a.txt\n", "a.txt\n"},
        {"no data in either", {{"empty.txt", ""}}, {{"empty.txt", ""}}, "", ""},
        {"big and equal", {{"big.bin", big}}, {{"big.bin", big}}, "", ""},
        {"big, last byte",
         {{"big.bin", big}},
         {{"big.bin", big.substr(1) + "c"}},
         "Modify: \\big.bin\n",
         "big.bin\n"},
        {"added",
         {{"a.txt", "x"}},
         {{"a.txt", "x"}, {"new/c.txt", "c"}},
         "Add:    \\new\\c.txt\n",
         "new/\n    c.txt\n"},
        {"removed file and directory",
         {{"keep.txt", "k"}, {"gone.txt", "g"}, {"old/a.txt", "a"}, {"old/sub/b.txt", "b"}},
         {{"keep.txt", "k"}},
         "Remove: \\gone.txt\nRemove: \\old\\a.txt\nRemove: \\old\\sub\\b.txt\n",
         "gone.txt (NOT EXIST)\nold (NOT EXIST)\n"},
        {"directory became an empty file",
         {{"x/a.txt", "a"}},
         {{"x", ""}},
         "Modify: \\x\nRemove: \\x\\a.txt\n",
         "x (NO DATA)\n"},
        {"hidden in pre",
         {},
         {{"a.txt", "x"}},
         "Add:    \\a.txt\n",
         "a.txt\n",
         test::Bytes().header(2).file("a.txt", 0, 0, 0).end().data},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        if (c.pre_bundle.empty())
            bundle_files(dir, "pre", c.pre);
        else
            dir.write("pre.bundle", c.pre_bundle);
        bundle_files(dir, "post", c.post);
        const auto result = test::run_trovex(
            dir.path(), {"-v", "make-patch", "pre.bundle", "post.bundle", "p.bundle"});
        EXPECT_EQ(result.output, test::banner() +
                                     "Creating patch bundle.\n------- Patch start -------\n" +
                                     c.lines + "------- Patch end!! -------\n")
            << c.what;
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(dir.read("p.bundle.log"), c.listing) << c.what;
        if (c.lines.empty()) {
            EXPECT_EQ(dir.read("p.bundle"), test::Bytes().header(2, 17).end().data) << c.what;
        }
        // Extracted with -d over the old version, the patch gives the new one.
        std::filesystem::create_directory(dir.path() / "copy");
        for (const char* bundle : {"pre.bundle", "p.bundle"}) {
            const auto extracted =
                test::run_trovex(dir.path(), {"extract", "-r", "-d", bundle, "", "copy"});
            EXPECT_EQ(extracted.output, test::banner()) << c.what;
            EXPECT_EQ(extracted.exit_code, 0);
        }
        EXPECT_EQ(test::snapshot(dir.path() / "copy"), test::snapshot(dir.path() / "post"))
            << c.what;
    }
}

}  // namespace
