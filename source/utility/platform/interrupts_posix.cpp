// Interrupts are SIGINT, SIGTERM and SIGHUP; their handler unlinks the registered temporaries.
#include "utility/platform/interrupts.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "utility/platform/native_path_posix.h"

namespace kam::platform {

namespace {

enum SlotState : int { slot_free, slot_claimed, slot_live };

// The handler may only read what is there: paths are kept ready for unlink, in fixed storage.
struct Slot {
    std::atomic<int> state{slot_free};
    char path[4096]{};
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots");

// Constant-initialized: a start-up loop would touch every page of every slot.
constinit Slot slots[max_temporaries];

// Set before the handler removes anything: other threads go on running until the process ends.
constinit std::atomic<bool> interrupted{false};

void on_interrupt(int signal) {
    interrupted.store(true);
    for (Slot& slot : slots) {
        if (slot.state.load(std::memory_order_acquire) == slot_live)
            unlink(slot.path);
    }
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

int register_temporary(const std::string& path) {
    const std::string native = posix::native_path(path);
    if (native.size() >= sizeof slots[0].path)
        return -1;
    for (int i = 0; i < max_temporaries; ++i) {
        int expected = slot_free;
        if (!slots[i].state.compare_exchange_strong(expected, slot_claimed))
            continue;
        std::memcpy(slots[i].path, native.c_str(), native.size() + 1);
        slots[i].state.store(slot_live, std::memory_order_release);
        return i;
    }
    return -1;
}

void unregister_temporary(int slot) {
    if (slot >= 0 && slot < max_temporaries)
        slots[slot].state.store(slot_free, std::memory_order_release);
}

}  // namespace kam::platform
