// The process's fatal faults, routed to one handler, and the few calls a fault handler may make.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kam::platform {

// Exception codes of the faults the crash report names; a fault that none of them describes
// carries the platform's own number for it (a signal number here).
enum FaultCode : std::uint32_t {
    access_violation = 0xC0000005,
    array_bounds_exceeded = 0xC000008C,
    breakpoint = 0x80000003,
    datatype_misalignment = 0x80000002,
    float_denormal_operand = 0xC000008D,
    float_divide_by_zero = 0xC000008E,
    float_inexact_result = 0xC000008F,
    float_invalid_operation = 0xC0000090,
    float_overflow = 0xC0000091,
    float_stack_check = 0xC0000092,
    float_underflow = 0xC0000093,
    illegal_instruction = 0xC000001D,
    in_page_error = 0xC0000006,
    integer_divide_by_zero = 0xC0000094,
    integer_overflow = 0xC0000095,
    invalid_disposition = 0xC0000026,
    noncontinuable_exception = 0xC0000025,
    privileged_instruction = 0xC0000096,
    single_step = 0x80000004,
    stack_overflow = 0xC00000FD,
};

struct Fault {
    std::uint32_t code = 0;
    // The instruction that faulted, or that was running when the fault arrived.
    std::uintptr_t program_counter = 0;
    // Asked for by the process itself (abort, raise) rather than raised by the processor; the
    // program counter then lies in the runtime library that delivers the signal.
    bool raised_by_process = false;
};

using FaultHandler = void (*)(const Fault& fault);

// Sends the process's fatal faults to handler, which runs on the thread's alternate stack where
// it has one and must not return. A second fault inside the handler enters it again. Returns
// false if the handler could not be installed for every fault.
bool install_fault_handler(FaultHandler handler);
// Restores the handling that was in place before install_fault_handler.
void remove_fault_handler();

// Calls on_timeout after the given seconds unless the process has ended before; the guard of a
// handler that must not hang. on_timeout runs as a signal handler on some thread.
void start_watchdog(unsigned seconds, void (*on_timeout)());

// Writes the bytes to standard output at once, without buffering or allocating.
void write_standard_output(const char* text, std::size_t size);
// Ends the process at once with the exit code: no destructors, no flushing of streams.
[[noreturn]] void end_process(int exit_code);
// Blocks the calling thread for good, for a thread that faults while another one reports.
[[noreturn]] void wait_forever();

}  // namespace kam::platform
