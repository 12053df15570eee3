// Stack walks of the calling thread: where they start, how frames read, where they stop.
#include "diagnostics/stack_walker.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/platform.h"

namespace {

// Wine's symbol reader faults on this large program's debug information; it reads the small crash
// target's, whose walk CrashReportTest checks under Wine.
const char* const wine_faults = "Wine's symbol reader faults on this program";

int walk_line = 0;
volatile int recursion_floor = 0;

__attribute__((noinline)) void walk_here(kam::StackWalker& walker) {
    walk_line = __LINE__ + 1;
    walker.show_callstack();
    asm volatile("");  // keeps the call from becoming a jump
}

int recursion_line = 0;

__attribute__((noinline)) int recurse_then_walk(kam::StackWalker& walker, int depth) {
    if (depth == recursion_floor) {
        walk_here(walker);
        return 0;
    }
    volatile int kept = depth;
    recursion_line = __LINE__ + 1;
    return recurse_then_walk(walker, depth - 1) + kept;
}

// The walk starts at its caller, reads file(line) : function, and stops at the second frame with
// the same call site.
TEST(StackWalkerTest, WalkStartsAtTheCallerAndEndsAtDirectRecursion) {
    if (test::under_wine())
        GTEST_SKIP() << wine_faults;
    kam::StackWalker walker;
    recurse_then_walk(walker, 5);
    std::vector<std::string> lines;
    std::istringstream in(walker.text());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    // The bottom frame may or may not be kept apart by the compiler.
    ASSERT_GE(lines.size(), 3u) << walker.text();
    ASSERT_LE(lines.size(), 4u) << walker.text();
    const std::string frame = "stack_walker_test.cpp(";
    EXPECT_TRUE(lines[0].starts_with(frame + std::to_string(walk_line) + ") : ") &&
                lines[0].ends_with("walk_here"))
        << lines[0];
    const std::string& last_frame = lines[lines.size() - 2];
    EXPECT_TRUE(last_frame.starts_with(frame + std::to_string(recursion_line) + ") : ") &&
                last_frame.ends_with("recurse_then_walk"))
        << last_frame;
    EXPECT_EQ(lines.back(), "StackWalk64-Endless-Callstack!");
}

}  // namespace
