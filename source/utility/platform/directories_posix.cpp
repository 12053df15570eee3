// Directory services over POSIX calls, with the case-insensitive path resolution and its cache.
#include "utility/platform/directories.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <unordered_map>

#include "utility/path.h"
#include "utility/platform/name_order.h"
#include "utility/platform/native_path_posix.h"

namespace kam::platform {

namespace {

bool same_time(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Reads a directory's entries (without "." and ".."), and its time when asked for; false with
// errno set on failure.
bool read_directory(const std::string& native, std::vector<DirectoryEntry>& entries,
                    timespec* modified = nullptr) {
    DIR* directory = opendir(native.empty() ? "." : native.c_str());
    if (directory == nullptr)
        return false;
    if (modified != nullptr) {
        struct stat status {};
        if (fstat(dirfd(directory), &status) != 0) {
            const int error = errno;
            closedir(directory);
            errno = error;
            return false;
        }
        *modified = status.st_mtim;
    }
    errno = 0;
    while (dirent* entry = readdir(directory)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool is_directory = entry->d_type == DT_DIR;
        bool is_broken_link = false;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat status {};
            is_broken_link = fstatat(dirfd(directory), entry->d_name, &status, 0) != 0;
            is_directory = !is_broken_link && S_ISDIR(status.st_mode);
        }
        entries.push_back({std::string(name), is_directory, is_broken_link});
        errno = 0;
    }
    const int error = errno;
    closedir(directory);
    errno = error;
    return error == 0;
}

// What the process knows of one directory: every name, grouped by its ASCII-folded form, each
// group sorted in byte order. A tree of 100000 files is listed once per directory, not once per
// lookup.
struct CachedDirectory {
    timespec modified{};
    // The tool changed the directory after modified was taken. Its next look at the time takes
    // the new one instead of rereading: a stat after every change cost two per extracted file.
    bool changed_here = false;
    std::unordered_map<std::string, std::vector<std::string>> spellings;

    void add(const std::string& name) {
        auto& group = spellings[fold_case(name)];
        auto place = std::lower_bound(group.begin(), group.end(), name);
        if (place == group.end() || *place != name)
            group.insert(place, name);
    }
    void remove(const std::string& name) {
        auto found = spellings.find(fold_case(name));
        if (found == spellings.end())
            return;
        auto& group = found->second;
        group.erase(std::remove(group.begin(), group.end(), name), group.end());
        if (group.empty())
            spellings.erase(found);
    }
};

class DirectoryCache {
public:
    // The directory's actual spelling of name: the exact one when it exists, else the smallest
    // case-insensitive match; empty when there is none or the directory cannot be read. status,
    // when given, is the directory's, taken just before.
    std::string match(const std::string& directory, const std::string& name,
                      const struct stat* status = nullptr) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int attempt = 0; attempt < 2; ++attempt) {
            CachedDirectory* cached = find_or_load(directory, attempt == 1);
            if (cached == nullptr)
                return std::string();
            const auto group = cached->spellings.find(fold_case(name));
            if (group != cached->spellings.end()) {
                const auto& names = group->second;
                if (std::binary_search(names.begin(), names.end(), name))
                    return name;
                return names.front();
            }
            // A miss may come from a change made by someone else: reread once if the directory's
            // time says it changed.
            struct stat taken {};
            if (attempt == 0 && status != nullptr) {
                taken = *status;
            } else if (stat(key(directory).c_str(), &taken) != 0) {
                return std::string();
            }
            if (is_current(*cached, taken.st_mtim))
                return std::string();
        }
        return std::string();
    }

