// The primitive encodings of every binary format: little-endian integers and floats with no
// padding, and strings as their bytes followed by one zero byte. All go through Archive, so every
// read and write is bounds-checked.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

#include "utility/archive.h"

namespace kam {

namespace encoding_detail {

template <typename T>
T byte_swapped(T value) {
    if constexpr (std::endian::native == std::endian::little || sizeof(T) == 1) {
        return value;
    } else {
        unsigned char bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        for (size_t i = 0; i < sizeof(T) / 2; ++i)
            std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }
}

// Throws the archive's bound error when the store ends before the archive does.
inline void expect_full(const Archive& archive, std::uint32_t got, std::uint32_t wanted) {
    if (got != wanted) {
        throw std::range_error("Archive::checked_read() Attempt to read past end of archive '" +
                               archive.name() + "'");
    }
}

}  // namespace encoding_detail

// Reads exactly count bytes; std::range_error when fewer remain.
inline void read_bytes(Archive& archive, void* buffer, std::uint32_t count) {
    encoding_detail::expect_full(archive, archive.checked_read(buffer, count), count);
}

// Writes exactly count bytes; ErrorWithCStack "Cannot write to archive " + name when the store
// takes fewer (an archive without a store).
inline void write_bytes(Archive& archive, const void* data, std::uint32_t count) {
    if (archive.checked_write(data, count) != count) {
        throw ErrorWithCStack("Cannot write to archive " + archive.name());
    }
}

// Reads one little-endian value of an arithmetic type.
template <typename T>
T read_value(Archive& archive) {
    static_assert(std::is_arithmetic_v<T>);
    T value;
    read_bytes(archive, &value, sizeof(T));
    return encoding_detail::byte_swapped(value);
}

template <typename T>
void write_value(Archive& archive, T value) {
    static_assert(std::is_arithmetic_v<T>);
    value = encoding_detail::byte_swapped(value);
    write_bytes(archive, &value, sizeof(T));
}

inline std::uint8_t read_u8(Archive& archive) {
    return read_value<std::uint8_t>(archive);
}
inline std::uint16_t read_u16(Archive& archive) {
    return read_value<std::uint16_t>(archive);
}
inline std::uint32_t read_u32(Archive& archive) {
    return read_value<std::uint32_t>(archive);
}
inline std::uint64_t read_u64(Archive& archive) {
    return read_value<std::uint64_t>(archive);
}
inline std::int32_t read_i32(Archive& archive) {
    return read_value<std::int32_t>(archive);
}
inline float read_f32(Archive& archive) {
    return read_value<float>(archive);
}

inline void write_u8(Archive& archive, std::uint8_t value) {
    write_value(archive, value);
}
inline void write_u16(Archive& archive, std::uint16_t value) {
    write_value(archive, value);
}
inline void write_u32(Archive& archive, std::uint32_t value) {
    write_value(archive, value);
}
inline void write_u64(Archive& archive, std::uint64_t value) {
    write_value(archive, value);
}
inline void write_i32(Archive& archive, std::int32_t value) {
    write_value(archive, value);
}
inline void write_f32(Archive& archive, float value) {
    write_value(archive, value);
}

// Writes the bytes and one zero byte. Text holding a zero byte would not read back whole.
inline void write_string(Archive& archive, std::string_view text) {
    write_bytes(archive, text.data(), static_cast<std::uint32_t>(text.size()));
    write_u8(archive, 0);
}

// Reads a zero-terminated string (Archive::read_string).
inline std::string read_string(Archive& archive) {
    std::string text;
    archive.read_string(text);
    return text;
}

// Reads count bytes into a string. The count is checked against what remains before anything is
// allocated, so a lying count in a file cannot ask for gigabytes.
inline std::string read_byte_string(Archive& archive, std::uint32_t count) {
    if (!archive.growable() && static_cast<std::int64_t>(count) > archive.remaining()) {
        throw std::range_error("Archive::checked_read() Attempt to read past end of archive '" +
                               archive.name() + "'");
    }
    std::string bytes(count, '\0');
    read_bytes(archive, bytes.data(), count);
    return bytes;
}

}  // namespace kam
