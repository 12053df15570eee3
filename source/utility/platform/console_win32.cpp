// The C runtime's text mode would turn every line feed into CR LF.
#include "utility/platform/console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace kam::platform {

void use_plain_standard_output() {
    _setmode(_fileno(stdout), _O_BINARY);
}

bool standard_error_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void write_standard_error(std::string_view text) {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(handle, &mode) != 0;
    while (!text.empty()) {
        // WriteConsole takes no more than about 64 KiB at once on older systems.
        const DWORD chunk = static_cast<DWORD>(text.size() < 32768 ? text.size() : 32768);
        DWORD written = 0;
        const BOOL ok = console ? WriteConsoleA(handle, text.data(), chunk, &written, nullptr)
                                : WriteFile(handle, text.data(), chunk, &written, nullptr);
        if (!ok || written == 0)
            return;
        text.remove_prefix(written);
    }
}

}  // namespace kam::platform
