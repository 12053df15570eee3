// Path strings: the canonical form and small helpers.
#include "utility/path.h"

namespace kam {

std::string normalize_path(std::string_view path, bool trailing_separator,
                           bool keep_leading_separator) {
    // Written through a pointer into room for the longest result: paths are put in this form for
    // every lookup, and appending byte by byte costs a capacity check per byte.
    std::string result(path.size() + 1, '\0');
    char* const begin = result.data();
    char* out = begin;
    for (char c : path) {
        if (is_path_separator(c)) {
            if (out == begin ? !keep_leading_separator : out[-1] == '\\')
                continue;
            // Only one leading separator is kept: the next one follows a kept separator.
            *out++ = '\\';
        } else {
            *out++ = fold_case(c);
        }
    }
    if (out != begin) {
        const bool ends_with_separator = out[-1] == '\\';
        if (trailing_separator && !ends_with_separator)
            *out++ = '\\';
        if (!trailing_separator && ends_with_separator)
            --out;
    }
    result.resize(static_cast<size_t>(out - begin));
    return result;
}

std::string join_path(std::string_view directory, std::string_view name) {
    std::string result;
    result.reserve(directory.size() + 1 + name.size());
    result += directory;
    if (!result.empty() && !is_path_separator(result.back()))
        result += '\\';
    result += name;
    return result;
}

std::string concat(std::string_view a, std::string_view b) {
    std::string result;
    result.reserve(a.size() + b.size());
    result += a;
    result += b;
    return result;
}

std::string file_name(std::string_view path) {
    const auto separator = path.find_last_of("/\\");
    return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

std::string extension(std::string_view path) {
    const auto dot = path.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot));
}

}  // namespace kam
