// The exceptions of the foundation: a general error with a finished message, and disk errors.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kam {

// Where an error was raised. Built from compiler builtins because clang 14 with libstdc++ 12
// has no std::source_location.
struct SourcePlace {
    const char* file;
    unsigned line;
};

// A general error; carries the finished message.
class ErrorWithCStack : public std::runtime_error {
public:
    explicit ErrorWithCStack(const std::string& message) : std::runtime_error(message) {}
};

// A failed operating-system call. The message reads
// "archive.cpp(123) " + text + " => error code 0x2: No such file or directory":
// the file name and line of the throwing code, the text, the error code in lower-case hexadecimal
// and the system's text for it.
class DiskError : public ErrorWithCStack {
public:
    // error_code is the platform's last error, taken right after the failing call.
    DiskError(const std::string& text, std::uint32_t error_code,
              const char* file = __builtin_FILE(), unsigned line = __builtin_LINE());
    DiskError(const std::string& text, std::uint32_t error_code, SourcePlace where);

    std::uint32_t error_code() const { return error_code_; }

    // The message without throwing, for callers that report instead.
    static std::string message(const std::string& text, std::uint32_t error_code,
                               SourcePlace where);

private:
    std::uint32_t error_code_;
};

// "0x" + lower-case hexadecimal digits without leading zeros.
std::string hex(std::uint64_t value);

}  // namespace kam
