// Path strings: the canonical form and small helpers.
#pragma once

#include <string>
#include <string_view>

namespace kam {

// The canonical form: '/' becomes '\', A-Z become a-z (no other byte changes); a separator right
// after another is dropped, and so are separators at the start unless keep_leading_separator is
// set (then one is kept); a non-empty result ends with one separator when trailing_separator is
// set and with none when it is not. Data//Units/Tank.XML becomes data\units\tank.xml.
std::string normalize_path(std::string_view path, bool trailing_separator,
                           bool keep_leading_separator);

// directory + '\' + name, with no separator added when the directory is empty or already ends
// with one.
std::string join_path(std::string_view directory, std::string_view name);

// a + b, built in one allocation where a string and a literal added with + take two.
std::string concat(std::string_view a, std::string_view b);

// What follows the last '/' or '\' (the whole path when there is none).
std::string file_name(std::string_view path);

// From the path's last '.' to the end, the dot included; empty when there is no '.'. The dot is
// searched in the whole path, so a dot in a directory name counts when the file name has none.
std::string extension(std::string_view path);

inline bool is_path_separator(char c) {
    return c == '/' || c == '\\';
}

// find_first_of and find_last_of with "/\\", without a search of the set for every character.
inline size_t find_separator(std::string_view path, size_t start = 0) {
    for (size_t i = start; i < path.size(); ++i) {
        if (is_path_separator(path[i]))
            return i;
    }
    return std::string_view::npos;
}
inline size_t find_last_separator(std::string_view path) {
    for (size_t i = path.size(); i > 0; --i) {
        if (is_path_separator(path[i - 1]))
            return i - 1;
    }
    return std::string_view::npos;
}

// A-Z become a-z and every other byte stays: names compare without case in ASCII only, the same
// on every system.
inline char fold_case(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text with every byte case-folded as above.
inline std::string fold_case(std::string text) {
    for (char& c : text)
        c = fold_case(c);
    return text;
}

}  // namespace kam
