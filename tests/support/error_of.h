// The message a failing call throws, so that tables of failures compare whole messages.
#pragma once

#include <exception>
#include <string>

namespace test {

// What the Error that action throws says, or "(no error)".
template <typename Error = std::exception, typename Action>
std::string error_of(Action&& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "(no error)";
}

}  // namespace test
