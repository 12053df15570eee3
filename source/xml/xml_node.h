// The parsed XML tree: elements with parameters, text runs, and defines kept in the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "utility/id_string.h"
#include "xml/xml_define.h"

namespace kam {

enum XMLNodeKind : std::uint32_t {
    NODE_NONE = 0,
    NODE_ELEMENT = 1,
    NODE_TEXT = 2,
    NODE_DEFINE = 4,
};

// Process-wide switches, set before loading starts.
extern bool xml_resolve_includes;    // include elements are replaced while parsing (on)
extern bool xml_catch_parse_errors;  // a failed parse empties the root and reports false (on)
extern bool xml_check_dependencies;  // a binary form older than an include is not used (on)
extern bool xml_write_binary;        // a successful text load writes the binary form (off)

// Memory for the nodes, texts, values and lists of a tree, filled in order, so that a tree of
// a million nodes costs a few large allocations instead of millions of small ones, and is
// written to memory front to back. Every node that lies in a store or points into it holds a
// reference to it; the last one frees it. Bytes once written never change, so a view into a
// store stays valid for as long as the store lives. Like the nodes, a store is used by one
// thread at a time: the count is not atomic.
class XMLNodeStore {
public:
    // A new store with one reference, for the caller.
    static XMLNodeStore* create(size_t first_block = 0);
    XMLNodeStore(const XMLNodeStore&) = delete;
    XMLNodeStore& operator=(const XMLNodeStore&) = delete;

    void retain() { ++references_; }
    void release() {
        if (--references_ == 0)
            delete this;
    }

    std::string_view copy(std::string_view text);
    // Uninitialised room for count objects of a trivially destructible type.
    template <typename T>
    T* allocate(size_t count) {
        static_assert(std::is_trivially_destructible_v<T>);
        return room_for<T>(count);
    }

private:
    friend class XMLNode;

    explicit XMLNodeStore(size_t first_block) : next_block_(first_block) {}
    ~XMLNodeStore();
    template <typename T>
    T* room_for(size_t count) {
        static_assert(alignof(T) <= alignof(std::max_align_t));
        const std::uintptr_t place =
            (reinterpret_cast<std::uintptr_t>(free_) + alignof(T) - 1) & ~(alignof(T) - 1);
        const size_t size = count * sizeof(T);
        if (free_ == nullptr || place > reinterpret_cast<std::uintptr_t>(end_) ||
            reinterpret_cast<std::uintptr_t>(end_) - place < size)
            return static_cast<T*>(allocate_block(size));
        free_ = reinterpret_cast<char*>(place + size);
        return reinterpret_cast<T*>(place);
    }
    // Starts a new block with size bytes taken from its start.
    void* allocate_block(size_t size);

    size_t references_ = 1;
    char* free_ = nullptr;
    char* end_ = nullptr;
    size_t next_block_;
    std::vector<std::pair<char*, size_t>> blocks_;  // from operator new[], with their sizes
};

class XMLNode {
public:
    using Parameter = std::pair<IdString, std::string_view>;

    XMLNode() = default;
    // A node whose texts and lists go to the store (which it retains).
    explicit XMLNode(XMLNodeStore* store);
    // Deep: the children are copies, and the copy's texts live in a store of its own.
    XMLNode(const XMLNode& other);
    XMLNode& operator=(const XMLNode& other);
    XMLNode(XMLNode&& other) noexcept;
    XMLNode& operator=(XMLNode&& other) noexcept;
    ~XMLNode();

    std::uint32_t kind() const { return kind_; }
    int line() const { return line_; }
    IdString name_id() const { return name_; }
    // The name's string; "#text" for a text node.
    const std::string& name() const;
    // Views stay valid until the node is changed or deleted.
    std::string_view text() const { return {text_, text_size_}; }
    // The define of a NODE_DEFINE node; an empty define for any other node.
    const XMLDefine& define() const;
    std::span<const Parameter> parameters() const { return {parameters_, num_parameters_}; }
    // The path of the file the node was read from.
    std::string file() const { return string_of(file_); }
    IdString file_id() const { return file_; }

    // The first parameter of that name, or an empty string.
    std::string_view parameter(std::string_view name) const;
    std::string_view parameter(IdString name) const;

    // Any kind of child; null outside 0 .. num_children() - 1.
    XMLNode* child(int index) const {
        return index < 0 || static_cast<std::uint32_t>(index) >= num_children_ ? nullptr
                                                                               : children_[index];
    }
    int num_children() const { return static_cast<int>(num_children_); }

    void set_kind(std::uint32_t kind) { kind_ = kind; }
    void set_line(int line) { line_ = line; }
    void set_name(IdString name) { name_ = name; }
    // The setters copy the strings they are given.
    void set_text(std::string_view text);
    void set_file(IdString file) { file_ = file; }
    void set_define(const XMLDefine& define);
    void set_parameters(std::span<const Parameter> parameters);
    void add_parameter(IdString name, std::string_view value);
    // Takes ownership.
    void append_child(XMLNode* child);
    // Takes ownership of every node in the list.
    void set_children(std::span<XMLNode* const> children);
    void remove_children();
    // Back to a node just constructed.
    void clear();

    // A node made by the parser or the binary reader lives in its tree's store, next to the
    // nodes made just before it, and its memory goes with the store; others are on the heap.
    static void operator delete(XMLNode* node, std::destroying_delete_t);
    // For a new-expression whose constructor throws.
    static void* operator new(std::size_t size);
    static void operator delete(void* node);

private:
    // Fill nodes with strings and lists already in the node's store.
    friend class XMLParser;
    friend class XMLBinaryReader;

    XMLNodeStore& store();
    void adopt_text(std::string_view text) {
        text_ = text.data();
        text_size_ = static_cast<std::uint32_t>(text.size());
    }
    void adopt_parameters(Parameter* parameters, std::uint32_t count) {
        parameters_ = parameters;
        num_parameters_ = count;
    }
    void adopt_children(XMLNode** children, std::uint32_t count) {
        children_ = children;
        num_children_ = count;
        children_capacity_ = count;
    }
    // All but the memory's owner.
    void swap(XMLNode& other) noexcept;
    // count new nodes side by side in the store, keeping their texts and lists there too.
    static void make_nodes(XMLNode** nodes, std::uint32_t count, XMLNodeStore& store);
    // Fills an empty node that has its store with a deep copy of other.
    void copy_from(const XMLNode& other);

    std::uint32_t kind_ = NODE_NONE;
    std::int32_t line_ = 0;
    IdString name_ = 0;
    IdString file_ = 0;
    XMLNodeStore* store_ = nullptr;  // where the texts and lists are
    XMLNodeStore* home_ = nullptr;   // where the node itself is; null on the heap or stack
    const char* text_ = "";
    std::uint32_t text_size_ = 0;
    std::uint32_t num_parameters_ = 0;
    Parameter* parameters_ = nullptr;
    XMLNode** children_ = nullptr;
    std::uint32_t num_children_ = 0;
    std::uint32_t children_capacity_ = 0;
    std::unique_ptr<XMLDefine> define_;
};

}  // namespace kam