    // When the directory (or the disk spelling it resolved to) is cached and its time says it
    // has not changed since: true, with the directory's spelling on disk and the spelling of name
    // there, or name itself when it is not there. False when the cache cannot tell.
    bool spelling_if_unchanged(const std::string& directory, const std::string& name,
                               std::string& on_disk, std::string& spelling) {
        // The directory's time is taken outside the lock: parallel jobs ask for every file.
        std::string path;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            on_disk = directory;
            auto found = directories_.find(key(directory));
            if (found == directories_.end()) {
                const auto alias = aliases_.find(directory);
                if (alias == aliases_.end())
                    return false;
                on_disk = alias->second;
                found = directories_.find(key(on_disk));
                if (found == directories_.end())
                    return false;
            }
            path = found->first;
        }
        struct stat status {};
        if (stat(path.c_str(), &status) != 0)
            return false;
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = directories_.find(path);
        if (found == directories_.end() || !is_current(found->second, status.st_mtim))
            return false;
        const auto group = found->second.spellings.find(fold_case(name));
        if (group == found->second.spellings.end() ||
            std::binary_search(group->second.begin(), group->second.end(), name)) {
            spelling = name;
        } else {
            spelling = group->second.front();
        }
        return true;
    }

    // Brings a cached directory up to date with a fresh listing; one not cached stays so.
    void refresh(const std::string& directory, const std::vector<DirectoryEntry>& entries,
                 const timespec& modified) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = directories_.find(key(directory));
        if (found == directories_.end())
            return;
        CachedDirectory& cached = found->second;
        cached = CachedDirectory();
        cached.modified = modified;
        for (const auto& entry : entries)
            cached.add(entry.name);
    }

    // Takes in a name the tool removed (nullptr for none) and one it added, at native paths.
    void note(const std::string* removed, const std::string* added) {
        std::string directory, name;
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string* native : {removed, added}) {
            if (native == nullptr)
                continue;
            split(*native, directory, name);
            if (name.empty())
                continue;
            const auto found = directories_.find(key(directory));
            if (found == directories_.end())
                continue;
            if (native == added) {
                found->second.add(name);
            } else {
                found->second.remove(name);
            }
            found->second.changed_here = true;
        }
    }

    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        directories_.clear();
        aliases_.clear();
        has_aliases_ = false;
    }

    // A directory spelled otherwise than on disk, as resolved: opening below it then goes
    // straight to the disk spelling instead of failing and resolving again for every file.
    void set_alias(const std::string& spelled, const std::string& native) {
        std::lock_guard<std::mutex> lock(mutex_);
        aliases_[spelled] = native;
        has_aliases_ = true;
    }

    bool has_aliases() const { return has_aliases_; }
    // The disk spelling last resolved for a directory, or empty.
    std::string alias_of(const std::string& spelled) {
        if (!has_aliases_)
            return std::string();
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = aliases_.find(spelled);
        return found == aliases_.end() ? std::string() : found->second;
    }

    static std::string key(const std::string& directory) {
        return directory.empty() ? std::string(".") : directory;
    }

    // Splits a native path (no doubled or trailing separators) into directory and last name.
    static void split(const std::string& native, std::string& directory, std::string& name) {
        const auto slash = native.rfind('/');
        if (slash == std::string::npos) {
            directory.clear();
            name = native;
        } else {
            directory = slash == 0 ? std::string("/") : native.substr(0, slash);
            name = native.substr(slash + 1);
        }
    }

private:
    // Whether a cached directory still answers for its time now. A time moved since the tool's
    // own change is taken as that change's; a change by someone else in between goes unnoticed,
    // as it did when the time was taken right after the change.
    static bool is_current(CachedDirectory& cached, const timespec& now) {
        if (same_time(now, cached.modified))
            return true;
        if (!cached.changed_here)
            return false;
        cached.modified = now;
        cached.changed_here = false;
        return true;
    }

    CachedDirectory* find_or_load(const std::string& directory, bool reload) {
        const std::string path = key(directory);
        if (!reload) {
            const auto found = directories_.find(path);
            if (found != directories_.end())
                return &found->second;
        }
        struct stat status {};
        std::vector<DirectoryEntry> entries;
        const int saved = errno;
        const bool readable = stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
                              read_directory(path, entries);
        errno = saved;
        if (!readable) {
            directories_.erase(path);
            return nullptr;
        }
        CachedDirectory& cached = directories_[path];
        cached = CachedDirectory();
        cached.modified = status.st_mtim;
        for (const auto& entry : entries)
            cached.add(entry.name);
        return &cached;
    }

    std::mutex mutex_;
    std::unordered_map<std::string, CachedDirectory> directories_;
    // Directories not spelled as on disk, to their disk spelling. Kept for the process: a path
    // created later in the other spelling is not noticed (only the tool's own creations are).
    std::unordered_map<std::string, std::string> aliases_;
    std::atomic<bool> has_aliases_ = false;
};

}  // namespace

namespace posix {

// A lone "/" keeps its separator.
std::string plain_path(const std::string& path) {
    // Every lookup and open comes through here: backslashes are found with memchr, not looked
    // at one character after another. Runs of separators are rare; only then is the path
    // written again.
    std::string result = path;
    for (size_t at = result.find('\\'); at != std::string::npos; at = result.find('\\', at + 1))
        result[at] = '/';
    if (result.find("//") == std::string::npos) {
        if (result.size() > 1 && result.back() == '/')
            result.pop_back();
        return result;
    }
    result.assign(path.size(), '\0');
    char* const begin = result.data();
    char* out = begin;
    for (char c : path) {
        if (is_path_separator(c)) {
            if (out != begin && out[-1] == '/')
                continue;
            *out++ = '/';
        } else {
            *out++ = c;
        }
    }
    if (out - begin > 1 && out[-1] == '/')
        --out;
    result.resize(static_cast<size_t>(out - begin));
    return result;
}

}  // namespace posix

