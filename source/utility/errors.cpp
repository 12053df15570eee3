// Message layout of disk errors.
#include "utility/errors.h"

#include "utility/platform/error_text.h"

namespace kam {

std::string hex(std::uint64_t value) {
    static const char digits[] = "0123456789abcdef";
    char text[16];
    int length = 0;
    do {
        text[length++] = digits[value & 15];
        value >>= 4;
    } while (value != 0);
    std::string result = "0x";
    while (length > 0)
        result += text[--length];
    return result;
}

std::string DiskError::message(const std::string& text, std::uint32_t error_code,
                               SourcePlace where) {
    // Only the file's own name: the build's directory says nothing to the user.
    const char* file = where.file;
    for (const char* c = file; *c != '\0'; ++c) {
        if (*c == '/' || *c == '\\')
            file = c + 1;
    }
    return std::string(file) + "(" + std::to_string(where.line) + ") " + text + " => error code " +
           hex(error_code) + ": " + platform::error_text(error_code);
}

DiskError::DiskError(const std::string& text, std::uint32_t error_code, const char* file,
                     unsigned line)
    : DiskError(text, error_code, SourcePlace{file, line}) {}

DiskError::DiskError(const std::string& text, std::uint32_t error_code, SourcePlace where)
    : ErrorWithCStack(message(text, error_code, where)), error_code_(error_code) {}

}  // namespace kam
