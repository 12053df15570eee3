// Inside the POSIX platform layer: turning the tool's paths into names the kernel knows.
#pragma once

#include <string>

namespace kam::platform::posix {

// The path with '/' separators and, where the exact spelling does not exist, components matched
// without regard to ASCII case; components that do not exist are kept as given.
std::string native_path(const std::string& path);
// The path with '/' separators, spelled as given: what native_path gives for a path that exists.
std::string spelled_path(const std::string& path);
// Keep the directory cache right after the tool added or removed an entry at a native path.
void note_added(const std::string& native);
void note_removed(const std::string& native);

}  // namespace kam::platform::posix
