// Runs code with standard error on a pseudo-terminal, for the tests of what a program shows there.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace test {

// Runs body in a child process whose standard error is a pseudo-terminal (terminal) or a pipe,
// and returns the bytes it wrote there; nullopt where there are no pseudo-terminals (Windows) or
// the child failed.
std::optional<std::string> standard_error_of(const std::function<void()>& body, bool terminal);

}  // namespace test
