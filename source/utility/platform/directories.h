// Looking up, listing, creating and removing directory entries.
//
// Path translation happens here and in files.h, nowhere else: both '/' and '\' separate
// components; a component whose exact spelling does not exist is matched without regard to ASCII
// case (the smallest matching name in byte order wins); new entries are created with the spelling
// given. What is learnt about directories is cached for the process and kept right when the tool
// itself creates or deletes entries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kam::platform {

enum class LookupResult { found, not_found, failed };

struct PathInfo {
    bool is_directory = false;
    // 100-nanosecond intervals since 1601-01-01 UTC (a Windows FILETIME).
    std::uint64_t last_write_time = 0;
};

struct DirectoryEntry {
    std::string name;
    bool is_directory = false;
    // A link to nothing: listed, though a lookup of it finds nothing.
    bool is_broken_link = false;
};

// Looks up one path; failed sets the last error. Trailing separators are ignored.
LookupResult look_up(const std::string& path, PathInfo& info);
// Like look_up, but a symbolic link at the end of the path is not followed: it is found, with
// is_link set (and info describing the link itself). Links further up the path are followed.
LookupResult look_up_link(const std::string& path, PathInfo& info, bool& is_link);

// Lists the entries of a directory whose names match the wildcard pattern, sorted by name with
// ASCII case folded (ties by raw bytes). ".", ".." and ".svn" are never listed. not_found when the
// directory does not exist; failed (with the last error set) for any other failure.
LookupResult list_directory(const std::string& directory, std::string_view pattern,
                            std::vector<DirectoryEntry>& entries);

// One level each; false with the last error set on failure.
bool create_directory(const std::string& path);
bool remove_directory(const std::string& path);
bool delete_file(const std::string& path);
// Removes a symbolic link itself, never what it points to; false (with the last error set) when
// the path is not a link or cannot be removed.
bool remove_link(const std::string& path);

// The process's current directory.
std::string current_directory();

// The path as the system spells it, for other programs that look it up (a build tool reading a
// dependency file): the system's separators and, where case tells names apart, each existing
// component as it is named on disk. A relative path stays relative.
std::string spelled_path(const std::string& path);

// "*" and "*.*" match every name; otherwise "*" matches any run (also empty) and "?" one
// character, ignoring ASCII case.
bool matches_wildcard(std::string_view pattern, std::string_view name);

// Forgets every cached directory; for callers that changed the disk behind the tool's back.
void forget_cached_directories();

// What a path leads to once links are followed: paths with equal identities reach the same file or
// directory, so a walk can tell when a link leads back to where it came from.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// False with the last error set when the path cannot be looked up.
bool file_identity(const std::string& path, FileIdentity& identity);

}  // namespace kam::platform
