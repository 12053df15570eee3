// Faults are signals here; each is mapped onto the exception code that names it in reports.
#include "utility/platform/fault_signals.h"

#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>

namespace kam::platform {

namespace {

const int fault_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT};
struct sigaction previous_actions[std::size(fault_signals)];
bool handler_installed = false;
std::atomic<FaultHandler> current_handler{nullptr};
std::atomic<void (*)()> watchdog_action{nullptr};

// A fault this close to the stack pointer is a push or a frame set-up that ran past the end of
// the stack: everything between there and the stack's top is mapped.
constexpr std::uintptr_t stack_overflow_reach = 64 * 1024;

std::uintptr_t program_counter(const ucontext_t& context) {
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(context.uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<std::uintptr_t>(context.uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(context.uc_mcontext.pc);
#else
    (void)context;
    return 0;
#endif
}

std::uintptr_t stack_pointer(const ucontext_t& context) {
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(context.uc_mcontext.gregs[REG_RSP]);
#elif defined(__i386__)
    return static_cast<std::uintptr_t>(context.uc_mcontext.gregs[REG_ESP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(context.uc_mcontext.sp);
#else
    (void)context;
    return 0;
#endif
}

std::uint32_t fault_code(int signal, const siginfo_t& info, std::uintptr_t stack) {
    switch (signal) {
        case SIGSEGV: {
            const auto address = reinterpret_cast<std::uintptr_t>(info.si_addr);
            const bool near_stack = stack != 0 && address + stack_overflow_reach >= stack &&
                                    address < stack + stack_overflow_reach;
            return near_stack ? stack_overflow : access_violation;
        }
        case SIGFPE:
            switch (info.si_code) {
                case FPE_INTDIV:
                    return integer_divide_by_zero;
                case FPE_INTOVF:
                    return integer_overflow;
                case FPE_FLTDIV:
                    return float_divide_by_zero;
                case FPE_FLTOVF:
                    return float_overflow;
                case FPE_FLTUND:
                    return float_underflow;
                case FPE_FLTRES:
                    return float_inexact_result;
                case FPE_FLTINV:
                    return float_invalid_operation;
                case FPE_FLTSUB:
                    return array_bounds_exceeded;
                default:
                    return SIGFPE;
            }
        case SIGILL:
            return info.si_code == ILL_PRVOPC || info.si_code == ILL_PRVREG ? privileged_instruction
                                                                            : illegal_instruction;
        case SIGBUS:
            return info.si_code == BUS_ADRALN ? datatype_misalignment : in_page_error;
        case SIGTRAP:
            return info.si_code == TRAP_TRACE ? single_step : breakpoint;
        default:
            return static_cast<std::uint32_t>(signal);
    }
}

void on_fault_signal(int signal, siginfo_t* info, void* context) {
    const auto& machine = *static_cast<const ucontext_t*>(context);
    Fault fault;
    fault.code = fault_code(signal, *info, stack_pointer(machine));
    fault.program_counter = program_counter(machine);
    fault.raised_by_process =
        (info->si_code == SI_TKILL || info->si_code == SI_USER) && info->si_pid == getpid();
    if (FaultHandler handler = current_handler.load())
        handler(fault);
    // Without a handler the default action ends the process once the fault repeats.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigaction(signal, &default_action, nullptr);
    if (fault.raised_by_process)
        raise(signal);
}

void on_watchdog_signal(int) {
    if (auto action = watchdog_action.load())
        action();
    end_process(1);
}

}  // namespace

bool install_fault_handler(FaultHandler handler) {
    current_handler.store(handler);
    if (handler_installed)
        return true;
    struct sigaction action {};
    action.sa_sigaction = on_fault_signal;
    // SA_NODEFER lets a fault inside the handler reach it again, so that it can give up in order
    // instead of the kernel killing the process without a word.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    bool all = true;
    for (std::size_t i = 0; i < std::size(fault_signals); ++i) {
        if (sigaction(fault_signals[i], &action, &previous_actions[i]) != 0)
            all = false;
    }
    handler_installed = true;
    return all;
}

void remove_fault_handler() {
    if (!handler_installed)
        return;
    for (std::size_t i = 0; i < std::size(fault_signals); ++i) {
        sigaction(fault_signals[i], &previous_actions[i], nullptr);
    }
    handler_installed = false;
    current_handler.store(nullptr);
}

void start_watchdog(unsigned seconds, void (*on_timeout)()) {
    watchdog_action.store(on_timeout);
    struct sigaction action {};
    action.sa_handler = on_watchdog_signal;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    alarm(seconds);
}

void write_standard_output(const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(STDOUT_FILENO, text, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text += written;
        size -= static_cast<std::size_t>(written);
    }
}

void end_process(int exit_code) {
    _exit(exit_code);
}

void wait_forever() {
    for (;;)
        pause();
}

}  // namespace kam::platform
