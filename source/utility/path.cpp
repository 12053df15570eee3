// Path strings: the canonical form and small helpers.
#include "utility/path.h"

namespace kam {

std::string normalize_path(std::string_view path, bool trailing_separator, bool keep_leading_separator) {
    std::string result;
    result.reserve(path.size() + 1);
    for (char c : path) {
        if (is_path_separator(c)) {
            if (result.empty() ? !keep_leading_separator : result.back() == '\\') continue;
            // Only one leading separator is kept: the next one follows a kept separator.
            result += '\\';
        } else {
            result += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
    }
    if (!result.empty()) {
        const bool ends_with_separator = result.back() == '\\';
        if (trailing_separator && !ends_with_separator) result += '\\';
        if (!trailing_separator && ends_with_separator) result.pop_back();
    }
    return result;
}

std::string join_path(std::string_view directory, std::string_view name) {
    std::string result(directory);
    if (!result.empty() && !is_path_separator(result.back())) result += '\\';
    result += name;
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
