// Compact text forms of XML trees, so that tests compare whole trees in one line.
#pragma once

#include <memory>
#include <string>

#include "support/memory_file_system.h"
#include "xml/xml_document.h"
#include "xml/xml_node.h"

namespace test {

// a[x=1 y=2]{"text" b @w(body)}; with lines, each node is followed by ":" + its line.
inline std::string dump(const kam::XMLNode& node, bool lines = false) {
    std::string out;
    switch (node.kind()) {
        case kam::NODE_TEXT:
            out = "\"" + std::string(node.text()) + "\"";
            break;
        case kam::NODE_DEFINE: {
            const kam::XMLDefine& define = node.define();
            out = define.name + "(";
            for (const auto& parameter : define.parameter_names)
                out += parameter + ",";
            out += define.body + (define.expression ? ")=" : ")");
            break;
        }
        case kam::NODE_ELEMENT:
            out = node.name();
            if (!node.parameters().empty()) {
                out += "[";
                for (const auto& [name, value] : node.parameters()) {
                    if (out.back() != '[')
                        out += " ";
                    out += kam::string_of(name) + "=" + std::string(value);
                }
                out += "]";
            }
            break;
        default:
            out = "none";
    }
    if (lines)
        out += ":" + std::to_string(node.line());
    if (node.num_children() > 0) {
        out += "{";
        for (int i = 0; i < node.num_children(); ++i) {
            if (i > 0)
                out += " ";
            out += dump(*node.child(i), lines);
        }
        out += "}";
    }
    return out;
}

// Elements a nested depth deep around inside.
inline std::string nested(int depth, const std::string& inside = std::string()) {
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "<a>";
    text += inside;
    for (int i = 0; i < depth; ++i)
        text += "</a>";
    return text;
}

// Parses text as "#internal_file" with errors passed on; the tree's dump, or the error.
inline std::string parse(const std::string& text, bool lines = false) {
    const bool catching = kam::xml_catch_parse_errors;
    kam::xml_catch_parse_errors = false;
    std::string result;
    try {
        kam::XMLDocument document;
        const bool ok = document.parse_memory(text);
        result = (ok ? "" : "false ") + dump(document.root(), lines);
    } catch (const std::runtime_error& error) {
        result = std::string("error ") + error.what();
    }
    kam::xml_catch_parse_errors = catching;
    return result;
}

// The document's binary form.
inline std::string write(const kam::XMLDocument& document) {
    auto sink = std::make_shared<kam::MemoryDataStore>();
    kam::Archive archive("out.xmb", sink, 0, 0, true);
    document.write_binary(archive);
    return sink->bytes();
}

// Reads bytes as the binary form named "in.xmb".
inline bool read(kam::XMLDocument& document, const std::string& bytes) {
    kam::Archive archive = archive_of(bytes, "in.xmb");
    return document.read_binary(archive);
}

}  // namespace test
