// Stacks are unwound with the system's unwind tables (RtlVirtualUnwind), from the fault's own
// context inside a fault handler. Names come from the debug-help library, loaded when first
// needed; without it, or without symbols, frames stay unnamed.
#include "utility/platform/call_stack.h"

#include <windows.h>
// After windows.h, which it needs.
#include <dbghelp.h>

#include <cxxabi.h>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "utility/platform/fault_context_win32.h"

namespace kam::platform {

namespace {

using SymInitializeFunction = BOOL(WINAPI*)(HANDLE, PCSTR, BOOL);
using SymSetOptionsFunction = DWORD(WINAPI*)(DWORD);
using SymFromAddrFunction = BOOL(WINAPI*)(HANDLE, DWORD64, PDWORD64, PSYMBOL_INFO);
using SymGetLineFromAddr64Function = BOOL(WINAPI*)(HANDLE, DWORD64, PDWORD, PIMAGEHLP_LINE64);

struct SymbolEngine {
    SymFromAddrFunction from_address = nullptr;
    SymGetLineFromAddr64Function line_from_address = nullptr;
    bool ready = false;
};

template <typename Function>
Function function_of(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

SymbolEngine& symbol_engine() {
    static SymbolEngine engine;
    static std::once_flag started;
    std::call_once(started, [] {
        HMODULE library = LoadLibraryW(L"dbghelp.dll");
        if (library == nullptr)
            return;
        auto initialize = function_of<SymInitializeFunction>(library, "SymInitialize");
        auto set_options = function_of<SymSetOptionsFunction>(library, "SymSetOptions");
        engine.from_address = function_of<SymFromAddrFunction>(library, "SymFromAddr");
        engine.line_from_address =
            function_of<SymGetLineFromAddr64Function>(library, "SymGetLineFromAddr64");
        if (initialize == nullptr || set_options == nullptr || engine.from_address == nullptr ||
            engine.line_from_address == nullptr) {
            return;
        }
        set_options(SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES);
        engine.ready = initialize(GetCurrentProcess(), nullptr, TRUE) != FALSE;
    });
    return engine;
}

// The function's name without its parameters; mangled names are demangled first.
const char* function_name(const char* name, char* buffer, std::size_t capacity) {
    const char* text = name;
    char* demangled = nullptr;
    if (std::strncmp(name, "_Z", 2) == 0) {
        int status = 0;
        demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
        if (status == 0 && demangled != nullptr)
            text = demangled;
    }
    std::size_t length = std::strlen(text);
    // Cut at the parameter list: the last '(' outside angle brackets.
    int depth = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == '<')
            ++depth;
        if (text[i] == '>')
            --depth;
        if (text[i] == '(' && depth == 0 && i > 0 && std::strncmp(text, "(anonymous", 10) != 0) {
            length = i;
            break;
        }
    }
    if (length >= capacity)
        length = capacity - 1;
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    std::free(demangled);
    return buffer;
}

}  // namespace

int capture_call_stack(std::uintptr_t* addresses, int capacity) {
    if (capacity <= 0)
        return 0;
    CONTEXT context;
    bool interrupted = false;
    if (const CONTEXT* fault = win32::current_fault_context()) {
        context = *fault;
        interrupted = true;
    } else {
        RtlCaptureContext(&context);
    }
    int count = 0;
    while (count < capacity && context.Rip != 0) {
        // Frames that made a call are named by an address inside their call instruction.
        addresses[count++] = interrupted ? context.Rip : context.Rip - 1;
        interrupted = false;
        DWORD64 image_base = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &image_base, nullptr);
        if (function == nullptr) {
            // A leaf function: the return address is on top of the stack.
            context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
            context.Rsp += 8;
        } else {
            void* handler_data = nullptr;
            DWORD64 frame = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, image_base, context.Rip, function, &context,
                             &handler_data, &frame, nullptr);
        }
    }
    return count;
}

void describe_code_address(std::uintptr_t address,
                           void (*visit)(const CodeLocation& location, void* data), void* data) {
    static std::mutex lookups;  // the debug-help library is not thread-safe
    std::lock_guard lock(lookups);
    SymbolEngine& engine = symbol_engine();
    CodeLocation location;
    static char file[MAX_PATH + 1];
    static char name[1024];
    if (engine.ready) {
        alignas(SYMBOL_INFO) static char symbol_space[sizeof(SYMBOL_INFO) + 1024];
        auto* symbol = reinterpret_cast<SYMBOL_INFO*>(symbol_space);
        std::memset(symbol_space, 0, sizeof symbol_space);
        symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
        symbol->MaxNameLen = 1024;
        DWORD64 displacement = 0;
        if (engine.from_address(GetCurrentProcess(), address, &displacement, symbol))
            location.function = function_name(symbol->Name, name, sizeof name);
        IMAGEHLP_LINE64 line{};
        line.SizeOfStruct = sizeof line;
        DWORD column = 0;
        if (engine.line_from_address(GetCurrentProcess(), address, &column, &line) &&
            line.FileName != nullptr) {
            std::strncpy(file, line.FileName, MAX_PATH);
            file[MAX_PATH] = '\0';
            location.file = file;
            location.line = static_cast<int>(line.LineNumber);
        }
    }
    visit(location, data);
}

bool find_module(std::uintptr_t address, const char** path, std::uintptr_t* base) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(address), &module)) {
        return false;
    }
    // Each caller uses the path before asking again.
    static char name[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(module, name, MAX_PATH);
    name[length] = '\0';
    *path = name;
    *base = reinterpret_cast<std::uintptr_t>(module);
    return true;
}

}  // namespace kam::platform
