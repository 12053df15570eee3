// An in-memory file system with a settable clock, and the helpers of tests that read archives
// and file systems.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "utility/archive.h"
#include "utility/encoding.h"
#include "utility/file_system.h"

namespace test {

// All the bytes of an archive.
inline std::string read_all(kam::Archive archive) {
    std::string bytes(static_cast<size_t>(archive.size()), '\0');
    kam::read_bytes(archive, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    return bytes;
}

// A bounded archive over a copy of the bytes (kept alive by the store).
inline kam::Archive archive_of(const std::string& bytes, const std::string& name = "test.bundle") {
    struct OwningStore : kam::ConstMemoryDataStore {
        explicit OwningStore(std::shared_ptr<std::string> kept)
            : ConstMemoryDataStore(kept->data(), static_cast<std::uint32_t>(kept->size())),
              bytes(std::move(kept)) {}
        std::shared_ptr<std::string> bytes;
    };
    auto kept = std::make_shared<std::string>(bytes);
    return kam::Archive(name, std::make_shared<OwningStore>(kept), 0,
                        static_cast<std::int64_t>(bytes.size()), false);
}

// What a file system lists in a directory.
inline std::vector<std::string> listed(kam::FileSystem& fs, const std::string& directory,
                                       const std::string& patterns, bool want_directories) {
    std::vector<std::string> names;
    fs.list(directory, patterns, want_directories, names);
    return names;
}

// Records what it is asked; a label names it in the paths it resolves ("label:path").
class MemoryFileSystem : public kam::FileSystem {
public:
    struct File {
        std::string bytes;
        std::uint64_t time = 0;
    };

    explicit MemoryFileSystem(std::string label = std::string()) : label_(std::move(label)) {}

    // Writes a file stamped with the clock, which then moves on.
    void write(const std::string& path, const std::string& bytes) {
        files[path] = {bytes, clock++};
    }

    bool exists(const std::string& path) override {
        asked.push_back(path);
        return files.count(path) != 0;
    }
    std::string physical_path(const std::string& path, std::uint64_t& offset,
                              std::uint32_t& size) override {
        offset = 0;
        size = 0xffffffff;
        return full_path(path);
    }
    std::string full_path(const std::string& path) override {
        return label_.empty() ? path : label_ + ":" + path;
    }
    std::string source_path(const std::string& path) override { return full_path(path); }
    kam::Archive open(const std::string& path, const std::string& mode) override {
        opened.push_back(path + "/" + mode);
        if (mode.find('w') != std::string::npos) {
            File& file = files[path];
            file = {std::string(), clock++};
            return kam::Archive(path, std::make_shared<Store>(file.bytes), 0, 0, true);
        }
        const auto found = files.find(path);
        if (found == files.end())
            return kam::Archive();
        return kam::Archive(path, std::make_shared<Store>(found->second.bytes), 0,
                            static_cast<std::int64_t>(found->second.bytes.size()), false);
    }
    bool make_dir(const std::string& path) override {
        made.push_back(path);
        return look_up_link(path) == kam::PathKind::missing && directories.insert(path).second;
    }
    bool remove(const std::string& path) override {
        made.push_back("-" + path);
        return files.erase(path) != 0;
    }
    void list(const std::string&, const std::string&, bool, std::vector<std::string>&) override {}
    bool owns(const std::string& path) override { return owned.count(path) != 0; }
    bool hides(const std::string& path) override { return hidden.count(path) != 0; }
    bool is_read_only() override { return read_only; }
    std::uint64_t modification_time(const std::string& path) override {
        const auto found = files.find(path);
        return found == files.end() ? 0 : found->second.time;
    }

    std::map<std::string, File> files;
    std::uint64_t clock = 1000;
    std::set<std::string> owned, hidden;
    std::vector<std::string> asked, opened, made;
    bool read_only = false;

    // Links name their target's key; one to nothing is broken. A link inside a path is followed,
    // one at its end as each operation says. A directory's identity is its real path.
    std::map<std::string, std::string> links;
    std::set<std::string> directories;

    kam::PathKind look_up_link(const std::string& path) override {
        const std::string at = real(path, false);
        if (links.count(at) != 0)
            return kam::PathKind::link;
        if (directories.count(at) != 0)
            return kam::PathKind::directory;
        return files.count(at) != 0 ? kam::PathKind::file : kam::PathKind::missing;
    }
    bool is_dir(const std::string& path) override { return directories.count(real(path)) != 0; }
    // Every name, whatever the pattern.
    void list_entries(const std::string& directory, std::string_view,
                      std::vector<kam::DirectoryEntry>& entries) override {
        const std::string prefix = real(directory) + "\\";
        std::map<std::string, kam::DirectoryEntry> found;
        const auto note = [&](const std::string& key) {
            if (!key.starts_with(prefix) || key.find('\\', prefix.size()) != std::string::npos)
                return;
            const std::string to = real(key);
            const bool is_directory = directories.count(to) != 0;
            found[key] = {key.substr(prefix.size()), is_directory,
                          !is_directory && files.count(to) == 0};
        };
        for (const auto& file : files)
            note(file.first);
        for (const std::string& path : directories)
            note(path);
        for (const auto& link : links)
            note(link.first);
        for (auto& entry : found)
            entries.push_back(std::move(entry.second));
    }
    bool remove_file(const std::string& path) override {
        return files.erase(real(path, false)) != 0;
    }
    bool remove_link(const std::string& path) override {
        return links.erase(real(path, false)) != 0;
    }
    bool remove_directory(const std::string& path) override {
        return directories.erase(real(path, false)) != 0;
    }
    bool identity(const std::string& path, kam::FileIdentity& identity) override {
        const std::string at = real(path);
        identity = {0, std::hash<std::string>{}(at)};
        return directories.count(at) != 0;
    }
    kam::NewFile write_new(const std::string& path,
                           const std::function<void(kam::Archive&)>& write) override {
        Pending file(*this, path);
        write(file.archive());
        return file.commit_if_new() ? kam::NewFile::created : kam::NewFile::taken;
    }
    std::shared_ptr<kam::PendingFile> write_pending(const std::string& path) override {
        return std::make_shared<Pending>(*this, path);
    }

    // The path with separators made '\\' and links followed (the last one only with follow_last).
    std::string real(std::string path, bool follow_last = true) const {
        for (char& c : path)
            c = c == '/' ? '\\' : c;
        while (!path.empty() && path.back() == '\\')
            path.pop_back();
        for (int hops = 0; hops < 32; ++hops) {
            const auto link = std::find_if(links.begin(), links.end(), [&](const auto& named) {
                return path.starts_with(named.first + "\\") || (follow_last && path == named.first);
            });
            if (link == links.end())
                break;
            path = link->second + path.substr(link->first.size());
        }
        return path;
    }

private:
    std::string label_;

    // Written aside, put in place (over a link, the link itself) by a commit.
    class Pending : public kam::PendingFile {
    public:
        Pending(MemoryFileSystem& fs, const std::string& path)
            : fs_(fs),
              path_(fs.real(path, false)),
              archive_(path, std::make_shared<Store>(bytes_), 0, 0, true) {}
        kam::Archive& archive() override { return archive_; }
        void commit() override {
            fs_.links.erase(path_);
            fs_.files[path_] = {bytes_, fs_.clock++};
        }
        bool commit_if_new() override {
            if (fs_.look_up_link(path_) != kam::PathKind::missing)
                return false;
            commit();
            return true;
        }

    private:
        MemoryFileSystem& fs_;
        std::string path_, bytes_;
        kam::Archive archive_;
    };

    // Reads and writes one file's bytes in place.
    class Store : public kam::DataStore {
    public:
        explicit Store(std::string& bytes) : bytes_(bytes) {}
        std::uint32_t write(std::uint64_t offset, const void* data, std::uint32_t count) override {
            if (bytes_.size() < offset + count)
                bytes_.resize(offset + count);
            std::memcpy(bytes_.data() + offset, data, count);
            return count;
        }
        std::uint32_t read(std::uint64_t offset, void* buffer, std::uint32_t count) override {
            if (offset >= bytes_.size())
                return 0;
            const auto available =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(count, bytes_.size() - offset));
            std::memcpy(buffer, bytes_.data() + offset, available);
            return available;
        }

    private:
        std::string& bytes_;
    };
};

}  // namespace test
