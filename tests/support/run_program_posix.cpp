// Through the shell, with timeout(1) as the time limit.
#include "support/platform.h"
#include "support/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace test {

bool under_wine() {
    return false;
}

bool make_fifo(const std::filesystem::path& path) {
    return mkfifo(path.c_str(), 0600) == 0;
}

namespace {

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

int run_program(const std::string& program, const std::vector<std::string>& arguments,
                const std::filesystem::path& directory, const std::filesystem::path& input,
                const std::filesystem::path& output, unsigned timeout_seconds) {
    std::string command = "cd " + quote(directory.string()) + " && ";
    if (timeout_seconds > 0)
        command += "timeout -s KILL " + std::to_string(timeout_seconds) + " ";
    command += quote(program);
    for (const std::string& argument : arguments)
        command += " " + quote(argument);
    command += " <" + quote(input.string()) + " >" + quote(output.string());
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status))
        return -1;
    const int code = WEXITSTATUS(status);
    // timeout(1) reports a program it killed as 128 + 9.
    return timeout_seconds > 0 && code == 137 ? -1 : code;
}

long start_program(const std::string& program, const std::vector<std::string>& arguments,
                   const std::filesystem::path& directory, const std::filesystem::path& output) {
    // Everything the child needs is made before the fork: after it only system calls are safe.
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const std::string where = directory.string();
    const std::string to = output.string();
    const pid_t child = fork();
    if (child != 0)
        return child;
    // A runner started in the background ignores interrupts; the program must not inherit that.
    for (const int interrupt : {SIGINT, SIGTERM, SIGHUP})
        signal(interrupt, SIG_DFL);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || chdir(where.c_str()) != 0)
        _exit(127);
    execv(program.c_str(), argv.data());
    _exit(127);
}

void signal_program(long process, int signal) {
    kill(static_cast<pid_t>(process), signal);
}

int wait_program(long process) {
    int status = 0;
    // A program that does not end within a minute is killed: a hang fails its test, not the suite.
    for (int waited = 0;; ++waited) {
        const pid_t ended = waitpid(static_cast<pid_t>(process), &status, WNOHANG);
        if (ended < 0 && errno != EINTR)
            return -1;
        if (ended > 0)
            break;
        if (waited == 60000)
            kill(static_cast<pid_t>(process), SIGKILL);
        usleep(1000);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace test
