// The bundle directory: reading both record versions, lookup, and writing version 2.
//
// Layout (little-endian, no padding, strings are bytes plus one zero byte):
//   header, 16 bytes: "BNDL", version u32 (2 written; 1 and 2 read), directory end u32
//     (16 + directory size), reserved u32 (0). Readers check the magic and the version only.
//   directory from offset 16: the root's records, each directory's records in name order,
//   every directory closed by its own end record.
//     version 2: type u8 = 1 directory: visible u8, name; its records follow
//                          2 file: data offset u64 (absolute), size u32, visible u8, name
//                          3 end of the current directory
//     version 1: marker i32 = -1 directory: visible u8, name; its records follow
//                             -2 end of the current directory
//                             else file: the marker is the data offset (u32); size u32,
//                                  visible u8, name
//   data area from the directory end rounded up to 4; each file at its offset, 4-aligned; the
//   gaps are never written.
#include "bundle/bundle_index.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <vector>

#include "utility/encoding.h"
#include "utility/path.h"

namespace kam {

namespace {

enum RecordType : std::uint8_t { directory_record = 1, file_record = 2, end_record = 3 };
constexpr std::int32_t v1_directory_marker = -1;
constexpr std::int32_t v1_end_marker = -2;

// A name as it can be shown in a message: control bytes escaped.
std::string printable(std::string_view name) {
    static const char digits[] = "0123456789abcdef";
    std::string result;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            result += "\\x";
            result += digits[byte >> 4];
            result += digits[byte & 15];
        } else {
            result += c;
        }
    }
    return result;
}

// Serves the small reads of a directory (a byte, a u64, 512 bytes of a name) from a window of the
// store, refilled as the reader moves on: read field by field straight from a file, a directory of
// 50000 files cost a quarter of a million system calls. Errors and short reads stay the store's.
class WindowedReader : public DataStore {
public:
    static constexpr std::uint32_t window_size = 1u << 16;

    explicit WindowedReader(DataStore& store) : store_(store) {}

    std::uint32_t write(std::uint64_t, const void*, std::uint32_t) override {
        throw ErrorWithCStack("Cant write to a bundle directory being read");
    }

    std::uint32_t read(std::uint64_t offset, void* buffer, std::uint32_t count) override {
        const bool inside = valid_ && offset >= start_ && offset <= start_ + filled_;
        // When the window ends where the store does, a refill would bring nothing more.
        const bool enough = inside && (offset + count <= start_ + filled_ || filled_ < window_size);
        if (!enough) {
            if (count >= window_size)
                return store_.read(offset, buffer, count);
            valid_ = false;  // until the read below returns
            window_.resize(window_size);
            filled_ = store_.read(offset, window_.data(), window_size);
            start_ = offset;
            valid_ = true;
        }
        const std::uint64_t from = offset - start_;
        const auto got = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, filled_ - from));
        std::memcpy(buffer, window_.data() + from, got);
        return got;
    }

private:
    DataStore& store_;
    std::vector<char> window_;
    std::uint64_t start_ = 0;
    std::uint32_t filled_ = 0;
    bool valid_ = false;
};

// Reads the records of one bundle into a tree. Iterative, so that nesting costs heap, not stack.
class DirectoryReader {
public:
    explicit DirectoryReader(Archive& in) : in_(in) {}

    BundleEntryMap read(std::uint32_t version) {
        BundleEntryMap root;
        open_.push_back(&root);
        while (!open_.empty()) {
            record_start_ = in_.position();
            if (version == 2) {
                read_v2_record();
            } else {
                read_v1_record();
            }
        }
        return root;
    }

private:
    void read_v2_record() {
        const std::uint8_t type = read_u8(in_);
        switch (type) {
            case directory_record: {
                const std::uint8_t visible = read_u8(in_);
                add_directory(read_name(), visible);
                break;
            }
            case file_record: {
                BundleEntry file;
                file.offset = read_u64(in_);
                file.size = read_u32(in_);
                file.visible = read_u8(in_);
                add_file(read_name(), std::move(file));
                break;
            }
            case end_record:
                open_.pop_back();
                break;
            default:
                corrupt("unknown record type " + std::to_string(type));
        }
    }

