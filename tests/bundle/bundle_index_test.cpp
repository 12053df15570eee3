// The bundle directory: both record versions, lookup, name order and corrupt directories; and the
// extractor's refusal of names no bundle file can carry.
#include "bundle/bundle_index.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "bundle/bundle_bytes.h"
#include "bundle/bundle_extractor.h"
#include "support/error_of.h"
#include "support/trovex_runner.h"
#include "utility/command_line.h"
#include "utility/disk_file_system.h"

namespace {

using kam::BundleEntry;
using kam::BundleIndex;

std::unique_ptr<BundleIndex> loaded(const std::string& bytes) {
    auto index = std::make_unique<BundleIndex>();
    index->load(test::archive_of(bytes));
    return index;
}

std::string load_error(const std::string& bytes) {
    return test::error_of([&] { loaded(bytes); });
}

TEST(BundleIndexTest, VersionOneLoadsLikeVersionTwo) {
    const std::string records = "a:100:5 dir/ -x ] -old/ ] ]";
    const std::string v2 = test::Bytes().header(2).records(records).data;
    const std::string v1 = test::Bytes().header(1).records(records, true).data;
    const std::string expected = "a 100 5 1;dir/ 1{x 0 0 0;}old/ 0{}";
    EXPECT_EQ(test::dump(loaded(v2)->root()), expected);
    EXPECT_EQ(test::dump(loaded(v1)->root()), expected);
}

TEST(BundleIndexTest, LookupWalksComponentsAndStopsAtHiddenDirectories) {
    const auto owned =
        loaded(test::Bytes().header(2).records("dir/ sub/ file:64:9 ] ] f:80:1 -old/ x ] ]").data);
    const BundleIndex& index = *owned;
    const BundleEntry* file = &index.root().at("dir").directory->at("sub").directory->at("file");
    const BundleEntry* old = &index.root().at("old");
    const std::pair<std::string, const BundleEntry*> cases[] = {
        {"Dir/Sub/File", file},
        {"/dir\\\\sub/file/", file},
        {"dir/sub", &index.root().at("dir").directory->at("sub")},
        {"old", old},
        {"OLD/missing/deeper", old},  // below a hidden directory: the hidden directory
        {"f/x", nullptr},             // through a file
        {"dir/missing", nullptr},
        {"", nullptr},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(index.lookup(path), expected) << path;
    EXPECT_EQ(index.directory("\\"), &index.root());
    EXPECT_EQ(index.directory("old"), nullptr);
}

TEST(BundleIndexTest, NamesAreOrderedByUnsignedBytesAndRepeatsKeepTheFirstRecord) {
    // Either side of the names kept in place; a repeated b whose records are read and dropped.
    const auto owned = loaded(test::Bytes()
                                  .header(2)
                                  .records("\xe9:0:1 b:0:2 ab:0:3 a:0:4 abcdefghijklmnopqrstu:0:7 "
                                           "abcdefghijklmnopqrst:0:8 b/ lost:0:5 ] c:0:6 ]")
                                  .data);
    const BundleIndex& index = *owned;
    EXPECT_EQ(test::dump(index.root()),
              "a 0 4 1;ab 0 3 1;abcdefghijklmnopqrst 0 8 1;abcdefghijklmnopqrstu 0 7 1;b 0 2 1;"
              "c 0 6 1;\xe9 0 1 1;");
}

TEST(BundleIndexTest, CorruptDirectoriesThrowNamingTheBundleAndTheOffset) {
    auto v2 = [] { return test::Bytes().header(2); };
    auto nested = [](int depth) {
        test::Bytes bytes;
        bytes.header(2);
        for (int i = 0; i < depth; ++i)
            bytes.dir("d");
        for (int i = 0; i <= depth; ++i)
            bytes.end();
        return bytes.data;
    };
    const std::pair<std::string, std::string> cases[] = {
        {v2().dir("").end().end().data, "bad name \"\" at offset 16"},
        {v2().dir(".").end().end().data, "bad name \".\" at offset 16"},
        {v2().file("a", 0, 0).dir("..").end().end().data, "bad name \"..\" at offset 32"},
        {v2().file("a\\b", 0, 0).end().data, "bad name \"a\\b\" at offset 16"},
        {v2().dir("c:").end().end().data, "bad name \"c:\" at offset 16"},
        {v2().file("\x1f/", 0, 0).end().data, "bad name \"\\x1f/\" at offset 16"},
        {test::Bytes().header(1).records("../", true).data, "bad name \"..\" at offset 16"},
        {v2().u8(7).data, "unknown record type 7 at offset 16"},
        {v2().u8(2).u64(0).u32(0).u8(1).raw("abc").data, "name cut short at offset 16"},
        {nested(257), "directories nested deeper than 256 at offset 1040"},
    };
    for (const auto& [bytes, what] : cases) {
        EXPECT_EQ(load_error(bytes), "Corrupt bundle test.bundle: " + what);
    }
    EXPECT_EQ(load_error(nested(256)), "(no error)");
    EXPECT_EQ(load_error(v2().file("a", 0, 0).data),
              "Archive::checked_read() Attempt to read past end of archive 'test.bundle'");
    // Only a file that starts like a bundle is read as one.
    for (const std::string& other : {std::string("BND"), test::Bytes().header(3).end().data,
                                     test::Bytes().header(0).end().data,
                                     "PK" + test::Bytes().header(2).end().data.substr(2)}) {
        EXPECT_EQ(load_error(other), "test.bundle is not a bundle");
    }

    // A failed load keeps what was there; a good one replaces it, cached lookups too.
    BundleIndex index;
    index.load(test::archive_of(v2().file("kept", 0, 0).end().data));
    EXPECT_THROW(index.load(test::archive_of(v2().dir("..").data)), std::runtime_error);
    EXPECT_NE(index.lookup("kept"), nullptr);
    index.load(test::archive_of(v2().end().data));
    EXPECT_EQ(index.lookup("kept"), nullptr);
}

TEST(BundleExtractorTest, NamesThatCouldLeaveTheTargetAreRefusedAndSkipped) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.path() / "a");
    const std::string target = (dir.path() / "a").string();
    // Loading refuses such names; an index built in memory can still hold them.
    kam::BundleIndex index;
    kam::BundleEntryMap& root = index.mutable_root();
    for (const char* name : {"", ".", "..", "/etc", "a\\..\\..\\x", "c:x", "ok.txt"})
        root.emplace(name, kam::BundleEntry());
    kam::BundleEntry parent;
    parent.directory = std::make_unique<kam::BundleEntryMap>();
    parent.directory->emplace("x", kam::BundleEntry());
    kam::BundleEntry& sub = root[kam::BundleName("sub")];
    sub.directory = std::make_unique<kam::BundleEntryMap>();
    sub.directory->emplace("..", std::move(parent));

    CommandLine line(std::vector<std::string>{});
    kam::BundleExtractor extractor(kam::default_disk_file_system(), index, {true, true});
    const std::string output = test::output_of([&] { extractor.extract("", target); });

    std::string expected;
    for (const std::string name : {"", ".", "..", "/etc", "a\\..\\..\\x", "c:x"}) {
        expected += test::framed("Not extracting \\" + name + ": the name \"" + name +
                                 "\" could reach outside the target");
    }
    expected +=
        test::framed("Not extracting \\sub\\..: the name \"..\" could reach outside the target");
    EXPECT_EQ(output, expected);
    EXPECT_EQ(extractor.refused(), 7);
    EXPECT_EQ(test::snapshot(dir.path()),
              (std::map<std::string, std::string>{{"a", "/"}, {"a/ok.txt", ""}, {"a/sub", "/"}}));
}

}  // namespace
