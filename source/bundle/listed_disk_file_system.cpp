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

void ListedDiskFileSystem::keep_files(const std::string& directory, std::vector<std::string> names,
                                      std::vector<std::string> others) {
    std::sort(names.begin(), names.end());
    std::sort(others.begin(), others.end());
    kept_[directory] = {std::move(names), std::move(others)};
}

const ListedDiskFileSystem::Listing* ListedDiskFileSystem::kept_listing(
    const std::string& path, std::string_view& name) const {
    const size_t separator = path.rfind('\\');
    if (kept_.empty() || separator == std::string::npos || separator + 1 == path.size())
        return nullptr;
    const auto listing = kept_.find(std::string_view(path).substr(0, separator + 1));
    if (listing == kept_.end())
        return nullptr;
    name = std::string_view(path).substr(separator + 1);
    return &listing->second;
}

bool ListedDiskFileSystem::is_listed_file(const std::string& path) const {
    if (!directory_.empty() && path.size() > directory_.size() && path.starts_with(directory_) &&
        std::binary_search(files_.begin(), files_.end(),
                           std::string_view(path).substr(directory_.size())))
        return true;
    std::string_view name;
    const Listing* listing = kept_listing(path, name);
    return listing != nullptr &&
           std::binary_search(listing->files.begin(), listing->files.end(), name);
}

bool ListedDiskFileSystem::is_known_missing(const std::string& path) const {
    std::string_view name;
    const Listing* listing = kept_listing(path, name);
    return listing != nullptr &&
           !std::binary_search(listing->files.begin(), listing->files.end(), name) &&
           !std::binary_search(listing->others.begin(), listing->others.end(), name);
}

bool ListedDiskFileSystem::exists(const std::string& path) {
    return is_listed_file(path) || directories_.contains(path) ||
           (!is_known_missing(path) && DiskFileSystem::exists(path));
}

bool ListedDiskFileSystem::is_dir(const std::string& path) {
    if (is_listed_file(path))
        return false;
    return directories_.contains(path) || (!is_known_missing(path) && DiskFileSystem::is_dir(path));
}

PathKind ListedDiskFileSystem::kind_of(const std::string& path) {
    if (is_listed_file(path))
        return PathKind::file;
    if (directories_.contains(path))
        return PathKind::directory;
    return is_known_missing(path) ? PathKind::missing : DiskFileSystem::kind_of(path);
}

}  // namespace kam