    void read_v1_record() {
        const std::int32_t marker = read_i32(in_);
        if (marker == v1_end_marker) {
            open_.pop_back();
        } else if (marker == v1_directory_marker) {
            const std::uint8_t visible = read_u8(in_);
            add_directory(read_name(), visible);
        } else {
            BundleEntry file;
            file.offset = static_cast<std::uint32_t>(marker);
            file.size = read_u32(in_);
            file.visible = read_u8(in_);
            add_file(read_name(), std::move(file));
        }
    }

    std::string read_name() {
        // A name that fills everything left found no zero byte before the bundle's end.
        const std::int64_t left = in_.remaining();
        std::string name = read_string(in_);
        if (static_cast<std::int64_t>(name.size()) == left)
            corrupt("name cut short");
        if (!is_valid_bundle_name(name))
            corrupt("bad name \"" + printable(name) + "\"");
        return name;
    }

    void add_directory(std::string name, std::uint8_t visible) {
        if (open_.size() > BundleIndex::max_depth) {
            corrupt("directories nested deeper than " + std::to_string(BundleIndex::max_depth));
        }
        // A repeated name keeps its first record; the repeat's records are still read, into a
        // directory that nobody keeps.
        auto [named, added] = open_.back()->try_emplace(BundleName(name));
        if (!added) {
            open_.push_back(&discarded_.emplace_back());
            return;
        }
        BundleEntry& entry = named->second;
        entry.directory = std::make_unique<BundleEntryMap>();
        entry.visible = visible;
        open_.push_back(entry.directory.get());
    }

    void add_file(std::string_view name, BundleEntry file) {
        open_.back()->try_emplace(BundleName(name), std::move(file));
    }

    [[noreturn]] void corrupt(const std::string& what) const {
        throw std::runtime_error("Corrupt bundle " + in_.name() + ": " + what + " at offset " +
                                 std::to_string(record_start_));
    }

    Archive& in_;
    std::vector<BundleEntryMap*> open_;
    // The directories of repeated names, read and dropped with the reader.
    std::deque<BundleEntryMap> discarded_;
    std::int64_t record_start_ = 0;
};

template <typename T>
void append_value(std::string& out, T value) {
    value = encoding_detail::byte_swapped(value);
    out.append(reinterpret_cast<const char*>(&value), sizeof(T));
}

// Gathered in a buffer written whenever it fills: a write per field was a call through the
// store each, and the whole directory at once would be as large as the names of every file.
// Without an archive the records are only counted, so the size comes from the same encoding.
class RecordWriter {
public:
    explicit RecordWriter(Archive* out) : out_(out) { buffer_.reserve(capacity); }

    void write(const BundleEntryMap& directory, std::uint64_t data_start) {
        for (const auto& [name, entry] : directory) {
            if (entry.directory) {
                append_value<std::uint8_t>(buffer_, directory_record);
                append_value<std::uint8_t>(buffer_, entry.visible);
                buffer_.append(name).push_back('\0');
                write(*entry.directory, data_start);
            } else {
                append_value<std::uint8_t>(buffer_, file_record);
                append_value<std::uint64_t>(buffer_, data_start + entry.offset);
                append_value<std::uint32_t>(buffer_, entry.size);
                append_value<std::uint8_t>(buffer_, entry.visible);
                buffer_.append(name).push_back('\0');
            }
            if (buffer_.size() >= capacity)
                flush();
        }
        append_value<std::uint8_t>(buffer_, end_record);
    }
    void flush() {
        if (out_ != nullptr)
            write_bytes(*out_, buffer_.data(), static_cast<std::uint32_t>(buffer_.size()));
        written_ += buffer_.size();
        buffer_.clear();
    }
    std::uint64_t written() const { return written_; }

private:
    static constexpr size_t capacity = 64 * 1024;
    Archive* out_;
    std::string buffer_;
    std::uint64_t written_ = 0;
};

}  // namespace

