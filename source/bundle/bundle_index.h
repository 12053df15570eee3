// The in-memory directory of a bundle, shared by the writer and every reader, and its file layout.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "utility/archive.h"

namespace kam {

struct BundleEntry;

// Names in ascending unsigned byte order (std::string compares its chars as unsigned char), a
// name that is a prefix of another first; found by string_view too. Copies of a tree share their
// subdirectories.
using BundleEntryMap = std::map<std::string, BundleEntry, std::less<>>;

// One name in a directory: a subdirectory (directory set) or a file. A hidden entry (visible 0)
// records that the name does not exist; below a hidden directory everything is hidden.
struct BundleEntry {
    std::shared_ptr<BundleEntryMap> directory;
    std::uint8_t visible = 1;
    // Absolute in the bundle file when loaded; relative to the data area while building.
    std::uint64_t offset = 0;
    // 0 for a file whose content is not in the bundle (and for an empty file).
    std::uint32_t size = 0;

    bool is_directory() const { return directory != nullptr; }
    bool is_visible() const { return visible != 0; }
    // A visible file whose content is in the bundle.
    bool has_data() const { return visible != 0 && !directory && size > 0; }
};

struct BundleHeader {
    std::array<char, 4> magic = {'B', 'N', 'D', 'L'};
    std::uint32_t version = 2;
    // 16 + the size of the directory: where the directory ends.
    std::uint32_t directory_end = 0;
    std::uint32_t reserved = 0;
};

// A bundle's directory tree, loaded from a bundle file or built up by BundleBuilder. Once loaded,
// lookups may run on several threads at once; changes may not.
class BundleIndex {
public:
    static constexpr std::uint32_t header_size = 16;
    // Deepest directory nesting a bundle may have; deeper bundles are refused as corrupt, so no
    // walk of a tree can exhaust the stack.
    static constexpr int max_depth = 256;

    BundleIndex() = default;
    BundleIndex(const BundleIndex&) = delete;
    BundleIndex& operator=(const BundleIndex&) = delete;

    // Replaces the tree with the bundle the archive holds from its start and keeps the archive.
    // Versions 1 and 2 are read; a file shorter than the header, without the magic or of another
    // version throws std::runtime_error archive name + " is not a bundle". A directory cut short
    // throws the archive's bound error, or, inside a name, std::runtime_error "Corrupt bundle " +
    // archive name + ": name cut short at offset " + offset of the record. So do a name that is
    // empty, "." or ".." or holds '\', '/' or ':' ("bad name \"..\""), an unknown record type
    // ("unknown record type 7") and nesting deeper than max_depth ("directories nested deeper than
    // 256"). On any error the index keeps what it held. A name repeated in one directory keeps its
    // first record.
    void load(Archive archive);

    // The entry of a path (either separator, any case), or null. Below a hidden directory it is
    // the hidden directory's entry; through a file it is null. The pointer stays valid until the
    // tree changes. Repeating the last path (same spelling) answers from a cache.
    const BundleEntry* lookup(const std::string& path) const;

    // The entries of a directory: the root for an empty path, else those of a visible directory;
    // null when the path names no visible directory.
    const BundleEntryMap* directory(const std::string& path) const;

    const BundleEntryMap& root() const { return root_; }
    // For building: the tree may change, so the lookup cache is dropped.
    BundleEntryMap& mutable_root();

    const BundleHeader& header() const { return header_; }
    BundleHeader& header() { return header_; }
    // The archive the bundle was loaded from; without a store for a new index.
    const Archive& archive() const { return archive_; }

    // Writes the 16 header bytes.
    void write_header(Archive& out) const;
    // Writes the root directory in the version-2 encoding; a file's offset is written as
    // data_start + its offset.
    void write_directory(Archive& out, std::uint64_t data_start) const;

private:
    BundleHeader header_;
    BundleEntryMap root_;
    Archive archive_;
    // Guards the one-entry cache of lookup.
    mutable std::mutex cache_mutex_;
    mutable std::string cached_path_;
    mutable const BundleEntry* cached_entry_ = nullptr;
    mutable bool cached_ = false;
};

// Whether a bundle may hold the name: not empty, not "." or "..", and without '\', '/' or ':',
// so that no name read from a bundle can reach outside the directory it is extracted to.
bool is_valid_bundle_name(std::string_view name);

}  // namespace kam
