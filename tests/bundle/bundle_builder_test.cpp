// The bundle writer: exact layouts, entries from the file system, progress, and builds that fail
// without harming the bundle they were to replace.
#include "bundle/bundle_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

#include "bundle/bundle_bytes.h"
#include "support/error_of.h"
#include "support/memory_file_system.h"
#include "support/trovex_runner.h"
#include "utility/command_line.h"
#include "utility/disk_file_system.h"
#include "utility/path.h"

namespace {

using kam::BundleBuilder;

kam::DiskFileSystem& disk() {
    return kam::default_disk_file_system();
}

// Files of given sizes, their bytes made up from their offsets and never stored; the largest read
// is remembered.
class PatternFileSystem : public test::MemoryFileSystem {
public:
    struct Store : kam::DataStore {
        std::uint32_t write(std::uint64_t, const void*, std::uint32_t) override { return 0; }
        std::uint32_t read(std::uint64_t offset, void* buffer, std::uint32_t count) override {
            largest_read = std::max(largest_read, count);
            for (std::uint32_t i = 0; i < count; ++i)
                static_cast<char*>(buffer)[i] = byte_at(offset + i);
            return count;
        }
        std::uint32_t largest_read = 0;
    };
    static char byte_at(std::uint64_t offset) { return static_cast<char>((offset * 7 + 3) & 0xff); }

    bool exists(const std::string& path) override { return sizes.count(path) != 0; }
    kam::Archive open(const std::string& path, const std::string&) override {
        return kam::Archive(path, store, 0, sizes.at(path), false);
    }

    std::map<std::string, std::int64_t> sizes;
    std::shared_ptr<Store> store = std::make_shared<Store>();
};

TEST(BundleBuilderTest, ProgressLinesAreDueWhenTheWholePercentageRises) {
    struct Case {
        std::uint64_t offset, total;
        int last_before;
        std::string line;
        int last_after;
    };
    const Case cases[] = {
        {125000000, 250000000, 0, "Writing bundle 50 %  (125/250 MB)", 50},
        {125000000, 250000000, 50, "", 50},
        {1999999, 3000000, -1, "Writing bundle 66 %  (1/3 MB)", 66},
        {0, 0, -1, "", -1},  // every file empty: nothing to measure
    };
    for (const Case& c : cases) {
        int last = c.last_before;
        EXPECT_EQ(kam::bundle_progress_line(c.offset, c.total, last), c.line)
            << c.offset << "/" << c.total;
        EXPECT_EQ(last, c.last_after);
    }
}

TEST(BundleBuilderTest, BundlePathsMustBeTheSourcesTailOfValidNames) {
    PatternFileSystem fs;
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"\\root\\data\\a", "data\\b", "Path and name must match: \\root\\data\\a and data\\b"},
        {"\\root\\xdata\\a", "data\\a", "Path and name must match: \\root\\xdata\\a and data\\a"},
        {"a", "data\\a", "Path and name must match: a and data\\a"},
        {"\\root\\..\\a", "..\\a",
         "Cannot add \\root\\..\\a to a bundle: \"..\" is not a valid name in a bundle"},
    };
    for (const auto& [source, path, message] : cases) {
        BundleBuilder builder;
        EXPECT_EQ(test::error_of([&, &s = source, &p = path] { builder.add_file(fs, s, p); }),
                  message);
    }
    std::string deep;
    for (int i = 0; i < 257; ++i)
        deep += "d\\";
    BundleBuilder builder;
    EXPECT_THROW(builder.add_entry(fs, deep + "f", deep + "f"), std::runtime_error);
    EXPECT_TRUE(builder.index().root().empty());
}

TEST(BundleBuilderTest, FilesTooLargeForThirtyTwoBitSizesAreRefused) {
    const std::string message =
        "File too_large is too large for a bundle: 4294967296 bytes, at most 4294967295 fit";
    PatternFileSystem fs;
    fs.sizes = {{"largest", 0xffffffffll}, {"too_large", 0x100000000ll}};
    {
        // Measured as they are added under the detail log.
        CommandLine line(std::vector<std::string>{"-vv"});
        testing::internal::CaptureStdout();
        BundleBuilder builder;
        builder.add_file(fs, "largest", "largest");
        EXPECT_EQ(builder.jobs().at(0).entry().size, 0xffffffffu);
        EXPECT_EQ(test::error_of([&] { builder.add_file(fs, "too_large", "too_large"); }), message);
        EXPECT_EQ(builder.jobs().size(), 1u);
        testing::internal::GetCapturedStdout();
    }
    // Otherwise as they are written, before any of it is copied.
    test::TempDir dir;
    BundleBuilder builder;
    builder.add_file(fs, "too_large", "too_large");
    EXPECT_EQ(
        test::error_of([&] { builder.write_bundle(fs, (dir.path() / "out.bundle").string()); }),
        message);
    EXPECT_EQ(fs.store->largest_read, 0u);
    EXPECT_TRUE(test::snapshot(dir.path()).empty());
}

