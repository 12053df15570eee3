// Names crossing the system boundary: UTF-8 comes back as it went in, and either separator, doubled
// or trailing, reaches the same file, whichever system the tool runs on.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/trovex_runner.h"
#include "utility/platform/directories.h"
#include "utility/platform/files.h"

namespace {

namespace platform = kam::platform;

std::vector<std::string> names_in(const std::string& directory) {
    std::vector<platform::DirectoryEntry> entries;
    EXPECT_EQ(platform::list_directory(directory, "*", entries), platform::LookupResult::found);
    std::vector<std::string> names;
    for (const auto& entry : entries)
        names.push_back(entry.name);
    return names;
}

TEST(PlatformNamesTest, Utf8NamesAndEitherSeparatorReachTheSameEntries) {
    test::TempDir dir;
    const std::string base = dir.path().string();
    const std::string folder = "t\xC3\xA9l\xC3\xA9";          // télé
    const std::string file = "\xE6\x97\xA5\xE6\x9C\xAC.txt";  // 日本.txt
    ASSERT_TRUE(platform::create_directory(base + "/" + folder));
    const std::string path = base + "/" + folder + "/" + file;
    platform::FileHandle handle =
        platform::open_file(path, platform::create_new, platform::generic_write, 0, false, nullptr);
    ASSERT_NE(handle, platform::invalid_file);
    std::uint32_t done = 0;
    EXPECT_TRUE(platform::write_file_at(handle, 0, "abc", 3, done));
    platform::close_file(handle);

    EXPECT_EQ(names_in(base), std::vector<std::string>{folder});
    EXPECT_EQ(names_in(base + "/" + folder), std::vector<std::string>{file});
    handle = platform::open_file(path, platform::open_existing, platform::generic_read,
                                 platform::share_read, false, nullptr);
    ASSERT_NE(handle, platform::invalid_file);
    char read[4] = {};
    EXPECT_TRUE(platform::read_file_at(handle, 0, read, 4, done));
    EXPECT_EQ(std::string(read, done), "abc");
    platform::close_file(handle);
    EXPECT_TRUE(platform::delete_file(path));
    EXPECT_TRUE(platform::remove_directory(base + "/" + folder));
    // An error left over from an earlier call does not fail the listing of an empty directory.
    errno = ENOENT;
    EXPECT_TRUE(names_in(base).empty());

    // Either separator, doubled or trailing, reaches the same entry.
    dir.write("a/b/c.txt", "abc");
    for (const std::string& spelling : {base + "\\a\\b\\c.txt", base + "/a//b\\\\c.txt"}) {
        SCOPED_TRACE(spelling);
        platform::FileStatus status;
        platform::FileHandle handle =
            platform::open_file(spelling, platform::open_existing, platform::generic_read,
                                platform::share_read, false, &status);
        ASSERT_NE(handle, platform::invalid_file);
        EXPECT_EQ(status.size, 3u);
        platform::close_file(handle);
    }
    platform::PathInfo info;
    EXPECT_EQ(platform::look_up(base + "\\a\\b\\", info), platform::LookupResult::found);
    EXPECT_TRUE(info.is_directory);
    EXPECT_EQ(names_in(base + "/a/"), std::vector<std::string>{"b"});
    EXPECT_EQ(platform::look_up(base + "\\a\\missing\\c.txt", info),
              platform::LookupResult::not_found);
}

}  // namespace
