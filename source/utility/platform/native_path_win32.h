// Inside the Win32 platform layer: the tool's UTF-8 paths as the UTF-16 names the system takes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kam::platform::win32 {

// The path in UTF-16 with '\' separators, without doubled separators (a leading "\\" of a network
// path is kept) or trailing ones (a root keeps its own); an empty path names the current
// directory. The system matches names without regard to case.
std::wstring native_path(const std::string& path);
// UTF-8 from UTF-16.
std::string narrow(const wchar_t* text, std::size_t length);
// A FILETIME as one number.
std::uint64_t filetime(const FILETIME& time);
// Whether the error says that the path, or a directory on its way, does not exist.
bool is_not_found_error(DWORD error);

}  // namespace kam::platform::win32
