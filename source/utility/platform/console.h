// Standard output and standard error as the tool writes them.
#pragma once

#include <string_view>

namespace kam::platform {

// Makes standard output carry exactly the bytes written, line breaks unchanged, so that the tool
// prints the same bytes on every system.
void use_plain_standard_output();

// Whether standard error is a terminal (a console on Windows).
bool standard_error_is_terminal();
// Writes the text to standard error at once, unbuffered; errors are ignored, as there is nowhere
// left to report them.
void write_standard_error(std::string_view text);

}  // namespace kam::platform
