// The C runtime's text mode would turn every line feed into CR LF.
#include "utility/platform/console.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace kam::platform {

void use_plain_standard_output() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace kam::platform
