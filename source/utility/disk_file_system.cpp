// The file system of a directory on disk.
#include "utility/disk_file_system.h"

#include <optional>

#include "utility/cached_file_data_store.h"
#include "utility/path.h"
#include "utility/platform/directories.h"
#include "utility/platform/error_text.h"

namespace kam {

namespace {

bool has(const std::string& mode, char letter) {
    return mode.find(letter) != std::string::npos;
}

}  // namespace

DiskFileSystem::DiskFileSystem(const std::string& root) {
    set_root(root);
}

void DiskFileSystem::set_root(const std::string& root) {
    root_ = normalize_path(root, true, true);
}

std::string DiskFileSystem::spelled_path(const std::string& path) const {
    std::string joined;
    return platform::spelled_path(on_disk(path, joined));
}

bool DiskFileSystem::exists(const std::string& path) {
    std::string full = root_ + path;
    while (!full.empty() && is_path_separator(full.back()))
        full.pop_back();
    platform::PathInfo info;
    return !full.empty() && platform::look_up(full, info) == platform::LookupResult::found;
}

bool DiskFileSystem::is_dir(const std::string& path) {
    platform::PathInfo info;
    switch (platform::look_up(root_ + path, info)) {
        case platform::LookupResult::found:
            return info.is_directory;
        case platform::LookupResult::not_found:
            return false;
        case platform::LookupResult::failed:
            break;
    }
    throw DiskError("Cannot determine if path is dir " + path, platform::last_error());
}

std::uint64_t DiskFileSystem::modification_time(const std::string& path) {
    platform::PathInfo info;
    switch (platform::look_up(root_ + path, info)) {
        case platform::LookupResult::found:
            return info.last_write_time;
        case platform::LookupResult::not_found:
            return 0;
        case platform::LookupResult::failed:
            break;
    }
    throw DiskError("Cannot determine if path exists " + path, platform::last_error());
}

std::string DiskFileSystem::physical_path(const std::string& path, std::uint64_t& offset,
                                          std::uint32_t& size) {
    offset = 0;
    size = 0xffffffffu;
    return root_ + path;
}

Archive DiskFileSystem::open(const std::string& path, const std::string& mode) {
    std::string joined;
    const std::string& full = on_disk(path, joined);
    const bool writing = has(mode, 'w') || has(mode, 'a') || has(mode, '+');
    std::shared_ptr<FileDataStoreBase> store;
    // The size as the open found it: asking again costs a system call per file, and a bundle
    // build opens tens of thousands.
    std::optional<platform::FileStatus> opened;
    if (has(mode, 'c') && !writing) {
        store = std::make_shared<CachedFileDataStore>(full, 192, 64);
    } else {
        std::uint32_t access = 0;
        if (has(mode, 'r') || has(mode, '+'))
            access |= platform::generic_read;
        if (writing)
            access |= platform::generic_write;
        std::uint32_t creation = 0;
        if (has(mode, 'r')) {
            creation = platform::open_existing;
        } else if (has(mode, 'w')) {
            creation = platform::create_always;
        } else if (has(mode, 'a')) {
            creation = platform::open_always;
        }
        opened.emplace();
        store =
            std::make_shared<FileDataStore>(full, creation, access, platform::share_read, &*opened);
    }
    if (!store->is_open())
        return Archive();
    const auto size = static_cast<std::int64_t>(opened ? opened->size : store->size());
    if (has(mode, 'a'))
        return Archive(path, store, static_cast<std::uint64_t>(size), 0, writing);
    return Archive(path, store, 0, size, writing);
}

std::unique_ptr<ReplacingFile> DiskFileSystem::create_replacing(const std::string& path) {
    std::string joined;
    const std::string& full = on_disk(path, joined);
    // What could not be written in place (a directory, a pipe, a read-only file) is left to open
    // with "w", whose failure says why as for any other write; so is a temporary that cannot be
    // made.
    const platform::Replace replace = platform::may_replace(full);
    if (replace == platform::Replace::refused)
        return nullptr;
    try {
        return std::make_unique<ReplacingFile>(full, ReplacingFile::Flush::lazy,
                                               replace == platform::Replace::as_spelled);
    } catch (const DiskError&) {
        return nullptr;
    }
}

bool DiskFileSystem::make_dir(const std::string& path) {
    std::string joined;
    return platform::create_directory(on_disk(path, joined));
}

bool DiskFileSystem::remove(const std::string& path) {
    if (is_dir(path))
        return platform::remove_directory(root_ + path);
    return platform::delete_file(root_ + path);
}

void DiskFileSystem::list_names(const std::string& directory, const std::string& patterns,
                                Names* files, Names* directories) {
    const std::string folder =
        directory.empty() ? root_ : root_ + normalize_path(directory, true, false);
    std::vector<platform::DirectoryEntry> entries;
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(patterns.find(';', start), patterns.size());
        entries.clear();
        const auto result = platform::list_directory(
            folder, std::string_view(patterns).substr(start, end - start), entries);
        if (result == platform::LookupResult::failed) {
            throw DiskError("Cannot list dir " + directory, platform::last_error());
        }
        for (auto& entry : entries) {
            Names* names = entry.is_directory ? directories : files;
            if (names != nullptr)
                names->push_back(std::move(entry.name));
        }
        if (end == patterns.size())
            break;
        start = end + 1;
    }
}

