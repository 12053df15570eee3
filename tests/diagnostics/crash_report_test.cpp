// Faults in a program that sets up the crash handler as trovex does, checked from the outside:
// the framed report, the first frame at the faulting line, the exit code, and no hang.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/platform.h"
#include "support/trovex_runner.h"

// In sanitizer builds UBSan reports the null store and the integer division itself, before the
// processor faults, and ends the process its own way; those cases (and the fault inside the
// report, which is a null store) are left out there. The others reach the handler as usual.
#if defined(__SANITIZE_ADDRESS__)
#define TROVEX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TROVEX_SANITIZED 1
#endif
#endif
#ifndef TROVEX_SANITIZED
#define TROVEX_SANITIZED 0
#endif

namespace {

// The line of the crash target whose "fault:" mark names the mode.
int marked_line(const std::string& mode) {
    std::ifstream source(TROVEX_SOURCE_DIR "/tests/tools/crash_target.cpp");
    std::string line;
    for (int number = 1; std::getline(source, line); ++number) {
        const size_t mark = line.find("// fault:");
        if (mark != std::string::npos &&
            (line + " ").find(" " + mode + " ", mark) != std::string::npos)
            return number;
    }
    return 0;
}

struct FaultCase {
    const char* mode;
    const char* fault_name;
    const char* function;
    int lines_below_mark;  // how far below its mark the fault may lie (to the closing brace)
    bool runs_under_sanitizers;
};

// abort() is reported by its signal number, which differs between systems.
const std::string abort_signal = std::to_string(SIGABRT);

const FaultCase fault_cases[] = {
    {"null", "access violation", "write_through_null", 0, false},
    {"divide", "divide by zero (integer)", "divide_by_zero", 0, false},
    {"stack", "stack overflow", "recurse", 5, true},
    {"abort", abort_signal.c_str(), "give_up", 0, true},
    {"illegal", "illegal instruction", "execute_trap", 0, true},
    {"float-divide", "divide by zero (float)", "divide_float_by_zero", 0, true},
    // A report that faults itself still ends the process with the report of the first fault.
    {"fault-in-report", "access violation", "write_through_null", 0, false},
};

TEST(CrashReportTest, FaultIsReportedFramedWithTheFaultingLineFirst) {
    const std::string dashes(70, '-');
    for (const FaultCase& fault : fault_cases) {
        SCOPED_TRACE(fault.mode);
        if (TROVEX_SANITIZED && !fault.runs_under_sanitizers)
            continue;
        // Wine leaves an overflowed thread no room for any handler and ends the process.
        if (fault.mode == std::string("stack") && test::under_wine())
            continue;
        test::TempDir dir;
        const test::RunResult run = test::run_trovex(dir.path(), {fault.mode}, "", CRASH_TARGET);
        EXPECT_EQ(run.exit_code, 1);

        const std::string head =
            dashes + "\nERROR: Unhandled exception - " + fault.fault_name + "\n\n";
        ASSERT_TRUE(run.output.starts_with(head)) << run.output;
        const std::string line =
            run.output.substr(head.size(), run.output.find('\n', head.size()) - head.size());
        // A frame line reads "crash_target.cpp(12) : function".
        const std::string file = "crash_target.cpp(";
        const int at = line.starts_with(file) ? std::atoi(line.c_str() + file.size()) : 0;
        const int mark = marked_line(fault.mode);
        EXPECT_TRUE(at >= mark && at <= mark + fault.lines_below_mark) << line;
        EXPECT_TRUE(line.ends_with(std::string(" : ") + fault.function) ||
                    line.ends_with(std::string("::") + fault.function))
            << line;
        // The last frame closes the report: no empty line before the dashes.
        EXPECT_TRUE(run.output.ends_with("\n" + dashes + "\n") &&
                    !run.output.ends_with("\n\n" + dashes + "\n"))
            << run.output;
    }
}

}  // namespace
