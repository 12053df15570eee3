// Files over Win32 handles. Every read and write names its offset in an OVERLAPPED record
// rather than moving the handle's file pointer, so that the asynchronous read and synchronous
// calls on the same handle cannot move each other's position.
#include "utility/platform/files.h"

#include <windows.h>

#include "utility/platform/error_text.h"
#include "utility/platform/native_path_win32.h"

namespace kam::platform {

namespace {

HANDLE native(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

// One event per thread for the calls that wait for their own transfer, closed when the thread
// ends by the fiber-local slot's callback: a thread_local with a destructor brings the runtime
// down when a job's thread ends.
void NTAPI close_event(void* event) {
    if (event != nullptr)
        CloseHandle(static_cast<HANDLE>(event));
}

HANDLE thread_event() {
    static const DWORD slot = FlsAlloc(close_event);
    if (slot == FLS_OUT_OF_INDEXES)
        return nullptr;
    auto event = static_cast<HANDLE>(FlsGetValue(slot));
    if (event == nullptr) {
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        FlsSetValue(slot, event);
    }
    return event;
}

OVERLAPPED at_offset(std::uint64_t offset, HANDLE event) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    overlapped.hEvent = event;
    return overlapped;
}

// The end of an overlapped transfer; reaching the end of the file is a short read, not a failure.
bool finish(HANDLE file, OVERLAPPED& overlapped, BOOL started, DWORD& moved, bool wait) {
    if (!started) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF) {
            moved = 0;
            return true;
        }
        if (error != ERROR_IO_PENDING)
            return false;
    }
    if (!GetOverlappedResult(file, &overlapped, &moved, wait ? TRUE : FALSE)) {
        if (GetLastError() == ERROR_HANDLE_EOF) {
            moved = 0;
            return true;
        }
        return false;
    }
    return true;
}

bool read_once(HANDLE file, std::uint64_t offset, void* buffer, DWORD count, DWORD& got) {
    OVERLAPPED overlapped = at_offset(offset, thread_event());
    const BOOL started = ReadFile(file, buffer, count, &got, &overlapped);
    return finish(file, overlapped, started, got, true);
}

}  // namespace

FileHandle open_file(const std::string& path, std::uint32_t creation, std::uint32_t access,
                     std::uint32_t share, bool sequential, FileStatus* opened) {
    const DWORD rights = access & (generic_read | generic_write);
    if (rights == 0 || creation < create_new || creation > truncate_existing) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return invalid_file;
    }
    // A sequential reader keeps a read running while it works, so its handle allows overlap.
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (sequential)
        flags |= FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OVERLAPPED;
    // A reader never stands in the way of a job that replaces the file it reads (the probe that
    // opens it for writing, the rename over it): it goes on reading what it opened.
    if ((rights & generic_write) == 0)
        share |= share_read | share_write | share_delete;
    const std::wstring name = win32::native_path(path);
    HANDLE file = CreateFileW(name.c_str(), rights, share, nullptr, creation, flags, nullptr);
    // A directory is refused by the system itself (access denied).
    if (file == INVALID_HANDLE_VALUE)
        return invalid_file;
    // Consoles, pipes and devices ("nul", "con") are no files to read or write.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        SetLastError(not_a_regular_file);
        return invalid_file;
    }
    if (opened != nullptr) {
        BY_HANDLE_FILE_INFORMATION information;
        if (!GetFileInformationByHandle(file, &information)) {
            const DWORD error = GetLastError();
            CloseHandle(file);
            SetLastError(error);
            return invalid_file;
        }
        opened->size = (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) |
                       information.nFileSizeLow;
        opened->last_write_time = win32::filetime(information.ftLastWriteTime);
    }
    return reinterpret_cast<FileHandle>(file);
}

void close_file(FileHandle file) {
    if (file != invalid_file)
        CloseHandle(native(file));
}

bool read_file_at(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t count,
                  std::uint32_t& done) {
    done = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (done < count) {
        DWORD got = 0;
        if (!read_once(native(file), offset + done, bytes + done, count - done, got))
            return false;
        if (got == 0)
            break;
        done += got;
    }
    return true;
}