bool is_valid_bundle_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           std::none_of(name.begin(), name.end(),
                        [](char c) { return c == '\\' || c == '/' || c == ':'; });
}

void BundleIndex::load(Archive archive) {
    // Everything is read before anything is replaced: a corrupt bundle leaves the index as it was.
    // The directory is read through a window over the same store, under the same name and bounds,
    // so that its errors are the archive's own.
    Archive in = archive;
    if (archive.has_store()) {
        in = Archive(archive.name(), std::make_shared<WindowedReader>(*archive.store()),
                     archive.base(), archive.size(), archive.growable());
    }
    // Any other file read as a bundle lists as empty, and a patch made against it removes
    // everything: every bundle starts with the magic, so nothing else is taken for one.
    const BundleHeader expected;
    BundleHeader header;
    if (in.size() >= header_size) {
        in.set_position(0);
        read_bytes(in, header.magic.data(), static_cast<std::uint32_t>(header.magic.size()));
        header.version = read_u32(in);
        header.directory_end = read_u32(in);
        header.reserved = read_u32(in);
    }
    if (in.size() < header_size || header.magic != expected.magic ||
        (header.version != 1 && header.version != 2)) {
        throw std::runtime_error(archive.name() + " is not a bundle");
    }
    BundleEntryMap root = DirectoryReader(in).read(header.version);

    header_ = header;
    root_ = std::move(root);
    archive_ = std::move(archive);
    cached_ = false;
}

const BundleEntry* BundleIndex::lookup(const std::string& path) const {
    {
        std::lock_guard<std::mutex> lock(cache_mutex_);
        if (cached_ && path == cached_path_)
            return cached_entry_;
    }
    const std::string normal = normalize_path(path, false, false);
    const BundleEntryMap* current = &root_;
    const BundleEntry* result = nullptr;
    for (size_t start = 0;;) {
        const size_t end = std::min(normal.find('\\', start), normal.size());
        const auto found = current->find(std::string_view(normal).substr(start, end - start));
        if (found == current->end())
            break;
        const BundleEntry& entry = found->second;
        // The last component, or a hidden directory that hides everything below it.
        if (end == normal.size() || !entry.is_visible()) {
            result = &entry;
            break;
        }
        if (!entry.directory)
            break;
        current = entry.directory.get();
        start = end + 1;
    }
    std::lock_guard<std::mutex> lock(cache_mutex_);
    cached_path_ = path;
    cached_entry_ = result;
    cached_ = true;
    return result;
}

const BundleEntryMap* BundleIndex::directory(const std::string& path) const {
    if (normalize_path(path, false, false).empty())
        return &root_;
    const BundleEntry* entry = lookup(path);
    return entry != nullptr && entry->is_visible() ? entry->directory.get() : nullptr;
}

BundleEntryMap& BundleIndex::mutable_root() {
    std::lock_guard<std::mutex> lock(cache_mutex_);
    cached_ = false;
    return root_;
}

void BundleIndex::write_header(Archive& out) const {
    write_bytes(out, header_.magic.data(), static_cast<std::uint32_t>(header_.magic.size()));
    write_u32(out, header_.version);
    write_u32(out, header_.directory_end);
    write_u32(out, header_.reserved);
}

std::uint64_t BundleIndex::directory_size() const {
    RecordWriter counter(nullptr);
    counter.write(root_, 0);
    counter.flush();
    return header_size + counter.written();
}

void BundleIndex::write_directory(Archive& out, std::uint64_t data_start) const {
    RecordWriter writer(&out);
    writer.write(root_, data_start);
    writer.flush();
}

}  // namespace kam
