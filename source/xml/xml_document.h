// One XML file loaded into a tree: its root, entities, defines, path and included files.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "utility/id_string.h"
#include "utility/large_block.h"
#include "xml/xml_define.h"
#include "xml/xml_node.h"

namespace kam {

class Archive;

class XMLDocument {
public:
    XMLDocument();
    XMLDocument(const XMLDocument&) = delete;
    XMLDocument& operator=(const XMLDocument&) = delete;

    XMLNode& root() { return root_; }
    const XMLNode& root() const { return root_; }

    // Fills the document from the binary form beside path when it is up to date, else from
    // the text. False when the file is missing, does not parse or its binary form is corrupt.
    bool load(const std::string& path) { return load(path, true); }
    // As load, from the text whatever binary form lies beside it.
    bool load_text(const std::string& path) { return load(path, false); }

    // Parses the whole archive into the root. False for an empty archive, for unknown
    // entities (the tree is still built) and, with xml_catch_parse_errors, for any error.
    bool parse_text(Archive& archive);
    // Parses the text as the file "#internal_file".
    bool parse_memory(std::string_view text);
    // As parse_text, over bytes named archive_name in messages.
    bool parse_bytes(std::string_view bytes, const std::string& archive_name);

    // Writes the root tree and the dependencies in the binary form. Throws on write errors.
    void write_binary(Archive& archive) const;
    // Replaces the root by the tree stored in the archive and adds its dependencies. False
    // for a corrupt archive (with xml_catch_parse_errors; else the error passes on).
    bool read_binary(Archive& archive);

    // Records the path, and its directory and file name in canonical form.
    void set_path(const std::string& path);
    // The path an include's href names, relative to this document's directory.
    std::string resolve_include(const std::string& href) const;

    const std::string& path() const { return path_; }
    const std::string& directory() const { return directory_; }
    const std::string& name() const { return name_; }

    // The paths of every file included into this document, sorted.
    std::set<std::string> dependencies;

    const std::map<IdString, std::string>& entities() const { return entities_; }
    // The define list in use: the document's own, or its includer's while it is parsed.
    XMLDefineList& defines() { return *defines_; }
    void borrow_defines(XMLDefineList& list) { defines_ = &list; }
    bool owns_defines() const { return defines_ == &own_defines_; }

    // The nodes an include element names, to take its place (called by the parser); the
    // defines among them join the define list instead. Throws when the include closes a cycle.
    std::vector<std::unique_ptr<XMLNode>> include(const XMLNode& include_element);

    // Set by the parser when it met an entity it does not know.
    bool unknown_entity = false;
    // Why the last parse failed when the includer has to fail as well (XMLIncludeError).
    std::string include_error;
    // Why the last load or parse failed (or met an unknown entity), naming the file; kept so
    // that a caller catching parse errors can still report them.
    std::string failure;
    // The includes of the last load that could not be read or parsed, here or in the files it
    // included, each naming the includer, its line and the include; the tree lacks their nodes.
    std::vector<std::string> failed_includes;

private:
    friend class XMLParser;
    bool load(const std::string& path, bool binary_allowed);
    // As parse_bytes, over size bytes followed by the parser's room.
    bool parse_owned(LargeBlock bytes, size_t size, const std::string& archive_name);
    void fill_entities();

    XMLNode root_;
    std::map<IdString, std::string> entities_;
    XMLDefineList own_defines_;
    XMLDefineList* defines_;
    std::string directory_;
    std::string name_;
    std::string path_;
};

// The directory of a document at path: its canonical form up to and with the last separator,
// empty when there is none.
std::string document_directory(std::string_view path);

// The path an include's href names from a document in directory (canonical, with a trailing
// separator): ".." steps go up from it; an href starting with a separator is taken as it is.
std::string resolve_include(std::string_view directory, std::string_view href);

// The nodes of root that an "/a/b/*" path names; nothing for a path that does not start
// with "/" + the root's name.
std::vector<const XMLNode*> select(const XMLNode& root, std::string_view path);

// The error a parse raises: the file, " (" + line + "): " and the message.
class XMLParseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An error that fails the includer as well as the included file: an include of a file that is
// being loaded already, nesting too deep counted across includes, or more than 10000 includes
// made by one outermost parse.
class XMLIncludeError : public XMLParseError {
public:
    XMLIncludeError(const std::string& message, std::string cause)
        : XMLParseError(message), cause(std::move(cause)) {}
    std::string cause;  // the message without the places it passed through
};

}  // namespace kam
