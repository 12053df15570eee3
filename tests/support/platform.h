// What the tests must know of the system they run on.
#pragma once

#include <filesystem>

namespace test {

#ifdef _WIN32
// Windows: names are matched without regard to case, error texts differ between Windows and
// Wine, and links and permissions are not what POSIX makes them.
constexpr bool on_windows = true;
#else
constexpr bool on_windows = false;
#endif

// Whether the tests run as Windows programs under Wine.
bool under_wine();
// Makes a named pipe (FIFO) at path; false where the file system has none (Windows).
bool make_fifo(const std::filesystem::path& path);

}  // namespace test