DiskFileSystem& default_disk_file_system() {
    static DiskFileSystem* instance =
        new DiskFileSystem(std::string());  // lives until the process ends
    return *instance;
}

void DiskFileSystem::list(const std::string& directory, const std::string& patterns,
                          bool want_directories, std::vector<std::string>& names) {
    list_names(directory, patterns, want_directories ? nullptr : &names,
               want_directories ? &names : nullptr);
}

void DiskFileSystem::list_both(const std::string& directory, const std::string& patterns,
                               Names& files, Names& directories) {
    list_names(directory, patterns, &files, &directories);
}

const std::string& DiskFileSystem::on_disk(const std::string& path, std::string& joined) const {
    if (root_.empty())
        return path;
    joined = concat(root_, path);
    return joined;
}

bool DiskFileSystem::look_up(const std::string& path, EntryInfo& info) {
    std::string joined;
    const std::string& full = on_disk(path, joined);
    // Only separators: nothing, as exists says. Other trailing ones the lookup ignores.
    if (full.find_first_not_of("/\\") == std::string::npos)
        return false;
    platform::PathInfo found;
    if (platform::look_up(full, found) != platform::LookupResult::found)
        return false;
    info.is_directory = found.is_directory;
    info.modification_time = found.last_write_time;
    return true;
}

bool DiskFileSystem::look_up_and_open(const std::string& path, EntryInfo& info, Archive& file) {
    std::string joined;
    const std::string& full = on_disk(path, joined);
    platform::FileStatus status;
    const platform::FileHandle handle =
        platform::open_file(full, platform::open_existing, platform::generic_read,
                            platform::share_read, false, &status);
    if (handle == platform::invalid_file)
        return look_up(path, info);
    std::shared_ptr<FileDataStore> store;
    try {
        store = std::make_shared<FileDataStore>(handle, full);
    } catch (...) {
        platform::close_file(handle);
        throw;
    }
    info.is_directory = false;
    info.modification_time = status.last_write_time;
    file = Archive(path, std::move(store), 0, static_cast<std::int64_t>(status.size), false);
    return true;
}

PathKind DiskFileSystem::look_up_link(const std::string& path) {
    std::string joined;
    const std::string& full = on_disk(path, joined);
    platform::PathInfo info;
    bool link = false;
    switch (platform::look_up_link(full, info, link)) {
        case platform::LookupResult::found:
            if (link)
                return PathKind::link;
            return info.is_directory ? PathKind::directory : PathKind::file;
        case platform::LookupResult::not_found:
            return PathKind::missing;
        case platform::LookupResult::failed:
            break;
    }
    throw DiskError("Cannot determine if path exists " + path, platform::last_error());
}

void DiskFileSystem::list_entries(const std::string& directory, std::string_view pattern,
                                  std::vector<DirectoryEntry>& entries) {
    std::string joined;
    if (platform::list_directory(on_disk(directory, joined), pattern, entries) ==
        platform::LookupResult::failed) {
        throw DiskError("Cannot list dir " + directory, platform::last_error());
    }
}

bool DiskFileSystem::remove_file(const std::string& path) {
    std::string joined;
    return platform::delete_file(on_disk(path, joined));
}

bool DiskFileSystem::remove_link(const std::string& path) {
    std::string joined;
    return platform::remove_link(on_disk(path, joined));
}

bool DiskFileSystem::remove_directory(const std::string& path) {
    std::string joined;
    return platform::remove_directory(on_disk(path, joined));
}

bool DiskFileSystem::identity(const std::string& path, FileIdentity& identity) {
    std::string joined;
    return platform::file_identity(on_disk(path, joined), identity);
}

NewFile DiskFileSystem::write_new(const std::string& path,
                                  const std::function<void(Archive&)>& write) {
    std::string joined;
    UnnamedFile file(on_disk(path, joined));
    if (!file.created())
        return NewFile::unsupported;
    write(file.archive());
    return file.link() ? NewFile::created : NewFile::taken;
}

std::shared_ptr<PendingFile> DiskFileSystem::write_pending(const std::string& path) {
    std::string joined;
    return std::make_shared<ReplacingFile>(on_disk(path, joined), ReplacingFile::Flush::lazy);
}

}  // namespace kam
