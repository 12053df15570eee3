// Bundle files written byte by byte, for tests that must not trust the writer under test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>

#include "bundle/bundle_index.h"
#include "support/memory_file_system.h"

namespace test {

// Little-endian bytes appended in order.
struct Bytes {
    std::string data;

    Bytes& u8(std::uint8_t value) { return little(value, 1); }
    Bytes& u32(std::uint32_t value) { return little(value, 4); }
    Bytes& u64(std::uint64_t value) { return little(value, 8); }
    Bytes& text(const std::string& value) {
        data += value;
        data += '\0';
        return *this;
    }
    Bytes& raw(const std::string& value) {
        data += value;
        return *this;
    }
    Bytes& header(std::uint32_t version, std::uint32_t directory_end = 0) {
        return raw("BNDL").u32(version).u32(directory_end).u32(0);
    }
    // Version-2 records.
    Bytes& dir(const std::string& name, std::uint8_t visible = 1) {
        return u8(1).u8(visible).text(name);
    }
    Bytes& file(const std::string& name, std::uint64_t offset, std::uint32_t size,
                std::uint8_t visible = 1) {
        return u8(2).u64(offset).u32(size).u8(visible).text(name);
    }
    Bytes& end() { return u8(3); }
    // Records from words: "name/" a directory, "]" the end of one or of the root, else a file
    // "name:offset:size" or "name" (empty at 0); '-' first hides the name. Version-1 records (v1)
    // mark a directory with -1 and an end with -2 where a file has its u32 offset.
    Bytes& records(const std::string& words, bool v1 = false) {
        std::istringstream in(words);
        for (std::string word; in >> word;) {
            const bool visible = word[0] != '-';
            std::string name = word.substr(visible ? 0 : 1);
            std::uint64_t offset = 0, size = 0;
            if (word == "]") {
                v1 ? u32(0xfffffffe) : end();
            } else if (name.back() == '/') {
                name.pop_back();
                v1 ? u32(0xffffffff).u8(visible).text(name) : dir(name, visible);
            } else {
                std::replace(name.begin(), name.end(), ':', ' ');
                std::istringstream(name) >> name >> offset >> size;
                const auto size32 = static_cast<std::uint32_t>(size);
                v1 ? u32(static_cast<std::uint32_t>(offset)).u32(size32).u8(visible).text(name)
                   : file(name, offset, size32, visible);
            }
        }
        return *this;
    }

private:
    Bytes& little(std::uint64_t value, int count) {
        for (int i = 0; i < count; ++i)
            data += static_cast<char>((value >> (8 * i)) & 0xff);
        return *this;
    }
};

// A directory as text: "name offset size visible;" for a file, "name/ visible{...}" for a
// directory.
inline std::string dump(const kam::BundleEntryMap& directory) {
    std::string text;
    for (const auto& [name, entry] : directory) {
        if (entry.directory) {
            text += std::string(name) + "/ " + std::to_string(entry.visible) + "{" +
                    dump(*entry.directory) + "}";
        } else {
            text += std::string(name) + " " + std::to_string(entry.offset) + " " +
                    std::to_string(entry.size) + " " + std::to_string(entry.visible) + ";";
        }
    }
    return text;
}

}  // namespace test