using posix::plain_path;

namespace {

DirectoryCache& cache() {
    static DirectoryCache* instance = new DirectoryCache();  // lives until the process ends
    return *instance;
}

bool exists_natively(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0;
}

// A directory the tool listed or filled and nobody changed since answers with one stat of the
// directory: extracting a tree asks this for every new file. False when the cache cannot tell.
bool resolve_from_cache(const std::string& plain, std::string& native) {
    const size_t slash = plain.rfind('/');
    const std::string name = slash == std::string::npos ? plain : plain.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return false;
    const std::string directory =
        slash == std::string::npos ? std::string() : plain.substr(0, std::max<size_t>(slash, 1));
    std::string on_disk, spelling;
    if (!cache().spelling_if_unchanged(directory, name, on_disk, spelling))
        return false;
    if (on_disk.empty()) {
        native = spelling;
    } else {
        native = on_disk == "/" ? "/" + spelling : on_disk + "/" + spelling;
    }
    return true;
}

// The plain path with components that do not exist as spelled matched without regard to case;
// from the first one that does not exist at all the rest keeps the spelling given. errno is kept.
std::string resolve_case(const std::string& plain) {
    const int saved = errno;
    // Find the longest prefix that exists as spelled (usually the parent of a new file), then
    // match the components below it through the cache.
    std::vector<size_t> ends;  // end of each component
    for (size_t i = 1; i <= plain.size(); ++i) {
        if (i == plain.size() || plain[i] == '/')
            ends.push_back(i);
    }
    size_t start = ends.size() - 1;
    std::string resolved;
    // The status of the directory found, which the first match below can use: every new file
    // asks, so a second stat of the same directory is worth saving.
    struct stat found {};
    bool have_found = false;
    for (;;) {
        if (start == 0) {
            resolved.assign(plain[0] == '/' ? 1 : 0, '/');
            break;
        }
        const std::string prefix = plain.substr(0, ends[start - 1]);
        if (stat(prefix.c_str(), &found) == 0) {
            resolved = prefix;
            have_found = true;
            break;
        }
        --start;
    }
    size_t begin = start == 0 ? (plain[0] == '/' ? 1 : 0) : ends[start - 1] + 1;
    for (size_t index = start; index < ends.size(); ++index) {
        const std::string name = plain.substr(begin, ends[index] - begin);
        if (index > start) {
            // The directory above this name exists otherwise spelled: remember how, so that
            // every path below it goes straight there.
            cache().set_alias(plain.substr(0, begin - 1), resolved);
        }
        std::string actual;
        if (name != "." && name != "..") {
            const bool first = index == start && have_found;
            actual = cache().match(resolved, name, first ? &found : nullptr);
        }
        if (actual.empty()) {
            // Missing from here on: the rest keeps the spelling given.
            if (!resolved.empty() && resolved.back() != '/')
                resolved += '/';
            resolved += plain.substr(begin);
            break;
        }
        if (!resolved.empty() && resolved.back() != '/')
            resolved += '/';
        resolved += actual;
        begin = ends[index] + 1;
    }
    errno = saved;
    return resolved;
}

LookupResult lookup_failure(int error) {
    errno = error;
    return error == ENOENT || error == ENOTDIR ? LookupResult::not_found : LookupResult::failed;
}

}  // namespace

namespace posix {

std::string native_path(const std::string& path) {
    // Below a directory known to be spelled otherwise on disk, its disk spelling serves.
    const std::string plain = likely_path(path);
    const int saved = errno;
    std::string native;
    if (!plain.empty() && resolve_from_cache(plain, native)) {
        errno = saved;
        return native;
    }
    if (plain.empty() || exists_natively(plain)) {
        errno = saved;
        return plain;
    }
    return resolve_case(plain);
}

std::string likely_path(const std::string& path) {
    std::string plain = plain_path(path);
    // Most runs resolve no directory in another spelling: no prefix to build and look up.
    if (!cache().has_aliases())
        return plain;
    // The deepest directory of the path with a known disk spelling: a root spelled otherwise
    // serves every path below it.
    for (size_t slash = plain.rfind('/'); slash != std::string::npos && slash > 0;
         slash = plain.rfind('/', slash - 1)) {
        const std::string on_disk = cache().alias_of(plain.substr(0, slash));
        if (!on_disk.empty())
            return on_disk + plain.substr(slash);
    }
    return plain;
}

void note_added(const std::string& native) {
    const std::string plain = plain_path(native);
    cache().note(nullptr, &plain);
}

void note_removed(const std::string& native) {
    const std::string plain = plain_path(native);
    cache().note(&plain, nullptr);
}

void note_renamed(const std::string& from, const std::string& to) {
    const std::string removed = plain_path(from), added = plain_path(to);
    cache().note(&removed, &added);
}

std::uint64_t filetime(const timespec& modified) {
    // Seconds between 1601-01-01 and 1970-01-01.
    constexpr std::uint64_t epoch_difference = 11644473600ull;
    return (static_cast<std::uint64_t>(modified.tv_sec) + epoch_difference) * 10000000u +
           static_cast<std::uint64_t>(modified.tv_nsec) / 100u;
}

}  // namespace posix

