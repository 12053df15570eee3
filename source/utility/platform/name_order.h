// Inside the platform layer: the order in which every system lists directory entries.
#pragma once

#include <string_view>
#include <vector>

#include "utility/platform/directories.h"

namespace kam::platform {

// Names compared with ASCII case folded, ties broken by the raw bytes.
bool folded_name_less(std::string_view a, std::string_view b);

// Sorts a whole listing into that order and appends the entries the pattern matches, leaving
// out version-control folders.
void append_listed(std::vector<DirectoryEntry>& all, std::string_view pattern,
                   std::vector<DirectoryEntry>& entries);

}  // namespace kam::platform
