// Reading load logs. A log is a bare run of open elements, so it is wrapped in one root element
// before parsing; that also joins the lines of several recording runs into one sequence.
#include "bundle/load_log.h"

#include <stdexcept>

#include "utility/archive.h"
#include "utility/disk_file_system.h"
#include "utility/path.h"
#include "xml/xml_document.h"

namespace kam {

namespace {

std::runtime_error load_failure(const std::string& name) {
    return std::runtime_error("Could not load xml: " + name);
}

std::vector<IdString> interned(const std::vector<std::string>& paths) {
    std::vector<IdString> ids;
    ids.reserve(paths.size());
    for (const std::string& path : paths)
        ids.push_back(intern(path));
    return ids;
}

}  // namespace

void append_escaped(std::string& out, std::string_view text, Greater greater) {
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '>':
                out += greater == Greater::escaped ? "&gt;" : ">";
                break;
            default:
                out += c;
        }
    }
}

std::vector<IdString> read_load_log(const std::string& name) {
    return interned(read_load_log_paths(name));
}

std::vector<IdString> parse_load_log(std::string_view content, const std::string& name) {
    return interned(parse_load_log_paths(content, name));
}

std::vector<std::string> read_load_log_paths(const std::string& name) {
    Archive archive = default_disk_file_system().open(name, "r");
    if (!archive.has_store() || archive.size() > 0xFFFFFFFFu)
        throw load_failure(name);
    std::string content(static_cast<size_t>(archive.size()), '\0');
    const std::uint32_t read =
        archive.checked_read(content.data(), static_cast<std::uint32_t>(content.size()));
    content.resize(read);
    return parse_load_log_paths(content, name);
}

std::vector<std::string> parse_load_log_paths(std::string_view content, const std::string& name) {
    std::string wrapped;
    wrapped.reserve(content.size() + 16);
    wrapped += "<root>\n";
    wrapped += content;
    wrapped += "</root>\n";

    XMLDocument document;
    bool parsed = false;
    try {
        parsed = document.parse_bytes(wrapped, name);
    } catch (const XMLParseError&) {
        parsed = false;
    }
    if (!parsed)
        throw load_failure(name);

    std::vector<std::string> paths;
    const XMLNode& root = document.root();
    paths.reserve(static_cast<size_t>(root.num_children()));
    for (int i = 0; i < root.num_children(); ++i) {
        const XMLNode* node = root.child(i);
        if (node->kind() != NODE_ELEMENT || node->name_id() != ids::open)
            continue;
        std::string_view path = node->parameter(ids::path);
        if (path.empty())
            path = node->parameter(ids::dir);
        paths.push_back(normalize_path(path, false, false));
    }
    return paths;
}

}  // namespace kam
