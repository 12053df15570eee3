// The disk as a walk saw it: a kept listing answers for its directory.
#include "bundle/listed_disk_file_system.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/trovex_runner.h"
#include "utility/path.h"

namespace {

// A name the listing does not hold is missing without a look at the disk; one it holds apart
// from its files (a subdirectory, a file the walk left out) is the disk's to answer.
TEST(ListedDiskFileSystemTest, AKeptListingAnswersForItsDirectory) {
    test::TempDir dir;
    dir.write("a", "1");
    dir.write("sub/b", "2");
    dir.write("x.tmp", "3");
    const std::string root = kam::normalize_path(dir.path().string(), true, true);
    kam::ListedDiskFileSystem fs;
    fs.keep_files(root, {"a"}, {"x.tmp", "sub"});  // in no order: the listing sorts them
    dir.write("late", "4");                        // unseen by the listing, as by the walk
    const std::tuple<const char*, bool, bool> cases[] = {{"a", true, false},
                                                         {"sub", true, true},
                                                         {"x.tmp", true, false},
                                                         {"late", false, false},
                                                         {"none", false, false}};
    for (const auto& [name, exists, is_dir] : cases) {
        EXPECT_EQ(fs.exists(root + name), exists) << name;
        EXPECT_EQ(fs.is_dir(root + name), is_dir) << name;
        const auto kind = !exists  ? kam::PathKind::missing
                          : is_dir ? kam::PathKind::directory
                                   : kam::PathKind::file;
        EXPECT_EQ(fs.kind_of(root + name), kind) << name;
    }
}

}  // namespace
