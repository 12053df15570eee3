// An in-memory file system with a settable clock, and the helpers of tests that read archives
// and file systems.
#pragma once

#include <algorithm>
#include <cstring>
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
        return true;
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

private:
    std::string label_;

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
