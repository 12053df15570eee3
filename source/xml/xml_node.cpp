// XML nodes: ownership of children, deep copies, lookups and the store of a tree.
#include "xml/xml_node.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#endif

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "utility/large_block.h"

namespace kam {

bool xml_resolve_includes = true;
bool xml_catch_parse_errors = true;
bool xml_check_dependencies = true;
bool xml_write_binary = false;

namespace {

const XMLDefine empty_define;

// Blocks grow from small, for the many one-node stores of hand-made nodes, to a size at which
// the per-block cost vanishes for large trees.
constexpr size_t smallest_block = 256;
constexpr size_t largest_block = size_t{1} << 20;

// Blocks of the largest size are kept for the next tree rather than given back: a tool run
// loads file after file, and memory fresh from the system costs a page fault for every 4 KB,
// which is more than filling it. Beyond the limit, blocks go back.
constexpr size_t kept_blocks_limit = 256;

// Both outlive every static tree.
std::mutex& kept_blocks_lock() {
    static auto* lock = new std::mutex();
    return *lock;
}
std::vector<char*>& kept_blocks() {
    static auto* blocks = new std::vector<char*>();
    return *blocks;
}

// Past the kept size, a large tree's blocks grow on to this in large blocks.
constexpr size_t largest_large_block = size_t{32} << 20;

char* new_block(size_t size) {
    if (size >= large_block_size)
        return new_large_block(size).release();
    if (size == largest_block) {
        const std::lock_guard lock(kept_blocks_lock());
        if (!kept_blocks().empty()) {
            char* block = kept_blocks().back();
            kept_blocks().pop_back();
            ASAN_UNPOISON_MEMORY_REGION(block, size);
            return block;
        }
    }
    return new char[size];
}

void delete_block(char* block, size_t size) {
    if (size >= large_block_size) {
        LargeBlockDeleter{size}(block);
        return;
    }
    if (size == largest_block) {
        const std::lock_guard lock(kept_blocks_lock());
        if (kept_blocks().size() < kept_blocks_limit) {
            // A view that outlived its tree then reads poison rather than the next tree.
            ASAN_POISON_MEMORY_REGION(block, size);
            kept_blocks().push_back(block);
            return;
        }
    }
    delete[] block;
}

std::uint32_t checked_size(size_t size) {
    if (size > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("XML text or list longer than 4 GB");
    return static_cast<std::uint32_t>(size);
}

// What a deep copy of the node puts into its store, alignment included.
size_t stored_size(const XMLNode& node) {
    size_t size = node.text().size() + node.parameters().size() * sizeof(XMLNode::Parameter) +
                  static_cast<size_t>(node.num_children()) * (sizeof(XMLNode*) + sizeof(XMLNode)) +
                  3 * alignof(std::max_align_t);
    for (const auto& [name, value] : node.parameters())
        size += value.size();
    for (int i = 0; i < node.num_children(); ++i)
        size += stored_size(*node.child(i));
    return size;
}

}  // namespace

XMLNodeStore* XMLNodeStore::create(size_t first_block) {
    return new XMLNodeStore(std::max(first_block, smallest_block));
}

XMLNodeStore::~XMLNodeStore() {
    for (const auto& [block, size] : blocks_)
        delete_block(block, size);
}

void* XMLNodeStore::allocate_block(size_t size) {
    // Blocks come from operator new[], aligned for any of the types allocate takes.
    const size_t block_size = std::max(next_block_, size);
    blocks_.reserve(blocks_.size() + 1);
    char* const block = new_block(block_size);
    blocks_.emplace_back(block, block_size);
    // A tree that has filled a largest block goes on to large ones.
    next_block_ = block_size < largest_block      ? std::max(block_size * 2, smallest_block)
                  : block_size < large_block_size ? large_block_size
                                                  : std::min(block_size * 2, largest_large_block);
    free_ = block + size;
    end_ = block + block_size;
    return block;
}

std::string_view XMLNodeStore::copy(std::string_view text) {
    if (text.empty())
        return {};
    char* place = allocate<char>(text.size());
    std::memcpy(place, text.data(), text.size());
    return {place, text.size()};
}

void XMLNode::make_nodes(XMLNode** nodes, std::uint32_t count, XMLNodeStore& store) {
    XMLNode* made = store.room_for<XMLNode>(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        nodes[i] = ::new (static_cast<void*>(made + i)) XMLNode(&store);
        nodes[i]->home_ = &store;
        store.retain();
    }
}

void* XMLNode::operator new(std::size_t size) {
    return ::operator new(size);
}

void XMLNode::operator delete(void* node) {
    ::operator delete(node);
}

void XMLNode::operator delete(XMLNode* node, std::destroying_delete_t) {
    XMLNodeStore* const home = node->home_;
    node->~XMLNode();
    if (home != nullptr)
        home->release();
    else
        ::operator delete(node);
}

XMLNode::XMLNode(XMLNodeStore* store) : store_(store) {
    if (store_ != nullptr)
        store_->retain();
}

XMLNode::XMLNode(const XMLNode& other) : store_(XMLNodeStore::create(stored_size(other))) {
    try {
        copy_from(other);
    } catch (...) {
        remove_children();
        store_->release();
        throw;
    }
}

void XMLNode::copy_from(const XMLNode& other) {
    kind_ = other.kind_;
    line_ = other.line_;
    name_ = other.name_;
    file_ = other.file_;
    if (other.define_)
        define_ = std::make_unique<XMLDefine>(*other.define_);
    set_text(other.text());
    set_parameters(other.parameters());
    if (other.num_children_ == 0)
        return;
    XMLNode** children = store_->allocate<XMLNode*>(other.num_children_);
    children_ = children;
    children_capacity_ = other.num_children_;
    for (std::uint32_t i = 0; i < other.num_children_; ++i) {
        // Owned from the start, so that a throw part way frees what was made.
        make_nodes(&children[i], 1, *store_);
        num_children_ = i + 1;
        children[i]->copy_from(*other.children_[i]);
    }
}

XMLNode& XMLNode::operator=(const XMLNode& other) {
    if (this != &other) {
        // Copied whole before anything of ours goes: other may be one of our descendants.
        XMLNode copy(other);
        swap(copy);
    }
    return *this;
}

XMLNode::XMLNode(XMLNode&& other) noexcept {
    swap(other);
}

XMLNode& XMLNode::operator=(XMLNode&& other) noexcept {
    if (this != &other) {
        // Other may be one of our descendants: it is emptied before our old tree goes.
        XMLNode taken;
        taken.swap(other);
        swap(taken);
    }
    return *this;
}

void XMLNode::swap(XMLNode& other) noexcept {
    std::swap(kind_, other.kind_);
    std::swap(line_, other.line_);
    std::swap(name_, other.name_);
    std::swap(file_, other.file_);
    std::swap(store_, other.store_);
    // home_ stays: it belongs to the memory, not to the contents.
    std::swap(text_, other.text_);
    std::swap(text_size_, other.text_size_);
    std::swap(num_parameters_, other.num_parameters_);
    std::swap(parameters_, other.parameters_);
    std::swap(children_, other.children_);
    std::swap(num_children_, other.num_children_);
    std::swap(children_capacity_, other.children_capacity_);
    std::swap(define_, other.define_);
}

XMLNode::~XMLNode() {
    remove_children();
    if (store_ != nullptr)
        store_->release();
}

XMLNodeStore& XMLNode::store() {
    if (store_ == nullptr)
        store_ = XMLNodeStore::create();
    return *store_;
}

const std::string& XMLNode::name() const {
    return kind_ == NODE_TEXT ? string_of(ids::text) : string_of(name_);
}

const XMLDefine& XMLNode::define() const {
    return define_ ? *define_ : empty_define;
}

void XMLNode::set_define(const XMLDefine& define) {
    define_ = std::make_unique<XMLDefine>(define);
}

void XMLNode::set_text(std::string_view text) {
    checked_size(text.size());
    adopt_text(text.empty() ? std::string_view("") : store().copy(text));
}

void XMLNode::set_parameters(std::span<const Parameter> parameters) {
    const std::uint32_t count = checked_size(parameters.size());
    if (count == 0) {
        adopt_parameters(nullptr, 0);
        return;
    }
    XMLNodeStore& strings = store();
    Parameter* copies = strings.allocate<Parameter>(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        checked_size(parameters[i].second.size());
        new (&copies[i]) Parameter(parameters[i].first, strings.copy(parameters[i].second));
    }
    adopt_parameters(copies, count);
}

void XMLNode::add_parameter(IdString name, std::string_view value) {
    std::vector<Parameter> list(parameters_, parameters_ + num_parameters_);
    list.emplace_back(name, value);
    set_parameters(list);
}

std::string_view XMLNode::parameter(std::string_view name) const {
    return parameter(intern(name));
}

std::string_view XMLNode::parameter(IdString name) const {
    for (const Parameter& parameter : parameters()) {
        if (parameter.first == name)
            return parameter.second;
    }
    return {};
}

void XMLNode::append_child(XMLNode* child) {
    if (num_children_ == children_capacity_) {
        const std::uint32_t capacity = checked_size(std::max<size_t>(4, size_t{num_children_} * 2));
        XMLNode** grown = store().allocate<XMLNode*>(capacity);
        std::copy(children_, children_ + num_children_, grown);
        children_ = grown;
        children_capacity_ = capacity;
    }
    children_[num_children_++] = child;
}

void XMLNode::set_children(std::span<XMLNode* const> children) {
    remove_children();
    const std::uint32_t count = checked_size(children.size());
    if (count > children_capacity_) {
        children_ = store().allocate<XMLNode*>(count);
        children_capacity_ = count;
    }
    std::copy(children.begin(), children.end(), children_);
    num_children_ = count;
}

void XMLNode::remove_children() {
    // The list stays, for children added later.
    const std::uint32_t count = num_children_;
    num_children_ = 0;
    for (std::uint32_t i = 0; i < count; ++i)
        delete children_[i];
}

void XMLNode::clear() {
    XMLNode empty;
    swap(empty);
}

}  // namespace kam
