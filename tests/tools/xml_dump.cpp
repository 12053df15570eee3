// Prints the tree the XML parser builds for each file named, in the line form compare_xml.py reads:
// "== path", then "error <message>" or "unknown-entity" when the parse fails, then one line per
// node: "E name", "A name=value", "T text" and "/E", with \, line feed, tab and CR escaped.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "xml/xml_document.h"

namespace {

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        const size_t special = std::string_view("\\\n\t\r").find(c);
        out += special == std::string_view::npos ? std::string(1, c)
                                                 : "\\" + std::string(1, "\\ntr"[special]);
    }
    return out;
}

void dump(const kam::XMLNode& node, std::ostream& out) {
    if (node.kind() == kam::NODE_TEXT) {
        out << "T " << escaped(node.text()) << '\n';
        return;
    }
    if (node.kind() != kam::NODE_ELEMENT)
        return;
    out << "E " << node.name() << '\n';
    for (const auto& [name, value] : node.parameters())
        out << "A " << kam::string_of(name) << '=' << escaped(value) << '\n';
    for (int i = 0; i < node.num_children(); ++i)
        dump(*node.child(i), out);
    out << "/E\n";
}

}  // namespace

int main(int argc, char** argv) {
    kam::xml_catch_parse_errors = false;
    kam::xml_resolve_includes = false;
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        std::ostringstream out;
        out << "== " << argv[i] << '\n';
        kam::XMLDocument document;
        document.set_path(argv[i]);
        try {
            if (!document.parse_bytes(bytes.str(), argv[i]))
                out << "unknown-entity\n";
            dump(document.root(), out);
        } catch (const std::runtime_error& error) {
            out << "error " << escaped(error.what()) << '\n';
        }
        std::cout << out.str() << std::flush;
    }
    return 0;
}
