// The binary XML format: writing a finished tree and reading it back, distrusting every byte.
//
// Layout (integers u32 little-endian, strings zero-terminated, no padding):
//   "XML" 1                               header and version
//   N, N strings                          names, values and texts, in order of first use
//   node                                  the root element with its subtree
//   D, D strings                          the included files, sorted
// node: kind, then for 1 (element) name index, P, P × (name index, value index), C, C nodes;
// for 2 (text) text index; for 4 (define) name, K, K parameter names, M, M indexes, body,
// one byte expression flag, all inline; nothing more for other kinds.
#include "xml/xml_binary.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

#include "utility/encoding.h"
#include "utility/large_block.h"
#include "utility/path.h"
#include "xml/xml_document.h"

namespace kam {

namespace {

constexpr int max_depth = 1000;  // as for text: deeper trees exhaust the stack

// The distinct strings of one binary form, each with its index in order of first use.
// Content files hold millions of distinct values and look up equal ones from other addresses,
// so a lookup must touch little memory: each slot keeps the hash beside the place of its
// entry, and an entry keeps its index, its length and (unless long) its bytes together, where
// a table of views cost another cache miss for the view and one for the node's copy.
class StringTable {
public:
    // The index of text, which is added if new. Throws if the table outgrows the format.
    std::uint32_t index_of(std::string_view text, const std::string& path) {
        if ((size_t{count_} + 1) * 2 > slot_count_)
            grow();
        const auto hash = static_cast<std::uint32_t>(std::hash<std::string_view>()(text));
        const size_t mask = slot_count_ - 1;
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            Slot& entry = slots()[slot];
            if (entry.place == 0) {
                entry = {hash, add(text, path)};
                return count_++;
            }
            if (entry.hash != hash)
                continue;
            const char* at = entry_at(entry.place);
            if (text_of(at) == text)
                return load_u32(at);
        }
    }

    std::uint32_t size() const { return count_; }

    // Calls f with every string in index order.
    template <class F>
    void for_each(F f) const {
        for (const Block& block : blocks_) {
            for (size_t at = 0; at < block.used;) {
                const std::string_view text = text_of(block.bytes.get() + at);
                f(text);
                at += entry_size(text.size());
            }
        }
    }

private:
    // An entry: u32 index, u32 length, then the bytes, or a pointer to them past inline_limit;
    // padded to a multiple of 4 so that a slot's u32 reaches 16 GiB of entries.
    static constexpr size_t inline_limit = 128;
    // The first block is small enough for the heap to reuse file after file; a large table
    // goes on in large blocks.
    static constexpr size_t first_block_size = size_t{1} << 20;
    static constexpr size_t block_size = large_block_size;
    static constexpr size_t alignment = 4;

    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t place = 0;  // entry position / alignment + 1; 0 is free
    };
    struct Block {
        LargeBlock bytes;
        size_t used = 0;
    };

    static size_t entry_size(size_t length) {
        const size_t stored = length > inline_limit ? sizeof(const char*) : length;
        return (8 + stored + alignment - 1) / alignment * alignment;
    }
    static std::uint32_t load_u32(const char* at) {
        std::uint32_t value;
        std::memcpy(&value, at, 4);
        return value;
    }
    static std::string_view text_of(const char* at) {
        const std::uint32_t length = load_u32(at + 4);
        if (length <= inline_limit)
            return {at + 8, length};
        const char* bytes;
        std::memcpy(&bytes, at + 8, sizeof bytes);
        return {bytes, length};
    }
    const char* entry_at(std::uint32_t place) const {
        const size_t position = size_t{place - 1} * alignment;
        if (position < first_block_size)
            return blocks_[0].bytes.get() + position;
        const size_t later = position - first_block_size;
        return blocks_[1 + later / block_size].bytes.get() + later % block_size;
    }
    static size_t block_start(size_t block) {
        return block == 0 ? 0 : first_block_size + (block - 1) * block_size;
    }
    static size_t capacity(size_t block) { return block == 0 ? first_block_size : block_size; }
    Slot* slots() const { return reinterpret_cast<Slot*>(slots_memory_.get()); }

