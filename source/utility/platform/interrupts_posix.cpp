// Interrupts are SIGINT, SIGTERM and SIGHUP; their handler unlinks the registered temporaries.
#include "utility/platform/interrupts.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

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

bool interrupt_arrived() { return interrupted.load(); }

void wait_for_the_end() {
    for (;;) pause();
}

int register_temporary(const std::string& path) { return slots.claim(posix::native_path(path)); }

void unregister_temporary(int slot) { slots.release(slot); }

}  // namespace kam::platform
