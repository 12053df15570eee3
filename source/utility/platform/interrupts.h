// Interrupts (Ctrl-C, termination, a closed terminal) and the temporaries they must not leave.
#pragma once

#include <cstdint>
#include <string>

#include "utility/platform/files.h"

namespace kam::platform {

// Registered temporaries at once; a file registered beyond them is written but not removed by an
// interrupt. Parallel compiles hold one per written file until the job is released, for up to
// twice as many jobs as threads; untouched slots cost no memory.
constexpr int max_temporaries = 1024;

// Makes SIGINT, SIGTERM and SIGHUP (Ctrl-C, Ctrl-Break and a closed console on Windows) remove
// the registered temporaries and then end the process as the signal would: exit status 130, 143
// or 129 (130 on Windows). A signal the process was started ignoring stays ignored.
void remove_temporaries_on_interrupt();

// Creates a new file (a temporary of the tool's) for writing, registered for removal by an
// interrupt before it exists. slot is its registration for unregister_temporary, -1 when every
// slot is taken or the path is too long to keep (the file is made all the same). Returns
// invalid_file with the error set, and slot -1, when the file cannot be made (one already there
// included).
FileHandle create_temporary(const std::string& path, std::uint32_t share, int& slot);
// Whether an interrupt has begun removing the temporaries. A file registered and created on
// another thread meanwhile may have been created after the removal: its creator removes it and
// waits for the end (wait_for_the_end never returns).
bool interrupt_arrived();
[[noreturn]] void wait_for_the_end();

// Forgets a slot create_temporary gave; -1 is ignored.
void unregister_temporary(int slot);

}  // namespace kam::platform