    std::uint32_t add(std::string_view text, const std::string& path) {
        const size_t size = entry_size(text.size());
        if (blocks_.empty() || capacity(blocks_.size() - 1) - blocks_.back().used < size)
            blocks_.push_back({new_large_block(capacity(blocks_.size())), 0});
        Block& block = blocks_.back();
        const size_t position = block_start(blocks_.size() - 1) + block.used;
        if (position / alignment + 1 > std::numeric_limits<std::uint32_t>::max() ||
            text.size() > std::numeric_limits<std::uint32_t>::max())
            throw std::runtime_error("Binary XML of " + path + " is too large");
        char* at = block.bytes.get() + block.used;
        const auto length = static_cast<std::uint32_t>(text.size());
        std::memcpy(at, &count_, 4);
        std::memcpy(at + 4, &length, 4);
        if (text.size() > inline_limit) {
            const char* bytes = text.data();
            std::memcpy(at + 8, &bytes, sizeof bytes);
        } else if (!text.empty()) {
            std::memcpy(at + 8, text.data(), text.size());
        }
        block.used += size;
        return static_cast<std::uint32_t>(position / alignment + 1);
    }

    void grow() {
        const size_t count = slot_count_ == 0 ? 1024 : slot_count_ * 2;
        LargeBlock memory = new_large_block(count * sizeof(Slot));
        auto* const grown = reinterpret_cast<Slot*>(memory.get());
        std::uninitialized_fill_n(grown, count, Slot{});
        const size_t mask = count - 1;
        for (size_t i = 0; i < slot_count_; ++i) {
            const Slot& entry = slots()[i];
            if (entry.place == 0)
                continue;
            size_t slot = entry.hash & mask;
            while (grown[slot].place != 0)
                slot = (slot + 1) & mask;
            grown[slot] = entry;
        }
        slots_memory_ = std::move(memory);
        slot_count_ = count;
    }

    // Lookups land anywhere in millions of slots: huge pages spare TLB misses too.
    LargeBlock slots_memory_;
    size_t slot_count_ = 0;
    std::vector<Block> blocks_;
    std::uint32_t count_ = 0;
};

// Writes through a buffer of its own rather than building the whole form in memory: the
// archive is a temporary that only takes the file's place once complete, and a form held
// whole doubled the peak memory of a large file.
class BinaryWriter {
public:
    BinaryWriter(Archive& archive, const std::string& path) : archive_(archive), path_(path) {}

    // Builds the table. Names and the values the cache by address knows are found again as
    // cheaply; the indexes of the other values and of texts are kept for write_node in order.
    void collect(const XMLNode& root) {
        collect_node(root);
        // write_node takes the cache through the same states from the start.
        std::fill(by_address_.begin(), by_address_.end(), Known{});
    }

    void write_table() {
        put_u32(table_.size());
        table_.for_each([this](std::string_view text) { put_string(text); });
    }

    void write_node(const XMLNode& node) {
        put_u32(node.kind());
        if (node.kind() == NODE_ELEMENT) {
            put_u32(name_indexes_[static_cast<size_t>(node.name_id())]);
            put_u32(static_cast<std::uint32_t>(node.parameters().size()));
            // The cache by address goes through the same states as in collect, so it knows the
            // same values again.
            for (const auto& [name, value] : node.parameters()) {
                put_u32(name_indexes_[static_cast<size_t>(name)]);
                Known& known = known_at(value);
                if (!is_known(known, value))
                    known = {value.data(), value.size(), next_index()};
                put_u32(known.index);
            }
            put_u32(static_cast<std::uint32_t>(node.num_children()));
            for (int i = 0; i < node.num_children(); ++i)
                write_node(*node.child(i));
        } else if (node.kind() == NODE_TEXT) {
            put_u32(next_index());
        } else if (node.kind() == NODE_DEFINE) {
            const XMLDefine& define = node.define();
            put_string(define.name);
            put_u32(static_cast<std::uint32_t>(define.parameter_names.size()));
            for (const std::string& name : define.parameter_names)
                put_string(name);
            put_u32(static_cast<std::uint32_t>(define.substitution_order.size()));
            for (std::int32_t index : define.substitution_order)
                put_u32(static_cast<std::uint32_t>(index));
            put_string(define.body);
            put_u8(define.expression ? 1 : 0);
        }
    }

    void write_dependencies(const std::set<std::string>& paths) {
        put_u32(static_cast<std::uint32_t>(paths.size()));
        for (const std::string& path : paths)
            put_string(path);
    }

    void put_bytes(const char* bytes, size_t count) {
        if (count == 0)
            return;  // an empty value may have no bytes at all to point at
        if (count > buffer_size - used_) {
            flush();
            if (count > buffer_size) {
                send(bytes, count);
                return;
            }
        }
        std::memcpy(buffer_.get() + used_, bytes, count);
        used_ += count;
    }

