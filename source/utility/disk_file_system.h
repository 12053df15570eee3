// The file system of a directory on disk.
#pragma once

#include <string>

#include "utility/file_system.h"

namespace kam {

// Joins every path to its root by plain concatenation. With an empty root paths are native
// paths, relative to the current directory or absolute.
class DiskFileSystem : public FileSystem {
public:
    explicit DiskFileSystem(const std::string& root);

    // Trailing separators of the path are ignored; never throws.
    bool exists(const std::string& path) override;
    // One lookup on disk; like exists, failures count as not found.
    bool look_up(const std::string& path, EntryInfo& info) override;
    // Opening answers for a readable file; a missing, unreadable or directory path is looked up.
    bool look_up_and_open(const std::string& path, EntryInfo& info, Archive& file) override;
    // Throws DiskError "Cannot determine if path is dir " + path for failures other than "not
    // found".
    bool is_dir(const std::string& path) override;
    std::string physical_path(const std::string& path, std::uint64_t& offset,
                              std::uint32_t& size) override;
    std::string full_path(const std::string& path) override { return root_ + path; }
    // The full path as the system spells it (platform::spelled_path), for dependency files.
    std::string spelled_path(const std::string& path) const;
    std::string source_path(const std::string& path) override { return path; }
    // "r" plain reading, "rc" cached reading, "w" create or truncate, "a" append (an empty archive
    // based at the file's end that grows), "r+" reading and writing. A failed open throws the
    // store's DiskError.
    Archive open(const std::string& path, const std::string& mode) override;
    // Not flushed to the device: derived files are rebuilt after a crash. Null for a path open
    // with "w" would fail for, so that its error is the usual one.
    std::unique_ptr<ReplacingFile> create_replacing(const std::string& path) override;
    bool make_dir(const std::string& path) override;
    bool remove(const std::string& path) override;
    // Throws DiskError "Cannot list dir " + directory for failures other than "not found".
    void list(const std::string& directory, const std::string& patterns, bool want_directories,
              std::vector<std::string>& names) override;
    void list_both(const std::string& directory, const std::string& patterns,
                   std::vector<std::string>& files, std::vector<std::string>& directories) override;
    // Throws DiskError "Cannot determine if path exists " + path for failures other than "not
    // found".
    std::uint64_t modification_time(const std::string& path) override;
    // Throws DiskError "Cannot determine if path exists " + path for failures other than "not
    // found".
    PathKind look_up_link(const std::string& path) override;
    // Sorted as platform::list_directory sorts. Throws DiskError "Cannot list dir " + directory for
    // failures other than "not found".
    void list_entries(const std::string& directory, std::string_view pattern,
                      std::vector<DirectoryEntry>& entries) override;
    bool remove_file(const std::string& path) override;
    bool remove_link(const std::string& path) override;
    bool remove_directory(const std::string& path) override;
    bool identity(const std::string& path, FileIdentity& identity) override;
    // An UnnamedFile where the system has them. Throws its DiskError and those of write.
    NewFile write_new(const std::string& path, const std::function<void(Archive&)>& write) override;
    // A ReplacingFile, not flushed; throws its DiskError.
    std::shared_ptr<PendingFile> write_pending(const std::string& path) override;

    // Sets the root in canonical form with a trailing separator (a leading separator is kept, so
    // an absolute root stays absolute), or empty.
    virtual void set_root(const std::string& root);
    const std::string& root() const { return root_; }

private:
    // root_ + path, kept in joined; the path itself when the root is empty, as for the file system
    // of command-line names, which is asked once or twice for every file a command touches.
    const std::string& on_disk(const std::string& path, std::string& joined) const;
    // Appends the names of each kind to its list; a kind without a list is left out.
    using Names = std::vector<std::string>;
    void list_names(const std::string& directory, const std::string& patterns, Names* files,
                    Names* directories);

    std::string root_;
};

// The process-wide disk file system with an empty root, for names given on the command line.
// Created on first use, never destroyed.
DiskFileSystem& default_disk_file_system();

}  // namespace kam
