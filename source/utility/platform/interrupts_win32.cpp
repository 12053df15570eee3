// Interrupts are console control events; the handler runs on a thread of its own, deletes the
// registered temporaries and ends the process.
#include "utility/platform/interrupts.h"

#include <windows.h>

#include <atomic>

#include "utility/platform/native_path_win32.h"
#include "utility/platform/temporary_slots.h"

namespace kam::platform {

namespace {

// Constant-initialized: a start-up loop would touch every page of every slot.
constinit TemporarySlots<wchar_t> slots;

// Set before the handler removes anything: other threads go on running until the process ends.
constinit std::atomic<bool> interrupted{false};

BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    interrupted.store(true);
    // The writer still holds the file open: temporaries are opened sharing deletion, so the
    // delete succeeds and the name goes when the ending process closes the handle.
    slots.remove_live([](const wchar_t* path) { DeleteFileW(path); });
    // No exit handlers: the main thread is still running them otherwise.
    TerminateProcess(GetCurrentProcess(), 130);
    return TRUE;
}

}  // namespace

void remove_temporaries_on_interrupt() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool interrupt_arrived() {
    return interrupted.load();
}

void wait_for_the_end() {
    for (;;)
        Sleep(INFINITE);
}

FileHandle create_temporary(const std::string& path, std::uint32_t share, int& slot) {
    slot = slots.claim(win32::native_path(path));
    const FileHandle file = open_file(path, create_new, generic_write, share);
    if (file == invalid_file) {
        const DWORD error = GetLastError();
        slots.release(slot);
        slot = -1;
        SetLastError(error);
    }
    return file;
}

void unregister_temporary(int slot) {
    slots.release(slot);
}

}  // namespace kam::platform
