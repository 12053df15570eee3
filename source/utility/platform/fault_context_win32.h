// Inside the Win32 platform layer: the processor state of the fault being handled on the calling
// thread, so that its call stack is walked from the fault itself and not through the system's
// exception dispatcher.
#pragma once

#include <windows.h>

namespace kam::platform::win32 {

// Null when the calling thread handles no fault.
const CONTEXT* current_fault_context();

}  // namespace kam::platform::win32
