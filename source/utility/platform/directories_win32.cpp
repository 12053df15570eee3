// Directory services over Win32 calls. The system matches names without regard to case itself,
// so there is nothing to resolve or cache here.
#include "utility/platform/directories.h"

#include <windows.h>

#include <algorithm>

#include "utility/platform/name_order.h"
#include "utility/platform/native_path_win32.h"

namespace kam::platform {

namespace {

using win32::native_path;

LookupResult lookup_failure() {
    return win32::is_not_found_error(GetLastError()) ? LookupResult::not_found
                                                     : LookupResult::failed;
}

bool attributes_of(const std::wstring& name, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data) != FALSE;
}

// What a path leads to, links followed, for its identity or to see whether a link leads
// anywhere; directories too. The system's error stays set when it is not found.
LookupResult target_information(const std::wstring& name, BY_HANDLE_FILE_INFORMATION& information) {
    HANDLE target =
        CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target == INVALID_HANDLE_VALUE)
        return lookup_failure();
    const BOOL known = GetFileInformationByHandle(target, &information);
    const DWORD error = GetLastError();
    CloseHandle(target);
    SetLastError(error);
    return known ? LookupResult::found : LookupResult::failed;
}

bool is_link(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A link's own attributes say nothing of its target: look the target up.
LookupResult look_up_target(const std::wstring& name, PathInfo& info) {
    BY_HANDLE_FILE_INFORMATION information;
    const LookupResult result = target_information(name, information);
    if (result != LookupResult::found)
        return result;
    info.is_directory = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.last_write_time = win32::filetime(information.ftLastWriteTime);
    return LookupResult::found;
}

}  // namespace

LookupResult look_up(const std::string& path, PathInfo& info) {
    if (path.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return LookupResult::not_found;
    }
    const std::wstring name = native_path(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!attributes_of(name, data))
        return lookup_failure();
    if (is_link(data.dwFileAttributes))
        return look_up_target(name, info);
    info.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.last_write_time = win32::filetime(data.ftLastWriteTime);
    return LookupResult::found;
}

LookupResult look_up_link(const std::string& path, PathInfo& info, bool& link) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!attributes_of(native_path(path), data))
        return lookup_failure();
    link = is_link(data.dwFileAttributes);
    info.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.last_write_time = win32::filetime(data.ftLastWriteTime);
    return LookupResult::found;
}

LookupResult list_directory(const std::string& directory, std::string_view pattern,
                            std::vector<DirectoryEntry>& entries) {
    // Every name is read and the pattern applied here: the system's own matching also matches
    // short 8.3 names, which would list files that the pattern does not name.
    std::wstring search = native_path(directory);
    if (search.back() != L'\\')
        search += L'\\';
    search += L'*';
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(search.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return lookup_failure();
    std::vector<DirectoryEntry> all;
    do {
        std::string name = win32::narrow(found.cFileName, wcslen(found.cFileName));
        if (name == "." || name == "..")
            continue;
        DirectoryEntry entry;
        entry.name = std::move(name);
        entry.is_directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (is_link(found.dwFileAttributes)) {
            std::wstring target = search;
            target.pop_back();
            target += found.cFileName;
            PathInfo info;
            entry.is_broken_link = look_up_target(target, info) != LookupResult::found;
            entry.is_directory = !entry.is_broken_link && info.is_directory;
        }
        all.push_back(std::move(entry));
    } while (FindNextFileW(find, &found));
    const DWORD error = GetLastError();
    FindClose(find);
    if (error != ERROR_NO_MORE_FILES) {
        SetLastError(error);
        return LookupResult::failed;
    }
    append_listed(all, pattern, entries);
    return LookupResult::found;
}

bool create_directory(const std::string& path) {
    return CreateDirectoryW(native_path(path).c_str(), nullptr) != FALSE;
}

bool remove_directory(const std::string& path) {
    return RemoveDirectoryW(native_path(path).c_str()) != FALSE;
}

bool delete_file(const std::string& path) {
    return DeleteFileW(native_path(path).c_str()) != FALSE;
}

bool remove_link(const std::string& path) {
    const std::wstring name = native_path(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (!is_link(attributes)) {
        SetLastError(ERROR_NOT_A_REPARSE_POINT);
        return false;
    }
    // A link to a directory is removed as a directory, which leaves its target alone.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return RemoveDirectoryW(name.c_str()) != FALSE;
    return DeleteFileW(name.c_str()) != FALSE;
}

std::string current_directory() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0)
        return std::string();
    std::wstring buffer(size, L'\0');
    const DWORD length = GetCurrentDirectoryW(size, buffer.data());
    if (length == 0 || length >= size)
        return std::string();
    return win32::narrow(buffer.data(), length);
}

// Names are found whatever their case here, so the spelling given serves.
std::string spelled_path(const std::string& path) {
    const std::wstring native = native_path(path);
    return win32::narrow(native.data(), native.size());
}

void forget_cached_directories() {}

bool file_identity(const std::string& path, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (target_information(native_path(path), information) != LookupResult::found)
        return false;
    identity.volume = information.dwVolumeSerialNumber;
    identity.index =
        (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return true;
}

}  // namespace kam::platform
