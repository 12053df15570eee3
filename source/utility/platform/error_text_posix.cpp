// Error codes are errno values; their texts come from strerror_r.
#include "utility/platform/error_text.h"

#include <cerrno>
#include <cstring>

namespace kam::platform {

namespace {

// glibc's strerror_r returns the text; the XSI variant fills the buffer and returns 0.
[[maybe_unused]] const char* text_of(char* result, const char*) {
    return result;
}
[[maybe_unused]] const char* text_of(int result, const char* buffer) {
    return result == 0 ? buffer : "Unknown error";
}

}  // namespace

std::uint32_t last_error() {
    return static_cast<std::uint32_t>(errno);
}

void set_last_error(std::uint32_t code) {
    errno = static_cast<int>(code);
}

bool already_exists(std::uint32_t code) {
    return code == EEXIST;
}

std::string error_text(std::uint32_t code) {
    if (code == not_a_regular_file)
        return "Not a regular file";
    char buffer[256] = {};
    std::string text = text_of(strerror_r(static_cast<int>(code), buffer, sizeof buffer), buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

}  // namespace kam::platform