bool write_file_at(FileHandle file, std::uint64_t offset, const void* data, std::uint32_t count,
                   std::uint32_t& done) {
    done = 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (done < count) {
        OVERLAPPED overlapped = at_offset(offset + done, thread_event());
        DWORD put = 0;
        const BOOL started = WriteFile(native(file), bytes + done, count - done, &put, &overlapped);
        if (!finish(native(file), overlapped, started, put, true))
            return false;
        if (put == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        done += put;
    }
    return true;
}

// Windows has no copy between two open handles; callers read and write instead.
bool copy_between_files(FileHandle, std::uint64_t, FileHandle, std::uint64_t, std::uint32_t,
                        std::uint32_t& done) {
    done = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

bool file_size(FileHandle file, std::uint64_t& size) {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(native(file), &value))
        return false;
    size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool flush_file(FileHandle file) {
    return FlushFileBuffers(native(file)) != FALSE;
}

bool rename_file(const std::string& from, const std::string& to) {
    const std::wstring native_from = win32::native_path(from), native_to = win32::native_path(to);
    // A file another job (or a virus scanner) has open cannot be replaced until it is closed,
    // which is a moment away: try again for up to a second, waiting longer each time. A directory
    // or a read-only file in the way fails at once.
    DWORD waited = 0;
    for (DWORD wait = 1;; wait *= 2) {
        if (MoveFileExW(native_from.c_str(), native_to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE)
            return true;
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(native_to.c_str());
        const bool held = (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) &&
                          attributes != INVALID_FILE_ATTRIBUTES &&
                          (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
        if (!held || waited >= 1000) {
            SetLastError(error);
            return false;
        }
        Sleep(wait);
        waited += wait;
    }
}

bool rename_file_as_spelled(const std::string& from, const std::string& to) {
    return rename_file(from, to);  // the system matches names without regard to case
}

bool rename_new_file(const std::string& from, const std::string& to) {
    return MoveFileExW(win32::native_path(from).c_str(), win32::native_path(to).c_str(),
                       MOVEFILE_WRITE_THROUGH) != FALSE;
}

FileHandle create_unnamed_file(const std::string&) {
    return invalid_file;
}

bool link_unnamed_file(FileHandle, const std::string&) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

Replace may_replace(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(win32::native_path(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Replace::allowed;
    const DWORD refused =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE;
    return (attributes & refused) == 0 ? Replace::as_spelled : Replace::refused;
}

// An overlapped ReadFile with an event of its own; on a handle opened without overlap the system
// finishes the read before ReadFile returns, which is still correct, only not concurrent.
struct AsyncRead::State {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE file = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped{};
    bool running = false;
    // A failure or the end of the file seen when the read started.
    bool started_ok = true;
    DWORD start_error = 0;
    DWORD got = 0;

    ~State() {
        if (event != nullptr)
            CloseHandle(event);
    }
};

AsyncRead::AsyncRead() : state_(std::make_unique<State>()) {}

AsyncRead::~AsyncRead() {
    if (state_->running) {
        std::uint32_t ignored = 0;
        wait(ignored);
    }
}

bool AsyncRead::start(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t count) {
    State& state = *state_;
    if (state.running || state.event == nullptr) {
        SetLastError(state.running ? ERROR_BUSY : ERROR_INVALID_HANDLE);
        return false;
    }
    ResetEvent(state.event);
    state.file = native(file);
    state.overlapped = at_offset(offset, state.event);
    state.got = 0;
    state.started_ok = ReadFile(state.file, buffer, count, &state.got, &state.overlapped) != FALSE;
    state.start_error = state.started_ok ? 0 : GetLastError();
    if (!state.started_ok && state.start_error != ERROR_IO_PENDING &&
        state.start_error != ERROR_HANDLE_EOF) {
        return false;
    }
    // Finished already (or at the end): wait reports it without asking the system again.
    if (state.started_ok || state.start_error == ERROR_HANDLE_EOF)
        SetEvent(state.event);
    state.running = true;
    return true;
}

bool AsyncRead::finished() const {
    return state_->running && WaitForSingleObject(state_->event, 0) == WAIT_OBJECT_0;
}

bool AsyncRead::wait(std::uint32_t& count_read) {
    State& state = *state_;
    if (!state.running) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    state.running = false;
    if (state.started_ok || state.start_error == ERROR_HANDLE_EOF) {
        count_read = state.started_ok ? state.got : 0;
        return true;
    }
    DWORD got = 0;
    if (!GetOverlappedResult(state.file, &state.overlapped, &got, TRUE)) {
        if (GetLastError() != ERROR_HANDLE_EOF)
            return false;
        got = 0;
    }
    count_read = got;
    return true;
}

}  // namespace kam::platform
