// The operating system's last error code and its text.
#pragma once

#include <cstdint>
#include <string>

namespace kam::platform {

// The calling thread's last error code (errno here, GetLastError on Windows).
std::uint32_t last_error();
// Sets the calling thread's last error code.
void set_last_error(std::uint32_t code);
// The system's text for the code, without a trailing line break.
std::string error_text(std::uint32_t code);

}  // namespace kam::platform
