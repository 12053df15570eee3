// Archive bounds, positions, sub-archives, strings and lines; the memory, null and file stores.
#include "utility/archive.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "support/error_of.h"
#include "support/memory_file_system.h"
#include "support/trovex_runner.h"
#include "utility/platform/error_text.h"
#include "utility/platform/files.h"

namespace {

using kam::Archive;
using kam::ConstMemoryDataStore;

std::string range_message(const std::function<void()>& action) {
    return test::error_of<std::range_error>(action);
}

TEST(ArchiveTest, BoundsAreRefusedWithTheirMessagesAndGrowableOnesGrow) {
    Archive ten = test::archive_of("0123456789", "ten.bin");
    ten.set_position(8);
    char buffer[4] = {};
    EXPECT_EQ(range_message([&] { ten.checked_read(buffer, 3); }),
              "Archive::checked_read() Attempt to read past end of archive 'ten.bin'");
    EXPECT_EQ(ten.position(), 8);
    EXPECT_EQ(ten.checked_read(buffer, 2), 2u);
    EXPECT_EQ(std::string(buffer, 2), "89");
    EXPECT_EQ(ten.position(), 10);

    Archive archive("nul", std::make_unique<kam::NullDataStore>(), 0, 4, false);
    const std::pair<std::function<void()>, std::string> refused[] = {
        {[&] { archive.checked_write("abcde", 5); }, "checked_write() Attempt to write past end"},
        {[&] { archive.set_position(5); }, "set_position() Attempt to seek past end"},
        {[&] { archive.set_position(-1); }, "set_position() Attempt to seek before start"},
        {[&] { archive.set_position(5, Archive::from_end); },
         "set_position() Attempt to seek before start"},
        {[&] { archive.set_position(3), archive.set_position(2, Archive::from_current); },
         "set_position() Attempt to seek past end"},
    };
    for (const auto& [action, message] : refused)
        EXPECT_EQ(range_message(action), "Archive::" + message + " of archive 'nul'");
    EXPECT_EQ(archive.checked_write("d", 1), 1u);  // at 3, left there by the last

    auto store = std::make_shared<kam::NullDataStore>();
    Archive grow("grow", store, 0, 6, true);
    grow.set_position(0, Archive::from_end);
    EXPECT_EQ(grow.checked_write("abcd", 4), 4u);
    EXPECT_EQ(grow.size(), 10);
    EXPECT_EQ(grow.position(), 10);
    grow.set_position(20);
    EXPECT_EQ(grow.size(), 20);
    EXPECT_EQ(store->size(), 10u);
}

TEST(ArchiveTest, SubArchiveMustLieInsideABoundedParent) {
    Archive parent = test::archive_of("0123456789", "bundle");
    Archive inside(parent, 4, 6, false);
    EXPECT_EQ(inside.name(), "bundle");
    EXPECT_EQ(inside.base(), 4u);
    char buffer[6] = {};
    EXPECT_EQ(inside.checked_read(buffer, 6), 6u);
    EXPECT_EQ(std::string(buffer, 6), "456789");

    const std::string message = "Attempt to grow archive bundle beyond limits";
    EXPECT_EQ(range_message([&] { Archive(parent, 4, 7, false); }), message);
    EXPECT_EQ(range_message([&] { Archive(parent, 0, 1, true); }), message);
    EXPECT_EQ(range_message([&] { Archive(parent, -1, 2, false); }), message);
    EXPECT_EQ(range_message([&] { Archive(parent, 2, INT64_MAX, false); }), message);
    // A sub-archive of a sub-archive is measured against its own parent.
    EXPECT_EQ(range_message([&] { Archive(inside, 1, 6, false); }), message);
    Archive nested(inside, 1, 5, false);
    EXPECT_EQ(nested.base(), 5u);

    Archive growable("grow", std::make_unique<kam::NullDataStore>(), 0, 2, true);
    Archive beyond(growable, 10, 100, true);
    EXPECT_EQ(beyond.base(), 10u);
}

// Reads strings or lines until the end, each with the position after it.
TEST(ArchiveTest, ReadStringAndReadLineTable) {
    using Reads = std::vector<std::pair<std::string, std::int64_t>>;
    const std::tuple<void (Archive::*)(std::string&), std::string, Reads> cases[] = {
        {&Archive::read_string,
         std::string(1300, 'q') + '\0' + "next" + '\0',
         {{std::string(1300, 'q'), 1301}, {"next", 1306}}},
        {&Archive::read_string, std::string("a\0", 2) + "tail", {{"a", 2}, {"tail", 6}, {"", 6}}},
        {&Archive::read_line, "ab\r\ncd", {{"ab", 4}, {"cd", 6}}},
        {&Archive::read_line, "\n", {{"", 1}}},
        {&Archive::read_line, "\r\n\r\n", {{"", 2}, {"", 4}}},
        {&Archive::read_line, "only", {{"only", 4}}},
        {&Archive::read_line, "a\rb\n", {{"a\rb", 4}}},
        {&Archive::read_line, "x\r", {{"x\r", 2}}},
        {&Archive::read_line, std::string("z\0z\n", 4), {{std::string("z\0z", 3), 4}}},
        {&Archive::read_line,
         std::string(700, 'k') + "\n" + std::string(600, 'm'),
         {{std::string(700, 'k'), 701}, {std::string(600, 'm'), 1301}}},
    };
    for (const auto& [read, bytes, reads] : cases) {
        Archive archive = test::archive_of(bytes);
        for (const auto& [expected, position] : reads) {
            std::string text = "old";
            (archive.*read)(text);
            EXPECT_EQ(text, expected) << bytes;
            EXPECT_EQ(archive.position(), position) << bytes;
        }
    }
    // A line or string of a sub-archive ends where the sub-archive ends, not in the parent's bytes.
    Archive parent = test::archive_of("abcdef\n");
    for (const auto read : {&Archive::read_line, &Archive::read_string}) {
        Archive sub(parent, 1, 3, false);
        std::string text;
        (sub.*read)(text);
        EXPECT_EQ(text, "bcd");
        EXPECT_EQ(sub.position(), 3);
    }
}

TEST(DataStoreTest, MemoryStoresReadWhatTheyHaveAndTheNullStoreOnlyMeasures) {
    kam::NullDataStore null;
    EXPECT_EQ(null.write(100, "abcde", 5), 5u);
    EXPECT_EQ(null.write(0, "ab", 2), 2u);
    EXPECT_EQ(null.size(), 105u);
    char buffer[4] = {};
    EXPECT_THROW(null.read(0, buffer, 1), kam::ErrorWithCStack);

    kam::MemoryDataStore memory;
    EXPECT_EQ(memory.write(2, "cd", 2), 2u);
    EXPECT_EQ(memory.write(0, nullptr, 0), 0u);
    EXPECT_EQ(memory.bytes(), std::string("\0\0cd", 4));
    EXPECT_EQ(memory.read(3, buffer, 4), 1u);
    EXPECT_EQ(buffer[0], 'd');
    EXPECT_EQ(memory.read(4, buffer, 4), 0u);

    ConstMemoryDataStore constant("0123456789", 10);
    EXPECT_EQ(constant.read(8, buffer, 4), 2u);
    EXPECT_EQ(std::string(buffer, 2), "89");
    EXPECT_EQ(constant.read(12, buffer, 4), 0u);
    EXPECT_EQ(constant.read(2, buffer, 4), 4u);
    EXPECT_THROW(constant.write(0, "x", 1), kam::ErrorWithCStack);
}

TEST(DataStoreTest, FileStoreWritesAndReadsBack) {
    test::TempDir dir;
    const std::string path = (dir.path() / "round.bin").string();
    {
        kam::FileDataStore store(path, kam::platform::create_always,
                                 kam::platform::generic_read | kam::platform::generic_write,
                                 kam::platform::share_read);
        EXPECT_TRUE(store.is_open());
        EXPECT_EQ(store.write(0, "hello", 5), 5u);
        EXPECT_EQ(store.write(10, "world", 5), 5u);
        EXPECT_EQ(store.write(3, "", 0), 0u);
        EXPECT_EQ(store.size(), 15u);
    }
    kam::FileDataStore store(path, kam::platform::open_existing, kam::platform::generic_read,
                             kam::platform::share_read);
    char buffer[20] = {};
    EXPECT_EQ(store.read(0, buffer, 20), 15u);
    EXPECT_EQ(std::string(buffer, 15), std::string("hello\0\0\0\0\0world", 15));
    EXPECT_EQ(store.read(12, buffer, 20), 3u);
    EXPECT_EQ(store.read(40, buffer, 20), 0u);
}

TEST(DataStoreTest, DiskErrorLayout) {
    const unsigned line = __LINE__ + 1;
    kam::DiskError error("Cannot seek in file x", 13);
    EXPECT_EQ(std::string(error.what()),
              "archive_test.cpp(" + std::to_string(line) +
                  ") Cannot seek in file x => error code 0xd: " + kam::platform::error_text(13));
    EXPECT_EQ(kam::hex(0), "0x0");  // the other widths show in DiskFileSystemTest's messages
}

}  // namespace