    void flush() {
        send(buffer_.get(), used_);
        used_ = 0;
    }

private:
    static constexpr size_t buffer_size = 64 * 1024;

    std::uint32_t next_index() {
        const std::uint32_t index = indexes_.front();
        indexes_.pop_front();
        return index;
    }

    void put_u32(std::uint32_t value) {
        const char bytes[] = {static_cast<char>(value), static_cast<char>(value >> 8),
                              static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
        put_bytes(bytes, 4);
    }
    void put_u8(std::uint8_t value) {
        const char byte = static_cast<char>(value);
        put_bytes(&byte, 1);
    }
    // The bytes and a terminating zero.
    void put_string(std::string_view text) {
        put_bytes(text.data(), text.size());
        put_u8(0);
    }
    void send(const char* bytes, size_t count) {
        if (count == 0)
            return;
        written_ += count;
        if (written_ > std::numeric_limits<std::uint32_t>::max())
            throw std::runtime_error("Binary XML of " + path_ + " is too large");
        write_bytes(archive_, bytes, static_cast<std::uint32_t>(count));
    }

    // Ids are handed out densely from 0, so a vector maps them; names repeat on every node.
    std::uint32_t name_index(IdString name) {
        const auto id = static_cast<size_t>(name);
        if (id >= name_indexes_.size())
            name_indexes_.resize(id + 1, no_index);
        if (name_indexes_[id] == no_index)
            name_indexes_[id] = string_index(string_of(name));
        return name_indexes_[id];
    }

    struct Known {
        const char* data = nullptr;
        size_t size = 0;
        std::uint32_t index = 0;
    };

    void collect_node(const XMLNode& node) {
        if (node.kind() == NODE_ELEMENT) {
            name_index(node.name_id());
            for (const auto& [name, value] : node.parameters()) {
                name_index(name);
                Known& known = known_at(value);
                if (!is_known(known, value)) {
                    known = {value.data(), value.size(), string_index(value)};
                    indexes_.push_back(known.index);
                }
            }
            for (int i = 0; i < node.num_children(); ++i)
                collect_node(*node.child(i));
        } else if (node.kind() == NODE_TEXT) {
            indexes_.push_back(string_index(node.text()));
        }
    }

    // The parser stores a repeated value once, so repeats come back at one address: a small
    // cache by address spares them hashing their bytes and the misses of the large table.
    Known& known_at(std::string_view text) {
        const auto address =
            static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(text.data()));
        return by_address_[(address * 0x9E3779B97F4A7C15u) >> 52];
    }
    static bool is_known(const Known& known, std::string_view text) {
        return known.data == text.data() && known.size == text.size() && !text.empty();
    }

    std::uint32_t string_index(std::string_view text) { return table_.index_of(text, path_); }

    Archive& archive_;
    const std::string& path_;
    std::unique_ptr<char[]> buffer_ = std::make_unique_for_overwrite<char[]>(buffer_size);
    size_t used_ = 0;
    std::uint64_t written_ = 0;
    StringTable table_;
    std::vector<Known> by_address_ = std::vector<Known>(4096);
    static constexpr std::uint32_t no_index = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> name_indexes_;
    // A deque: a vector of millions of indexes held twice its size while it grew.
    std::deque<std::uint32_t> indexes_;
};

}  // namespace

// Decodes the file through a small window that stays in cache, refilled as it is used up,
// rather than through a copy of the whole file. Every count is weighed against the bytes left
// in the file before anything is made for it. The strings of the table are copied into the
// store, a window's worth at a time, and the nodes point at them there.
class XMLBinaryReader {
public:
    XMLBinaryReader(Archive& archive, XMLNodeStore& store, IdString file)
        : archive_(archive),
          size_(static_cast<std::uint64_t>(archive.size())),
          store_(store),
          file_(file) {
        archive_.set_position(0);
        need(4);
        at_ += 4;  // the header, tested by the caller
    }

