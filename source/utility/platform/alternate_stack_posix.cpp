// The alternate stack is a private mapping with an inaccessible guard page below it, so that a
// handler that overflows it faults instead of writing over whatever lies beneath.
#include "utility/platform/alternate_stack.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>

namespace kam::platform {

namespace {

// Symbol lookup and demangling run on this stack; they stay well below 64 KiB.
constexpr std::size_t stack_bytes = 256 * 1024;

// Kept in a page of its own above the stack, out of the stack's way.
struct StackRecord {
    stack_t previous;
    void* mapping;
    std::size_t mapping_bytes;
};

}  // namespace

void* install_alternate_stack() {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t mapping_bytes = page + stack_bytes + page;
    void* mapping =
        mmap(nullptr, mapping_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return nullptr;
    char* base = static_cast<char*>(mapping);
    mprotect(base, page, PROT_NONE);
    auto* record = reinterpret_cast<StackRecord*>(base + page + stack_bytes);
    record->mapping = mapping;
    record->mapping_bytes = mapping_bytes;
    stack_t stack{};
    stack.ss_sp = base + page;
    stack.ss_size = stack_bytes;
    if (sigaltstack(&stack, &record->previous) != 0) {
        munmap(mapping, mapping_bytes);
        return nullptr;
    }
    return record;
}

void remove_alternate_stack(void* handle) {
    if (handle == nullptr)
        return;
    auto* record = static_cast<StackRecord*>(handle);
    char* stack_base = reinterpret_cast<char*>(record) - stack_bytes;
    stack_t current{};
    sigaltstack(nullptr, &current);
    // Only the thread that installed it can take it out of use; elsewhere it stays mapped.
    if (current.ss_sp != stack_base)
        return;
    stack_t previous = record->previous;
    if (previous.ss_sp == nullptr)
        previous.ss_flags = SS_DISABLE;
    if (sigaltstack(&previous, nullptr) != 0)
        return;
    munmap(record->mapping, record->mapping_bytes);
}

}  // namespace kam::platform
