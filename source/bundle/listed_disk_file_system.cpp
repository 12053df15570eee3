// Answers from a walk's listings. Without them the builder looks every file it adds up twice
// (exists, is_dir), each lookup two stats: four of the ten stats per file of a quick bundle.
#include "bundle/listed_disk_file_system.h"

#include <algorithm>
#include <string_view>

namespace kam {

void ListedDiskFileSystem::note_files(const std::string& directory,
                                      std::vector<std::string> names) {
    directory_ = directory;
    files_ = std::move(names);
    std::sort(files_.begin(), files_.end());
}

void ListedDiskFileSystem::forget_files() {
    directory_.clear();
    files_.clear();
}

bool ListedDiskFileSystem::is_listed_file(const std::string& path) const {
    return !directory_.empty() && path.size() > directory_.size() && path.starts_with(directory_) &&
           std::binary_search(files_.begin(), files_.end(),
                              std::string_view(path).substr(directory_.size()));
}

bool ListedDiskFileSystem::exists(const std::string& path) {
    return is_listed_file(path) || directories_.contains(path) || DiskFileSystem::exists(path);
}

bool ListedDiskFileSystem::is_dir(const std::string& path) {
    if (is_listed_file(path))
        return false;
    return directories_.contains(path) || DiskFileSystem::is_dir(path);
}

}  // namespace kam