    void read_table() {
        const std::uint32_t count = count_of(1);
        table_ = std::make_unique_for_overwrite<Entry[]>(count);
        table_size_ = count;
        for (std::uint32_t i = 0; i < count;) {
            const char* const start = at_;
            const std::uint32_t first = i;
            for (; i < count; ++i) {
                const auto* zero =
                    static_cast<const char*>(std::memchr(at_, 0, static_cast<size_t>(end_ - at_)));
                if (zero == nullptr)
                    break;
                table_[i] = {at_, static_cast<std::uint32_t>(zero - at_), -1};
                at_ = zero + 1;
            }
            if (i == first) {
                need(static_cast<size_t>(end_ - at_) + 1);  // a string longer than the window
                continue;
            }
            char* const copy = store_.allocate<char>(static_cast<size_t>(at_ - start));
            std::memcpy(copy, start, static_cast<size_t>(at_ - start));
            for (std::uint32_t j = first; j < i; ++j)
                table_[j].text = copy + (table_[j].text - start);
        }
    }

    void read_node(XMLNode& node, int depth) {
        if (depth > max_depth)
            corrupt();
        node.set_file(file_);
        const std::uint32_t kind = u32();
        // An unknown kind would pass on into every file that includes this one.
        if (kind != NODE_NONE && kind != NODE_ELEMENT && kind != NODE_TEXT && kind != NODE_DEFINE)
            corrupt();
        node.set_kind(kind);
        if (kind == NODE_TEXT) {
            const Entry& entry = table_entry(u32());
            node.adopt_text({entry.text, entry.size});
        } else if (kind == NODE_ELEMENT) {
            node.set_name(name_id(u32()));
            const std::uint32_t parameters = count_of(8);
            if (parameters > 0) {
                auto* list = store_.allocate<XMLNode::Parameter>(parameters);
                for (std::uint32_t i = 0; i < parameters; ++i) {
                    need(8);
                    const IdString name = name_id(raw_u32());
                    const Entry& value = table_entry(raw_u32());
                    new (&list[i])
                        XMLNode::Parameter(name, std::string_view(value.text, value.size));
                }
                node.adopt_parameters(list, parameters);
            }
            const std::uint32_t count = count_of(4);
            if (count > 0) {
                XMLNode** children = store_.allocate<XMLNode*>(count);
                XMLNode::make_nodes(children, count, store_);
                node.adopt_children(children, count);
                for (std::uint32_t i = 0; i < count; ++i)
                    read_node(*children[i], depth + 1);
            }
        } else if (kind == NODE_DEFINE) {
            node.set_name(ids::xdefine);
            XMLDefine define;
            define.name = string();
            // Lookups take the name for "@" and the identifier after it.
            if (define.name.empty() || define.name[0] != '@')
                corrupt();
            const std::uint32_t parameters = count_of(1);
            for (std::uint32_t i = 0; i < parameters; ++i)
                define.parameter_names.emplace_back(string());
            const std::uint32_t order = count_of(4);
            for (std::uint32_t i = 0; i < order; ++i) {
                const std::uint32_t index = u32();
                // Applying the define indexes the parameters with these.
                if (index >= parameters)
                    corrupt();
                define.substitution_order.push_back(static_cast<std::int32_t>(index));
            }
            define.body = string();
            need(1);
            define.expression = *at_++ != 0;
            node.set_define(define);
        }
    }

    std::vector<std::string> read_dependencies() {
        const std::uint32_t count = count_of(1);
        std::vector<std::string> paths;
        paths.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i)
            paths.emplace_back(string());
        return paths;
    }

