// XML nodes: ownership of children, deep copies, lookups and the node pool.
#include "xml/xml_node.h"

#include <atomic>
#include <new>
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
const std::string empty_string;

}  // namespace

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

XMLNode::XMLNode(const XMLNode& other) {
    *this = other;
}

XMLNode& XMLNode::operator=(const XMLNode& other) {
    if (this == &other)
        return *this;
    kind_ = other.kind_;
    name_ = other.name_;
    define_ = other.define_ ? std::make_unique<XMLDefine>(*other.define_) : nullptr;
    parameters_ = other.parameters_;
    text_ = other.text_;
    line_ = other.line_;
    file_ = other.file_;
    std::vector<XMLNode*> copies;
    copies.reserve(other.children_.size());
    for (const XMLNode* child : other.children_)
        copies.push_back(new XMLNode(*child));
    set_children(std::move(copies));
    return *this;
}

XMLNode::XMLNode(XMLNode&& other) noexcept {
    *this = std::move(other);
}

XMLNode& XMLNode::operator=(XMLNode&& other) noexcept {
    if (this == &other)
        return *this;
    remove_children();
    kind_ = other.kind_;
    line_ = other.line_;
    name_ = other.name_;
    file_ = other.file_;
    text_ = std::move(other.text_);
    define_ = std::move(other.define_);
    parameters_ = std::move(other.parameters_);
    children_ = std::move(other.children_);
    other.children_.clear();
    return *this;
}

XMLNode::~XMLNode() {
    remove_children();
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

bool XMLNode::has_parameter(const std::string& name) const {
    const IdString id = intern(name);
    for (const Parameter& parameter : parameters_) {
        if (parameter.first == id)
            return true;
    }
    return false;
}

const std::string& XMLNode::parameter(const std::string& name) const {
    return parameter(intern(name));
}

const std::string& XMLNode::parameter(IdString name) const {
    for (const Parameter& parameter : parameters_) {
        if (parameter.first == name)
            return parameter.second;
    }
    return empty_string;
}

XMLNode* XMLNode::child(int index) const {
    if (index < 0 || index >= num_children())
        return nullptr;
    return children_[static_cast<size_t>(index)];
}

std::vector<XMLNode*> XMLNode::children() const {
    std::vector<XMLNode*> elements;
    for (XMLNode* child : children_) {
        if (child->kind_ == NODE_ELEMENT)
            elements.push_back(child);
    }
    return elements;
}

void XMLNode::add_parameter(IdString name, std::string value) {
    parameters_.emplace_back(name, std::move(value));
}

void XMLNode::set_children(std::vector<XMLNode*> children) {
    remove_children();
    children_ = std::move(children);
}

void XMLNode::remove_children() {
    for (XMLNode* child : children_)
        delete child;
    children_.clear();
}

void XMLNode::clear() {
    kind_ = NODE_NONE;
    line_ = 0;
    name_ = 0;
    file_ = 0;
    text_.clear();
    define_.reset();
    parameters_.clear();
    remove_children();
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
