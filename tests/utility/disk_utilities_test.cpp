// Absolute and relative paths, file deletion and directory chains with their error messages.
#include "utility/disk_utilities.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "support/error_of.h"
#include "support/platform.h"
#include "support/trovex_runner.h"
#include "utility/command_line.h"
#include "utility/errors.h"

namespace {

TEST(DiskUtilitiesTest, MakeAbsoluteTable) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"..\\x", "/a/b", "\\a\\x"},
        {"..\\x", "C:\\a\\b", "c:\\a\\x"},
        {"C:\\A\\..\\x", "/ignored", "c:\\x"},
        {"/Data/./Units//Tank.XML", "/ignored", "\\data\\units\\tank.xml"},
        {"x/y", "/Work", "\\work\\x\\y"},
        {".", "/a/b", "\\a\\b"},
        {"../../..", "/a/b", "\\"},
        {"C:\\..\\x", "/ignored", "c:\\x"},
        {"c:", "/ignored", "c:\\"},
    };
    for (const auto& [path, current, expected] : cases)
        EXPECT_EQ(kam::make_absolute(path, current), expected) << path << " in " << current;
    EXPECT_EQ(kam::make_absolute("x"), kam::make_absolute(kam::current_directory() + "/x"));
    EXPECT_EQ(kam::current_directory(), std::filesystem::current_path().string());
    if (test::on_windows)
        return;  // a current directory cannot be removed there
    // From a removed directory "." is an error, not the top of the disk.
    const std::filesystem::path before = std::filesystem::current_path();
    {
        test::TempDir dir;
        std::filesystem::create_directory(dir.path() / "gone");
        std::filesystem::current_path(dir.path() / "gone");
        std::filesystem::remove(dir.path() / "gone");
        EXPECT_THROW(kam::make_absolute("."), kam::DiskError);
        EXPECT_EQ(kam::make_absolute("/a"), "\\a");
        std::filesystem::current_path(before);
    }
    // A current directory longer than the first buffer.
    test::TempDir deep;
    std::filesystem::current_path(deep.path());
    const std::string name(200, 'd');
    for (int level = 0; level < 24; ++level) {
        std::filesystem::create_directory(name);
        std::filesystem::current_path(name);
    }
    EXPECT_EQ(kam::current_directory(), std::filesystem::current_path().string());
    // Removed upwards by relative names: the whole path is too long for the system.
    for (int level = 0; level < 24; ++level) {
        std::filesystem::current_path("..");
        std::filesystem::remove(name);
    }
    std::filesystem::current_path(before);
}

TEST(DiskUtilitiesTest, MakeRelativeTable) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"c:\\a\\b", "c:\\a\\b", "."},
        {"c:\\a\\b", "c:\\a\\b\\c\\d.xml", "c\\d.xml"},
        {"c:\\a\\b\\", "c:\\a\\b\\c\\d.xml", "c\\d.xml"},
        {"c:\\a\\b", "c:\\a\\x\\y", "..\\x\\y"},
        {"\\a\\b\\c", "\\a", "..\\.."},
        {"c:\\a", "d:\\a", "..\\..\\d:\\a"},
        {"c:\\A", "c:\\a\\x", "..\\a\\x"},
    };
    for (const auto& [base, path, expected] : cases)
        EXPECT_EQ(kam::make_relative(base, path), expected) << base << " " << path;
}

TEST(DiskUtilitiesTest, CreateDirectoriesMakesTheChainAndReportsFailures) {
    test::TempDir dir;
    CommandLine line(std::vector<std::string>{});
    const std::string base = dir.path().string();
    EXPECT_EQ(test::output_of([&] { kam::create_directories(base + "\\Out\\bundles/x"); }), "");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "Out/bundles/x"));
    // Existing directories are skipped, in any case.
    EXPECT_EQ(test::output_of([&] { kam::create_directories(base + "/out/BUNDLES/x/y"); }), "");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "Out/bundles/x/y"));

    dir.write("file", "in the way");
    const std::string dashes(70, '-');
    const std::string output =
        test::output_of([&] { kam::create_directories(base + "/file/a/b"); });
    std::string prefix;
    for (char c : base + "/file/a")
        prefix += c == '/' ? '\\' : c;
    const std::string first = dashes + "\nERROR: Cant create directory \"" + prefix + "\" (";
    const std::string second = "\nERROR: Cant create directory \"" + prefix + "\\b\" (";
    EXPECT_TRUE(output.starts_with(first) && output.find(second) != std::string::npos) << output;
    if (!test::on_windows) {
        EXPECT_EQ(output, first + "Not a directory)\n" + dashes + "\n" + dashes + second +
                              "Not a directory)\n" + dashes + "\n");
    }

    // A relative chain creates its first directory too.
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    kam::create_directories("first\\second");
    std::filesystem::current_path(previous);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "first/second"));
}

}  // namespace
