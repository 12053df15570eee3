// A program that faults on request, with the crash handler set up as trovex sets it up:
//   crash_target null|divide|stack|abort|illegal|float-divide|fault-in-report
// Each faulting line carries a "fault:" mark naming its modes, which the tests look up for its line
// number; a stack overflow faults wherever the frame first touches the guard page, so its whole
// function is marked.
#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crash_report.h"
#include "diagnostics/thread_manager.h"

#ifdef _WIN32
#include <float.h>
#endif

namespace {

void trap_float_division_by_zero() {
#ifdef _WIN32
    _controlfp(_controlfp(0, 0) & ~_EM_ZERODIVIDE, _MCW_EM);
#else
    feenableexcept(FE_DIVBYZERO);
#endif
}

// Read through volatile objects so that the compiler cannot see the fault coming and replace it
// with something else (a trap instruction, or nothing).
int* volatile null_pointer = nullptr;
volatile int int_zero = 0;
volatile int int_hundred = 100;
volatile double float_zero = 0.0;
volatile int stop_depth = -1;

__attribute__((noinline)) void write_through_null() {
    *null_pointer = 1;  // fault: null fault-in-report
}

__attribute__((noinline)) int divide_by_zero() {
    return int_hundred / int_zero;  // fault: divide
}

__attribute__((noinline)) int recurse(int depth) {  // fault: stack
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == stop_depth)
        return 0;
    return recurse(depth + 1) + frame[0];
}

__attribute__((noinline)) void give_up() {
    std::abort();  // fault: abort
}

__attribute__((noinline)) void execute_trap() {
    if (null_pointer == nullptr)
        __builtin_trap();  // fault: illegal
}

__attribute__((noinline)) double divide_float_by_zero() {
    trap_float_division_by_zero();
    return 1.0 / float_zero;  // fault: float-divide
}

// A callback that faults itself: the handler must still end the process with a report.
void faulting_report(const std::string& message, const std::string& call_stack,
                     const std::string& thread_name) {
    write_through_null();
    report_crash(message, call_stack, thread_name);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;  // the modes are listed at the top
    const std::string mode = argv[1];
    kam::ThreadManager crash_handler("trovex",
                                     mode == "fault-in-report" ? faulting_report : report_crash);
    if (mode == "null" || mode == "fault-in-report")
        write_through_null();
    if (mode == "divide")
        std::printf("%d\n", divide_by_zero());
    if (mode == "stack")
        std::printf("%d\n", recurse(0));
    if (mode == "abort")
        give_up();
    if (mode == "illegal")
        execute_trap();
    if (mode == "float-divide")
        std::printf("%f\n", divide_float_by_zero());
    std::puts("no fault");
    return 3;
}
