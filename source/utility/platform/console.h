// Standard output as the tool writes it.
#pragma once

namespace kam::platform {

// Makes standard output carry exactly the bytes written, line breaks unchanged, so that the tool
// prints the same bytes on every system.
void use_plain_standard_output();

}  // namespace kam::platform
