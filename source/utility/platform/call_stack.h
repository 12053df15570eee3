// The calling thread's call stack, and what lies at a code address: source file, line, function.
#pragma once

#include <cstdint>

namespace kam::platform {

// Writes the code addresses of the calling thread's frames, innermost first, at most capacity of
// them, and returns how many were written. A frame that made a call is given by an address inside
// its call instruction; a frame that a fault interrupted, by the faulting instruction.
int capture_call_stack(std::uintptr_t* addresses, int capacity);

struct CodeLocation {
    const char* file = nullptr;      // the source file with its directories; null when unknown
    int line = 0;                    // 0 when unknown
    const char* function = nullptr;  // demangled, without parameters; null when unknown
};

// Calls visit for each function at the address, the innermost inlined one first, or once with
// whatever is known. Takes nothing from the heap, so that a fault handler can use it; the texts
// live until visit returns.
void describe_code_address(std::uintptr_t address,
                           void (*visit)(const CodeLocation& location, void* data), void* data);

// The loaded program or library that holds the address: its path and its load address. False
// if none does.
bool find_module(std::uintptr_t address, const char** path, std::uintptr_t* base);

}  // namespace kam::platform
