// A stack of a thread's own for its fault handler, so that a stack overflow can still be reported.
#pragma once

namespace kam::platform {

// Gives the calling thread an alternate stack for fault handling. Returns a handle for
// remove_alternate_stack, or null if none could be made.
void* install_alternate_stack();
// Takes the calling thread's alternate stack out of use and frees it; null is ignored.
void remove_alternate_stack(void* stack);

}  // namespace kam::platform
