// UTF-8 and UTF-16 meet here, at the boundary of the system's wide-character calls.
#include "utility/platform/native_path_win32.h"

namespace kam::platform::win32 {

namespace {

bool is_separator(wchar_t c) {
    return c == L'/' || c == L'\\';
}

std::wstring widen(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

}  // namespace

std::wstring native_path(const std::string& path) {
    const std::wstring wide = widen(path);
    std::wstring result;
    result.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const wchar_t c = wide[i];
        if (!is_separator(c)) {
            result += c;
            continue;
        }
        // A network path's two leading separators stay.
        if (!result.empty() && result.back() == L'\\' && !(i == 1 && result.size() == 1))
            continue;
        result += L'\\';
    }
    if (result.empty())
        return L".";
    // "\" and "c:\" are roots and keep their separator; "c:" alone would mean the drive's current
    // directory.
    const bool root = result == L"\\" || result == L"\\\\" ||
                      (result.size() == 3 && result[1] == L':' && result[2] == L'\\');
    if (!root && result.size() > 1 && result.back() == L'\\')
        result.pop_back();
    if (result.size() == 2 && result[1] == L':')
        result += L'\\';
    return result;
}

std::string narrow(const wchar_t* text, std::size_t length) {
    if (length == 0)
        return std::string();
    const int size = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, size, result.data(), bytes, nullptr, nullptr);
    return result;
}

std::uint64_t filetime(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool is_not_found_error(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_PATHNAME:
        case ERROR_BAD_NETPATH:
        case ERROR_DIRECTORY:
            return true;
        default:
            return false;
    }
}

}  // namespace kam::platform::win32
