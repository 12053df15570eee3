// The progress line as a user sees it: on a terminal it appears and is cleared at the end, and
// elsewhere nothing is written; what the commands print and write is the same either way.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/platform.h"
#include "support/pseudo_terminal.h"
#include "support/trovex_runner.h"

namespace {

struct Outcome {
    std::string error;   // standard error
    std::string output;  // standard output
    std::string file;    // the output file of the case
};

// Runs trovex with standard error on a pseudo-terminal or a pipe.
Outcome run_on(const test::TempDir& dir, const std::vector<std::string>& arguments, bool terminal,
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
        const Outcome shown = run_on(dir, arguments, true, file);
        const Outcome plain = run_on(dir, arguments, false, file);
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
