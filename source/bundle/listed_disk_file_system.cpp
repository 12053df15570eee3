// Answers from a walk's listings. Without them the builder looks every file it adds up twice
// (exists, is_dir), each lookup two stats: four of the ten stats per file of a quick bundle.
#include "bundle/listed_disk_file_system.h"

#include "utility/path.h"

namespace kam {

void ListedDiskFileSystem::note_files(const std::string& directory,
                                      const std::vector<std::string>& names) {
    forget_files();
    const std::string prefix = normalize_path(directory, true, true);
    for (const std::string& name : names) {
        files_.push_back(normalize_path(prefix + name, false, true));
        known_[files_.back()] = false;
    }
}

void ListedDiskFileSystem::forget_files() {
    for (const std::string& file : files_) known_.erase(file);
    files_.clear();
}

bool ListedDiskFileSystem::exists(const std::string& path) {
    return known_.contains(path) || DiskFileSystem::exists(path);
}

bool ListedDiskFileSystem::is_dir(const std::string& path) {
    const auto found = known_.find(path);
    return found != known_.end() ? found->second : DiskFileSystem::is_dir(path);
}

}  // namespace kam
