// Error codes are GetLastError values; their texts come from FormatMessageA.
#include "utility/platform/error_text.h"

#include <windows.h>

namespace kam::platform {

std::uint32_t last_error() {
    return GetLastError();
}

void set_last_error(std::uint32_t code) {
    SetLastError(code);
}

bool already_exists(std::uint32_t code) {
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

std::string error_text(std::uint32_t code) {
    if (code == not_a_regular_file)
        return "Not a regular file";
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = length == 0 || buffer == nullptr ? std::string("Unknown error")
                                                        : std::string(buffer, length);
    if (buffer != nullptr)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

}  // namespace kam::platform
