// The list command's tree and flat listings.
#include "bundle/bundle_listing.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <vector>

#include "utility/path.h"

namespace kam {

namespace {

// Lines are gathered and written this many bytes at a time: a flush per line cost a system call
// per file, and standard output is unbuffered.
constexpr size_t write_chunk = 1u << 16;

// The names of the entries of one kind in a directory of the index, in name order; none when the
// path names no visible directory.
std::vector<std::string_view> names_of(const BundleIndex& index, const std::string& directory,
                                       bool want_directories) {
    std::vector<std::string_view> names;
    const BundleEntryMap* entries = index.directory(directory);
    if (entries == nullptr)
        return names;
    for (const auto& [name, entry] : *entries) {
        if (entry.is_directory() == want_directories)
            names.push_back(name);
    }
    return names;
}

const BundleEntry& entry_of(const BundleIndex& index, const std::string& path, const char* kind) {
    const BundleEntry* entry = index.lookup(path);
    if (entry == nullptr)
        throw std::runtime_error(std::string("Error parsing bundle ") + kind + path);
    return *entry;
}

// The length of the valid UTF-8 sequence at text[at] of a lead byte of 0xC2 or more; 0 if invalid.
size_t utf8_length(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead < 0xC2 || lead > 0xF4 || at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    }
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((lead == 0xE0 && byte(at + 1) < 0xA0) || (lead == 0xED && byte(at + 1) >= 0xA0) ||
        (lead == 0xF0 && byte(at + 1) < 0x90) || (lead == 0xF4 && byte(at + 1) >= 0x90))
        return 0;
    return length;
}

// A JSON string of the bytes: quotes, backslashes and control characters escaped, and each byte
// that is not part of valid UTF-8 as the code point of the same number (names are Latin-1 then).
std::string json_string(std::string_view text) {
    static const char hex_digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (const size_t length = c >= 0x80 ? utf8_length(text, i) : 0; length > 0) {
            out.append(text.substr(i, length));
            i += length;
            continue;
        } else {
            out += "\\u00";
            out += hex_digits[c >> 4];
            out += hex_digits[c & 15];
        }
        ++i;
    }
    return out + '"';
}

std::string size_text(const BundleEntry& entry) {
    return "[" + std::to_string(entry.size) + " bytes]";
}

}  // namespace

BundleLister::BundleLister(const BundleIndex& index, int width, std::ostream& out)
    : index_(index), name_column_(width - size_column), out_(out) {}

void BundleLister::list_tree(const std::string& directory, bool recursive) {
    try {
        tree(directory, std::string(), recursive);
    } catch (...) {
        write_out();
        throw;
    }
    write_out();
}

void BundleLister::list_json(const std::string& directory, bool recursive) {
    bool first = true;
    pending_ += "[";
    try {
        json(directory, recursive, first);
    } catch (...) {
        write_out();
        throw;
    }
    pending_ += first ? "]\n" : "\n]\n";
    write_out();
}

void BundleLister::json(const std::string& directory, bool recursive, bool& first) {
    const std::string base = normalize_path(directory, true, false);
    const BundleEntryMap* entries = index_.directory(directory);
    if (entries == nullptr)
        return;
    for (const auto& [name, entry] : *entries) {
        const std::string path = concat(base, name);
        const auto flag = [](bool value) { return value ? "true" : "false"; };
        pending_ += first ? "\n" : ",\n";
        first = false;
        pending_ += "{\"path\": " + json_string(path) + ", \"kind\": \"" +
                    (entry.is_directory() ? "directory" : "file") +
                    "\", \"size\": " + std::to_string(entry.size) +
                    ", \"offset\": " + std::to_string(entry.offset) +
                    ", \"visible\": " + flag(entry.is_visible()) +
                    ", \"has_data\": " + flag(entry.has_data()) + "}";
        if (pending_.size() >= write_chunk)
            write_out();
        if (recursive && entry.is_directory() && entry.is_visible())
            json(path, recursive, first);
    }
}

void BundleLister::list_flat(const std::string& directory, bool recursive) {
    try {
        flat(directory, recursive);
    } catch (...) {
        write_out();
        throw;
    }
    write_out();
}

void BundleLister::tree(const std::string& directory, const std::string& indent, bool recursive) {
    const std::string base = normalize_path(directory, true, false);
    const auto subdirectories = names_of(index_, directory, true);
    for (size_t i = 0; i < subdirectories.size(); ++i) {
        const std::string_view name = subdirectories[i];
        const std::string path = concat(base, name);
        const BundleEntry& entry = entry_of(index_, path, "dir ");
        line(concat(indent + "+-- ", name), entry.is_visible() ? " <dir>" : " <hidden>");
        if (recursive) {
            const bool last = i + 1 == subdirectories.size();
            tree(path, indent + (last ? "    " : "|   "), recursive);
        }
    }
    for (const std::string_view name : names_of(index_, directory, false)) {
        const BundleEntry& entry = entry_of(index_, concat(base, name), "file ");
        line(concat(indent + "+-- ", name),
             entry.is_visible() ? " " + size_text(entry) : " <hidden>");
    }
}

void BundleLister::flat(const std::string& directory, bool recursive) {
    const std::string base = normalize_path(directory, true, false);
    for (const std::string_view name : names_of(index_, directory, false)) {
        const std::string path = concat(base, name);
        const BundleEntry& entry = entry_of(index_, path, "file ");
        line(path, entry.is_visible() ? size_text(entry) : "<hidden>");
    }
    if (!recursive)
        return;
    for (const std::string_view name : names_of(index_, directory, true)) {
        const std::string path = concat(base, name);
        entry_of(index_, path, "dir ");
        flat(path, recursive);
    }
}

void BundleLister::line(std::string_view left, std::string_view right) {
    pending_ += left;
    const auto left_length = static_cast<long long>(left.size());
    const long long padded = std::max<long long>(left_length, name_column_);
    pending_.append(static_cast<size_t>(padded - left_length), ' ');
    const long long right_width = size_column + name_column_ - padded;
    const auto right_length = static_cast<long long>(right.size());
    if (right_width > right_length)
        pending_.append(static_cast<size_t>(right_width - right_length), ' ');
    pending_ += right;
    pending_ += '\n';
    if (pending_.size() >= write_chunk)
        write_out();
}

void BundleLister::write_out() {
    out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    out_.flush();
    pending_.clear();
}

int list_width(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        // Beyond the cap the exact value no longer matters; stopping there keeps it from
        // overflowing.
        value = std::min<long long>(value * 10 + (text[i] - '0'), BundleLister::max_width + 1ll);
    }
    if (negative || value == 0)
        return BundleLister::default_width;
    return static_cast<int>(std::min<long long>(value, BundleLister::max_width));
}

}  // namespace kam
