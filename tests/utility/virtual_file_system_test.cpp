// The virtual file system: mounts, the candidate search, writes, merged listings and recording.
#include "utility/virtual_file_system.h"

#include <gtest/gtest.h>

#include "support/memory_file_system.h"
#include "support/trovex_runner.h"
#include "utility/disk_file_system.h"
#include "utility/encoding.h"

namespace {

using kam::VirtualFileSystem;

// "path in <where it was found> at <time>", then " directory" and " open" as they apply.
std::string described(const VirtualFileSystem::Found& found) {
    const std::string where = found.found() ? found.file_system->full_path(found.local_path)
                                            : "nothing '" + found.local_path + "'";
    return found.path + " in " + where + " at " + std::to_string(found.info.modification_time) +
           (found.info.is_directory ? " directory" : "") + (found.file.has_store() ? " open" : "");
}

TEST(VirtualFileSystemTest, FirstOneConstructedIsTheInstance) {
    ASSERT_FALSE(VirtualFileSystem::has_instance());
    EXPECT_THROW(VirtualFileSystem::instance(), kam::ErrorWithCStack);
    {
        VirtualFileSystem first;
        VirtualFileSystem second;
        EXPECT_EQ(&VirtualFileSystem::instance(), &first);
    }
    EXPECT_FALSE(VirtualFileSystem::has_instance());
}

// find answers as the single questions do, and keeps the file system and local path it found.
TEST(VirtualFileSystemTest, MountPrefixesAreCanonicalAndRemovedFromThePath) {
    VirtualFileSystem vfs;
    test::MemoryFileSystem everything("all"), data("data");
    everything.write("data\\x.xml", "from all");
    everything.hidden = {"data\\gone.xml"};
    data.write("x.xml", "from data");
    data.write("y.xml", "y");
    data.write("gone.xml", "hidden");
    const int first = vfs.mount("/", &everything, false);
    const int second = vfs.mount("Data/", &data, false);
    EXPECT_LT(first, second);
    EXPECT_EQ(vfs.full_path("/Data//X.XML"), "all:data\\x.xml");
    VirtualFileSystem::Found found = vfs.find("/DATA//Y.xml");
    EXPECT_EQ(described(found), "data\\y.xml in data:y.xml at 1001");
    EXPECT_EQ(vfs.source_path(found), "data:y.xml");
    EXPECT_EQ(test::read_all(vfs.open(found, "r")), "y");
    // A file system that hides the path ends the search, as for exists.
    const VirtualFileSystem::Found gone = vfs.find("data\\gone.xml");
    EXPECT_EQ(described(gone), "data\\gone.xml in nothing '' at 0");
    EXPECT_EQ(vfs.source_path(gone), "data\\gone.xml");
    EXPECT_TRUE(vfs.unmount(first));
    EXPECT_FALSE(vfs.unmount(first));
    EXPECT_EQ(vfs.full_path("data\\x.xml"), "data:x.xml");
    EXPECT_EQ(test::read_all(vfs.open("DATA/x.xml", "r")), "from data");
    EXPECT_EQ(vfs.full_path("other\\x.xml"), "other\\x.xml");
    EXPECT_EQ(vfs.source_path("other\\x.xml"), "other\\x.xml");
    EXPECT_EQ(vfs.modification_time("other\\x.xml"), 0u);
    EXPECT_EQ(vfs.modification_time("data\\x.xml"), 1000u);
}

// A file system that hides or owns a path ends the search; writes go to the first file system that
// is not read-only.
TEST(VirtualFileSystemTest, HidingOwningAndReadOnlyFileSystems) {
    VirtualFileSystem vfs;
    test::MemoryFileSystem bundle("bundle"), disk("disk");
    disk.files = {{"a", {"disk a"}}, {"b", {"disk b"}}, {"c", {"disk c"}}, {"old", {"old"}}};
    bundle.hidden = {"a"};
    bundle.owned = {"b"};
    bundle.read_only = true;
    bundle.write("x", "bundle x");
    vfs.mount("/", &bundle, false);
    vfs.mount("", &disk, false);
    EXPECT_FALSE(vfs.exists("a"));
    EXPECT_FALSE(vfs.exists("b"));
    EXPECT_TRUE(vfs.exists("c"));
    EXPECT_FALSE(vfs.open("a", "r").has_store());
    EXPECT_FALSE(vfs.is_dir("b"));
    EXPECT_EQ(test::read_all(vfs.open("c", "rc")), "disk c");
    EXPECT_EQ(disk.asked, (std::vector<std::string>{"c", "c"}));

    for (const char* mode : {"w", "a", "r+"})
        vfs.open("x", mode);
    EXPECT_EQ(disk.opened, (std::vector<std::string>{"c/rc", "x/w", "x/a", "x/r+"}));
    EXPECT_TRUE(bundle.opened.empty());
    EXPECT_TRUE(vfs.make_dir("New"));
    EXPECT_TRUE(vfs.remove("old"));
    EXPECT_EQ(disk.made, (std::vector<std::string>{"new", "-old"}));

    VirtualFileSystem only_read;
    only_read.mount("", &bundle, false);
    EXPECT_FALSE(only_read.open("x", "w").has_store());
    EXPECT_FALSE(only_read.make_dir("x"));
    EXPECT_FALSE(only_read.remove("x"));
}

TEST(VirtualFileSystemTest, ListBothGivesWhatListGivesForEachKind) {
    test::TempDir first_dir, second_dir;
    first_dir.write("Units/Tank.xml", "first");
    first_dir.write("Units/Air/Jet.xml", "first");
    second_dir.write("units/tank.XML", "second");
    second_dir.write("units/Boat.xml", "second");
    second_dir.write("units/AIR/x.xml", "second");
    second_dir.write("units/Sea/y.xml", "second");
    VirtualFileSystem vfs;
    kam::DiskFileSystem first(first_dir.path().string()), second(second_dir.path().string());
    vfs.mount("/", &first, false);
    vfs.mount("/", &second, false);
    std::vector<std::string> files = {"BOAT.xml"}, directories;
    vfs.list_both("units", "*.*", files, directories);
    EXPECT_EQ(files, (std::vector<std::string>{"BOAT.xml", "Tank.xml"}));
    EXPECT_EQ(directories, (std::vector<std::string>{"Air", "Sea"}));
    std::vector<std::string> one_by_one = {"BOAT.xml"};
    vfs.list("units", "*.*", false, one_by_one);
    EXPECT_EQ(one_by_one, files);
    EXPECT_EQ(test::listed(vfs, "units", "*.*", true), directories);
}

// find_file opens the file and hands it over once; each open is recorded as a line of its own.
TEST(VirtualFileSystemTest, FindFileAndRecordingOfOpens) {
    test::TempDir dir;
    dir.write("Data/Tank.XML", "<tank/>");
    VirtualFileSystem vfs;
    kam::DiskFileSystem disk(dir.path().string());
    vfs.mount("/", &disk, false);
    vfs.open("data\\tank.xml", "r");  // not recording yet
    EXPECT_EQ(vfs.log_name(), "script_not_set");
    vfs.set_log_name("level1");
    vfs.set_recording(true);

    VirtualFileSystem::Found found = vfs.find_file("data\\tank.xml");
    const std::string time = std::to_string(vfs.modification_time("data\\tank.xml"));
    EXPECT_EQ(described(found),
              "data\\tank.xml in " + disk.full_path("data\\tank.xml") + " at " + time + " open");
    EXPECT_EQ(dir.read("bundles/level1.xml"), "");  // found, not yet opened
    EXPECT_EQ(test::read_all(vfs.open(found, "r")), "<tank/>");
    EXPECT_FALSE(found.file.has_store());
    // Later opens go to the file system again.
    EXPECT_EQ(test::read_all(vfs.open(found, "r")), "<tank/>");
    EXPECT_EQ(test::read_all(vfs.open(found, "rc")), "<tank/>");
    EXPECT_TRUE(vfs.open("/Data/Tank.XML", "r").has_store());
    EXPECT_FALSE(vfs.open("Sounds\\R&B <live> \"1\".wav", "rc").has_store());
    const std::string expected =
        "   <open path=\"data\\tank.xml\" flags=\"r\" />\r\n"
        "   <open path=\"data\\tank.xml\" flags=\"r\" />\r\n"
        "   <open path=\"data\\tank.xml\" flags=\"rc\" />\r\n"
        "   <open path=\"data\\tank.xml\" flags=\"r\" />\r\n"
        "   <open path=\"sounds\\r&amp;b &lt;live&gt; &quot;1&quot;.wav\" flags=\"rc\" />\r\n";
    // Each line is on disk as soon as the open returns.
    EXPECT_EQ(dir.read("bundles/level1.xml"), expected);

    vfs.set_bundles_enabled(false);
    vfs.open("data\\tank.xml", "r");
    vfs.set_bundles_enabled(true);
    vfs.set_recording(false);
    vfs.open("data\\tank.xml", "r");
    EXPECT_EQ(dir.read("bundles/level1.xml"), expected);

    // Switching on again appends.
    vfs.set_recording(true);
    vfs.open("x", "w");
    vfs.set_recording(false);
    EXPECT_EQ(dir.read("bundles/level1.xml"), expected + "   <open path=\"x\" flags=\"w\" />\r\n");

    // A directory is found without being opened; a missing path is not found.
    EXPECT_EQ(described(vfs.find_file("DATA")), "data in " + disk.full_path("data") + " at " +
                                                    std::to_string(vfs.modification_time("data")) +
                                                    " directory");
    EXPECT_FALSE(vfs.find_file("data\\missing.xml").found());
}

// Without a disk root, or with a file where the log's directory goes, nothing is written.
TEST(VirtualFileSystemTest, RecordingWithoutAWritablePlaceWritesNothing) {
    test::TempDir dir;
    dir.write("bundles", "a file where the directory should be");
    kam::DiskFileSystem disk(dir.path().string());
    for (const bool mounted : {false, true}) {
        VirtualFileSystem vfs;
        if (mounted)
            vfs.mount("/", &disk, false);
        vfs.set_recording(true);
        EXPECT_TRUE(vfs.recording());
        EXPECT_FALSE(vfs.open("a.xml", "r").has_store());
    }
    EXPECT_EQ(dir.read("bundles"), "a file where the directory should be");
}

}  // namespace
