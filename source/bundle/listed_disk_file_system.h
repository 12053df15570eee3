// The default disk file system with the answers a directory walk has just seen kept in memory.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "utility/disk_file_system.h"
#include "utility/string_hash.h"

namespace kam {

// Native paths, as the default disk file system takes them. exists and is_dir answer from the
// listings noted, which the bundle builder asks about every path it adds; everything else, and
// every path not noted, goes to the disk. Noted paths are canonical (normalize_path, leading
// separator kept), as the builder asks for them.
class ListedDiskFileSystem : public DiskFileSystem {
public:
    ListedDiskFileSystem() : DiskFileSystem(std::string()) {}

    // The files of one directory (canonical, with a trailing separator) by their lower-case names,
    // replacing the files noted before: a walk notes each directory just before it considers the
    // directory's files. Links to nothing must be left out: they do not exist.
    void note_files(const std::string& directory, std::vector<std::string> names);
    // Subdirectories stay noted for the whole walk: there are few of them.
    void note_directory(const std::string& path) { directories_.insert(path); }
    void forget_files();
    // As note_files, but kept for the life of this object, with the directory's other names (its
    // subdirectories, and the files a walk leaves out): a path in a kept directory that is
    // neither is known not to exist without asking the disk.
    void keep_files(const std::string& directory, std::vector<std::string> names,
                    std::vector<std::string> others);

    bool exists(const std::string& path) override;
    bool is_dir(const std::string& path) override;
    PathKind kind_of(const std::string& path) override;

private:
    struct Listing {
        std::vector<std::string> files;   // sorted
        std::vector<std::string> others;  // sorted
    };

    bool is_listed_file(const std::string& path) const;
    bool is_known_missing(const std::string& path) const;
    // The kept listing of the directory of path, with the name of path in it; null when none.
    const Listing* kept_listing(const std::string& path, std::string_view& name) const;

    std::string directory_;
    std::vector<std::string> files_;  // sorted
    std::unordered_map<std::string, Listing, StringHash, std::equal_to<>> kept_;
    std::unordered_set<std::string> directories_;
};

}  // namespace kam
