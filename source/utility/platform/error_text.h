// The operating system's last error code and its text.
#pragma once

#include <cstdint>
#include <string>

namespace kam::platform {

// The tool's own code (the application bit of Windows error codes) for a path that names a pipe,
// device or socket where a file is expected: open_file refuses those without waiting for a peer.
// error_text gives "Not a regular file" for it on every system.
constexpr std::uint32_t not_a_regular_file = 0x20000001u;

// The calling thread's last error code (errno here, GetLastError on Windows).
std::uint32_t last_error();
// Sets the calling thread's last error code.
void set_last_error(std::uint32_t code);
// Whether the code says that a file to be created new exists already.
bool already_exists(std::uint32_t code);
// The system's text for the code, without a trailing line break.
std::string error_text(std::uint32_t code);

}  // namespace kam::platform
