// Serves the contents of one bundle file through the file-system interface, in front of an
// optional parent that holds the files the bundle lists without data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bundle/bundle_index.h"
#include "utility/file_system.h"

namespace kam {

// The place of the first of the ';'-separated patterns that matches the name
// (platform::matches_wildcard), or none: the pattern rules of bundle listings.
std::optional<size_t> first_matching_pattern(std::string_view patterns, std::string_view name);

// Files with data are read from the bundle; files listed without data from the parent; names the
// bundle marks hidden are absent, and a virtual file system asks nobody else about them. Never
// writes: make_dir and remove fail and writing modes give an archive without a store.
class BundleFileSystem : public FileSystem {
public:
    // The parent is not owned and may be null.
    explicit BundleFileSystem(FileSystem* parent = nullptr) : parent_(parent) {}

    // Loads the bundle's directory (BundleIndex::load, with its errors) and keeps the archive open
    // for reading files; the time answers modification_time.
    void load(Archive archive, std::uint64_t modification_time);

    // True for a visible entry, file or directory, with or without data; false for everything
    // while disabled or while the virtual file system's bundles are switched off.
    bool exists(const std::string& path) override;
    bool is_dir(const std::string& path) override;
    // The parent's answer when it has the path; for a file with data the bundle's full_path with
    // the file's offset and size in it; else the path with offset and size 0.
    std::string physical_path(const std::string& path, std::uint64_t& offset,
                              std::uint32_t& size) override;
    // The parent's answer when it has the path, else "bundle_" + path.
    std::string full_path(const std::string& path) override;
    // The parent's answer when it has the path, else the path.
    std::string source_path(const std::string& path) override;
    // A file with data: a bounded sub-archive of the bundle named with the path (std::range_error
    // "Attempt to grow archive " + bundle name + " beyond limits" when it reaches past the bundle's
    // end). Other files: the parent's open, or an archive without a store. Modes that write ('w',
    // 'a', '+') always give an archive without a store.
    Archive open(const std::string& path, const std::string& mode) override;
    bool make_dir(const std::string&) override { return false; }
    bool remove(const std::string&) override { return false; }
    // The visible entries of a visible directory (the root for an empty path) whose kind is asked
    // for and that match one of the ';'-separated patterns, ordered by the first pattern that
    // matches them, then by name.
    void list(const std::string& directory, const std::string& patterns, bool want_directories,
              std::vector<std::string>& names) override;
    // Any entry, visible or hidden, unless switched off (see exists and set_owns_nothing).
    bool owns(const std::string& path) override;
    // A hidden entry.
    bool hides(const std::string& path) override;
    bool is_read_only() override { return true; }
    // The bundle's time, for every path.
    std::uint64_t modification_time(const std::string&) override { return modification_time_; }

    // While disabled the bundle answers no existence question. Initially enabled.
    void set_enabled(bool enabled) { enabled_ = enabled; }
    bool enabled() const { return enabled_; }
    // While set, owns answers false. Initially clear.
    void set_owns_nothing(bool owns_nothing) { owns_nothing_ = owns_nothing; }
    bool owns_nothing() const { return owns_nothing_; }

    void set_mount_name(const std::string& name) { mount_name_ = name; }
    const std::string& mount_name() const { return mount_name_; }
    // The bundle file's own path, which physical_path reports for packed files.
    void set_bundle_path(const std::string& path) { bundle_path_ = path; }
    const std::string& bundle_path() const { return bundle_path_; }

    const BundleIndex& index() const { return index_; }
    FileSystem* parent() const { return parent_; }

private:
    // Whether existence questions are answered at all.
    bool answering() const;
    bool parent_has(const std::string& path) const {
        return parent_ != nullptr && parent_->exists(path);
    }

    std::string mount_name_;
    std::string bundle_path_;
    BundleIndex index_;
    std::uint64_t modification_time_ = 0;
    FileSystem* parent_;
    bool enabled_ = true;
    bool owns_nothing_ = false;
};

}  // namespace kam
