// bundle, quick-bundle, extract and make-patch with several jobs: the files written, the bytes
// printed and the exit status are those of one job, also when a failure ends the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "support/trovex_runner.h"

namespace {

namespace fs = std::filesystem;

// 1500 files in nested directories: most small, some empty, a few larger than a copy chunk;
// level.log names every third in reverse order.
void generate_tree(const test::TempDir& dir, const std::string& root) {
    std::string log;
    for (int i = 0; i < 1500; ++i) {
        const std::string path = "d" + std::to_string(i % 7) + "/s" + std::to_string(i % 13) +
                                 "/f" + std::to_string(i) + (i % 2 ? ".xml" : ".bin");
        std::size_t size = static_cast<std::size_t>(i * 37 % 300);
        if (i % 500 == 3) size = 300000 + static_cast<std::size_t>(i);
        dir.write(root + "/" + path, std::string(size, static_cast<char>('a' + i % 26)));
        if (i % 3 == 0) log = "<open path=\"" + path + "\" flags=\"r\" />\r\n" + log;
    }
    dir.write("level.log", log);
}

// The content tree (pre), a changed copy of it (post), and their bundles.
struct Inputs {
    explicit Inputs(bool sample) {
        if (sample) {
            fs::copy(fs::path(TROVEX_SOURCE_DIR) / "examples/content", dir.path() / "pre",
                     fs::copy_options::recursive);
            fs::copy_file(fs::path(TROVEX_SOURCE_DIR) / "examples/logs/forest.log",
                          dir.path() / "level.log");
        } else {
            generate_tree(dir, "pre");
        }
        fs::copy(dir.path() / "pre", dir.path() / "post", fs::copy_options::recursive);
        int changed = 0;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path() / "post")) {
            if (!entry.is_regular_file() || ++changed % 5 != 0) continue;
            std::ofstream(entry.path(), std::ios::app) << "changed";
        }
        dir.write("post/added/new.txt", "new");
        for (const char* tree : {"pre", "post"}) {
            test::run_trovex(dir.path(), {"-j", "1", "quick-bundle", "-r", tree, "-D",
                                          std::string(tree) + ".bundle"});
        }
    }
    std::string path(const std::string& name) const { return (dir.path() / name).string(); }
    test::TempDir dir;
};

struct Outcome {
    std::string output;
    int exit_code;
    std::map<std::string, std::string> files;
};

// Runs trovex -j jobs with the arguments in a fresh directory, made ready by prepare.
template <typename Prepare>
Outcome run_with_jobs(const std::string& jobs, const std::vector<std::string>& arguments,
                      Prepare prepare) {
    test::TempDir out;
    prepare(out);
    std::vector<std::string> all{"-j", jobs};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const auto result = test::run_trovex(out.path(), all);
    return {result.output, result.exit_code, test::snapshot(out.path())};
}

TEST(JobsBundleTest, SameOutputForAnyNumberOfJobs) {
    for (const bool sample : {true, false}) {
        const Inputs in(sample);
        const std::vector<std::string> commands[] = {
            {"-v", "bundle", "-L", "-r", in.path("pre"), "-D", "out.bundle", in.path("level.log")},
            {"-vv", "bundle", "-r", in.path("pre"), "-D", "out.bundle", in.path("level.log")},
            {"quick-bundle", "-r", in.path("pre"), "-D", "out.bundle"},
            {"-vv", "quick-bundle", "-r", in.path("post"), "-D", "out.bundle"},
            {"-v", "extract", "-r", in.path("post.bundle")},
            {"-v", "make-patch", in.path("pre.bundle"), in.path("post.bundle"), "p.bundle"},
            {"-vv", "make-patch", in.path("pre.bundle"), in.path("post.bundle"), "p.bundle"},
        };
        for (const auto& arguments : commands) {
            const auto nothing = [](const test::TempDir&) {};
            const Outcome one = run_with_jobs("1", arguments, nothing);
            EXPECT_EQ(one.exit_code, 0) << arguments[1] << one.output;
            EXPECT_GT(one.files.size(), 1u) << arguments[1];
            for (const char* jobs : {"2", "8"}) {
                const Outcome many = run_with_jobs(jobs, arguments, nothing);
                EXPECT_EQ(many.output, one.output) << arguments[1] << " -j " << jobs;
                EXPECT_EQ(many.exit_code, one.exit_code) << arguments[1] << " -j " << jobs;
                EXPECT_TRUE(many.files == one.files) << arguments[1] << " -j " << jobs;
            }
        }
    }
}

TEST(JobsBundleTest, FailureEndsTheRunAlikeForAnyNumberOfJobs) {
    const Inputs in(false);
    // A directory where the last file of a directory in the middle of the tree goes: its rename
    // fails and ends the run, while several jobs have already made the directories after it.
    const auto blocked = [](const test::TempDir& out) {
        fs::create_directories(out.path() / "d4/s5/f928.bin/inside");
    };
    const std::vector<std::string> arguments{"-v", "extract", "-r", in.path("post.bundle")};
    const Outcome one = run_with_jobs("1", arguments, blocked);
    EXPECT_NE(one.exit_code, 0);
    EXPECT_NE(one.output.find("f928.bin"), std::string::npos) << one.output;
    // In name order f109.xml comes before it, the directories d4\s6 and d6 after it.
    EXPECT_EQ(one.files.count("d4/s5/f109.xml"), 1u);
    EXPECT_EQ(one.files.count("d4/s6"), 0u);
    EXPECT_EQ(one.files.count("d6"), 0u);
    for (const char* jobs : {"2", "8"}) {
        const Outcome many = run_with_jobs(jobs, arguments, blocked);
        EXPECT_EQ(many.output, one.output) << jobs;
        EXPECT_EQ(many.exit_code, one.exit_code) << jobs;
        EXPECT_TRUE(many.files == one.files) << jobs;
    }
}

}  // namespace
