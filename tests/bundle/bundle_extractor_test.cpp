// The extractor below the command: names no bundle file can carry, and copies in bounded chunks.
#include "bundle/bundle_extractor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "bundle/bundle_builder.h"
#include "bundle/bundle_bytes.h"
#include "support/error_of.h"
#include "support/trovex_runner.h"
#include "utility/command_line.h"
#include "utility/disk_file_system.h"

namespace {

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

TEST(BundleExtractorTest, LargeFilesAreCopiedInBoundedChunks) {
    constexpr std::uint32_t size = 3 * kam::BundleBuilder::copy_chunk + 5;
    auto store = std::make_shared<test::PatternStore>(
        test::Bytes().header(2).file("big.bin", 64, size).end().data, 64);
    kam::BundleIndex index;
    index.load(kam::Archive("big.bundle", store, 0, 64 + size, false));
    test::TempDir dir;
    CommandLine line(std::vector<std::string>{});
    kam::BundleExtractor(kam::default_disk_file_system(), index, {})
        .extract("big.bin", dir.path().string());

    EXPECT_LE(store->largest_read, kam::BundleBuilder::copy_chunk);
    const std::string copy = dir.read("big.bin");
    ASSERT_EQ(copy.size(), size);
    for (std::uint32_t i = 0; i < size; ++i) {
        if (copy[i] != test::PatternStore::byte_at(64 + i))
            FAIL() << "byte " << i << " differs";
    }
}

}  // namespace
