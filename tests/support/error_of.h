// The message a failing call throws, or what a call prints, so that tables compare whole texts.
#pragma once

#include <gtest/gtest.h>

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

// What action prints on standard output.
template <typename Action>
std::string output_of(Action&& action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

}  // namespace test
