// The extractor below the command: names no bundle file can carry.
#include "bundle/bundle_extractor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

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

}  // namespace
