// Everyday mistakes, run as a user would: each fails with a message naming what went wrong and
// leaves every file it was not asked to write as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <fstream>
#include <set>
#include <thread>

#include "e2e/packed_files.h"
#include "support/platform.h"
#include "support/run_program.h"
#include "support/trovex_runner.h"

namespace {

namespace fs = std::filesystem;

// Every file under the directory with its bytes.
std::map<std::string, std::string> snapshot(const test::TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        if (entry.is_regular_file()) {
            const std::string relative = fs::relative(entry.path(), dir.path()).generic_string();
            files[relative] = dir.read(relative);
        }
    }
    return files;
}

// A bundle s.bundle holding a.txt, made from root/.
void bundle_of_a(const test::TempDir& dir) {
    dir.write("root/a.txt", "a");
    test::run_trovex(dir.path(), {"quick-bundle", "-r", "root", "-D", "s.bundle"});
    fs::remove(dir.path() / "s.bundle.log");
}

const std::string good_xml = "<game><level name=\"forest\"/></game>";

struct Row {
    const char* item;
    std::function<void(const test::TempDir&)> setup;
    std::vector<std::string> arguments;
    int exit_code;
    std::string message;  // found in the output
    std::set<std::string> written = {};  // the only files that may be new or changed afterwards
};

const Row rows[] = {
    // Failures before any work: the exit status says so.
    {"unknown flag", [](auto& dir) { dir.write("c/a.xml", good_xml); },
     {"compile-xml", "-q", "-r", "c", "c/a.xml"}, 1, "Unknown flag -q", {"c/a.xmb"}},
    // rows: xml and compiles
    // rows: bundles
    // rows: temporaries and messages
    {"missing subpath", bundle_of_a, {"extract", "s.bundle", "b.txt", "out"}, 1,
     "Trovex subpath not found: b.txt"},
    {"force file outside the root",
     [](auto& dir) {
         dir.write("root/c/x.txt", "x");
         dir.write("root/a.txt", "a");
     },
     {"quick-bundle", "-r", "root/c", "-F", "root/a.txt"}, 1, "Path and name must match: "},
    {"bundle into a missing folder", [](auto& dir) { dir.write("root/a.txt", "a"); },
     {"quick-bundle", "-r", "root", "-D", "none/x.bundle"}, 1, "Cannot open none/x.bundle with"},
    {"directory where a file goes",
     [](auto& dir) {
         bundle_of_a(dir);
         fs::create_directories(dir.path() / "out/a.txt/d");
     },
     {"extract", "s.bundle", "", "out"}, 1, "Cannot replace out\\a.txt => "},
};

TEST(SafetyTest, FailuresExitNonZeroAndLeaveFilesAlone) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.item);
        test::TempDir dir;
        row.setup(dir);
        const auto before = snapshot(dir);
        const auto result = test::run_trovex(dir.path(), row.arguments);
        EXPECT_EQ(result.exit_code, row.exit_code) << result.output;
        EXPECT_NE(result.output.find(row.message), std::string::npos) << result.output;
        auto after = snapshot(dir);
        for (const std::string& path : row.written) after.erase(path);
        auto expected = before;
        for (const std::string& path : row.written) expected.erase(path);
        EXPECT_EQ(after, expected);
    }
}

// Polls until the path exists, for at most 30 seconds.
bool appears(const fs::path& path) {
    for (int i = 0; i < 30000 && !fs::exists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return fs::exists(path);
}

TEST(SafetyTest, InterruptedRunsLeaveNoTemporaryAndNoPartialFile) {
    if (test::on_windows) GTEST_SKIP() << "sends POSIX signals";
    test::TempDir dir;
    // Many small files: the runs last long enough to be caught in the middle.
    for (int part = 0; part < 10; ++part) {
        for (int d = 0; d < 5; ++d) {
            const fs::path folder =
                dir.path() / ("root/p" + std::to_string(part)) / ("d" + std::to_string(d));
            fs::create_directories(folder);
            for (int i = 0; i < 1000; ++i) std::ofstream(folder / ("f" + std::to_string(i))) << i;
        }
    }
    dir.write("root/p1/d0/f1.trovex-tmp4", "a killed run's");
    dir.write("out/target/d4/f1", "old");
    const std::vector<std::string> quick_bundle{"quick-bundle", "-r", "root", "-D", "out/x.bundle"};
    ASSERT_EQ(test::run_trovex(dir.path(), quick_bundle).exit_code, 0);
    EXPECT_EQ(test::packed_files(dir.path() / "out/x.bundle").size(), 50000u);
    const auto before = snapshot(dir);

    struct Interrupt {
        std::vector<std::string> arguments;
        std::string under_way;  // exists once the run is writing
        int signal;
    };
    const Interrupt interrupts[] = {
        {quick_bundle, "out/x.bundle.trovex-tmp1", SIGINT},
        {{"extract", "-r", "out/x.bundle", "p0", "out/target"}, "out/target/d1", SIGTERM},
    };
    for (const Interrupt& interrupt : interrupts) {
        SCOPED_TRACE(interrupt.arguments[0]);
        test::TempDir io;
        const long process =
            test::start_program(TROVEX_BINARY, interrupt.arguments, dir.path(), io.path() / "out");
        ASSERT_GT(process, 0);
        EXPECT_TRUE(appears(dir.path() / interrupt.under_way));
        test::signal_program(process, interrupt.signal);
        EXPECT_EQ(test::wait_program(process), 128 + interrupt.signal) << io.read("out");
        // Extracted files are whole: the bundled bytes, or the old file not reached yet.
        auto after = snapshot(dir);
        auto expected = before;
        const std::string target = "out/target/";
        for (auto it = after.begin(); it != after.end();) {
            const auto source = it->first.starts_with(target)
                                    ? before.find("root/p0/" + it->first.substr(target.size()))
                                    : before.end();
            if (source == before.end()) {
                ++it;
                continue;
            }
            const auto old = before.find(it->first);
            if (old == before.end() || old->second != it->second) {
                EXPECT_EQ(it->second, source->second) << it->first;
            }
            expected.erase(it->first);
            it = after.erase(it);
        }
        EXPECT_EQ(after, expected);
    }
}

}  // namespace
