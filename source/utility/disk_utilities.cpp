// Command-line paths, file deletion and directory chains.
#include "utility/disk_utilities.h"

#include <stdexcept>
#include <vector>

#include "utility/disk_file_system.h"
#include "utility/output_streams.h"
#include "utility/path.h"
#include "utility/platform/directories.h"
#include "utility/platform/error_text.h"

namespace kam {

namespace {

bool has_drive(const std::string& path) {
    return path.size() >= 2 && path[1] == ':';
}

// Splits at both separators. Empty components are dropped, except a first one, which marks a
// path that starts with a separator.
std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    bool first = true;
    for (char c : path) {
        if (is_path_separator(c)) {
            if (!part.empty() || first)
                parts.push_back(part);
            part.clear();
            first = false;
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

std::string joined(const std::vector<std::string>& parts, size_t from, size_t to) {
    std::string result;
    for (size_t i = from; i < to; ++i) {
        if (i > from)
            result += '\\';
        result += parts[i];
    }
    return result;
}

// The root of an absolute path: the empty component before a leading separator, or a drive.
bool is_root(const std::vector<std::string>& parts, size_t index) {
    return index == 0 && (parts[0].empty() || (parts[0].size() == 2 && parts[0][1] == ':'));
}

}  // namespace

std::string current_directory() {
    // Empty would read as the top of the disk: "-r ." from a removed directory walked all of it.
    std::string current = platform::current_directory();
    if (current.empty())
        throw DiskError("Cannot determine the current directory", platform::last_error());
    return current;
}

namespace {

bool is_absolute(const std::string& path) {
    return has_drive(path) || (!path.empty() && is_path_separator(path[0]));
}

}  // namespace

std::string make_absolute(const std::string& path) {
    return make_absolute(path, is_absolute(path) ? std::string() : current_directory());
}

std::string make_absolute(const std::string& path, const std::string& current) {
    const bool absolute = is_absolute(path);
    const std::vector<std::string> parts = components(absolute ? path : current + "\\" + path);
    std::vector<std::string> kept;
    for (const std::string& part : parts) {
        if (part == ".")
            continue;
        if (part == ".." && !kept.empty()) {
            // Above the root there is nothing: the root stays.
            if (!is_root(kept, kept.size() - 1))
                kept.pop_back();
            continue;
        }
        kept.push_back(part);
    }
    std::string result = joined(kept, 0, kept.size());
    if (kept.size() == 1 && kept[0].empty())
        result.assign(1, '\\');
    if (kept.size() == 1 && has_drive(kept[0]))
        result += '\\';
    return fold_case(std::move(result));
}

std::string make_relative(const std::string& base, const std::string& path) {
    const std::vector<std::string> from = components(base);
    const std::vector<std::string> to = components(path);
    size_t shared = 0;
    while (shared < from.size() && shared < to.size() && from[shared] == to[shared])
        ++shared;
    std::string result;
    for (size_t i = shared; i < from.size(); ++i)
        result += "..\\";
    result += joined(to, shared, to.size());
    if (result.empty())
        return ".";
    if (result.back() == '\\')
        result.pop_back();
    return result;
}

bool same_file(const std::string& a, const std::string& b) {
    platform::FileIdentity first, second;
    if (platform::file_identity(a, first) && platform::file_identity(b, second))
        return first == second;
    return make_absolute(a) == make_absolute(b);
}

void check_outputs_are_not_inputs(const std::vector<std::string>& outputs,
                                  const std::vector<std::string>& inputs) {
    for (const std::string& output : outputs) {
        for (const std::string& input : inputs) {
            if (!input.empty() && same_file(output, input)) {
                throw std::runtime_error("The output " + output + " is the input " + input +
                                         "; nothing was written");
            }
        }
    }
}

void create_directories(const std::string& path) {
    const std::vector<std::string> parts = components(path);
    for (size_t count = 1; count <= parts.size(); ++count) {
        if (is_root(parts, count - 1))
            continue;
        const std::string prefix = count == 1 && parts[0].empty() ? "\\" : joined(parts, 0, count);
        if (default_disk_file_system().exists(prefix))
            continue;
        if (!platform::create_directory(prefix)) {
            const std::string text = platform::error_text(platform::last_error());
            error_stream << "Cant create directory \"" << prefix << "\" (" << text << ")"
                         << std::endl;
        }
    }
}

}  // namespace kam
