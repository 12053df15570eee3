// Every command prints the same bytes, leaves the same files and ends the same way whatever the
// number of jobs, also when a failure ends the run; many jobs never tear a shared include; and the
// progress line on a terminal changes nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/platform.h"
#include "support/pseudo_terminal.h"
#include "support/trovex_runner.h"

namespace fs = std::filesystem;

namespace {

const fs::path examples = fs::path(TROVEX_SOURCE_DIR) / "examples";

// 1500 files in nested directories: most small, some empty, a few larger than a copy chunk;
// level.log names every third in reverse order.
void generate_tree(const test::TempDir& dir, const std::string& root) {
    std::string log;
    for (int i = 0; i < 1500; ++i) {
        const std::string path = "d" + std::to_string(i % 7) + "/s" + std::to_string(i % 13) +
                                 "/f" + std::to_string(i) + (i % 2 ? ".xml" : ".bin");
        const auto size = static_cast<std::size_t>(i % 500 == 3 ? 300000 + i : i * 37 % 300);
        dir.write(root + "/" + path, std::string(size, static_cast<char>('a' + i % 26)));
        if (i % 3 == 0)
            log = "<open path=\"" + path + "\" flags=\"r\" />\r\n" + log;
    }
    dir.write("level.log", log);
}

// The content tree (pre), a changed copy of it (post), and their bundles.
struct Inputs {
    explicit Inputs(bool sample) {
        if (sample) {
            fs::copy(examples / "content", dir.path() / "pre", fs::copy_options::recursive);
            fs::copy_file(examples / "logs/forest.log", dir.path() / "level.log");
        } else {
            generate_tree(dir, "pre");
        }
        fs::copy(dir.path() / "pre", dir.path() / "post", fs::copy_options::recursive);
        int changed = 0;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path() / "post")) {
            if (!entry.is_regular_file() || ++changed % 5 != 0)
                continue;
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
    fs::copy(examples / "content", dir.path() / "content", fs::copy_options::recursive);
}

struct Outcome {
    std::string output;
    int exit_code = -1;
    std::map<std::string, std::string> files;
};

// Runs trovex with the arguments after -j 1, 2 and 8, each in a fresh directory that make fills,
// expects one outcome of all, and returns it.
Outcome same_for_any_jobs(const std::function<void(const test::TempDir&)>& make,
                          const std::vector<std::string>& arguments) {
    Outcome first;
    for (const char* jobs : {"1", "2", "8"}) {
        SCOPED_TRACE(arguments[1] + " -j " + jobs);
        test::TempDir dir;
        make(dir);
        std::vector<std::string> all = {"-j", jobs};
        all.insert(all.end(), arguments.begin(), arguments.end());
        const auto result = test::run_trovex(dir.path(), all);
        Outcome outcome{result.output, result.exit_code, test::snapshot(dir.path())};
        if (jobs == std::string("1"))
            first = outcome;
        EXPECT_EQ(outcome.output, first.output);
        EXPECT_EQ(outcome.exit_code, first.exit_code);
        EXPECT_TRUE(outcome.files == first.files);
    }
    return first;
}

TEST(JobsTest, BundleCommandsGiveTheSameForAnyNumberOfJobs) {
    for (const bool sample : {true, false}) {
        const Inputs in(sample);
        const std::vector<std::string> commands[] = {
            {"-v", "bundle", "-L", "-r", in.path("pre"), "-D", "out.bundle", in.path("level.log")},
            {"-vv", "bundle", "-r", in.path("pre"), "-D", "out.bundle", in.path("level.log")},
            {"-vv", "quick-bundle", "-r", in.path("post"), "-D", "out.bundle"},
            {"-v", "extract", "-r", in.path("post.bundle")},
            {"-vv", "make-patch", in.path("pre.bundle"), in.path("post.bundle"), "p.bundle"},
        };
        for (const auto& arguments : commands) {
            const Outcome one = same_for_any_jobs([](const test::TempDir&) {}, arguments);
            EXPECT_EQ(one.exit_code, 0) << arguments[1] << one.output;
            EXPECT_GT(one.files.size(), 1u) << arguments[1];
        }
    }
    // A directory where the last file of a directory in the middle of the tree goes: its rename
    // fails and ends the run, while several jobs have already made the directories after it.
    const Inputs in(false);
    const Outcome one = same_for_any_jobs(
        [](const test::TempDir& out) {
            fs::create_directories(out.path() / "d4/s5/f928.bin/inside");
        },
        {"-v", "extract", "-r", in.path("post.bundle")});
    EXPECT_NE(one.exit_code, 0);
    EXPECT_NE(one.output.find("f928.bin"), std::string::npos) << one.output;
    // In name order f109.xml comes before it, the directories d4\s6 and d6 after it.
    EXPECT_EQ(one.files.count("d4/s5/f109.xml"), 1u);
    EXPECT_EQ(one.files.count("d4/s6"), 0u);
    EXPECT_EQ(one.files.count("d6"), 0u);
    // A log read beside the walk fails after the walk's messages, as when it is read after it.
    const Outcome unread = same_for_any_jobs(
        [](const test::TempDir&) {},
        {"-v", "bundle", "-L", "-r", in.path("pre"), "-D", "out.bundle", "missing.log"});
    EXPECT_NE(unread.exit_code, 0);
    EXPECT_NE(unread.output.find("missing.log"), std::string::npos) << unread.output;
}

TEST(JobsTest, CompileCommandsGiveTheSameForAnyNumberOfJobs) {
    const std::pair<std::function<void(const test::TempDir&)>, std::vector<std::string>> cases[] = {
        {write_content, {"-vv", "compile-xml", "-r", "content", "content/data"}},
        {write_content, {"-v", "compile-scripts", "content/scripts"}},
        {write_tree, {"-v", "compile-xml", "-r", "g", "g", "g/d1/x1.xml", "nope.xml"}},
        {write_tree, {"-v", "compile-xml", "-a", "-r", "g", "g/d0", "g"}},
        {write_tree, {"-v", "-b", "compile-xml", "-r", "g", "g"}},
        {write_tree, {"-v", "compile-xml", "-m", "-r", "g", "g/d2", "g"}},
        {write_tree, {"-v", "compile-scripts", "g", "g/d0/s1.ksf", "g/x.txt"}},
        {write_tree, {"-v", "compile-scripts", "-a", "g/d0", "g"}},
        {write_tree, {"-v", "compile-scripts", "-m", "g/d1", "g/d1/s1.ksf", "g"}},
        {write_tree, {"-v", "-b", "compile-scripts", "g"}},
        // A listed script that does not compile ends the command: later arguments stay untouched.
        {write_tree, {"-v", "compile-scripts", "g/d0", "g/d0/s6.ksf", "g/d1"}},
    };
    for (const auto& [make, arguments] : cases) {
        const Outcome one = same_for_any_jobs(make, arguments);
        EXPECT_GT(one.output.size(), test::banner().size()) << arguments.back();
    }
}

// Many jobs write the binary form of one included file at once: none may tear it.
TEST(JobsTest, ASharedIncludeIsNeverTorn) {
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

// The progress line as a user sees it: on a terminal it appears and is cleared at the end, and
// elsewhere nothing is written; what the commands print and write is the same either way.
struct Streams {
    std::string error;   // standard error
    std::string output;  // standard output
    std::string file;    // the output file of the case
};

// Runs trovex with standard error on a pseudo-terminal or a pipe.
Streams run_on(const test::TempDir& dir, const std::vector<std::string>& arguments, bool terminal,
               const std::string& file) {
    // The child's standard output comes back through a file: only standard error is piped.
    const auto error = test::standard_error_of(
        [&] { dir.write("stdout.txt", test::run_trovex(dir.path(), arguments).output); }, terminal);
    return {error.value_or("(failed)"), dir.read("stdout.txt"), dir.read(file)};
}

// Every redraw shows "N/total files", and the last one is overwritten with as many spaces.
void expect_line_shown_and_cleared(const std::string& error, const std::string& total) {
    std::vector<std::string> parts;
    std::istringstream in(error);
    for (std::string part; std::getline(in, part, '\r');)
        parts.push_back(part);
    ASSERT_GE(parts.size(), 3u) << error;
    EXPECT_TRUE(parts.front().empty() && error.ends_with('\r')) << error;
    EXPECT_EQ(parts.back(), std::string(parts[parts.size() - 2].size(), ' ')) << error;
    for (std::size_t i = 1; i + 1 < parts.size(); ++i)
        EXPECT_NE(parts[i].find("/" + total + " files"), std::string::npos) << parts[i];
}

TEST(ProgressEndToEndTest, ShownAndClearedOnATerminalOnly) {
    if (test::on_windows)
        GTEST_SKIP() << "no pseudo-terminals";
    test::TempDir dir;
    dir.write("root/a.xml", "<a/>");
    dir.write("root/d/b.xml", "<b/>");
    dir.write("root/d/c.bin", std::string(5000, 'c'));
    dir.write("root/s.ksf", "f() {}");
    // The arguments, the files on the line and a file written alike on and off a terminal; in
    // order: the later commands read the bundle of the first.
    const std::tuple<std::vector<std::string>, const char*, const char*> cases[] = {
        {{"quick-bundle", "-r", "root", "-D", "q.bundle"}, "4", "q.bundle"},
        {{"compile-xml", "-r", "root", "root"}, "2", "root/d/b.xmb"},
        {{"compile-scripts", "root"}, "1", "root/s.kxe"},
        {{"extract", "-r", "q.bundle"}, "4", "d/c.bin"},
        {{"make-patch", "q.bundle", "q.bundle", "p.bundle"}, "4", "p.bundle"},
    };
    for (const auto& [arguments, total, file] : cases) {
        SCOPED_TRACE(arguments.front());
        const Streams shown = run_on(dir, arguments, true, file);
        const Streams plain = run_on(dir, arguments, false, file);
        expect_line_shown_and_cleared(shown.error, total);
        EXPECT_EQ(plain.error, "");
        EXPECT_EQ(shown.output, plain.output);
        EXPECT_NE(plain.file, "");
        EXPECT_EQ(shown.file, plain.file);
        // -v prints lines of its own, which the progress line would tear.
        std::vector<std::string> verbose = arguments;
        verbose.insert(verbose.begin(), "-v");
        EXPECT_EQ(run_on(dir, verbose, true, file).error, "");
    }
}

}  // namespace
