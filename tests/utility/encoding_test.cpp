// Little-endian images, zero-terminated strings and their bound checks.
#include "utility/encoding.h"

#include <gtest/gtest.h>

#include "support/error_of.h"
#include "support/memory_file_system.h"

namespace {

using kam::Archive;

TEST(EncodingTest, ValuesAreLittleEndianWithoutPadding) {
    auto store = std::make_shared<kam::MemoryDataStore>();
    Archive out("out", store, 0, 0, true);
    kam::write_u8(out, 0x01);
    kam::write_u16(out, 0x0302);
    kam::write_u32(out, 0x07060504);
    kam::write_u64(out, 0x0f0e0d0c0b0a0908ull);
    kam::write_i32(out, -2);
    kam::write_f32(out, 1.0f);
    kam::write_string(out, "ab");
    const std::string expected = std::string(
        "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
        "\xfe\xff\xff\xff"
        "\x00\x00\x80\x3f"
        "ab\x00",
        26);
    EXPECT_EQ(store->bytes(), expected);

    Archive in = test::archive_of(store->bytes());
    EXPECT_EQ(kam::read_u8(in), 0x01);
    EXPECT_EQ(kam::read_u16(in), 0x0302);
    EXPECT_EQ(kam::read_u32(in), 0x07060504u);
    EXPECT_EQ(kam::read_u64(in), 0x0f0e0d0c0b0a0908ull);
    EXPECT_EQ(kam::read_i32(in), -2);
    EXPECT_EQ(kam::read_f32(in), 1.0f);
    EXPECT_EQ(kam::read_string(in), "ab");
    EXPECT_EQ(in.position(), in.size());
}

TEST(EncodingTest, EveryTruncationAndAnOverlongCountAreRefused) {
    const std::string bytes("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
    for (size_t length = 0; length < 8; ++length) {
        Archive in = test::archive_of(bytes.substr(0, length));
        EXPECT_THROW(kam::read_u64(in), std::range_error) << length;
        Archive again = test::archive_of(bytes.substr(0, length / 2));
        EXPECT_THROW(kam::read_u32(again), std::range_error) << length;
    }
    // A growable archive whose store ends early is refused as well.
    Archive growable("short", std::make_unique<kam::ConstMemoryDataStore>(bytes.data(), 2), 0, 2,
                     true);
    EXPECT_EQ(test::error_of<std::range_error>([&] { kam::read_u32(growable); }),
              "Archive::checked_read() Attempt to read past end of archive 'short'");
    // A byte string's count is checked before allocating.
    Archive in = test::archive_of("abcdef");
    EXPECT_EQ(kam::read_byte_string(in, 2), "ab");
    EXPECT_THROW(kam::read_byte_string(in, 0xffffffffu), std::range_error);
    EXPECT_EQ(kam::read_byte_string(in, 4), "cdef");
    Archive none;
    EXPECT_THROW(kam::write_u32(none, 1), kam::ErrorWithCStack);
}

}  // namespace
