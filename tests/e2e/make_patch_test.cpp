// The make-patch command as a user runs it: the comparison rules, the patch's listing, and the
// patch extracted over the old version.
#include <gtest/gtest.h>

#include <map>

#include "bundle/bundle_bytes.h"
#include "support/trovex_runner.h"

namespace {

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
        {"identical",
         {{"a.txt", "x"}, {"d/b.txt", "y"}},
         {{"a.txt", "x"}, {"d/b.txt", "y"}},
         "",
         ""},
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
