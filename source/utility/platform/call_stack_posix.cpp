// Stacks are unwound and named with GCC's libbacktrace, which reads the DWARF line tables and
// takes its memory with mmap; names are demangled by libiberty's callback demangler, which needs
// no heap either. Both matter in a fault handler, where the heap may be what broke.
#include "utility/platform/call_stack.h"

#include <backtrace.h>
#include <dlfcn.h>

// libiberty would otherwise declare a basename that clashes with glibc's.
#define HAVE_DECL_BASENAME 1
#include <libiberty/demangle.h>

#include <atomic>
#include <cstring>

namespace kam::platform {

namespace {

std::atomic<backtrace_state*> shared_state{nullptr};

// Missing debug information only leaves names unknown.
void ignore_error(void*, const char*, int) {}

backtrace_state* state() {
    backtrace_state* current = shared_state.load(std::memory_order_acquire);
    if (current != nullptr)
        return current;
    backtrace_state* fresh = backtrace_create_state(nullptr, 1, ignore_error, nullptr);
    // The loser of a race keeps a few mapped pages; states cannot be freed.
    if (shared_state.compare_exchange_strong(current, fresh))
        return fresh;
    return current;
}

struct Capture {
    std::uintptr_t* addresses;
    int capacity;
    int count;
};

int on_frame(void* data, std::uintptr_t address) {
    auto& capture = *static_cast<Capture*>(data);
    capture.addresses[capture.count++] = address;
    return capture.count == capture.capacity ? 1 : 0;
}

// A demangled name, cut short when it does not fit.
struct NameBuffer {
    char text[1024];
    std::size_t size = 0;
};

void append_name_piece(const char* piece, std::size_t length, void* data) {
    auto& name = *static_cast<NameBuffer*>(data);
    const std::size_t room = sizeof name.text - 1 - name.size;
    if (length > room)
        length = room;
    std::memcpy(name.text + name.size, piece, length);
    name.size += length;
    name.text[name.size] = '\0';
}

const char* demangled(const char* name, NameBuffer& buffer) {
    if (name == nullptr)
        return nullptr;
    buffer.size = 0;
    buffer.text[0] = '\0';
    if (cplus_demangle_v3_callback(name, DMGL_ANSI, append_name_piece, &buffer) != 0)
        return buffer.text;
    return name;
}

struct Lookup {
    void (*visit)(const CodeLocation&, void*);
    void* data;
    bool described;
};

int on_location(void* data, std::uintptr_t, const char* file, int line, const char* function) {
    auto& lookup = *static_cast<Lookup*>(data);
    if (file == nullptr && function == nullptr)
        return 0;
    NameBuffer name;
    CodeLocation location;
    location.file = file;
    location.line = line;
    location.function = demangled(function, name);
    lookup.visit(location, lookup.data);
    lookup.described = true;
    return 0;
}

void on_symbol(void* data, std::uintptr_t, const char* symbol, std::uintptr_t, std::uintptr_t) {
    auto& lookup = *static_cast<Lookup*>(data);
    NameBuffer name;
    CodeLocation location;
    location.function = demangled(symbol, name);
    lookup.visit(location, lookup.data);
    lookup.described = true;
}

}  // namespace

int capture_call_stack(std::uintptr_t* addresses, int capacity) {
    backtrace_state* shared = state();
    if (shared == nullptr || capacity <= 0)
        return 0;
    Capture capture{addresses, capacity, 0};
    backtrace_simple(shared, 0, on_frame, ignore_error, &capture);
    return capture.count;
}

void describe_code_address(std::uintptr_t address,
                           void (*visit)(const CodeLocation& location, void* data), void* data) {
    Lookup lookup{visit, data, false};
    if (backtrace_state* shared = state()) {
        backtrace_pcinfo(shared, address, on_location, ignore_error, &lookup);
        // Without line tables (system libraries) the symbol table still names the function.
        if (!lookup.described)
            backtrace_syminfo(shared, address, on_symbol, ignore_error, &lookup);
    }
    if (!lookup.described)
        visit(CodeLocation{}, data);
}

bool find_module(std::uintptr_t address, const char** path, std::uintptr_t* base) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(address), &info) == 0)
        return false;
    *path = info.dli_fname;
    *base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    return true;
}

}  // namespace kam::platform
