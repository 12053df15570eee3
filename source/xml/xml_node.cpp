// XML nodes: ownership of children, deep copies, lookups, the node pool and the string store.
#include "xml/xml_node.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

namespace kam {

bool xml_resolve_includes = true;
bool xml_catch_parse_errors = true;
bool xml_check_dependencies = true;
bool xml_write_binary = false;

namespace {

// Free nodes are kept as a stack of addresses rather than chained through their own storage:
// taking one then needs no read of cold memory, so a tree of a million nodes builds without a
// chain of cache misses. Pages are never returned, like the slot allocator's, since a tool run
// builds and drops trees of similar sizes again and again.
constexpr size_t nodes_per_page = 512;

std::atomic_flag pool_lock = ATOMIC_FLAG_INIT;
std::vector<void*>& free_nodes() {
    static auto* nodes = new std::vector<void*>();  // outlives every static tree
    return *nodes;
}

class PoolGuard {
public:
    PoolGuard() {
        while (pool_lock.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~PoolGuard() { pool_lock.clear(std::memory_order_release); }
};

const XMLDefine empty_define;

// Blocks grow from small, for the many one-node stores of hand-made nodes, to a size at which
// the per-block cost vanishes for large trees.
constexpr size_t smallest_block = 256;
constexpr size_t largest_block = size_t{1} << 20;

std::uint32_t checked_size(size_t size) {
    if (size > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("XML text or list longer than 4 GB");
    return static_cast<std::uint32_t>(size);
}

// What a deep copy of the node puts into its store, alignment included.
size_t stored_size(const XMLNode& node) {
    size_t size = node.text().size() + node.parameters().size() * sizeof(XMLNode::Parameter) +
                  static_cast<size_t>(node.num_children()) * sizeof(XMLNode*) +
                  2 * alignof(XMLNode::Parameter);
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

void* XMLNodeStore::allocate_block(size_t size) {
    // Blocks come from operator new[], aligned for any of the types allocate takes.
    const size_t block = std::max(next_block_, size);
    next_block_ = std::clamp(block * 2, smallest_block, largest_block);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(block));
    free_ = blocks_.back().get() + size;
    end_ = blocks_.back().get() + block;
    return blocks_.back().get();
}

std::string_view XMLNodeStore::copy(std::string_view text) {
    if (text.empty())
        return {};
    char* place = allocate<char>(text.size());
    std::memcpy(place, text.data(), text.size());
    return {place, text.size()};
}

void* XMLNode::operator new(std::size_t size) {
    if (size != sizeof(XMLNode))
        return ::operator new(size);
    PoolGuard guard;
    std::vector<void*>& nodes = free_nodes();
    if (nodes.empty()) {
        auto* page = static_cast<unsigned char*>(::operator new(sizeof(XMLNode) * nodes_per_page));
        for (size_t i = nodes_per_page; i-- > 0;)
            nodes.push_back(page + i * sizeof(XMLNode));
    }
    void* node = nodes.back();
    nodes.pop_back();
    return node;
}

void XMLNode::make_nodes(XMLNode** nodes, std::uint32_t count, XMLNodeStore* store) {
    {
        PoolGuard guard;
        std::vector<void*>& free = free_nodes();
        while (free.size() < count) {
            auto* page =
                static_cast<unsigned char*>(::operator new(sizeof(XMLNode) * nodes_per_page));
            for (size_t i = nodes_per_page; i-- > 0;)
                free.push_back(page + i * sizeof(XMLNode));
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            nodes[i] = static_cast<XMLNode*>(free.back());
            free.pop_back();
        }
    }
    for (std::uint32_t i = 0; i < count; ++i)
        ::new (static_cast<void*>(nodes[i])) XMLNode(store);
}

void XMLNode::operator delete(void* pointer, std::size_t size) {
    if (pointer == nullptr)
        return;
    if (size != sizeof(XMLNode)) {
        ::operator delete(pointer);
        return;
    }
    PoolGuard guard;
    free_nodes().push_back(pointer);
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
        children[i] = new XMLNode(store_);
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

bool XMLNode::has_parameter(std::string_view name) const {
    const IdString id = intern(name);
    for (const Parameter& parameter : parameters()) {
        if (parameter.first == id)
            return true;
    }
    return false;
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

std::vector<XMLNode*> XMLNode::children() const {
    std::vector<XMLNode*> elements;
    for (std::uint32_t i = 0; i < num_children_; ++i) {
        if (children_[i]->kind_ == NODE_ELEMENT)
            elements.push_back(children_[i]);
    }
    return elements;
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

XMLNode* XMLNodeIterator::next() {
    if (first_call_) {
        first_call_ = false;
    } else if (position_ < node_->num_children()) {
        ++position_;
    }
    while (position_ < node_->num_children() && node_->child(position_)->kind() != NODE_ELEMENT) {
        ++position_;
    }
    return node_->child(position_);
}

}  // namespace kam
