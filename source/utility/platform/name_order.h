// Inside the platform layer: the order in which every system lists directory entries.
#pragma once

#include <string_view>

namespace kam::platform {

// Names compared with ASCII case folded, ties broken by the raw bytes.
bool folded_name_less(std::string_view a, std::string_view b);

}  // namespace kam::platform
