// Files over POSIX descriptors; the asynchronous read runs on a helper thread of its own.
#include "utility/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>  // renameat2
#include <thread>

#include "utility/platform/error_text.h"
#include "utility/platform/native_path_posix.h"

namespace kam::platform {

namespace {

int descriptor(FileHandle file) {
    return static_cast<int>(file);
}

// One read() moves at most this much on Linux.
constexpr std::uint32_t max_transfer = 0x7ffff000u;

bool read_fully(int fd, std::uint64_t offset, void* buffer, std::uint32_t count,
                std::uint32_t& done) {
    done = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (done < count) {
        const std::uint32_t chunk = std::min(count - done, max_transfer);
        const ssize_t got = pread(fd, bytes + done, chunk, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            break;
        done += static_cast<std::uint32_t>(got);
    }
    return true;
}

void pause_briefly() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace

FileHandle open_file(const std::string& path, std::uint32_t creation, std::uint32_t access,
                     std::uint32_t, bool sequential, FileStatus* opened) {
    int flags = O_CLOEXEC;
    const bool reading = (access & generic_read) != 0;
    const bool writing = (access & generic_write) != 0;
    if (reading && writing) {
        flags |= O_RDWR;
    } else if (writing) {
        flags |= O_WRONLY;
    } else if (reading) {
        flags |= O_RDONLY;
    } else {
        errno = EINVAL;
        return invalid_file;
    }
    switch (creation) {
        case create_new:
            flags |= O_CREAT | O_EXCL;
            break;
        case create_always:
            flags |= O_CREAT | O_TRUNC;
            break;
        case open_existing:
            break;
        case open_always:
            flags |= O_CREAT;
            break;
        case truncate_existing:
            flags |= O_TRUNC;
            break;
        default:
            errno = EINVAL;
            return invalid_file;
    }
    // Non-blocking, so that a FIFO or a device does not wait for a peer before it is refused. A
    // file created exclusively is new and regular: it needs neither that nor a look at it after.
    const bool created_new = creation == create_new;
    if (!created_new)
        flags |= O_NONBLOCK;
    // An existing file is opened as spelled first: only when that fails is the path resolved
    // without regard to case. A new file must not be created beside another spelling of it.
    const bool creates = (flags & O_CREAT) != 0;
    int fd = -1;
    std::string native;
    if (creates) {
        native = posix::native_path(path);
        fd = open(native.c_str(), flags, 0666);
    } else {
        posix::on_either_spelling(path, native, [&](const std::string& spelled) {
            fd = open(spelled.c_str(), flags, 0666);
            return fd >= 0;
        });
    }
    if (fd < 0) {
        // A FIFO without a reader or a socket answers ENXIO; say what it is instead.
        struct stat status {};
        if (errno == ENXIO && stat(native.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
            errno = static_cast<int>(not_a_regular_file);
        }
        return invalid_file;
    }
    struct stat status {};
    if (created_new && opened == nullptr) {
        posix::note_added(native);
        if (sequential)
            posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        return fd;
    }
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        int error = errno;
        if (S_ISDIR(status.st_mode)) {
            error = EISDIR;
        } else if (status.st_mode != 0) {
            error = static_cast<int>(not_a_regular_file);
        }
        close(fd);
        errno = error;
        return invalid_file;
    }
    // The flag does nothing to reads of a regular file, so a file opened only for reading keeps it:
    // one call less per file. Writers get blocking I/O back, whatever the file system makes of the
    // flag. F_SETFL takes only the status flags of these.
    if (writing && !created_new && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return invalid_file;
    }
    if (opened != nullptr) {
        opened->size = static_cast<std::uint64_t>(status.st_size);
        opened->last_write_time = posix::filetime(status.st_mtim);
    }
    if (creates)
        posix::note_added(native);
    if (sequential)
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

void close_file(FileHandle file) {
    if (file != invalid_file)
        close(descriptor(file));
}

bool read_file_at(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t count,
                  std::uint32_t& done) {
    return read_fully(descriptor(file), offset, buffer, count, done);
}

bool write_file_at(FileHandle file, std::uint64_t offset, const void* data, std::uint32_t count,
                   std::uint32_t& done) {
    done = 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (done < count) {
        const std::uint32_t chunk = std::min(count - done, max_transfer);
        const ssize_t put =
            pwrite(descriptor(file), bytes + done, chunk, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::uint32_t>(put);
    }
    return true;
}

bool copy_between_files(FileHandle from, std::uint64_t from_offset, FileHandle to,
                        std::uint64_t to_offset, std::uint32_t count, std::uint32_t& done) {
    done = 0;
    auto in = static_cast<off_t>(from_offset);
    auto out = static_cast<off_t>(to_offset);
    while (done < count) {
        const ssize_t moved = copy_file_range(descriptor(from), &in, descriptor(to), &out,
                                              std::min(count - done, max_transfer), 0);
        if (moved < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (moved == 0)
            break;
        done += static_cast<std::uint32_t>(moved);
    }
    return true;
}

bool file_size(FileHandle file, std::uint64_t& size) {
    struct stat status {};
    if (fstat(descriptor(file), &status) != 0)
        return false;
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool flush_file(FileHandle file) {
    return fsync(descriptor(file)) == 0;
}

namespace {

// The source exists, so it is tried as spelled first, as an open is.
bool rename_to_native(const std::string& from, const std::string& native_to) {
    std::string native_from;
    if (!posix::on_either_spelling(from, native_from, [&](const std::string& spelled) {
            return rename(spelled.c_str(), native_to.c_str()) == 0;
        })) {
        return false;
    }
    posix::note_renamed(native_from, native_to);
    return true;
}

}  // namespace

bool rename_file(const std::string& from, const std::string& to) {
    // The destination is resolved, so that a file there in another spelling is the one replaced.
    return rename_to_native(from, posix::native_path(to));
}

bool rename_file_as_spelled(const std::string& from, const std::string& to) {
    return rename_to_native(from, posix::likely_path(to));
}

bool rename_new_file(const std::string& from, const std::string& to) {
    const std::string native_to = posix::native_path(to);
    std::string native_from;
    if (!posix::on_either_spelling(from, native_from, [&](const std::string& spelled) {
            return renameat2(AT_FDCWD, spelled.c_str(), AT_FDCWD, native_to.c_str(),
                             RENAME_NOREPLACE) == 0;
        })) {
        return false;
    }
    posix::note_renamed(native_from, native_to);
    return true;
}

FileHandle create_unnamed_file(const std::string& path) {
    // The name is given through the descriptor's entry in /proc, which a system without /proc
    // lacks; without O_TMPFILE the open fails, and the caller takes a temporary.
    static const bool proc_mounted = access("/proc/self/fd", X_OK) == 0;
    if (!proc_mounted)
        return invalid_file;
    const size_t slash = path.find_last_of("/\\");
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int fd = -1;
    std::string native;
    if (!posix::on_either_spelling(directory, native, [&](const std::string& spelled) {
            fd = open(spelled.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
            return fd >= 0;
        })) {
        return invalid_file;
    }
    return static_cast<FileHandle>(fd);
}

bool link_unnamed_file(FileHandle file, const std::string& path) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor(file));
    std::string native;
    if (!posix::on_either_spelling(path, native, [&](const std::string& spelled) {
            return linkat(AT_FDCWD, link, AT_FDCWD, spelled.c_str(), AT_SYMLINK_FOLLOW) == 0;
        })) {
        return false;
    }
    posix::note_added(native);
    return true;
}

Replace may_replace(const std::string& path) {
    struct stat status {};
    std::string native;
    int tries = 0;
    if (!posix::on_either_spelling(path, native, [&](const std::string& spelled) {
            ++tries;
            return stat(spelled.c_str(), &status) == 0;
        })) {
        // Tried once: no other spelling to look for, so the file is new under the name given.
        return tries == 1 && errno == ENOENT ? Replace::as_spelled : Replace::allowed;
    }
    if (!S_ISREG(status.st_mode))
        return Replace::refused;
    // The owner's write bit answers for the owner without a second walk of the path. What else
    // forbids the write (a read-only mount, an immutable file) fails the temporary or the rename.
    static const uid_t user = geteuid();
    const bool writable = (status.st_uid == user && (status.st_mode & S_IWUSR) != 0) ||
                          access(native.c_str(), W_OK) == 0;
    if (!writable)
        return Replace::refused;
    return tries == 1 ? Replace::as_spelled : Replace::allowed;
}

// The read is handed to a helper thread through one atomic phase. Sequential readers start the
// next read as soon as they have the previous one, so the helper spins for a moment before it
// sleeps: waking a sleeping thread for every 64 KiB block costs more than reading the block from
// the page cache. If the reader comes to wait before the helper has picked the read up, the
// reader does the read itself.
struct AsyncRead::State {
    enum Phase : int { idle, requested, running, done, closing };

    std::atomic<int> phase{idle};
    std::atomic<bool> stopping{false};
    FileHandle file = invalid_file;
    std::uint64_t offset = 0;
    void* buffer = nullptr;
    std::uint32_t count = 0;
    bool succeeded = false;
    std::uint32_t count_read = 0;
    int error = 0;
    std::thread helper;

    void perform() {
        const int saved = errno;
        succeeded = read_fully(descriptor(file), offset, buffer, count, count_read);
        error = succeeded ? 0 : errno;
        errno = saved;
        phase.store(done, std::memory_order_release);
        phase.notify_all();
    }

    // Claims a requested read for the calling thread.
    bool claim() {
        int expected = requested;
        return phase.compare_exchange_strong(expected, running, std::memory_order_acquire);
    }

    // Waits until the phase differs from seen, spinning first.
    void await_change(int seen) {
        using clock = std::chrono::steady_clock;
        const auto until = clock::now() + std::chrono::microseconds(200);
        for (int spins = 0;; ++spins) {
            if (phase.load(std::memory_order_acquire) != seen || stopping.load())
                return;
            if ((spins & 63) == 63 && clock::now() > until)
                break;
            pause_briefly();
        }
        phase.wait(seen, std::memory_order_acquire);
    }

    void serve() {
        for (;;) {
            const int seen = phase.load(std::memory_order_acquire);
            if (stopping.load())
                return;
            if (seen == requested && claim()) {
                perform();
                continue;
            }
            await_change(seen);
        }
    }
};

AsyncRead::AsyncRead() : state_(std::make_unique<State>()) {}

AsyncRead::~AsyncRead() {
    if (state_->phase.load() != State::idle) {
        std::uint32_t ignored = 0;
        wait(ignored);
    }
    if (state_->helper.joinable()) {
        // A value the helper never sleeps on wakes it wherever it waits.
        state_->stopping.store(true);
        state_->phase.store(State::closing);
        state_->phase.notify_all();
        state_->helper.join();
    }
}

bool AsyncRead::start(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t count) {
    State& state = *state_;
    if (state.phase.load() != State::idle) {
        errno = EBUSY;
        return false;
    }
    state.file = file;
    state.offset = offset;
    state.buffer = buffer;
    state.count = count;
    if (!state.helper.joinable())
        state.helper = std::thread([&state] { state.serve(); });
    state.phase.store(State::requested, std::memory_order_release);
    state.phase.notify_all();
    return true;
}

bool AsyncRead::finished() const {
    return state_->phase.load(std::memory_order_acquire) == State::done;
}

bool AsyncRead::wait(std::uint32_t& count_read) {
    State& state = *state_;
    if (state.phase.load() == State::idle) {
        errno = EINVAL;
        return false;
    }
    if (state.claim())
        state.perform();
    for (int seen; (seen = state.phase.load(std::memory_order_acquire)) != State::done;) {
        state.await_change(seen);
    }
    count_read = state.count_read;
    const bool succeeded = state.succeeded;
    const int error = state.error;
    state.phase.store(State::idle, std::memory_order_release);
    if (!succeeded)
        errno = error;
    return succeeded;
}

}  // namespace kam::platform