LookupResult look_up(const std::string& path, PathInfo& info) {
    // A path spelled as on disk takes one stat. A missing one is resolved without regard to case,
    // and looked up again only when that found another spelling.
    struct stat status {};
    std::string native;
    if (!posix::on_either_spelling(path, native, [&](const std::string& spelled) {
            if (spelled.empty())
                errno = ENOENT;
            return !spelled.empty() && stat(spelled.c_str(), &status) == 0;
        })) {
        return lookup_failure(errno);
    }
    info.is_directory = S_ISDIR(status.st_mode);
    info.last_write_time = posix::filetime(status.st_mtim);
    return LookupResult::found;
}

LookupResult look_up_link(const std::string& path, PathInfo& info, bool& is_link) {
    const std::string native = posix::native_path(path);
    struct stat status {};
    if (lstat(native.c_str(), &status) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? LookupResult::not_found : LookupResult::failed;
    }
    is_link = S_ISLNK(status.st_mode);
    info.is_directory = S_ISDIR(status.st_mode);
    info.last_write_time = posix::filetime(status.st_mtim);
    return LookupResult::found;
}

LookupResult list_directory(const std::string& directory, std::string_view pattern,
                            std::vector<DirectoryEntry>& entries) {
    // Read as spelled first; only a directory that is not there so is resolved without regard to
    // case. A listing is not kept for later lookups unless one was already: walking a tree of
    // 300 000 files kept a third of the process's memory that way, and a lookup that needs the
    // names reads them then.
    std::string native;
    std::vector<DirectoryEntry> all;
    timespec modified{};
    if (!posix::on_either_spelling(directory, native, [&](const std::string& spelled) {
            all.clear();
            return read_directory(spelled, all, &modified);
        })) {
        return lookup_failure(errno);
    }
    cache().refresh(native, all, modified);
    // Case-folded order, ties by raw bytes: the same on every machine and close to what a
    // case-insensitive file system returns.
    append_listed(all, pattern, entries);
    return LookupResult::found;
}

bool create_directory(const std::string& path) {
    const std::string native = posix::native_path(path);
    if (mkdir(native.c_str(), 0777) != 0)
        return false;
    posix::note_added(native);
    return true;
}

bool remove_directory(const std::string& path) {
    const std::string native = posix::native_path(path);
    if (rmdir(native.c_str()) != 0)
        return false;
    posix::note_removed(native);
    return true;
}

bool delete_file(const std::string& path) {
    const std::string native = posix::native_path(path);
    struct stat status {};
    // Deleting removes files only, as on Windows.
    if (stat(native.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (unlink(native.c_str()) != 0)
        return false;
    posix::note_removed(native);
    return true;
}

bool remove_link(const std::string& path) {
    const std::string native = posix::native_path(path);
    struct stat status {};
    if (lstat(native.c_str(), &status) != 0)
        return false;
    if (!S_ISLNK(status.st_mode)) {
        errno = EINVAL;
        return false;
    }
    if (unlink(native.c_str()) != 0)
        return false;
    posix::note_removed(native);
    return true;
}

std::string current_directory() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

std::string spelled_path(const std::string& path) {
    return posix::native_path(path);
}

void forget_cached_directories() {
    cache().clear();
}

bool file_identity(const std::string& path, FileIdentity& identity) {
    const std::string native = posix::native_path(path);
    struct stat status {};
    if (stat(native.empty() ? "." : native.c_str(), &status) != 0)
        return false;
    identity.volume = static_cast<std::uint64_t>(status.st_dev);
    identity.index = static_cast<std::uint64_t>(status.st_ino);
    return true;
}

}  // namespace kam::platform
