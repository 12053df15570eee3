// Faults reach the process's unhandled-exception filter, whose exception codes are the ones the
// crash report names. abort() raises SIGABRT in the C runtime instead, which is caught as a signal.
#include "utility/platform/fault_signals.h"

#include <windows.h>

#include <atomic>
#include <csignal>

#include "utility/platform/fault_context_win32.h"

namespace kam::platform {

namespace {

std::atomic<FaultHandler> current_handler{nullptr};
std::atomic<void (*)()> watchdog_action{nullptr};
LPTOP_LEVEL_EXCEPTION_FILTER previous_filter = nullptr;
void (*previous_abort_handler)(int) = SIG_DFL;
bool handler_installed = false;
// The thread-local slot that holds the context of the fault being handled; TlsGetValue takes
// nothing from the heap, unlike the runtime's thread_local.
DWORD context_slot = TLS_OUT_OF_INDEXES;

LONG WINAPI on_exception(EXCEPTION_POINTERS* exception) {
    FaultHandler handler = current_handler.load();
    if (handler == nullptr)
        return EXCEPTION_CONTINUE_SEARCH;
    if (context_slot != TLS_OUT_OF_INDEXES)
        TlsSetValue(context_slot, exception->ContextRecord);
    Fault fault;
    fault.code = exception->ExceptionRecord->ExceptionCode;
    fault.program_counter =
        reinterpret_cast<std::uintptr_t>(exception->ExceptionRecord->ExceptionAddress);
    handler(fault);
    return EXCEPTION_EXECUTE_HANDLER;
}

void on_abort(int signal) {
    Fault fault;
    fault.code = static_cast<std::uint32_t>(signal);
    // The caller is the runtime's raise(); its frames come off the report as the runtime's.
    fault.program_counter = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)) - 1;
    fault.raised_by_process = true;
    if (FaultHandler handler = current_handler.load())
        handler(fault);
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
}

DWORD WINAPI watchdog(void* parameter) {
    Sleep(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(parameter)) * 1000u);
    if (auto action = watchdog_action.load())
        action();
    end_process(1);
}

}  // namespace

namespace win32 {

const CONTEXT* current_fault_context() {
    if (context_slot == TLS_OUT_OF_INDEXES)
        return nullptr;
    return static_cast<const CONTEXT*>(TlsGetValue(context_slot));
}

}  // namespace win32

bool install_fault_handler(FaultHandler handler) {
    current_handler.store(handler);
    if (handler_installed)
        return true;
    if (context_slot == TLS_OUT_OF_INDEXES)
        context_slot = TlsAlloc();
    previous_filter = SetUnhandledExceptionFilter(on_exception);
    previous_abort_handler = std::signal(SIGABRT, on_abort);
    handler_installed = true;
    return previous_abort_handler != SIG_ERR;
}

void remove_fault_handler() {
    if (!handler_installed)
        return;
    SetUnhandledExceptionFilter(previous_filter);
    if (previous_abort_handler != SIG_ERR)
        std::signal(SIGABRT, previous_abort_handler);
    handler_installed = false;
    current_handler.store(nullptr);
}

void start_watchdog(unsigned seconds, void (*on_timeout)()) {
    watchdog_action.store(on_timeout);
    HANDLE thread = CreateThread(nullptr, 64 * 1024, watchdog,
                                 reinterpret_cast<void*>(static_cast<std::uintptr_t>(seconds)),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread != nullptr)
        CloseHandle(thread);
}

void write_standard_output(const char* text, std::size_t size) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
        if (!WriteFile(output, text, chunk, &written, nullptr) || written == 0)
            return;
        text += written;
        size -= written;
    }
}

void end_process(int exit_code) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exit_code));
    // TerminateProcess on the own process does not return; the compiler cannot know.
    ExitProcess(static_cast<UINT>(exit_code));
}

void wait_forever() {
    for (;;)
        Sleep(INFINITE);
}

}  // namespace kam::platform
