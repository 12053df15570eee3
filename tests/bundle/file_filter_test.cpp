// The content walk: a remembered walk gone through again says and takes what a fresh walk would.
#include "bundle/file_filter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/error_of.h"
#include "support/platform.h"
#include "support/trovex_runner.h"
#include "utility/command_line.h"
#include "utility/path.h"

namespace {

using kam::BundleBuilder;
using kam::FileFilter;

std::vector<std::string> sources(const BundleBuilder& builder) {
    std::vector<std::string> paths;
    for (std::size_t job = 0; job < builder.jobs().size(); ++job)
        paths.push_back(builder.source_of(job));
    return paths;
}

TEST(FileFilterTest, ASecondWalkOfARememberedWalkSaysAndTakesWhatAFreshWalkWould) {
    if (test::on_windows)
        GTEST_SKIP() << "makes a symbolic link and names that differ only in case";
    test::TempDir dir;
    for (const char* file :
         {"root/c.txt", "root/a/x.txt", "root/a/skip/y.txt", "root/b/Z.txt", "root/b/z.txt"}) {
        dir.write(file, file);
    }
    std::filesystem::create_directory_symlink(dir.path() / "root", dir.path() / "root/b/up");
    kam::BundleSettings settings;
    settings.root = (dir.path() / "root").string();
    settings.force_destination = (dir.path() / "out.bundle").string();
    settings.ignore_names = {"skip"};
    const std::string root = kam::normalize_path(settings.root, false, true);

    CommandLine line(std::vector<std::string>{"-v"});
    BundleBuilder remembering;
    FileFilter first(kam::default_disk_file_system(), remembering, settings);
    const std::string first_said = test::output_of([&] { first.walk(true); });
    first.set_add_data(true);
    const std::string again_said = test::output_of([&] { first.walk(); });

    BundleBuilder fresh;
    FileFilter second(kam::default_disk_file_system(), fresh, settings);
    second.set_add_data(true);
    const std::string fresh_said = test::output_of([&] { second.walk(); });

    const std::string said = "Ignoring file " + root +
                             "\\b\\up, it leads back to a directory above it\n"
                             "Ignoring file " +
                             root + "\\a\\skip\n";
    EXPECT_EQ(again_said, said);
    EXPECT_NE(first_said.find("differ only in case"), std::string::npos) << first_said;
    EXPECT_NE(first_said.find(said), std::string::npos) << first_said;
    EXPECT_EQ(sources(remembering), (std::vector<std::string>{root + "\\c.txt", root + "\\b\\z.txt",
                                                              root + "\\a\\x.txt"}));
    EXPECT_EQ(sources(remembering), sources(fresh));
    EXPECT_NE(fresh_said.find(said), std::string::npos) << fresh_said;
}

}  // namespace
