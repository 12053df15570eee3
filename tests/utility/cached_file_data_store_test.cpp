// The read-ahead ring gives exactly the bytes of the file, however and by whomever it is read.
#include "utility/cached_file_data_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <thread>

#include "support/error_of.h"
#include "support/platform.h"
#include "support/trovex_runner.h"
#include "utility/platform/error_text.h"

namespace {

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// Reads [offset, offset + count) and compares with the expected bytes, also where the read
// reaches past the end of the file.
void expect_read(kam::CachedFileDataStore& store, const std::string& bytes, std::uint64_t offset,
                 std::uint32_t count) {
    std::string buffer(count, '\0');
    const std::uint32_t got = store.read(offset, buffer.data(), count);
    const std::uint64_t available = offset < bytes.size() ? bytes.size() - offset : 0;
    ASSERT_EQ(got, std::min<std::uint64_t>(count, available)) << offset << "+" << count;
    ASSERT_EQ(buffer.substr(0, got), bytes.substr(offset < bytes.size() ? offset : 0, got))
        << offset << "+" << count;
}

TEST(CachedFileDataStoreTest, SequentialRandomAndConcurrentReadsInEveryChunkSize) {
    test::TempDir dir;
    const std::string path = (dir.path() / "file.bin").string();
    for (size_t size : {1, 10, 65536, 5 * 1024 * 1024 + 123}) {
        const std::string bytes = random_bytes(size, static_cast<unsigned>(size));
        dir.write("file.bin", bytes);
        for (std::uint32_t chunk : {1u, 7u, 4096u, 65535u, 65536u, 65537u, 200000u, 1u << 22}) {
            if (chunk == 1 && size > 100000)
                continue;  // a million single bytes add nothing
            kam::CachedFileDataStore store(path, 192, 64);
            ASSERT_EQ(store.size(), size);
            for (std::uint64_t offset = 0; offset < size; offset += chunk) {
                expect_read(store, bytes, offset, chunk);
            }
        }
        kam::CachedFileDataStore store(path, 192, 64);
        // Random reads.
        std::mt19937 random(static_cast<unsigned>(size));
        for (int i = 0; i < 600; ++i) {
            std::uint64_t offset = random() % (size + 10);
            std::uint32_t count = 1 + random() % (i % 3 == 0 ? 300000 : 100);
            if (i % 3 == 2) {  // whole blocks, or one byte off at either end
                offset = random() % (size / 65536 + 1) * 65536;
                if (offset > 0)
                    offset += random() % 3 - 1;
                count = (1 + random() % 20) * 65536 + random() % 3 - 1;
            }
            expect_read(store, bytes, offset, count);
        }
        // Two threads reading one fresh store at once each get their own bytes.
        kam::CachedFileDataStore shared(path, 192, 64);
        const auto reader = [&](unsigned seed, bool sequential) {
            std::mt19937 random(seed);
            for (int i = 0; i < 300; ++i) {
                const std::uint64_t offset =
                    sequential ? (static_cast<std::uint64_t>(i) * 40000) % (size + 1)
                               : random() % (size + 1);
                expect_read(shared, bytes, offset, 1 + random() % 150000);
            }
        };
        std::thread first(reader, 1u, true), second(reader, 2u, false);
        first.join();
        second.join();
    }
}

TEST(CachedFileDataStoreTest, SmallFilesUseOneBlockWritesAreIgnoredAndMissingFilesThrow) {
    test::TempDir dir;
    dir.write("ten.bin", "0123456789");
    // A store closes its file: one left open per file read would run a build out of descriptors.
    if (!test::on_windows) {
        const auto open_files = [] {
            return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
        };
        const auto before = open_files();
        kam::CachedFileDataStore((dir.path() / "ten.bin").string(), 192, 64);
        EXPECT_EQ(open_files(), before);
    }
    kam::CachedFileDataStore store((dir.path() / "ten.bin").string(), 192, 64);
    EXPECT_EQ(store.ring_blocks(), 1);
    EXPECT_EQ(store.write(0, "xx", 2), 0u);
    dir.write("empty.bin", "");
    kam::CachedFileDataStore empty((dir.path() / "empty.bin").string(), 192, 64);
    EXPECT_EQ(empty.ring_blocks(), 0);
    char buffer[4];
    EXPECT_EQ(empty.read(0, buffer, 4), 0u);

    const std::string path = (dir.path() / "none.bin").string();
    EXPECT_TRUE(test::error_of<kam::DiskError>([&] { kam::CachedFileDataStore(path, 192, 64); })
                    .ends_with(") Cannot open cache " + path +
                               " => error code 0x2: " + kam::platform::error_text(2)));
}

}  // namespace
