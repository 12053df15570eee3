// The disk file system: open modes, lookups, listings and case-insensitive paths.
#include "utility/disk_file_system.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <tuple>

#include "support/error_of.h"
#include "support/memory_file_system.h"
#include "support/platform.h"
#include "support/trovex_runner.h"
#include "utility/cached_file_data_store.h"
#include "utility/encoding.h"
#include "utility/platform/directories.h"
#include "utility/platform/error_text.h"
#include "utility/replacing_file.h"

namespace {

using kam::DiskFileSystem;

// A content tree spelled in mixed case, as it comes from a Windows machine, and the disk at it.
class DiskFileSystemTest : public ::testing::Test {
protected:
    DiskFileSystemTest() {
        dir.write("Data/Units/Tank.XML", "<tank/>");
        dir.write("Data/Units/Tank.xmb", "XMLb");
        dir.write("Data/Units/Jeep.xml", "<jeep/>");
        dir.write("Data/Units/.svn/entries", "svn");
        dir.write("Data/Units/Notes.txt", "notes");
        dir.write("Data/Maps/Level1.XML", "<level/>");
    }
    test::TempDir dir;
    DiskFileSystem disk{dir.path().string()};
};

TEST_F(DiskFileSystemTest, OpeningAMissingFileOrADirectoryForReadingThrows) {
    EXPECT_THROW(disk.open("data", "r"), kam::DiskError);
    const std::string error =
        test::error_of<kam::DiskError>([&] { disk.open("missing.xml", "r"); });
    EXPECT_TRUE(error.ends_with(") Cannot open " + disk.root() +
                                "missing.xml with create mode: 0x3, access: 0x80000000, "
                                "share_mode: 0x1 => error code 0x2: " +
                                kam::platform::error_text(2)))
        << error;
}

TEST_F(DiskFileSystemTest, MixedCaseTreeIsFoundThroughLowerCaseBackslashPaths) {
    EXPECT_TRUE(disk.exists("DATA/UNITS/TANK.XML"));
    EXPECT_TRUE(disk.is_dir("data\\units"));
    EXPECT_FALSE(disk.is_dir("data\\nothing\\here"));
    EXPECT_EQ(disk.modification_time("data\\nothing"), 0u);
    EXPECT_EQ(test::read_all(disk.open("data\\units\\tank.xml", "r")), "<tank/>");
    EXPECT_EQ(test::read_all(disk.open("data\\units\\tank.xmb", "r")), "XMLb");
    for (const char* path : {"data\\units\\", "data/units/", "Data/Units//", ""})
        EXPECT_TRUE(disk.exists(path)) << path;

    // The default one takes native paths.
    kam::DiskFileSystem& native = kam::default_disk_file_system();
    EXPECT_EQ(native.root(), "");
    const std::string base = dir.path().string();
    EXPECT_TRUE(native.exists(base + "/Data/Units/Tank.XML"));
    EXPECT_TRUE(native.exists(base + "\\data\\units\\tank.xml"));
    EXPECT_EQ(test::read_all(native.open(base + "\\data\\maps\\level1.xml", "r")), "<level/>");
    // Any other root is canonical, with its leading separator.
    DiskFileSystem content("/Game//Content");
    EXPECT_EQ(content.root(), "\\game\\content\\");
    EXPECT_EQ(content.full_path("data\\a.xml"), "\\game\\content\\data\\a.xml");
}

TEST_F(DiskFileSystemTest, LookUpAndOpenAnswerAsExistsIsDirAndModificationTime) {
    for (const char* path :
         {"data\\units\\tank.xml", "data\\units", "data\\units\\missing.xml", ""}) {
        kam::EntryInfo looked, opened;
        kam::Archive file;
        const bool found = disk.look_up(path, looked);
        EXPECT_EQ(found, disk.exists(path)) << path;
        EXPECT_EQ(disk.look_up_and_open(path, opened, file), found) << path;
        if (!found)
            continue;
        EXPECT_EQ(looked.is_directory, disk.is_dir(path)) << path;
        EXPECT_EQ(looked.modification_time, disk.modification_time(path)) << path;
        EXPECT_EQ(opened.is_directory, looked.is_directory) << path;
        EXPECT_EQ(opened.modification_time, looked.modification_time) << path;
        // Only a file is opened, under the path it was asked by.
        EXPECT_EQ(file.has_store(), !looked.is_directory) << path;
        if (file.has_store()) {
            EXPECT_EQ(file.name(), path);
            EXPECT_EQ(test::read_all(file), "<tank/>");
        }
    }
    kam::EntryInfo info;
    EXPECT_FALSE(kam::default_disk_file_system().look_up("/", info));
    EXPECT_FALSE(kam::default_disk_file_system().exists("/"));
}

TEST_F(DiskFileSystemTest, ListingsAreSortedFilteredAndNeverShowSvn) {
    EXPECT_EQ(test::listed(disk, "data\\units", "*.xml;*.xmb", false),
              (std::vector<std::string>{"Jeep.xml", "Tank.XML", "Tank.xmb"}));
    EXPECT_EQ(test::listed(disk, "data\\units", "*.xmb;*.xml", false),
              (std::vector<std::string>{"Tank.xmb", "Jeep.xml", "Tank.XML"}));
    EXPECT_EQ(test::listed(disk, "data\\units", "*", false),
              (std::vector<std::string>{"Jeep.xml", "Notes.txt", "Tank.xmb", "Tank.XML"}));
    EXPECT_EQ(test::listed(disk, "data\\units", "*.*", true), std::vector<std::string>{});
    EXPECT_EQ(test::listed(disk, "data", "*", true), (std::vector<std::string>{"Maps", "Units"}));
    EXPECT_EQ(test::listed(disk, "", "*", true), (std::vector<std::string>{"Data"}));
    EXPECT_EQ(test::listed(disk, "data\\missing", "*", false), std::vector<std::string>{});
    // Case is folded for the order; names equal but for case go by their raw bytes.
    dir.write("Order/b.txt", "");
    // Windows keeps one spelling per name.
    if (!test::on_windows)
        dir.write("Order/B.txt", "");
    dir.write("Order/a.txt", "");
    dir.write("Order/_.txt", "");
    std::vector<std::string> order{"_.txt", "a.txt", "B.txt", "b.txt"};
    if (test::on_windows)
        order.erase(order.begin() + 2);
    EXPECT_EQ(test::listed(disk, "order", "*", false), order);
}

// Each mode in turn on one file: its archive, and the file after writing "X" where it may.
TEST_F(DiskFileSystemTest, OpenModes) {
    dir.write("new.bin", std::string("abc\0d", 5));
    const struct {
        const char* mode;
        bool growable, cached;
        std::uint64_t base;
        std::int64_t size;
        std::string after;
    } cases[] = {
        {"r", false, false, 0, 5, std::string("abc\0d", 5)},
        {"rc", false, true, 0, 5, std::string("abc\0d", 5)},
        {"r+c", true, false, 0, 5, std::string("Xbc\0d", 5)},  // 'c' with writing: a plain store
        {"r+", true, false, 0, 5, std::string("Xbc\0d", 5)},
        {"a", true, false, 5, 0, std::string("Xbc\0dX", 6)},
        {"w", true, false, 0, 0, "X"},
    };
    for (const auto& c : cases) {
        // Closed before the next: Windows refuses a writer while a reader shares only reading.
        kam::Archive file = disk.open("new.bin", c.mode);
        EXPECT_EQ(file.growable(), c.growable) << c.mode;
        EXPECT_EQ(dynamic_cast<kam::CachedFileDataStore*>(file.store()) != nullptr, c.cached);
        EXPECT_EQ(dynamic_cast<kam::FileDataStore*>(file.store()) != nullptr, !c.cached);
        EXPECT_EQ(file.base(), c.base) << c.mode;
        EXPECT_EQ(file.size(), c.size) << c.mode;
        if (c.growable)
            kam::write_u8(file, 'X');
        else
            EXPECT_EQ(test::read_all(file), c.after) << c.mode;
        file = kam::Archive();
        EXPECT_EQ(dir.read("new.bin"), c.after) << c.mode;
    }
}

TEST_F(DiskFileSystemTest, CreationKeepsTheSpellingGivenBelowExistingDirectories) {
    if (test::on_windows)
        GTEST_SKIP() << "the system keeps one spelling per name";
    disk.open("data\\units\\Truck.XMB", "w");
    EXPECT_TRUE(dir.exists("Data/Units/Truck.XMB"));
    // Writing a file that exists in another case writes that file.
    kam::Archive tank = disk.open("data\\units\\tank.xml", "w");
    kam::write_string(tank, "new");
    tank = kam::Archive();
    EXPECT_EQ(dir.read("Data/Units/Tank.XML"), std::string("new\0", 4));
    EXPECT_FALSE(dir.exists("Data/Units/tank.xml"));

    EXPECT_TRUE(disk.make_dir("data\\Sounds"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "Data/Sounds"));
    EXPECT_FALSE(disk.make_dir("data\\sounds"));

    // The exact spelling first, else the smallest in byte order.
    dir.write("Abc.txt", "upper-a");
    dir.write("aBC.txt", "lower-a");
    dir.write("ABC.txt", "all-upper");
    DiskFileSystem fresh(dir.path().string());
    EXPECT_EQ(test::read_all(fresh.open("aBC.txt", "r")), "lower-a");
    EXPECT_EQ(test::read_all(fresh.open("abc.TXT", "r")), "all-upper");
}

TEST_F(DiskFileSystemTest, CacheFollowsWhatTheToolCreatesAndDeletes) {
    // Fill the cache of data\units through a lookup in another case.
    EXPECT_TRUE(disk.exists("data\\units\\jeep.xml"));
    EXPECT_FALSE(disk.exists("data\\units\\bike.xml"));
    disk.open("data\\units\\Bike.Xml", "w");
    EXPECT_TRUE(disk.exists("data\\units\\bike.xml"));
    EXPECT_TRUE(disk.remove("data\\units\\bike.xml"));
    EXPECT_FALSE(disk.exists("data\\units\\bike.xml"));
    EXPECT_FALSE(dir.exists("Data/Units/Bike.Xml"));
    EXPECT_TRUE(disk.make_dir("data\\units\\Parts"));
    EXPECT_TRUE(disk.is_dir("data\\units\\parts"));
    EXPECT_TRUE(disk.remove("data\\units\\parts"));
    EXPECT_FALSE(disk.exists("data\\units\\parts"));
    EXPECT_FALSE(disk.remove("data\\units\\parts"));

    // A directory reached in another spelling, then removed and made again in the spelling given.
    EXPECT_EQ(test::read_all(disk.open("data\\maps\\level1.xml", "r")), "<level/>");
    EXPECT_TRUE(disk.remove("data\\maps\\level1.xml"));
    EXPECT_TRUE(disk.remove("data\\maps"));
    EXPECT_TRUE(disk.make_dir("data\\maps"));
    {
        kam::Archive level = disk.open("data\\maps\\level1.xml", "w");
        kam::write_string(level, "x");
    }
    EXPECT_EQ(test::read_all(disk.open("data\\maps\\level1.xml", "r")), std::string("x\0", 2));
}

TEST_F(DiskFileSystemTest, ReplacingTakesThePlaceOfTheFileThereInAnySpelling) {
    // A directory reached in another spelling first: paths below it are tried there directly.
    EXPECT_TRUE(disk.exists("data\\maps\\level1.xml"));
    const struct {
        const char* path;
        const char* replaced;  // on disk
    } cases[] = {
        {"Data/Units/Tank.xmb", "Data/Units/Tank.xmb"},
        {"data\\units\\tank.xml", "Data/Units/Tank.XML"},
        {"data\\maps\\Level1.XML", "Data/Maps/Level1.XML"},
        {"data\\maps\\New.xml", "Data/Maps/New.xml"},
        {"DATA/UNITS/New.xml", "Data/Units/New.xml"},
    };
    for (const auto& c : cases) {
        const std::unique_ptr<kam::ReplacingFile> file = disk.create_replacing(c.path);
        ASSERT_TRUE(file) << c.path;
        kam::write_string(file->archive(), "new");
        file->commit();
        EXPECT_EQ(dir.read(c.replaced), std::string("new\0", 4)) << c.path;
    }
    if (!test::on_windows) {
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "Data/Units"),
                                std::filesystem::directory_iterator()),
                  6);  // New.xml alone beside what was there, no temporary left
    }
    // What a rename must not replace is left to an open for writing, which says why it fails.
    EXPECT_FALSE(disk.create_replacing("data\\units"));
}

