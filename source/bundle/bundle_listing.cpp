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
std::vector<const std::string*> names_of(const BundleIndex& index, const std::string& directory,
                                         bool want_directories) {
    std::vector<const std::string*> names;
    const BundleEntryMap* entries = index.directory(directory);
    if (entries == nullptr) return names;
    for (const auto& [name, entry] : *entries) {
        if (entry.is_directory() == want_directories) names.push_back(&name);
    }
    return names;
}

const BundleEntry& entry_of(const BundleIndex& index, const std::string& path, const char* kind) {
    const BundleEntry* entry = index.lookup(path);
    if (entry == nullptr) throw std::runtime_error(std::string("Error parsing bundle ") + kind + path);
    return *entry;
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
        const std::string& name = *subdirectories[i];
        const std::string path = base + name;
        const BundleEntry& entry = entry_of(index_, path, "dir ");
        line(indent + "+-- " + name, entry.is_visible() ? " <dir>" : " <hidden>");
        if (recursive) {
            const bool last = i + 1 == subdirectories.size();
            tree(path, indent + (last ? "    " : "|   "), recursive);
        }
    }
    for (const std::string* name : names_of(index_, directory, false)) {
        const BundleEntry& entry = entry_of(index_, base + *name, "file ");
        line(indent + "+-- " + *name, entry.is_visible() ? " " + size_text(entry) : " <hidden>");
    }
}

void BundleLister::flat(const std::string& directory, bool recursive) {
    const std::string base = normalize_path(directory, true, false);
    for (const std::string* name : names_of(index_, directory, false)) {
        const std::string path = base + *name;
        const BundleEntry& entry = entry_of(index_, path, "file ");
        line(path, entry.is_visible() ? size_text(entry) : "<hidden>");
    }
    if (!recursive) return;
    for (const std::string* name : names_of(index_, directory, true)) {
        const std::string path = base + *name;
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
    if (right_width > right_length) pending_.append(static_cast<size_t>(right_width - right_length), ' ');
    pending_ += right;
    pending_ += '\n';
    if (pending_.size() >= write_chunk) write_out();
}

void BundleLister::write_out() {
    out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    out_.flush();
    pending_.clear();
}

int list_width(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        // Beyond the cap the exact value no longer matters; stopping there keeps it from overflowing.
        value = std::min<long long>(value * 10 + (text[i] - '0'), BundleLister::max_width + 1ll);
    }
    if (negative || value == 0) return BundleLister::default_width;
    return static_cast<int>(std::min<long long>(value, BundleLister::max_width));
}

}  // namespace kam
