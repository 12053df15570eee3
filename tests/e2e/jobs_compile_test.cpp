// compile-xml and compile-scripts print the same bytes, leave the same files and end the same
// way whatever the number of jobs.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "support/trovex_runner.h"

namespace fs = std::filesystem;

namespace {

const fs::path content = fs::path(TROVEX_SOURCE_DIR) / "examples" / "content";

// Includes of one shared file, broken files, a missing include, random draws, failing and good
// scripts, spread over a few directories so that walks hand out many jobs.
void write_tree(const test::TempDir& dir) {
    dir.write("g/shared.xml", "<s><v>1</v><w/></s>");
    for (int i = 0; i < 24; ++i) {
        const std::string n = std::to_string(i);
        const std::string sub = "g/d" + std::to_string(i % 3) + "/";
        std::string body = "<f" + n + "><xi:include href=\"../shared.xml\"/></f" + n + ">";
        if (i % 7 == 3)
            body = "<f><a></b></f>";
        if (i % 9 == 5)
            body = "<f><xi:include href=\"gone.xml\"/></f>";
        // Draws from the run's one random sequence, in the order of the files.
        if (i % 5 == 2)
            body = "<f><xdefine name=\"k\" expression=\"rnd\" value=\"x\"/><a>@k</a></f>";
        dir.write(sub + "x" + n + ".xml", body);
        dir.write(sub + "s" + n + ".ksf",
                  i % 8 == 6 ? "f() {\n  x = ;\n}\n" : "f" + n + "() { return " + n + "; }\n");
    }
}

void write_content(const test::TempDir& dir) {
    fs::copy(content, dir.path() / "content", fs::copy_options::recursive);
}

struct Case {
    const char* name;
    std::function<void(const test::TempDir&)> make;
    std::vector<std::string> arguments;
};

TEST(JobsCompileTest, EveryNumberOfJobsPrintsAndWritesTheSame) {
    const std::vector<Case> cases = {
        {"sample xml", write_content, {"-vv", "compile-xml", "-r", "content", "content/data"}},
        {"sample scripts", write_content, {"-v", "compile-scripts", "content/scripts"}},
        {"tree xml", write_tree, {"-v", "compile-xml", "-r", "g", "g", "g/d1/x1.xml", "nope.xml"}},
        {"tree xml, all reported", write_tree, {"-v", "compile-xml", "-a", "-r", "g", "g/d0", "g"}},
        {"tree xml, break on error", write_tree, {"-v", "-b", "compile-xml", "-r", "g", "g"}},
        {"tree xml, only modified", write_tree, {"-v", "compile-xml", "-m", "-r", "g", "g/d2", "g"}},
        {"tree scripts", write_tree, {"-v", "compile-scripts", "g", "g/d0/s1.ksf", "g/x.txt"}},
        {"tree scripts, all reported", write_tree, {"-v", "compile-scripts", "-a", "g/d0", "g"}},
        {"tree scripts, only modified, listed twice", write_tree,
         {"-v", "compile-scripts", "-m", "g/d1", "g/d1/s1.ksf", "g"}},
        {"tree scripts, break on error", write_tree, {"-v", "-b", "compile-scripts", "g"}},
        // A listed script that does not compile ends the command: later arguments stay untouched.
        {"tree scripts, failing argument", write_tree,
         {"-v", "compile-scripts", "g/d0", "g/d0/s6.ksf", "g/d1"}},
    };
    for (const Case& c : cases) {
        test::RunResult first;
        std::map<std::string, std::string> first_files;
        for (const char* jobs : {"1", "2", "8"}) {
            test::TempDir dir;
            c.make(dir);
            std::vector<std::string> arguments = {"-j", jobs};
            arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
            const auto result = test::run_trovex(dir.path(), arguments);
            const auto files = test::snapshot(dir.path());
            if (std::string(jobs) == "1") {
                first = result;
                first_files = files;
                EXPECT_GT(result.output.size(), test::banner().size()) << c.name;
                continue;
            }
            EXPECT_EQ(result.output, first.output) << c.name << " -j " << jobs;
            EXPECT_EQ(result.exit_code, first.exit_code) << c.name << " -j " << jobs;
            EXPECT_EQ(files, first_files) << c.name << " -j " << jobs;
        }
    }
}

// Many jobs write the binary form of one included file at once: none may tear it.
TEST(JobsCompileTest, ASharedIncludeIsNeverTorn) {
    test::TempDir dir;
    std::string shared = "<s>";
    for (int i = 0; i < 40; ++i)
        shared += "<e" + std::to_string(i) + " v=\"" + std::to_string(i) + "\"/>";
    dir.write("t/shared.xml", shared + "</s>");
    for (int i = 0; i < 200; ++i) {
        const std::string n = std::to_string(i);
        dir.write("t/f" + n + ".xml", "<f" + n + "><xi:include href=\"shared.xml\"/></f" + n + ">");
    }
    const auto sequential =
        test::run_trovex(dir.path(), {"-j", "1", "compile-xml", "-r", "t", "t"});
    ASSERT_EQ(sequential.exit_code, 0) << sequential.output;
    const auto expected = test::snapshot(dir.path());
    for (int run = 0; run < 50; ++run) {
        const auto parallel =
            test::run_trovex(dir.path(), {"-j", "8", "compile-xml", "-r", "t", "t"});
        ASSERT_EQ(parallel.output, sequential.output) << run;
        ASSERT_EQ(test::snapshot(dir.path()), expected) << run;
    }
}

}  // namespace