TEST_F(DiskFileSystemTest, ModificationTimeIsAFiletimeWithTheNanoseconds) {
    dir.write("dated.txt", "x");
    using namespace std::chrono;
    // The Windows runtime sets whole seconds only.
    const auto fraction = test::on_windows ? nanoseconds(0) : nanoseconds(456789012);
    const auto when = sys_days{year{2020} / 1 / 2} + seconds(3) + fraction;
    std::filesystem::last_write_time(dir.path() / "dated.txt", file_clock::from_sys(when));
    // 1577923203 s after 1970, 11644473600 s from 1601 to 1970, in 100 ns units.
    const std::uint64_t filetime =
        (1577923203ull + 11644473600ull) * 10000000ull + fraction.count() / 100;
    EXPECT_EQ(disk.modification_time("dated.txt"), filetime);
}

TEST(WildcardTest, MatchesLikeTheToolsFileSearches) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"*.*", "no_dot", true},
        {"*.xml", "a.xml.bak", false},
        {"??.xml", "ab.xml", true},
        {"a*b*c", "aXbYc", true},
        {"a*b*c", "aXbYcZ", false},
        {"tank.xml", "TANK.xml", true},
        {"*tank*", "bigtanks", true},
        {"", "", true},
        {"", "a", false},
        {"*a", "bbb", false},
        {"a*", "a", true},
    };
    for (const auto& [pattern, name, matches] : cases)
        EXPECT_EQ(kam::platform::matches_wildcard(pattern, name), matches)
            << pattern << " " << name;
}

TEST(UnnamedFileTest, AppearsOnlyWhenLinkedAndNeverOverAnything) {
    test::TempDir dir;
    dir.write("old", "old");
    const auto entries = [&] {
        return std::distance(std::filesystem::directory_iterator(dir.path()), {});
    };
    for (const char* name : {"new", "old"}) {
        const std::string path = (dir.path() / name).string();
        const auto before = entries();
        kam::UnnamedFile file(path);
#ifdef _WIN32
        EXPECT_FALSE(file.created());  // the caller takes a temporary
        continue;
#endif
        ASSERT_TRUE(file.created());
        kam::write_bytes(file.archive(), "written", 7);
        EXPECT_EQ(entries(), before);
        EXPECT_EQ(file.link(), std::string(name) == "new") << name;
        EXPECT_EQ(dir.read(name), std::string(name) == "new" ? "written" : "old");
    }
}

}  // namespace
