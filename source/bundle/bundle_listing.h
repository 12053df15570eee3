// Prints a bundle's directory as an indented tree or flat, one line per entry, in two columns.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "bundle/bundle_index.h"

namespace kam {

// Lists directories of a loaded index. Each line is the left text padded to the name column,
// then the right text right-aligned so that a line that fits ends at the width; nothing is ever
// cut, a long left text pushes the right one further out.
class BundleLister {
public:
    static constexpr int default_width = 79;
    static constexpr int size_column = 20;
    // Wider lines are taken as this wide: a mistyped width must not make every line gigabytes.
    static constexpr int max_width = 1 << 16;

    // The lines go to out in large writes, all of them written out by the time a list call
    // returns or throws.
    BundleLister(const BundleIndex& index, int width, std::ostream& out);

    // The subdirectories (" <dir>" or " <hidden>") and then the files (" [N bytes]" or
    // " <hidden>") of directory, indented below their parent with "+-- ". A directory that is
    // missing, a file or hidden lists nothing. Throws std::runtime_error "Error parsing bundle
    // dir " / "Error parsing bundle file " + path for a name that cannot be looked up again.
    void list_tree(const std::string& directory, bool recursive);
    // The files of directory by their full path ("[N bytes]" or "<hidden>"), then, when
    // recursive, those of its subdirectories; directories get no line of their own.
    void list_flat(const std::string& directory, bool recursive);

    // The entries of directory (and with recursive those below it) as one JSON array of objects
    // {"path", "kind" ("file" or "directory"), "size", "offset", "visible", "has_data"}, in name
    // order, each directory before its entries; paths in canonical form, every byte that is not
    // printable ASCII or part of valid UTF-8 escaped. A missing directory gives an empty array.
    void list_json(const std::string& directory, bool recursive);

private:
    void json(const std::string& directory, bool recursive, bool& first);
    void tree(const std::string& directory, const std::string& indent, bool recursive);
    void flat(const std::string& directory, bool recursive);
    void line(std::string_view left, std::string_view right);
    void write_out();

    const BundleIndex& index_;
    int name_column_;
    std::ostream& out_;
    std::string pending_;
};

// The width as the standard string-to-integer conversion reads it (leading blanks and a sign,
// digits up to the first other character, none giving 0); 0 or less gives the default width,
// more than max_width gives max_width.
int list_width(const std::string& text);

}  // namespace kam
