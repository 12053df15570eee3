// Bundle files written byte by byte, for tests that must not trust the writer under test.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "utility/archive.h"

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
    // Version-1 records: a directory marker -1, an end marker -2, else a file's u32 offset.
    Bytes& v1_dir(const std::string& name, std::uint8_t visible = 1) {
        return u32(0xffffffff).u8(visible).text(name);
    }
    Bytes& v1_file(const std::string& name, std::uint32_t offset, std::uint32_t size,
                   std::uint8_t visible = 1) {
        return u32(offset).u32(size).u8(visible).text(name);
    }
    Bytes& v1_end() { return u32(0xfffffffe); }

private:
    Bytes& little(std::uint64_t value, int count) {
        for (int i = 0; i < count; ++i) data += static_cast<char>((value >> (8 * i)) & 0xff);
        return *this;
    }
};

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

}  // namespace test
