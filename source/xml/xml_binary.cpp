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

#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <unordered_map>

#include "utility/encoding.h"
#include "xml/xml_document.h"

namespace kam {

namespace {

constexpr int max_depth = 1000;  // as for text: deeper trees exhaust the stack

// A growable store over a string, so that a file is written in one piece or not at all.
class StringDataStore : public DataStore {
public:
    std::uint32_t write(std::uint64_t offset, const void* data, std::uint32_t count) override {
        if (bytes.size() < offset + count)
            bytes.resize(offset + count);
        std::memcpy(bytes.data() + offset, data, count);
        return count;
    }
    std::uint32_t read(std::uint64_t offset, void* buffer, std::uint32_t count) override {
        if (offset >= bytes.size())
            return 0;
        const auto available =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(count, bytes.size() - offset));
        std::memcpy(buffer, bytes.data() + offset, available);
        return available;
    }
    std::string bytes;
};

class BinaryWriter {
public:
    explicit BinaryWriter(Archive& archive) : archive_(archive) {}

    // Builds the table; the indexes are kept in the order write_node asks for them again.
    void collect(const XMLNode& node) {
        if (node.kind() == NODE_ELEMENT) {
            indexes_.push_back(name_index(node.name_id()));
            for (const auto& [name, value] : node.parameters()) {
                indexes_.push_back(name_index(name));
                indexes_.push_back(string_index(value));
            }
            for (int i = 0; i < node.num_children(); ++i)
                collect(*node.child(i));
        } else if (node.kind() == NODE_TEXT) {
            indexes_.push_back(string_index(node.text()));
        }
    }

    void write_table() {
        write_u32(archive_, static_cast<std::uint32_t>(table_.size()));
        for (std::string_view text : table_)
            write_string(archive_, text);
    }

    void write_node(const XMLNode& node) {
        write_u32(archive_, node.kind());
        if (node.kind() == NODE_ELEMENT) {
            write_u32(archive_, next_index());
            write_u32(archive_, static_cast<std::uint32_t>(node.parameters().size()));
            for (size_t i = 0; i < node.parameters().size(); ++i) {
                write_u32(archive_, next_index());
                write_u32(archive_, next_index());
            }
            write_u32(archive_, static_cast<std::uint32_t>(node.num_children()));
            for (int i = 0; i < node.num_children(); ++i)
                write_node(*node.child(i));
        } else if (node.kind() == NODE_TEXT) {
            write_u32(archive_, next_index());
        } else if (node.kind() == NODE_DEFINE) {
            const XMLDefine& define = node.define();
            write_string(archive_, define.name);
            write_u32(archive_, static_cast<std::uint32_t>(define.parameter_names.size()));
            for (const std::string& name : define.parameter_names)
                write_string(archive_, name);
            write_u32(archive_, static_cast<std::uint32_t>(define.substitution_order.size()));
            for (std::int32_t index : define.substitution_order)
                write_u32(archive_, static_cast<std::uint32_t>(index));
            write_string(archive_, define.body);
            write_u8(archive_, define.expression ? 1 : 0);
        }
    }

private:
    std::uint32_t next_index() { return indexes_[next_++]; }

    std::uint32_t name_index(IdString name) {
        const auto found = names_.find(name);
        if (found != names_.end())
            return found->second;
        const std::uint32_t index = string_index(string_of(name));
        names_.emplace(name, index);
        return index;
    }

    // Open addressing with the hash kept beside each index: content files hold millions of
    // distinct values, and every look at a string that is not the one sought is a cache miss.
    std::uint32_t string_index(std::string_view text) {
        if ((table_.size() + 1) * 2 > slots_.size())
            grow();
        const auto hash = static_cast<std::uint32_t>(std::hash<std::string_view>()(text));
        const size_t mask = slots_.size() - 1;
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            Slot& entry = slots_[slot];
            if (entry.index == 0) {
                entry = {hash, static_cast<std::uint32_t>(table_.size()) + 1};
                table_.push_back(text);
                return entry.index - 1;
            }
            if (entry.hash == hash && table_[entry.index - 1] == text)
                return entry.index - 1;
        }
    }
    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 1024 : old.size() * 2, Slot{});
        const size_t mask = slots_.size() - 1;
        for (const Slot& entry : old) {
            if (entry.index == 0)
                continue;
            size_t slot = entry.hash & mask;
            while (slots_[slot].index != 0)
                slot = (slot + 1) & mask;
            slots_[slot] = entry;
        }
    }

    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t index = 0;  // table index + 1; 0 is free
    };

    Archive& archive_;
    std::vector<std::string_view> table_;
    std::vector<Slot> slots_;
    std::unordered_map<IdString, std::uint32_t> names_;
    std::vector<std::uint32_t> indexes_;
    size_t next_ = 0;
};