private:
    static constexpr size_t initial_window = 64 * 1024;

    struct Entry {
        const char* text;
        std::uint32_t size;
        IdString id;  // interned when a name first refers to the entry
    };

    std::uint64_t position() const {
        return window_start_ + static_cast<std::uint64_t>(at_ - window_.get());
    }
    std::uint64_t left() const { return size_ - position(); }

    [[noreturn]] void corrupt() const {
        throw std::runtime_error("Binary XML " + archive_.name() + " is corrupt at byte " +
                                 std::to_string(position()));
    }

    // Makes count bytes readable at at_, or fails when the file holds fewer.
    void need(size_t count) {
        if (static_cast<size_t>(end_ - at_) < count)
            refill(count);
    }
    [[gnu::noinline]] void refill(size_t count) {
        if (count > left())
            corrupt();
        const std::uint64_t start = position();
        const size_t kept = static_cast<size_t>(end_ - at_);
        if (count > window_size_) {
            const size_t size = std::max(count, window_size_ * 2);
            auto grown = std::make_unique_for_overwrite<char[]>(size);
            std::memcpy(grown.get(), at_, kept);
            window_ = std::move(grown);
            window_size_ = size;
        } else if (kept > 0) {
            std::memmove(window_.get(), at_, kept);
        }
        const auto more = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(window_size_ - kept, size_ - start - kept));
        read_bytes(archive_, window_.get() + kept, more);
        window_start_ = start;
        at_ = window_.get();
        end_ = at_ + kept + more;
    }

    std::uint32_t raw_u32() {
        std::uint32_t value;
        std::memcpy(&value, at_, 4);
        at_ += 4;
        return value;
    }
    std::uint32_t u32() {
        need(4);
        return raw_u32();
    }
    // A count of items that take at least item_size bytes each.
    std::uint32_t count_of(size_t item_size) {
        const std::uint32_t count = u32();
        if (count > left() / item_size)
            corrupt();
        return count;
    }
    // Valid until the window moves on.
    std::string_view string() {
        for (;;) {
            const size_t available = static_cast<size_t>(end_ - at_);
            const auto* zero = static_cast<const char*>(std::memchr(at_, 0, available));
            if (zero != nullptr) {
                const std::string_view text(at_, static_cast<size_t>(zero - at_));
                at_ = zero + 1;
                return text;
            }
            need(available + 1);
        }
    }
    Entry& table_entry(std::uint32_t index) {
        if (index >= table_size_)
            corrupt();
        return table_[index];
    }
    IdString name_id(std::uint32_t index) {
        Entry& entry = table_entry(index);
        if (entry.id < 0)
            entry.id = intern(std::string_view(entry.text, entry.size));
        return entry.id;
    }

    Archive& archive_;
    const std::uint64_t size_;
    XMLNodeStore& store_;
    IdString file_;
    std::unique_ptr<char[]> window_ = std::make_unique_for_overwrite<char[]>(initial_window);
    size_t window_size_ = initial_window;
    std::uint64_t window_start_ = 0;  // the file offset of the window's first byte
    const char* at_ = window_.get();
    const char* end_ = window_.get();
    std::unique_ptr<Entry[]> table_;
    std::uint32_t table_size_ = 0;
};

int binary_xml_version(Archive& archive) {
    archive.set_position(0);
    if (archive.size() < 4)
        return 0;
    unsigned char header[4];
    const std::uint32_t got = archive.checked_read(header, 4);
    archive.set_position(0);
    if (got < 4)
        return 0;
    if (header[0] != 'X' || header[1] != 'M' || header[2] != 'L')
        return -1;
    return static_cast<signed char>(header[3]);
}

std::string binary_xml_path(std::string_view source_path) {
    // Any other name has no binary form: cutting four characters off it reached into the
    // directory ("d\abc" gave "d.xmb", read back as the include's content) or gave the source
    // itself ("a.xmb", overwritten).
    const std::size_t size = source_path.size();
    if (size < 5 || source_path[size - 4] != '.' || is_path_separator(source_path[size - 5]))
        return {};
    const std::string_view extension = source_path.substr(size - 3);
    if (std::any_of(extension.begin(), extension.end(), is_path_separator) ||
        fold_case(std::string(extension)) == "xmb") {
        return {};
    }
    return std::string(source_path.substr(0, size - 4)) + ".xmb";
}

void XMLDocument::write_binary(Archive& archive) const {
    BinaryWriter writer(archive, path_);
    writer.put_bytes("XML\1", 4);
    writer.collect(root_);
    writer.write_table();
    writer.write_node(root_);
    writer.write_dependencies(dependencies);
    writer.flush();
}

bool XMLDocument::read_binary(Archive& archive) {
    try {
        if (archive.size() < 4 || archive.size() > std::numeric_limits<std::uint32_t>::max()) {
            throw std::runtime_error("Binary XML " + archive.name() + " has a wrong size");
        }
        const std::unique_ptr<XMLNodeStore, void (*)(XMLNodeStore*)> store(
            XMLNodeStore::create(), [](XMLNodeStore* store) { store->release(); });
        XMLBinaryReader reader(archive, *store, intern(path_));
        reader.read_table();
        XMLNode root(store.get());
        reader.read_node(root, 1);
        const std::vector<std::string> paths = reader.read_dependencies();
        root_ = std::move(root);
        dependencies.insert(paths.begin(), paths.end());
        return true;
    } catch (const std::runtime_error& error) {
        if (!xml_catch_parse_errors)
            throw;
        failure = error.what();
        root_.clear();
        return false;
    }
}

}  // namespace kam
