// The round trips users rely on: a real tree packed and extracted comes back byte for byte, and a
// patch extracted with -d over the old version gives the new one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "support/trovex_runner.h"

namespace {

namespace fs = std::filesystem;

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Copies the regular files below from (links followed) under lower-case names, as a bundle holds
// them; of names that differ only in case the first met is kept. Returns how many were copied.
int copy_lower_case(const fs::path& from, const fs::path& to) {
    std::set<std::string> taken;
    int copied = 0;
    for (const auto& entry :
         fs::recursive_directory_iterator(from, fs::directory_options::follow_directory_symlink)) {
        if (!entry.is_regular_file())
            continue;
        const fs::path relative = lower(entry.path().lexically_relative(from).string());
        if (!taken.insert(relative.string()).second)
            continue;
        fs::create_directories((to / relative).parent_path());
        fs::copy_file(entry.path(), to / relative);
        ++copied;
    }
    return copied;
}

bool same_trees(const fs::path& a, const fs::path& b) {
    return test::snapshot(a) == test::snapshot(b);
}

TEST(RoundTripTest, ARealTreeComesBackByteForByte) {
    if (!fs::is_directory("/usr/share/doc"))
        GTEST_SKIP() << "no /usr/share/doc to pack";
    test::TempDir dir;
    ASSERT_GT(copy_lower_case("/usr/share/doc", dir.path() / "tree"), 0);
    ASSERT_TRUE(test::quick_bundle(dir.path() / "tree", dir.path() / "doc.bundle"));
    fs::create_directory(dir.path() / "out");
    const auto result = test::run_trovex(dir.path(), {"extract", "-r", "doc.bundle", "", "out"});
    EXPECT_EQ(result.output, test::banner());
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_TRUE(same_trees(dir.path() / "tree", dir.path() / "out"));
}

TEST(RoundTripTest, APatchTurnsTheOldVersionIntoTheNewOne) {
    test::TempDir dir;
    const std::string big(700000, 'c');
    for (const char* version : {"v1", "v2"}) {
        const std::string root = std::string(version) + "/";
        dir.write(root + "same.txt", "same");
        dir.write(root + "keep/c.bin", big);
        dir.write(root + "empty.txt", "");
    }
    dir.write("v1/a.txt", "short");
    dir.write("v1/keep/b.txt", "abc");
    dir.write("v1/gone.txt", "gone");
    dir.write("v1/old/x.txt", "x");
    dir.write("v1/old/deep/y.txt", "y");
    dir.write("v2/a.txt", "much longer");
    dir.write("v2/keep/b.txt", "abd");
    dir.write("v2/new/z.txt", "z");
    ASSERT_TRUE(test::quick_bundle(dir.path() / "v1", dir.path() / "v1.bundle"));
    ASSERT_TRUE(test::quick_bundle(dir.path() / "v2", dir.path() / "v2.bundle"));
    fs::create_directory(dir.path() / "copy");

    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"make-patch", "v1.bundle", "v2.bundle", "patch.bundle"},
          std::vector<std::string>{"extract", "-r", "v1.bundle", "", "copy"},
          std::vector<std::string>{"extract", "-r", "-d", "patch.bundle", "", "copy"}}) {
        const auto result = test::run_trovex(dir.path(), arguments);
        EXPECT_EQ(result.output, test::banner()) << arguments[0];
        EXPECT_EQ(result.exit_code, 0);
    }
    EXPECT_TRUE(same_trees(dir.path() / "v2", dir.path() / "copy"));
}

}  // namespace
