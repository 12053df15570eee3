// Extraction: walking the bundle's tree, writing files beside their destination, and deleting
// what hidden entries name without ever leaving the target.
#include "bundle/bundle_extractor.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <utility>

#include "bundle/bundle_builder.h"
#include "bundle/bundle_file_system.h"
#include "utility/encoding.h"
#include "utility/output_streams.h"
#include "utility/path.h"
#include "utility/platform/directories.h"
#include "utility/platform/error_text.h"
#include "utility/replacing_file.h"

namespace kam {

namespace {

enum class OnDisk { missing, file, directory, link };

// What a path is on disk, a symbolic link at its end not followed.
OnDisk on_disk(const std::string& path) {
    platform::PathInfo info;
    bool link = false;
    switch (platform::look_up_link(path, info, link)) {
        case platform::LookupResult::found:
            if (link) return OnDisk::link;
            return info.is_directory ? OnDisk::directory : OnDisk::file;
        case platform::LookupResult::not_found: return OnDisk::missing;
        case platform::LookupResult::failed: break;
    }
    throw DiskError("Cannot determine if path exists " + path, platform::last_error());
}

bool is_directory(const std::string& path) {
    platform::PathInfo info;
    return platform::look_up(path, info) == platform::LookupResult::found && info.is_directory;
}

// Removes a directory and everything below it. A symbolic link inside is removed as a link, so
// nothing outside the tree is touched. Failures are not reported: what cannot go stays.
void delete_tree(const std::string& root) {
    // (directory, listed): a directory is removed after everything listed in it.
    std::vector<std::pair<std::string, bool>> pending{{root, false}};
    std::vector<platform::DirectoryEntry> entries;
    while (!pending.empty()) {
        if (pending.back().second) {
            platform::remove_directory(pending.back().first);
            pending.pop_back();
            continue;
        }
        pending.back().second = true;
        const std::string directory = pending.back().first;
        entries.clear();
        platform::list_directory(directory, "*", entries);
        for (const auto& entry : entries) {
            const std::string path = join_path(directory, entry.name);
            platform::PathInfo info;
            bool link = false;
            if (platform::look_up_link(path, info, link) != platform::LookupResult::found) continue;
            if (link) {
                platform::remove_link(path);
            } else if (info.is_directory) {
                pending.emplace_back(path, false);
            } else {
                platform::delete_file(path);
            }
        }
    }
}

}  // namespace

BundleExtractor::BundleExtractor(const BundleIndex& index, Options options)
    : index_(index), options_(options) {}

void BundleExtractor::extract(const std::string& subpath, const std::string& target) {
    const std::string path = normalize_path(subpath, false, true);
    if (path.empty()) {
        copy_tree("\\", target, nullptr);
        return;
    }
    const size_t cut = path.find_last_of('\\');
    const std::string directory = path.substr(0, cut == std::string::npos ? 0 : cut + 1);
    const std::string last = path.substr(directory.size());
    const BundleEntry* entry = index_.lookup(path);
    if (entry != nullptr && entry->is_visible()) {
        if (entry->is_directory()) {
            copy_tree(path, target, nullptr);
        } else {
            // Exactly that name: a name holding '*' or '?' is no pattern for its siblings.
            copy_tree(directory, target, [&last](const std::string& name) { return name == last; });
        }
        return;
    }
    // Otherwise the last component may be a pattern for the names of its directory.
    const auto matches = [&last](const std::string& name) {
        return first_matching_pattern(last, name).has_value();
    };
    const BundleEntryMap* entries = index_.directory(directory);
    const bool any = entries != nullptr && last.find_first_of("*?") != std::string::npos &&
                     std::any_of(entries->begin(), entries->end(),
                                 [&](const auto& named) { return matches(named.first); });
    if (!any) throw std::runtime_error("Trovex subpath not found: " + subpath);
    copy_tree(directory, target, matches);
}

void BundleExtractor::copy_tree(const std::string& directory, const std::string& target,
                                const NameFilter& keep) {
    if (!target.empty() && !is_directory(target)) {
        // Nothing of this level is copied: the run did not do what it was asked.
        error_stream << "Directory '" << target << "' doesn't exist." << std::endl;
        return;
    }
    const BundleEntryMap* entries = index_.directory(directory);
    if (entries == nullptr) return;
    // Hidden directories are removals like hidden files; only visible ones are entered.
    std::vector<const std::pair<const std::string, BundleEntry>*> files, subdirectories;
    for (const auto& named : *entries) {
        if (keep && !keep(named.first)) continue;
        if (named.second.is_visible() && named.second.is_directory()) {
            if (options_.recursive) subdirectories.push_back(&named);
        } else {
            files.push_back(&named);
        }
    }
    for (const auto* named : files) {
        const std::string source = join_path(directory, named->first);
        const std::string destination = join_path(target, named->first);
        if (!is_valid_bundle_name(named->first)) {
            refuse(source, "the name \"" + named->first + "\" could reach outside the target");
        } else if (named->second.is_visible()) {
            log_verbose << "Copying file " << source << " to " << destination << std::endl;
            copy_file(source, destination);
        } else if (options_.allow_delete) {
            delete_entry(destination);
        }
    }
    for (const auto* named : subdirectories) {
        const std::string source = join_path(directory, named->first);
        const std::string destination = join_path(target, named->first);
        if (!is_valid_bundle_name(named->first)) {
            refuse(source, "the name \"" + named->first + "\" could reach outside the target");
            continue;
        }
        if (on_disk(destination) == OnDisk::link) {
            refuse(source, destination + " is a symbolic link");
            continue;
        }
        log_verbose << "Creating directory " << destination << std::endl;
        // An existing directory is fine; anything else in the way is reported by the next level.
        platform::create_directory(destination);
        copy_tree(source, destination, nullptr);
    }
}

void BundleExtractor::copy_file(const std::string& source, const std::string& destination) {
    const BundleEntry* entry = index_.lookup(source);
    if (entry == nullptr || !entry->is_visible() || entry->is_directory()) {
        std::cout << "Failed to copy '" << source << "' from bundle to '" << destination << "'\n";
        return;
    }
    // Bounds are checked before anything is created: an entry reaching past the bundle's end
    // throws here.
    Archive data;
    if (entry->has_data()) {
        data = Archive(index_.archive(), static_cast<std::int64_t>(entry->offset), entry->size,
                       false);
    }
    // Every file, new or not, is written as a temporary and renamed into place: a failed or
    // interrupted copy leaves no partial file, and nothing is written through a link or a hard
    // link into a file outside. A directory in the way fails at the rename with the system's own
    // error.
    const OnDisk there = on_disk(destination);
    if (there == OnDisk::link) {
        refuse(source, destination + " is a symbolic link");
        return;
    }
    // An entry without data stands for the file on disk (bundle lists every file its logs did not
    // name so): extracted over the content tree, it truncated them all.
    if (!entry->has_data() && there == OnDisk::file)
        return;
    // Not flushed: a whole tree of flushes would cost more than the extraction.
    ReplacingFile file(destination, ReplacingFile::Flush::lazy);
    write_file(data, entry->size, file);
    file.commit();
}

void BundleExtractor::write_file(Archive& data, std::uint32_t size, ReplacingFile& file) {
    Archive& out = file.archive();
    std::uint32_t done = 0;
    // From a bundle file the bytes go from file to file inside the system, copied once instead
    // of twice through the buffer; what the system could not copy is copied below. Extracting
    // 1 GiB in 50000 files in a tmpfs took about 10% less CPU than tar -xf with it, about as much
    // without.
    if (const auto* bundle = dynamic_cast<const FileDataStore*>(data.store());
        bundle != nullptr && size > 0) {
        platform::copy_between_files(bundle->handle(), data.base(), file.handle(), 0, size, done);
        data.set_position(done);
        out.set_position(done);
    }
    if (buffer_.empty() && done < size) buffer_.resize(BundleBuilder::copy_chunk);
    while (done < size) {
        const auto wanted =
            std::min<std::uint32_t>(size - done, static_cast<std::uint32_t>(buffer_.size()));
        const std::uint32_t got = data.checked_read(buffer_.data(), wanted);
        if (got == 0) {
            throw std::runtime_error("Bundle " + index_.archive().name() + " ended after " +
                                     std::to_string(done) + " of the " + std::to_string(size) +
                                     " bytes of " + out.name());
        }
        write_bytes(out, buffer_.data(), got);
        done += got;
    }
}

void BundleExtractor::delete_entry(const std::string& destination) {
    switch (on_disk(destination)) {
        case OnDisk::missing: return;
        case OnDisk::link:
            log_verbose << "Deleting file " << destination << std::endl;
            platform::remove_link(destination);
            return;
        case OnDisk::directory:
            log_verbose << "Deleting recursive directory " << destination << std::endl;
            delete_tree(destination);
            return;
        case OnDisk::file:
            log_verbose << "Deleting file " << destination << std::endl;
            platform::delete_file(destination);
            return;
    }
}

void BundleExtractor::refuse(const std::string& source, const std::string& why) {
    ++refused_;
    error_stream << "Not extracting " << source << ": " << why << std::endl;
}

}  // namespace kam
