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

// Starts the program like run_program, standard input empty, without waiting for it. Returns its
// process id, or -1 where it cannot be started (Windows).
long start_program(const std::string& program, const std::vector<std::string>& arguments,
                   const std::filesystem::path& directory, const std::filesystem::path& output);
// Sends the signal to a started program.
void signal_program(long process, int signal);
// Waits for a started program: its exit code, or 128 + the signal that ended it (SIGKILL, 137,
// after a minute).
int wait_program(long process);

}  // namespace test
