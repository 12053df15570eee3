// Interning: dense ids, the hash, growth and stable strings.
#include "utility/id_string.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using kam::IdString;
using kam::IdStringTable;

TEST(IdStringTest, IdsAreDenseFromTheEmptyStringAndStableAcrossGrowth) {
    IdStringTable table;
    EXPECT_EQ(table.intern(""), 0);
    EXPECT_EQ(table.intern("a"), 1);
    EXPECT_EQ(table.intern("b"), 2);
    EXPECT_EQ(table.intern("a"), 1);
    EXPECT_EQ(table.find("c"), -1);
    EXPECT_EQ(table.string_of(2), "b");
    // Hashing stops at a zero byte, comparison does not.
    const IdString with_zero = table.intern(std::string_view("a\0x", 3));
    EXPECT_EQ(with_zero, 3);
    EXPECT_EQ(table.string_of(with_zero), std::string("a\0x", 3));
    EXPECT_EQ(IdStringTable::hash(std::string_view("a\0b", 3)), IdStringTable::hash("a"));
    // Bytes count as signed.
    EXPECT_EQ(IdStringTable::hash("\xFF"), 2u);
    EXPECT_EQ(IdStringTable::hash("a"), 97u + 3u);

    // Many strings keep their ids and strings across growth.
    const std::string& first = table.string_of(1);
    for (int i = 0; i < 200000; ++i)
        table.intern("n" + std::to_string(i));
    EXPECT_GT(table.capacity(), IdStringTable::initial_capacity);
    // Every one: an index rebuilt as it grows must lose none.
    for (int i = 0; i < 200000; ++i) {
        const std::string text = "n" + std::to_string(i);
        EXPECT_EQ(table.intern(text), i + 4);
        EXPECT_EQ(table.string_of(i + 4), text);
    }
    EXPECT_EQ(&first, &table.string_of(1));
    EXPECT_EQ(first, "a");
    EXPECT_EQ(table.find("a"), 1);
}

TEST(IdStringTest, ConcurrentInterningHandsOutOneIdPerString) {
    IdStringTable table;
    std::vector<std::vector<IdString>> results(2);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20000; ++i)
                results[t].push_back(table.intern("x" + std::to_string(i)));
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(table.size(), 20001);
}

}  // namespace
