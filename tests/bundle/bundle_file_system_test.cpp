// The bundle file system: answers from the bundle, the parent for files without data, hidden
// names, listings, switches, a mount in the virtual file system, and corrupt bundles.
#include "bundle/bundle_file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "bundle/bundle_bytes.h"
#include "support/error_of.h"
#include "support/memory_file_system.h"
#include "support/trovex_runner.h"
#include "utility/disk_file_system.h"
#include "utility/encoding.h"
#include "utility/path.h"
#include "utility/virtual_file_system.h"

namespace {

using kam::BundleFileSystem;

// data/units.xml "UNITS" and readme.txt "README!" packed; data/maps/level.xml and notes.xml without
// data; gone.txt and old/ hidden; past_end.bin reaching past the end of the file.
std::string sample_bundle() {
    constexpr std::uint64_t data_start = 512;
    std::string bytes = test::Bytes()
                            .header(2)
                            .records(
                                "data/ maps/ level.xml ] units.xml:512:5 ] -gone.txt notes.xml "
                                "-old/ x.txt:512:5 ] past_end.bin:520:100 readme.txt:520:7 ]")
                            .data;
    bytes.resize(data_start, '\0');
    return bytes + "UNITS" + std::string(3, '\0') + "README!";
}

struct Loaded {
    explicit Loaded(kam::FileSystem* parent = nullptr) : fs(parent) {
        fs.load(test::archive_of(sample_bundle()), 1234);
    }
    BundleFileSystem fs;
};

TEST(BundleFileSystemTest, ExistenceAndListingsComeFromTheEntries) {
    Loaded bundle;
    struct Case {
        std::string path;
        bool exists, is_dir, owns, hides;
    };
    const Case cases[] = {
        {"data", true, true, true, false},
        {"Data\\Units.XML", true, false, true, false},
        {"data/maps/level.xml", true, false, true, false},  // listed without data
        {"gone.txt", false, false, true, true},
        {"old", false, false, true, true},
        {"old/x.txt", false, false, true, true},  // below a hidden directory
        {"nothing", false, false, false, false},
        {"readme.txt/x", false, false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bundle.fs.exists(c.path), c.exists) << c.path;
        EXPECT_EQ(bundle.fs.is_dir(c.path), c.is_dir) << c.path;
        EXPECT_EQ(bundle.fs.owns(c.path), c.owns) << c.path;
        EXPECT_EQ(bundle.fs.hides(c.path), c.hides) << c.path;
    }
    // Listings keep the visible entries, by the first pattern that matches and then by name.
    using Names = std::vector<std::string>;
    EXPECT_EQ(test::listed(bundle.fs, "", "*.*", false),
              (Names{"notes.xml", "past_end.bin", "readme.txt"}));
    EXPECT_EQ(test::listed(bundle.fs, "\\", "*", true), (Names{"data"}));
    EXPECT_EQ(test::listed(bundle.fs, "", "*.txt;*.xml", false),
              (Names{"readme.txt", "notes.xml"}));
    EXPECT_EQ(test::listed(bundle.fs, "", "*.bin;*;readme.txt", false),
              (Names{"past_end.bin", "notes.xml", "readme.txt"}));
    EXPECT_EQ(test::listed(bundle.fs, "DATA/", "*.*", false), (Names{"units.xml"}));
    EXPECT_TRUE(test::listed(bundle.fs, "old", "*.*", false).empty());
    EXPECT_TRUE(test::listed(bundle.fs, "readme.txt", "*.*", false).empty());
}

TEST(BundleFileSystemTest, PackedFilesOpenFromTheBundleOrTheParentUnlessSwitchedOff) {
    test::TempDir dir;
    dir.write("notes.xml", "<notes/>");
    dir.write("readme.txt", "on disk");
    kam::DiskFileSystem parent(dir.path().string());

    Loaded alone;
    kam::Archive units = alone.fs.open("data/units.xml", "r");
    EXPECT_EQ(units.name(), "data/units.xml");
    EXPECT_EQ(test::read_all(units), "UNITS");
    EXPECT_FALSE(alone.fs.open("notes.xml", "r").has_store());
    for (const char* mode : {"w", "a", "r+"})
        EXPECT_FALSE(alone.fs.open("readme.txt", mode).has_store()) << mode;
    EXPECT_EQ(test::error_of<std::range_error>([&] { alone.fs.open("past_end.bin", "r"); }),
              "Attempt to grow archive test.bundle beyond limits");
    EXPECT_EQ(alone.fs.full_path("notes.xml"), "bundle_notes.xml");
    EXPECT_EQ(alone.fs.source_path("notes.xml"), "notes.xml");

    Loaded bundle(&parent);
    bundle.fs.set_bundle_path("packed.bundle");
    EXPECT_EQ(test::read_all(bundle.fs.open("notes.xml", "r")), "<notes/>");
    EXPECT_EQ(test::read_all(bundle.fs.open("readme.txt", "r")),
              "README!");  // the bundle's data comes first
    EXPECT_EQ(bundle.fs.full_path("notes.xml"), parent.root() + "notes.xml");

    std::uint64_t offset = 9;
    std::uint32_t size = 9;
    EXPECT_EQ(bundle.fs.physical_path("data/units.xml", offset, size), "bundle_packed.bundle");
    EXPECT_EQ(offset, 512u);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(bundle.fs.physical_path("notes.xml", offset, size), parent.root() + "notes.xml");
    EXPECT_EQ(offset, 0u);
    EXPECT_EQ(size, 0xffffffffu);
    // Switches silence the bundle.
    for (const bool through_the_mount : {false, true}) {
        kam::VirtualFileSystem vfs;
        Loaded silenced;
        if (through_the_mount)
            vfs.set_bundles_enabled(false);
        else
            silenced.fs.set_enabled(false);
        EXPECT_FALSE(silenced.fs.exists("readme.txt"));
        EXPECT_FALSE(silenced.fs.owns("gone.txt"));
        EXPECT_TRUE(test::listed(silenced.fs, "", "*", false).empty());
    }
    alone.fs.set_owns_nothing(true);
    EXPECT_TRUE(alone.fs.exists("readme.txt"));
    EXPECT_FALSE(alone.fs.owns("readme.txt"));
    EXPECT_TRUE(alone.fs.hides("gone.txt"));
}

// Every truncation of a good bundle loads, or fails with one of the clear errors; each file of what
// loads opens and reads, or fails the same way. Random corruptions are the fuzz targets' work.
TEST(BundleFileSystemTest, CorruptBundlesFailWithClearErrors) {
    const std::string good = sample_bundle();
    const std::string clear_errors[] = {
        "Corrupt bundle test.bundle: ",
        "test.bundle is not a bundle",
        "Archive::checked_read() Attempt to read past end of archive 'test.bundle'",
        "Attempt to grow archive test.bundle beyond limits",
    };
    int loaded = 0;
    for (size_t length = 0; length < good.size(); ++length) {
        BundleFileSystem fs;
        std::function<void(const kam::BundleEntryMap&, const std::string&)> read_every_file =
            [&](const kam::BundleEntryMap& directory, const std::string& prefix) {
                for (const auto& [name, entry] : directory) {
                    if (entry.directory) {
                        read_every_file(*entry.directory, kam::concat(prefix, name) + "\\");
                    } else if (fs.exists(kam::concat(prefix, name))) {
                        test::read_all(fs.open(kam::concat(prefix, name), "r"));
                    }
                }
            };
        try {
            fs.load(test::archive_of(good.substr(0, length)), 0);
            ++loaded;
            read_every_file(fs.index().root(), "");
        } catch (const std::runtime_error& error) {
            const std::string what = error.what();
            EXPECT_TRUE(
                std::any_of(std::begin(clear_errors), std::end(clear_errors),
                            [&](const std::string& start) { return what.rfind(start, 0) == 0; }))
                << what;
        }
    }
    EXPECT_GT(loaded, 0);
}

}  // namespace
