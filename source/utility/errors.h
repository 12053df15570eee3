// The exceptions of the foundation: a general error with a finished message, and disk errors.
#pragma once

#include <cstdint>
#include <source_location>
#include <stdexcept>
#include <string>

namespace kam {

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
              std::source_location where = std::source_location::current());

    std::uint32_t error_code() const { return error_code_; }

    // The message without throwing, for callers that report instead.
    static std::string message(const std::string& text, std::uint32_t error_code,
                               const std::source_location& where);

private:
    std::uint32_t error_code_;
};

// "0x" + lower-case hexadecimal digits without leading zeros.
std::string hex(std::uint64_t value);

}  // namespace kam
