// Runs a program as its own process, for the tests that check a built program from the outside.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace test {

// Runs the program with the arguments in the directory, standard input read from one file and
// standard output written to another. Returns the exit code, or -1 when the program did not exit
// by itself (killed by a signal, or still running after timeout_seconds; 0 waits for good).
int run_program(const std::string& program, const std::vector<std::string>& arguments,
                const std::filesystem::path& directory, const std::filesystem::path& input,
                const std::filesystem::path& output, unsigned timeout_seconds = 0);

}  // namespace test
