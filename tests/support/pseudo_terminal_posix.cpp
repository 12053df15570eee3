// posix_openpt rather than openpty, which needs libutil on older C libraries.
#include "support/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace test {

namespace {

// The two ends: read is the parent's, write becomes the child's standard error.
bool open_ends(bool terminal, int& read_end, int& write_end) {
    if (!terminal) {
        int ends[2];
        if (pipe(ends) != 0)
            return false;
        read_end = ends[0];
        write_end = ends[1];
        return true;
    }
    read_end = posix_openpt(O_RDWR | O_NOCTTY);
    if (read_end < 0)
        return false;
    const char* name =
        grantpt(read_end) == 0 && unlockpt(read_end) == 0 ? ptsname(read_end) : nullptr;
    write_end = name == nullptr ? -1 : open(name, O_RDWR | O_NOCTTY);
    if (write_end < 0) {
        close(read_end);
        return false;
    }
    // Raw output: the bytes arrive as written, without line feeds turned into CR LF.
    termios modes{};
    if (tcgetattr(write_end, &modes) == 0) {
        cfmakeraw(&modes);
        tcsetattr(write_end, TCSANOW, &modes);
    }
    return true;
}

}  // namespace

std::optional<std::string> standard_error_of(const std::function<void()>& body, bool terminal) {
    int read_end = -1;
    int write_end = -1;
    if (!open_ends(terminal, read_end, write_end))
        return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        close(read_end);
        if (dup2(write_end, STDERR_FILENO) < 0)
            _exit(127);
        close(write_end);
        body();
        _exit(0);
    }
    close(write_end);
    std::string written;
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(read_end, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        // A pseudo-terminal reports the closed other end as EIO, a pipe as the end of the data.
        if (count <= 0)
            break;
        written.append(buffer, static_cast<std::size_t>(count));
    }
    close(read_end);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) < 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return std::nullopt;
    return written;
}

}  // namespace test
