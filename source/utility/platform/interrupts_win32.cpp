// Interrupts are console control events; the handler runs on a thread of its own, deletes the
// registered temporaries and ends the process.
#include "utility/platform/interrupts.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <iterator>

#include "utility/platform/native_path_win32.h"

namespace kam::platform {

namespace {

enum SlotState : int { slot_free, slot_claimed, slot_live };

struct Slot {
    std::atomic<int> state{slot_free};
    wchar_t path[4096]{};
};

// Constant-initialized: a start-up loop would touch every page of every slot.
constinit Slot slots[max_temporaries];

// Set before the handler removes anything: other threads go on running until the process ends.
constinit std::atomic<bool> interrupted{false};

BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    interrupted.store(true);
    // The writer still holds the file open: temporaries are opened sharing deletion, so the
    // delete succeeds and the name goes when the ending process closes the handle.
    for (Slot& slot : slots) {
        if (slot.state.load(std::memory_order_acquire) == slot_live)
            DeleteFileW(slot.path);
    }
    // No exit handlers: the main thread is still running them otherwise.
    TerminateProcess(GetCurrentProcess(), 130);
    return TRUE;
}

}  // namespace

void remove_temporaries_on_interrupt() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool interrupt_arrived() { return interrupted.load(); }

void wait_for_the_end() {
    for (;;) Sleep(INFINITE);
}

int register_temporary(const std::string& path) {
    const std::wstring native = win32::native_path(path);
    if (native.size() >= std::size(slots[0].path))
        return -1;
    for (int i = 0; i < max_temporaries; ++i) {
        int expected = slot_free;
        if (!slots[i].state.compare_exchange_strong(expected, slot_claimed))
            continue;
        std::memcpy(slots[i].path, native.c_str(), (native.size() + 1) * sizeof(wchar_t));
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
