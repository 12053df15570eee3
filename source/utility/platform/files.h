// Opening, reading and writing files: positioned synchronous calls and one asynchronous read.
//
// Paths are the tool's paths: UTF-8, either separator, resolved without regard to ASCII case when
// the exact spelling does not exist (see directories.h). The open parameters are the Windows
// values, so that messages name the same numbers on every system.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kam::platform {

using FileHandle = std::intptr_t;
constexpr FileHandle invalid_file = -1;

// Creation dispositions.
constexpr std::uint32_t create_new = 1;
constexpr std::uint32_t create_always = 2;
constexpr std::uint32_t open_existing = 3;
constexpr std::uint32_t open_always = 4;
constexpr std::uint32_t truncate_existing = 5;
// Access rights.
constexpr std::uint32_t generic_read = 0x80000000u;
constexpr std::uint32_t generic_write = 0x40000000u;
// Share modes (kept in messages; other processes are not locked out on every system).
constexpr std::uint32_t share_read = 1;
constexpr std::uint32_t share_write = 2;
// Lets an interrupt delete a temporary that is still being written (interrupts.h).
constexpr std::uint32_t share_delete = 4;

// What opening a file learnt of it.
struct FileStatus {
    std::uint64_t size = 0;
    // As look_up gives it (directories.h).
    std::uint64_t last_write_time = 0;
};

// Opens a regular file: never a directory (fails with the system's is-a-directory code), nor a
// pipe, device or socket (fails with not_a_regular_file, error_text.h, without waiting).
// sequential hints that the file is read front to back and the caller caches it itself. status,
// when given, receives the file's size and time at opening.
// Returns invalid_file with the last error set on failure.
FileHandle open_file(const std::string& path, std::uint32_t creation, std::uint32_t access,
                     std::uint32_t share, bool sequential = false, FileStatus* status = nullptr);
void close_file(FileHandle file);

// Reads up to count bytes at offset; done is short only at the end of the file.
// False with the last error set on failure.
bool read_file_at(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t count,
                  std::uint32_t& done);
// Writes count bytes at offset. False with the last error set on failure.
bool write_file_at(FileHandle file, std::uint64_t offset, const void* data, std::uint32_t count,
                   std::uint32_t& done);
// Copies up to count bytes from one file to another inside the system, without passing them
// through the caller's memory; done is short only at the end of the source. False with the last
// error set when the system cannot (callers then read and write).
bool copy_between_files(FileHandle from, std::uint64_t from_offset, FileHandle to,
                        std::uint64_t to_offset, std::uint32_t count, std::uint32_t& done);
// False with the last error set on failure.
bool file_size(FileHandle file, std::uint64_t& size);
// Waits until what was written to the file is on the storage device. False with the last error
// set on failure.
bool flush_file(FileHandle file);
// Renames a file, replacing a file already at the destination in one step: a reader sees the old
// file or the new one, never neither. False with the last error set on failure.
bool rename_file(const std::string& from, const std::string& to);
// Renames a file only when nothing is at the destination, in one step. False with the last
// error set on failure, already_exists when something is there; also false where the file
// system cannot rename so.
bool rename_new_file(const std::string& from, const std::string& to);
// A new file without a name, in the directory path names, for link_unnamed_file to give it path
// once complete: until then nobody sees it, and a failure, an interrupt or a kill leaves nothing
// behind. invalid_file where the system or the file system has no such files (always on
// Windows): the caller then writes a temporary.
FileHandle create_unnamed_file(const std::string& path);
// Gives the unnamed file of handle the name path when nothing is there under the name as given
// (nor under the name the directory cache knows). False with the last error set otherwise,
// already_exists when something is there.
bool link_unnamed_file(FileHandle file, const std::string& path);

// Whether a file written beside path may be renamed over it: nothing is there (or the lookup
// fails, which creating the file beside it then reports), or a regular file that may be written,
// not a directory, a device, a pipe or a read-only file. Told from its attributes, not by opening
// it: on Windows a file another job reads cannot be opened for writing then, yet may be replaced
// a moment later. as_spelled: the path as given is the destination's spelling, that of a file
// found so or, with nothing there in any spelling, of the file to be.
enum class Replace { refused, allowed, as_spelled };
Replace may_replace(const std::string& path);
// rename_file to a destination may_replace said is as spelled: its spelling is not looked up again.
bool rename_file_as_spelled(const std::string& from, const std::string& to);

// One read at a time running beside the caller.
class AsyncRead {
public:
    AsyncRead();
    // Waits for a read still running.
    ~AsyncRead();
    AsyncRead(const AsyncRead&) = delete;
    AsyncRead& operator=(const AsyncRead&) = delete;

    // Starts reading count bytes at offset into buffer, which must stay valid until wait returns.
    // False with the last error set when it cannot start (also when a read is still unfinished).
    bool start(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t count);
    // Whether the started read has finished; never waits.
    bool finished() const;
    // Waits for the started read. False with the last error set when it failed; else the count.
    bool wait(std::uint32_t& count_read);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kam::platform
