// The bundle file system.
#include "bundle/bundle_file_system.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "utility/platform/directories.h"
#include "utility/virtual_file_system.h"

namespace kam {

namespace {

bool writes(const std::string& mode) {
    return mode.find_first_of("wa+") != std::string::npos;
}

}  // namespace

std::optional<size_t> first_matching_pattern(std::string_view patterns, std::string_view name) {
    for (size_t start = 0, index = 0;; ++index) {
        const size_t end = std::min(patterns.find(';', start), patterns.size());
        if (platform::matches_wildcard(patterns.substr(start, end - start), name))
            return index;
        if (end == patterns.size())
            return std::nullopt;
        start = end + 1;
    }
}

void BundleFileSystem::load(Archive archive, std::uint64_t modification_time) {
    index_.load(std::move(archive));
    modification_time_ = modification_time;
}

bool BundleFileSystem::answering() const {
    return enabled_ &&
           (!VirtualFileSystem::has_instance() || VirtualFileSystem::instance().bundles_enabled());
}

bool BundleFileSystem::exists(const std::string& path) {
    if (!answering())
        return false;
    const BundleEntry* entry = index_.lookup(path);
    return entry != nullptr && entry->is_visible();
}

bool BundleFileSystem::is_dir(const std::string& path) {
    const BundleEntry* entry = index_.lookup(path);
    return entry != nullptr && entry->is_visible() && entry->is_directory();
}

std::string BundleFileSystem::physical_path(const std::string& path, std::uint64_t& offset,
                                            std::uint32_t& size) {
    if (parent_has(path))
        return parent_->physical_path(path, offset, size);
    const BundleEntry* entry = index_.lookup(path);
    if (entry != nullptr && entry->has_data()) {
        offset = entry->offset;
        size = entry->size;
        return full_path(bundle_path_);
    }
    offset = 0;
    size = 0;
    return path;
}

std::string BundleFileSystem::full_path(const std::string& path) {
    return parent_has(path) ? parent_->full_path(path) : "bundle_" + path;
}

std::string BundleFileSystem::source_path(const std::string& path) {
    return parent_has(path) ? parent_->source_path(path) : path;
}

Archive BundleFileSystem::open(const std::string& path, const std::string& mode) {
    if (writes(mode))
        return Archive();
    const BundleEntry* entry = index_.lookup(path);
    if (entry != nullptr && entry->has_data()) {
        // Bounded by the bundle's archive: an entry reaching past the file's end throws here.
        Archive file(index_.archive(), static_cast<std::int64_t>(entry->offset), entry->size,
                     false);
        file.set_name(path);
        return file;
    }
    return parent_ != nullptr ? parent_->open(path, mode) : Archive();
}

void BundleFileSystem::list(const std::string& directory, const std::string& patterns,
                            bool want_directories, std::vector<std::string>& names) {
    if (!answering())
        return;
    const BundleEntryMap* entries = index_.directory(directory);
    if (entries == nullptr)
        return;
    // (first matching pattern, name); the map gives name order, the stable sort keeps it.
    std::vector<std::pair<size_t, std::string_view>> kept;
    for (const auto& [name, entry] : *entries) {
        if (!entry.is_visible() || entry.is_directory() != want_directories)
            continue;
        if (const auto match = first_matching_pattern(patterns, name))
            kept.emplace_back(*match, name);
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [pattern, name] : kept)
        names.emplace_back(name);
}

bool BundleFileSystem::owns(const std::string& path) {
    return !owns_nothing_ && answering() && index_.lookup(path) != nullptr;
}

bool BundleFileSystem::hides(const std::string& path) {
    const BundleEntry* entry = index_.lookup(path);
    return entry != nullptr && !entry->is_visible();
}

}  // namespace kam