TEST(BundleBuilderTest, PlacingFilesAsAddedOrAsWrittenGivesTheSameBytes) {
    test::TempDir dir;
    dir.write("root/a", "aaaaa");
    dir.write("root/empty", "");
    dir.write("root/sub/b", "bb");
    const std::string root = dir.path().string() + "/root/";
    // Named twice: a file with data keeps its first place, an empty one takes the later place.
    const char* const paths[] = {"empty", "sub/b", "a", "missing", "sub/b", "empty", "a"};
    std::string bytes[2];
    for (int detail = 0; detail < 2; ++detail) {
        CommandLine line(std::vector<std::string>{detail ? "-vv" : "-v"});
        testing::internal::CaptureStdout();
        BundleBuilder builder;
        for (const char* path : paths)
            builder.add_file(disk(), root + path, path);
        builder.write_bundle(disk(), (dir.path() / "out.bundle").string());
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(builder.data_size(), 12u);
        bytes[detail] = dir.read("out.bundle");
    }
    EXPECT_EQ(bytes[0], bytes[1]);
    // The directory ends at 98, so data starts at 100: b, then a, then the empty file's second
    // place.
    const std::string expected = test::Bytes()
                                     .header(2, 98)
                                     .records("a:104:5 empty:112 -missing:100 sub/ b:100:2 ] ]")
                                     .raw(std::string(2, '\0'))
                                     .raw("bb")
                                     .raw(std::string(2, '\0'))
                                     .raw("aaaaa")
                                     .data;
    EXPECT_EQ(bytes[0], expected);
}

// A directory reached before serves a later path only for the same bundle directory: one source
// directory may stand for several.
TEST(BundleBuilderTest, ASourceDirectoryServesEachBundleDirectoryApart) {
    test::TempDir dir;
    dir.write("a/b/f", "f");
    dir.write("a/b/g", "g");
    const std::string source = dir.path().string() + "/a/b/";
    BundleBuilder builder;
    builder.add_entry(disk(), source + "f", "a/b/f");
    builder.add_entry(disk(), source + "f", "b/f");
    builder.add_entry(disk(), source + "g", "a/b/g");
    builder.write_listing((dir.path() / "out.log").string());
    EXPECT_EQ(dir.read("out.log"),
              "a/\n    b/\n        f (NO DATA)\n        g (NO DATA)\nb/\n    f (NO DATA)\n");
}

// A large file is copied in bounded chunks; small files are gathered into writes of many, and the
// padding between them stays zero even where the gathering buffer held an earlier write.
TEST(BundleBuilderTest, DataIsCopiedInBoundedChunksWithZeroPadding) {
    test::TempDir dir;
    PatternFileSystem fs;
    BundleBuilder builder;
    std::string expected;
    const auto add = [&](const std::string& name, std::int64_t size) {
        fs.sizes[name] = size;
        builder.add_file(fs, name, name);
        expected.resize((expected.size() + 3) / 4 * 4, '\0');
        for (std::int64_t k = 0; k < size; ++k)
            expected += PatternFileSystem::byte_at(static_cast<std::uint64_t>(k));
    };
    add("small", 3);
    add("big", 3 * BundleBuilder::copy_chunk + 5);
    for (int i = 0; i < 256; ++i)
        add("f" + std::to_string(1000 + i), 15001 + i % 3);
    builder.write_bundle(fs, (dir.path() / "out.bundle").string());
    EXPECT_LE(fs.store->largest_read, BundleBuilder::copy_chunk);
    const std::string bytes = dir.read("out.bundle");
    EXPECT_TRUE(bytes.substr((builder.index().header().directory_end + 3) / 4 * 4) == expected);
}

TEST(BundleBuilderTest, FailedBuildLeavesThePreviousBundleAndNoTemporaryFile) {
    // How the source goes wrong, and the error after the source's path.
    const std::pair<std::function<void(const test::TempDir&)>, std::string> cases[] = {
        {[](const test::TempDir& dir) { std::filesystem::remove(dir.path() / "src/b"); },
         " with create mode: 0x3"},
        {[](const test::TempDir& dir) { dir.write("src/b", "bbbb"); },
         " changed size while the bundle was built: 3 bytes when added, 4 now"},
        {[](const test::TempDir& dir) { dir.write("src/b", "b"); },
         " changed size while the bundle was built: 3 bytes when added, 1 now"},
    };
    for (const auto& [spoil, message] : cases) {
        test::TempDir dir, out;
        dir.write("src/a", "aaaa");
        dir.write("src/b", "bbb");
        const std::map<std::string, std::string> before = {
            {"out.bundle", "the good old bundle"}, {"out.bundle.trovex-tmp1", "somebody's file"}};
        for (const auto& [name, bytes] : before)
            out.write(name, bytes);
        const std::string src = dir.path().string() + "/src/";
        // Sizes are held from the adding only under the detail log.
        CommandLine line(std::vector<std::string>{"-vv"});
        testing::internal::CaptureStdout();
        BundleBuilder builder;
        builder.add_file(disk(), src + "a", "a");
        builder.add_file(disk(), src + "b", "b");
        spoil(dir);
        const std::string error = test::error_of(
            [&] { builder.write_bundle(disk(), (out.path() / "out.bundle").string()); });
        EXPECT_NE(error.find(kam::normalize_path(src + "b", false, true) + message),
                  std::string::npos)
            << error;
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(test::snapshot(out.path()), before);
    }

    test::TempDir dir;
    BundleBuilder builder;
    EXPECT_THROW(builder.write_listing((dir.path() / "missing/out.log").string()), kam::DiskError);
    EXPECT_TRUE(test::snapshot(dir.path()).empty());
}

}  // namespace
