// The round trip users rely on: a patch extracted with -d over the old version gives the new one.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/trovex_runner.h"

namespace {

namespace fs = std::filesystem;

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
    EXPECT_TRUE(test::snapshot(dir.path() / "v2") == test::snapshot(dir.path() / "copy"));
}

}  // namespace
