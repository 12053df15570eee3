// Through the shell, with timeout(1) as the time limit.
#include "support/run_program.h"
#include "support/platform.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>

namespace test {

bool under_wine() { return false; }

bool make_fifo(const std::filesystem::path& path) { return mkfifo(path.c_str(), 0600) == 0; }

namespace {

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace

int run_program(const std::string& program, const std::vector<std::string>& arguments,
                const std::filesystem::path& directory, const std::filesystem::path& input,
                const std::filesystem::path& output, unsigned timeout_seconds) {
    std::string command = "cd " + quote(directory.string()) + " && ";
    if (timeout_seconds > 0) command += "timeout -s KILL " + std::to_string(timeout_seconds) + " ";
    command += quote(program);
    for (const std::string& argument : arguments) command += " " + quote(argument);
    command += " <" + quote(input.string()) + " >" + quote(output.string());
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    const int code = WEXITSTATUS(status);
    // timeout(1) reports a program it killed as 128 + 9.
    return timeout_seconds > 0 && code == 137 ? -1 : code;
}

}  // namespace test
