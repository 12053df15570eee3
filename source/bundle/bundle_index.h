// The in-memory directory of a bundle, shared by the writer and every reader, and its file layout.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "utility/archive.h"

namespace kam {

struct BundleEntry;

// A name in a bundle directory, compared as its bytes, unsigned. Up to 20 bytes, as most file
// names of a content tree are, are kept in place and longer ones in a heap block of their exact
// size: 24 bytes against std::string's 32 and its heap block for every name over 15 bytes, which
// a tree of 300 000 files pays once per file.
class BundleName {
public:
    BundleName() = default;
    explicit BundleName(std::string_view text) : size_(static_cast<std::uint32_t>(text.size())) {
        char* to = bytes_;
        if (size_ > local_capacity) {
            to = new char[size_];
            std::memcpy(bytes_, &to, sizeof to);
        }
        if (size_ != 0)
            std::memcpy(to, text.data(), size_);
    }
    // For literals, as map keys in tests and callers.
    BundleName(const char* text) : BundleName(std::string_view(text)) {}
    BundleName(const BundleName& other) : BundleName(other.view()) {}
    BundleName(BundleName&& other) noexcept : size_(other.size_) {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
        other.size_ = 0;
    }
    BundleName& operator=(BundleName other) noexcept {
        std::swap(bytes_, other.bytes_);
        std::swap(size_, other.size_);
        return *this;
    }
    ~BundleName() {
        if (size_ > local_capacity)
            delete[] heap();
    }

    const char* data() const { return size_ > local_capacity ? heap() : bytes_; }
    std::size_t size() const { return size_; }
    std::string_view view() const { return {data(), size_}; }
    operator std::string_view() const { return view(); }

    friend bool operator==(const BundleName& a, const BundleName& b) {
        return a.view() == b.view();
    }
    friend auto operator<=>(const BundleName& a, const BundleName& b) {
        return a.view() <=> b.view();
    }
    friend bool operator==(const BundleName& a, std::string_view b) { return a.view() == b; }
    friend auto operator<=>(const BundleName& a, std::string_view b) { return a.view() <=> b; }
    friend bool operator==(const BundleName& a, const char* b) { return a.view() == b; }
    friend auto operator<=>(const BundleName& a, const char* b) {
        return a.view() <=> std::string_view(b);
    }

private:
    static constexpr std::uint32_t local_capacity = 20;
    char* heap() const {
        char* pointer;
        std::memcpy(&pointer, bytes_, sizeof pointer);
        return pointer;
    }

    char bytes_[local_capacity] = {};
    std::uint32_t size_ = 0;
};

// Names in ascending unsigned byte order, a name that is a prefix of another first; found by
// string_view too.
using BundleEntryMap = std::map<BundleName, BundleEntry, std::less<>>;

// One name in a directory: a subdirectory (directory set) or a file. A hidden entry (visible 0)
// records that the name does not exist; below a hidden directory everything is hidden. 24 bytes:
// a tree keeps one per file.
struct BundleEntry {
    std::unique_ptr<BundleEntryMap> directory;
    // Absolute in the bundle file when loaded; relative to the data area while building.
    std::uint64_t offset = 0;
    // 0 for a file whose content is not in the bundle (and for an empty file).
    std::uint32_t size = 0;
    std::uint8_t visible = 1;
    // While building: the file has a job, so naming it again adds none. Never stored.
    std::uint8_t queued = 0;

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
    // The bytes of the header and the directory write_header and write_directory write.
    std::uint64_t directory_size() const;
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
