// Interrupts are SIGINT, SIGTERM and SIGHUP; their handler unlinks the registered temporaries.
#include "utility/platform/interrupts.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "utility/platform/native_path_posix.h"
#include "utility/platform/temporary_slots.h"

namespace kam::platform {

namespace {

// Constant-initialized: a start-up loop would touch every page of every slot.
constinit TemporarySlots<char> slots;

// Set before the handler removes anything: other threads go on running until the process ends.
constinit std::atomic<bool> interrupted{false};

void on_interrupt(int signal) {
    interrupted.store(true);
    slots.remove_live([](const char* path) { unlink(path); });
    // SA_RESETHAND has put the default action back and SA_NODEFER lets it act at once: the
    // process ends by the signal, as the shell expects (status 128 + signal).
    raise(signal);
}

}  // namespace

void remove_temporaries_on_interrupt() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) != 0)
            continue;
        // Started in the background or under nohup: the signal is not meant for this process.
        if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = on_interrupt;
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

bool interrupt_arrived() {
    return interrupted.load();
}

void wait_for_the_end() {
    for (;;)
        pause();
}

FileHandle create_temporary(const std::string& path, std::uint32_t, int& slot) {
    slot = -1;
    // Tried as spelled first: the name is the tool's own, so another spelling of it beside it is
    // no reason to look further. Only a directory not there as spelled is resolved: extracting a
    // tree makes one temporary per file, and each resolution took a stat of the directory.
    int fd = -1;
    std::string native;
    if (!posix::on_either_spelling(path, native, [&](const std::string& spelled) {
            slots.release(slot);
            slot = slots.claim(spelled);
            fd = open(spelled.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            return fd >= 0;
        })) {
        const int error = errno;
        slots.release(slot);
        slot = -1;
        errno = error;
        return invalid_file;
    }
    posix::note_added(native);
    return static_cast<FileHandle>(fd);
}

void unregister_temporary(int slot) {
    slots.release(slot);
}

}  // namespace kam::platform
