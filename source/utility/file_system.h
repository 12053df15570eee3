// The file-system interface: relative paths in, Archive objects out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "utility/archive.h"
#include "utility/platform/directories.h"
#include "utility/replacing_file.h"

namespace kam {

// What a lookup learns of an existing path.
struct EntryInfo {
    bool is_directory = false;
    // As modification_time gives it.
    std::uint64_t modification_time = 0;
};

// What a path is, a symbolic link at its end not followed.
enum class PathKind { missing, file, directory, link };

// One listed entry: its name, whether it is a directory, whether it is a link to nothing.
using DirectoryEntry = platform::DirectoryEntry;

// What a path leads to once links are followed: equal identities, same directory.
using FileIdentity = platform::FileIdentity;

// What write_new did.
enum class NewFile { created, taken, unsupported };

// Paths are relative to the file system. "Not found" is an ordinary answer (false, 0, empty);
// other failures throw.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual bool exists(const std::string& path) = 0;
    // exists, then is_dir and modification_time of an existing path. A file system that learns
    // all three at once answers in one question.
    virtual bool look_up(const std::string& path, EntryInfo& info) {
        if (!exists(path))
            return false;
        info.is_directory = is_dir(path);
        info.modification_time = modification_time(path);
        return true;
    }
    // look_up, opening a file it finds for reading ("r") in the same step where the file system
    // can; file is left without a store where it cannot.
    virtual bool look_up_and_open(const std::string& path, EntryInfo& info, Archive&) {
        return look_up(path, info);
    }
    virtual bool is_dir(const std::string&) { return false; }
    // Where the file really lies: the path of its container, with the file's offset and size in
    // it (a disk file: offset 0 and size 0xffffffff).
    virtual std::string physical_path(const std::string& path, std::uint64_t& offset,
                                      std::uint32_t& size) = 0;
    virtual std::string full_path(const std::string& path) = 0;
    virtual std::string source_path(const std::string& path) = 0;
    // mode: 'r' read, 'w' create or truncate, 'a' append, '+' read and write, 'c' cached read.
    // An archive without a store when the file cannot be opened and nothing went wrong.
    virtual Archive open(const std::string& path, const std::string& mode) = 0;
    // A new file that takes the path's place only when committed, so that concurrent writers of
    // one path never tear it; null where the file system cannot (open with "w" then, which says
    // why when it fails).
    virtual std::unique_ptr<ReplacingFile> create_replacing(const std::string&) { return nullptr; }
    virtual bool make_dir(const std::string& path) = 0;
    virtual bool remove(const std::string& path) = 0;
    // Appends the names (not paths) in the directory that match one of the ';'-separated
    // patterns and are directories exactly when want_directories is set.
    virtual void list(const std::string& directory, const std::string& patterns,
                      bool want_directories, std::vector<std::string>& names) = 0;
    // What list gives for files and for directories, from one pass where the file system can.
    virtual void list_both(const std::string& directory, const std::string& patterns,
                           std::vector<std::string>& files, std::vector<std::string>& directories) {
        list(directory, patterns, false, files);
        list(directory, patterns, true, directories);
    }
    // owns: the file system decides about the path, found or not. hides: it knows the path does
    // not exist. Either ends a search through several file systems.
    virtual bool owns(const std::string&) { return false; }
    virtual bool hides(const std::string&) { return false; }
    virtual bool is_read_only() { return false; }

    // exists and is_dir in one question, links followed: never PathKind::link.
    virtual PathKind kind_of(const std::string& path) {
        if (!exists(path))
            return PathKind::missing;
        return is_dir(path) ? PathKind::directory : PathKind::file;
    }
    // What the path is, a link at its end not followed. Throws for failures other than "not
    // found" where the file system can fail.
    virtual PathKind look_up_link(const std::string& path) { return kind_of(path); }
    // Appends the entries of the directory whose names match the wildcard pattern, with their
    // kinds; nothing when the directory does not exist. Throws for other failures. Here: the
    // files, then the directories, each as list_both gives them.
    virtual void list_entries(const std::string& directory, std::string_view pattern,
                              std::vector<DirectoryEntry>& entries) {
        std::vector<std::string> files, directories;
        list_both(directory, std::string(pattern), files, directories);
        for (std::string& name : files)
            entries.push_back({std::move(name), false, false});
        for (std::string& name : directories)
            entries.push_back({std::move(name), true, false});
    }
    // One entry each, never what a link leads to; false when it cannot go.
    virtual bool remove_file(const std::string& path) { return remove(path); }
    virtual bool remove_link(const std::string& path) { return remove(path); }
    // Only an empty directory.
    virtual bool remove_directory(const std::string& path) { return remove(path); }
    // False where the path cannot be looked up or the file system has no identities.
    virtual bool identity(const std::string&, FileIdentity&) { return false; }
    // A new file that takes its name only once write has filled it, and only where nothing is;
    // taken (nothing kept) when something came there meanwhile; unsupported where the file system
    // cannot write a file without a name, and write_pending must serve.
    virtual NewFile write_new(const std::string&, const std::function<void(Archive&)>&) {
        return NewFile::unsupported;
    }
    // A file written away from the path and put there by its commit; null where the file system
    // cannot. Throws when the file cannot be created.
    virtual std::shared_ptr<PendingFile> write_pending(const std::string&) { return nullptr; }
    // The last-write time as a Windows FILETIME; 0 when the path does not exist.
    virtual std::uint64_t modification_time(const std::string& path) = 0;
};

}  // namespace kam
