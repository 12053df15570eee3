// Windows runs the unhandled-exception filter on the faulting thread's own stack; what keeps a
// stack overflow reportable is the room the system holds back below the guard page.
#include "utility/platform/alternate_stack.h"

#include <windows.h>

namespace kam::platform {

namespace {

// Symbol lookup through the debug-help library runs in this room.
constexpr ULONG reserved_bytes = 256 * 1024;
char installed_marker;

}  // namespace

void* install_alternate_stack() {
    ULONG size = reserved_bytes;
    return SetThreadStackGuarantee(&size) ? &installed_marker : nullptr;
}

// The reserve cannot be given back; it ends with the thread.
void remove_alternate_stack(void*) {}

}  // namespace kam::platform
