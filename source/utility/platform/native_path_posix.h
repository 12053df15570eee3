// Inside the POSIX platform layer: turning the tool's paths into names the kernel knows.
#pragma once

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <string>

namespace kam::platform::posix {

// The path with '/' separators and, where the exact spelling does not exist, components matched
// without regard to ASCII case; components that do not exist are kept as given.
std::string native_path(const std::string& path);
// The path with '/' separators, without doubled or trailing ones; no lookups.
std::string plain_path(const std::string& path);
// The plain path, below the disk spelling of its directory when an earlier lookup resolved one;
// no system calls. The first thing to try when opening an existing file.
std::string likely_path(const std::string& path);
// Runs attempt (a call on a native path that sets errno when it returns false) on the likely
// path first; when that fails because the path is not there as spelled and it resolves to
// another spelling, once more on that. native is the path last tried; errno is the failure's.
template <typename Attempt>
bool on_either_spelling(const std::string& path, std::string& native, Attempt attempt) {
    native = likely_path(path);
    if (attempt(native))
        return true;
    if (errno != ENOENT && errno != ENOTDIR)
        return false;
    const int error = errno;
    std::string resolved = native_path(path);
    if (resolved == native) {
        errno = error;
        return false;
    }
    native = std::move(resolved);
    return attempt(native);
}

// Keep the directory cache right after the tool added or removed an entry at a native path.
void note_added(const std::string& native);
void note_removed(const std::string& native);
void note_renamed(const std::string& from, const std::string& to);
// A modification time as a Windows FILETIME.
std::uint64_t filetime(const timespec& modified);

}  // namespace kam::platform::posix
