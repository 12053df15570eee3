// POSIX standard output has no text mode to undo; standard error is written with write(2).
#include "utility/platform/console.h"

#include <unistd.h>

#include <cerrno>

namespace kam::platform {

void use_plain_standard_output() {}

bool standard_error_is_terminal() {
    return isatty(STDERR_FILENO) == 1;
}

void write_standard_error(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = write(STDERR_FILENO, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace kam::platform
