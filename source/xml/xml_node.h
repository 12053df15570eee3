// The parsed XML tree: elements with parameters, text runs, and defines kept in the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
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

class XMLNode {
public:
    using Parameter = std::pair<IdString, std::string>;

    XMLNode() = default;
    // Deep: the children are copies.
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
    const std::string& text() const { return text_; }
    // The define of a NODE_DEFINE node; an empty define for any other node.
    const XMLDefine& define() const;
    const std::vector<Parameter>& parameters() const { return parameters_; }
    // The path of the file the node was read from.
    std::string file() const { return string_of(file_); }
    IdString file_id() const { return file_; }

    bool has_parameter(const std::string& name) const;
    // The first parameter of that name, or a static empty string.
    const std::string& parameter(const std::string& name) const;
    const std::string& parameter(IdString name) const;

    // Any kind of child; null outside 0 .. num_children() - 1.
    XMLNode* child(int index) const;
    int num_children() const { return static_cast<int>(children_.size()); }
    // The element children only, in order.
    std::vector<XMLNode*> children() const;

    void set_kind(std::uint32_t kind) { kind_ = kind; }
    void set_line(int line) { line_ = line; }
    void set_name(IdString name) { name_ = name; }
    void set_text(std::string text) { text_ = std::move(text); }
    void set_file(IdString file) { file_ = file; }
    void set_define(const XMLDefine& define);
    void set_parameters(std::vector<Parameter> parameters) { parameters_ = std::move(parameters); }
    void add_parameter(IdString name, std::string value);
    // Takes ownership.
    void append_child(XMLNode* child) { children_.push_back(child); }
    // Takes ownership of every node in the list.
    void set_children(std::vector<XMLNode*> children);
    void remove_children();
    // Back to a node just constructed.
    void clear();

    // Nodes come from pages of many nodes: a parse makes millions of them.
    static void* operator new(std::size_t size);
    static void operator delete(void* node, std::size_t size);

private:
    std::uint32_t kind_ = NODE_NONE;
    std::int32_t line_ = 0;
    IdString name_ = 0;
    IdString file_ = 0;
    std::string text_;
    std::unique_ptr<XMLDefine> define_;
    std::vector<Parameter> parameters_;
    std::vector<XMLNode*> children_;
};

// Visits the element children of a node.
class XMLNodeIterator {
public:
    explicit XMLNodeIterator(const XMLNode& node) : node_(&node) {}
    // The first element child on the first call, the following ones after; null past the last.
    XMLNode* next();

private:
    const XMLNode* node_;
    int position_ = 0;
    bool first_call_ = true;
};

}  // namespace kam
