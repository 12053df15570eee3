// XML documents: paths, parsing with caught errors, includes and selections.
#include "xml/xml_document.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "utility/encoding.h"
#include "utility/path.h"
#include "utility/virtual_file_system.h"
#include "xml/xml_binary.h"
#include "xml/xml_parser.h"

namespace kam {

namespace {

const char* const internal_file = "#internal_file";

// The files whose text is being parsed right now on this thread, outermost first, in canonical
// form; null when none is. The outermost BeingLoaded holds the list: a thread_local with a
// destructor brings the Windows runtime down when a job's thread ends.
thread_local std::vector<std::string>* files_being_loaded = nullptr;

// Files may include each other many times over without a cycle, and the work then grows with the
// product of the counts: a few files of a few kilobytes would take hours. Counted from the
// outermost parse on, across every include it makes.
constexpr int max_includes = 10000;
thread_local int parses_running = 0;
thread_local int includes_made = 0;

class Parsing {
public:
    Parsing() {
        if (parses_running++ == 0)
            includes_made = 0;
    }
    ~Parsing() { --parses_running; }
    Parsing(const Parsing&) = delete;
    Parsing& operator=(const Parsing&) = delete;
};

std::string canonical(std::string_view path) {
    return normalize_path(path, false, false);
}

// Marks a file as being parsed for as long as it is.
class BeingLoaded {
public:
    explicit BeingLoaded(const std::string& path) {
        if (files_being_loaded != nullptr) {
            files_being_loaded->push_back(canonical(path));
        } else {
            outermost_.push_back(canonical(path));
            files_being_loaded = &outermost_;
        }
    }
    ~BeingLoaded() {
        files_being_loaded->pop_back();
        if (files_being_loaded == &outermost_)
            files_being_loaded = nullptr;
    }
    BeingLoaded(const BeingLoaded&) = delete;
    BeingLoaded& operator=(const BeingLoaded&) = delete;

private:
    std::vector<std::string> outermost_;
};

bool is_being_loaded(const std::string& path) {
    const std::string key = canonical(path);
    return files_being_loaded != nullptr &&
           std::find(files_being_loaded->begin(), files_being_loaded->end(), key) !=
               files_being_loaded->end();
}

void select_below(const XMLNode& node, std::string_view remainder,
                  std::vector<const XMLNode*>& selected) {
    if (remainder.empty() || remainder == "/") {
        selected.push_back(&node);
        return;
    }
    const size_t slash = remainder.find('/');
    const std::string_view step = remainder.substr(0, slash);
    const std::string_view rest =
        slash == std::string_view::npos ? std::string_view() : remainder.substr(slash + 1);
    for (int i = 0; i < node.num_children(); ++i) {
        const XMLNode& child = *node.child(i);
        if (child.kind() != NODE_ELEMENT && child.kind() != NODE_DEFINE)
            continue;
        if (step == "*" || step == child.name())
            select_below(child, rest, selected);
    }
}

}  // namespace

XMLDocument::XMLDocument() : defines_(&own_defines_) {}

void XMLDocument::fill_entities() {
    entities_.clear();
    entities_[intern("lt")] = "<";
    entities_[intern("gt")] = ">";
    entities_[intern("apos")] = "'";
    entities_[intern("quot")] = "\"";
    entities_[intern("amp")] = "&";
    entities_[intern("#10")] = "\n";
}

bool XMLDocument::load(const std::string& path, bool binary_allowed) {
    set_path(path);
    failure.clear();
    failed_includes.clear();
    VirtualFileSystem& files = VirtualFileSystem::instance();
    // One lookup answers for each file throughout; a source that is read for certain is opened
    // in the same step.
    VirtualFileSystem::Found source_found =
        binary_allowed ? files.find(path) : files.find_file(path);
    const bool source_exists = source_found.found();
    const std::string binary_path =
        binary_xml_path(source_exists ? files.source_path(source_found) : path);

    VirtualFileSystem::Found binary_found;
    if (binary_allowed && !binary_path.empty())
        binary_found = files.find(binary_path);
    if (binary_found.found()) {
        const std::uint64_t binary_time = binary_found.info.modification_time;
        if (!source_exists || binary_time >= source_found.info.modification_time) {
            Archive binary = files.open(binary_found, "r");
            if (binary.has_store() && binary_xml_version(binary) == 1) {
                if (!read_binary(binary))
                    return false;
                bool stale = false;
                if (xml_check_dependencies) {
                    for (const std::string& dependency : dependencies) {
                        if (files.exists(dependency) &&
                            files.modification_time(dependency) > binary_time) {
                            stale = true;
                            break;
                        }
                    }
                }
                if (!stale)
                    return true;
                root_.clear();
                dependencies.clear();
            }
        }
    }

    Archive source = files.open(source_found, "r");
    if (!source.has_store()) {
        failure = path + (source_exists ? " cannot be opened" : " does not exist");
        return false;
    }
    bool parsed;
    {
        const BeingLoaded loading(path);
        parsed = parse_text(source);
    }
    // An included file's binary form would hide its failed includes from the next load that
    // takes it; the outermost file's is written all the same, and its caller reports them.
    const bool complete = failed_includes.empty() || files_being_loaded == nullptr;
    // Written whole and put in place at the job's release: other jobs include this file too.
    if (parsed && complete && xml_write_binary && !binary_path.empty())
        write_whole_file(files, binary_path, [this](Archive& binary) { write_binary(binary); });
    return parsed;
}

// An empty file reaches parse_owned, which says so.
bool XMLDocument::parse_text(Archive& archive) {
    LargeBlock bytes;
    size_t size = 0;
    try {
        const std::int64_t remaining = archive.remaining();
        if (remaining > std::numeric_limits<std::uint32_t>::max()) {
            throw std::runtime_error("Archive " + archive.name() + " is too large");
        }
        // Read straight into the parser's buffer: a copy of a large file costs as much again.
        size = static_cast<size_t>(remaining);
        bytes = new_large_block(size + xml_parse_padding);
        read_bytes(archive, bytes.get(), static_cast<std::uint32_t>(size));
    } catch (const std::runtime_error& error) {
        if (!xml_catch_parse_errors)
            throw;
        failure = error.what();
        root_.clear();
        return false;
    }
    return parse_owned(std::move(bytes), size, archive.name());
}

bool XMLDocument::parse_memory(std::string_view text) {
    set_path(internal_file);
    return parse_bytes(text, internal_file);
}

bool XMLDocument::parse_bytes(std::string_view bytes, const std::string& archive_name) {
    LargeBlock owned = new_large_block(bytes.size() + xml_parse_padding);
    std::memcpy(owned.get(), bytes.data(), bytes.size());
    return parse_owned(std::move(owned), bytes.size(), archive_name);
}

bool XMLDocument::parse_owned(LargeBlock bytes, size_t size, const std::string& archive_name) {
    if (size == 0) {
        failure = "Archive " + archive_name + " empty";
        root_.clear();  // a failed parse keeps nothing of the last one
        return false;
    }
    unknown_entity = false;
    include_error.clear();
    failure.clear();
    failed_includes.clear();
    if (owns_defines())
        own_defines_.clear();
    const Parsing parsing;
    try {
        return parse_xml(*this, std::move(bytes), size, archive_name);
    } catch (const XMLIncludeError& error) {
        if (!xml_catch_parse_errors)
            throw;
        include_error = error.cause;
        failure = error.what();
    } catch (const std::runtime_error& error) {
        if (!xml_catch_parse_errors)
            throw;
        failure = error.what();
    }
    root_.clear();
    return false;
}

void XMLDocument::set_path(const std::string& path) {
    path_ = path;
    directory_ = document_directory(path);
    name_ = canonical(path).substr(directory_.size());
}

std::string document_directory(std::string_view path) {
    std::string directory = canonical(path);
    directory.resize(directory.rfind('\\') + 1);  // npos + 1 is 0
    return directory;
}

std::string XMLDocument::resolve_include(const std::string& href) const {
    return kam::resolve_include(directory_, href);
}

std::string resolve_include(std::string_view from, std::string_view href) {
    if (!href.empty() && (href[0] == '/' || href[0] == '\\'))
        return std::string(href);
    std::string directory(from);
    std::string_view rest = href;
    while (rest.substr(0, 2) == "..") {
        rest.remove_prefix(std::min<size_t>(3, rest.size()));
        const size_t up =
            directory.size() < 2 ? std::string::npos : directory.rfind('\\', directory.size() - 2);
        directory.resize(up == std::string::npos ? 0 : up + 1);
    }
    return directory + std::string(rest);
}

std::vector<const XMLNode*> select(const XMLNode& root, std::string_view path) {
    std::vector<const XMLNode*> selected;
    if (path.empty() || path[0] != '/')
        return selected;
    const size_t second = path.find('/', 1);
    const std::string_view first_step =
        path.substr(1, second == std::string_view::npos ? std::string_view::npos : second - 1);
    if (first_step != root.name())
        return selected;
    select_below(root, second == std::string_view::npos ? path : path.substr(second + 1), selected);
    return selected;
}

std::vector<std::unique_ptr<XMLNode>> XMLDocument::include(const XMLNode& element) {
    std::vector<std::unique_ptr<XMLNode>> nodes;
    std::string path = resolve_include(std::string(element.parameter(ids::href)));
    if (element.parameter(ids::parse) == "text")
        return nodes;
    std::string fragment;
    const size_t hash = path.find('#');
    if (hash != std::string::npos) {
        for (char c : std::string_view(path).substr(hash + 1)) {
            if (c != '\t' && c != '\n' && c != ' ')
                fragment += c;
        }
        path.resize(hash);
    }
    if (is_being_loaded(path))
        throw XMLIncludeError("Recursive include of " + path, "Recursive include of " + path);
    if (++includes_made > max_includes) {
        const std::string message =
            "More than " + std::to_string(max_includes) + " includes in one load";
        throw XMLIncludeError(message, message);
    }

    XMLDocument included;
    included.entities_ = entities_;
    included.borrow_defines(defines());
    const XMLDefineList::State state = defines().state();
    const bool loaded = included.load(path);
    // A parse that stopped half-way leaves its scopes open.
    defines().restore(state);
    if (!loaded) {
        dependencies.insert(path);
        if (!included.include_error.empty()) {
            throw XMLIncludeError(included.include_error, included.include_error);
        }
        failed_includes.push_back(path_ + " (" + std::to_string(element.line()) +
                                  "): Cannot include " + path + ": " + included.failure);
        return nodes;
    }
    failed_includes.insert(failed_includes.end(), included.failed_includes.begin(),
                           included.failed_includes.end());
    dependencies.insert(included.dependencies.begin(), included.dependencies.end());
    dependencies.insert(path);

    std::string selection =
        fragment.empty() ? "xpointer(/" + included.root().name() + "/*)" : fragment;
    if (selection.compare(0, 8, "xpointer") == 0) {
        selection =
            selection.size() < 10 ? std::string() : selection.substr(9, selection.size() - 10);
    }
    for (const XMLNode* node : select(included.root(), selection)) {
        if (node->kind() == NODE_DEFINE) {
            defines().add(std::make_unique<XMLDefine>(node->define()));
        } else {
            nodes.push_back(std::make_unique<XMLNode>(*node));
        }
    }
    return nodes;
}

}  // namespace kam
