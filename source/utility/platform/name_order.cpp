// Name order and wildcard matching, the same on every system so that listings agree.
#include "utility/platform/name_order.h"

#include <algorithm>

#include "utility/path.h"
#include "utility/platform/directories.h"

namespace kam::platform {

bool folded_name_less(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const auto ca = static_cast<unsigned char>(fold_case(a[i]));
        const auto cb = static_cast<unsigned char>(fold_case(b[i]));
        if (ca != cb)
            return ca < cb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

bool matches_wildcard(std::string_view pattern, std::string_view name) {
    if (pattern == "*" || pattern == "*.*")
        return true;
    // Greedy matching that backs up to the last '*' on a mismatch: linear in practice.
    size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || fold_case(pattern[p]) == fold_case(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

void append_listed(std::vector<DirectoryEntry>& all, std::string_view pattern,
                   std::vector<DirectoryEntry>& entries) {
    std::sort(all.begin(), all.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
        return folded_name_less(a.name, b.name);
    });
    for (auto& entry : all) {
        if (entry.name == ".svn" || !matches_wildcard(pattern, entry.name))
            continue;
        entries.push_back(std::move(entry));
    }
}

}  // namespace kam::platform