// Reads from the file's bytes in memory; every count is weighed against the bytes left.
class BinaryReader {
public:
    BinaryReader(std::string_view bytes, const std::string& name, IdString file)
        : bytes_(bytes), name_(name), file_(file) {}

    void read_table() {
        const std::uint32_t count = count_of(1);
        table_.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i)
            table_.push_back(string());
        ids_.assign(count, -1);
    }

    void read_node(XMLNode& node, int depth) {
        if (depth > max_depth)
            corrupt();
        node.set_file(file_);
        const std::uint32_t kind = u32();
        node.set_kind(kind);
        if (kind == NODE_TEXT) {
            node.set_text(std::string(table_entry(u32())));
        } else if (kind == NODE_ELEMENT) {
            node.set_name(name_id(u32()));
            const std::uint32_t parameters = count_of(8);
            std::vector<XMLNode::Parameter> list;
            list.reserve(parameters);
            for (std::uint32_t i = 0; i < parameters; ++i) {
                const IdString name = name_id(u32());
                list.emplace_back(name, std::string(table_entry(u32())));
            }
            node.set_parameters(std::move(list));
            std::vector<XMLNode*> children(count_of(4), nullptr);
            for (XMLNode*& child : children)
                child = new XMLNode;
            node.set_children(std::move(children));
            for (int i = 0; i < node.num_children(); ++i)
                read_node(*node.child(i), depth + 1);
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
            define.expression = byte() != 0;
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

    size_t position = 4;

private:
    [[noreturn]] void corrupt() const {
        throw std::runtime_error("Binary XML " + name_ + " is corrupt at byte " +
                                 std::to_string(position));
    }
    std::uint32_t u32() {
        if (bytes_.size() - position < 4)
            corrupt();
        std::uint32_t value;
        std::memcpy(&value, bytes_.data() + position, 4);
        position += 4;
        return value;
    }
    unsigned char byte() {
        if (position >= bytes_.size())
            corrupt();
        return static_cast<unsigned char>(bytes_[position++]);
    }
    // A count of items that take at least item_size bytes each.
    std::uint32_t count_of(size_t item_size) {
        const std::uint32_t count = u32();
        if (count > (bytes_.size() - position) / item_size)
            corrupt();
        return count;
    }
    std::string_view string() {
        const size_t end = bytes_.find('\0', position);
        if (end == std::string_view::npos)
            corrupt();
        const std::string_view text = bytes_.substr(position, end - position);
        position = end + 1;
        return text;
    }
    std::string_view table_entry(std::uint32_t index) {
        if (index >= table_.size())
            corrupt();
        return table_[index];
    }
    IdString name_id(std::uint32_t index) {
        const std::string_view text = table_entry(index);
        if (ids_[index] < 0)
            ids_[index] = intern(text);
        return ids_[index];
    }

    std::string_view bytes_;
    const std::string& name_;
    IdString file_;
    std::vector<std::string_view> table_;
    std::vector<IdString> ids_;
};

}  // namespace

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
    return std::string(source_path.substr(0, source_path.size() < 4 ? 0 : source_path.size() - 4)) +
           ".xmb";
}

void XMLDocument::write_binary(Archive& archive) const {
    // Built in memory first, so that the file gets the whole form in one write.
    auto store = std::make_shared<StringDataStore>();
    Archive memory("#binary_xml", store, 0, 0, true);
    const unsigned char header[] = {'X', 'M', 'L', 1};
    write_bytes(memory, header, 4);
    BinaryWriter writer(memory);
    writer.collect(root_);
    writer.write_table();
    writer.write_node(root_);
    write_u32(memory, static_cast<std::uint32_t>(dependencies.size()));
    for (const std::string& path : dependencies)
        write_string(memory, path);
    if (store->bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::runtime_error("Binary XML of " + path_ + " is too large");
    }
    write_bytes(archive, store->bytes.data(), static_cast<std::uint32_t>(store->bytes.size()));
}

bool XMLDocument::read_binary(Archive& archive) {
    try {
        archive.set_position(0);
        if (archive.size() < 4 || archive.size() > std::numeric_limits<std::uint32_t>::max()) {
            throw std::runtime_error("Binary XML " + archive.name() + " has a wrong size");
        }
        const auto size = static_cast<std::uint32_t>(archive.size());
        const auto bytes = std::make_unique_for_overwrite<char[]>(size);
        read_bytes(archive, bytes.get(), size);
        BinaryReader reader(std::string_view(bytes.get(), size), archive.name(), intern(path_));
        reader.read_table();
        XMLNode root;
        reader.read_node(root, 1);
        const std::vector<std::string> paths = reader.read_dependencies();
        root_ = std::move(root);
        dependencies.insert(paths.begin(), paths.end());
        return true;
    } catch (const std::runtime_error&) {
        if (!xml_catch_parse_errors)
            throw;
        root_.clear();
        return false;
    }
}

}  // namespace kam
