// The heap allocator's blocks and counters, and the process-wide pair that routes by size.
#include "utility/allocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "support/error_of.h"
#include "utility/errors.h"

namespace {

TEST(MallocAllocatorTest, BlocksAreAlignedAndCountedAndHugeOnesRefused) {
    kam::MallocAllocator allocator;
    std::int64_t previous_used = 0;
    std::vector<void*> blocks;
    for (std::size_t size : {1u, 15u, 16u, 17u, 513u, 4096u, 100000u}) {
        void* block = allocator.allocate(size);
        blocks.push_back(block);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u) << size;
        EXPECT_GE(allocator.size_of(block), size);
        EXPECT_GE(allocator.used() - previous_used, static_cast<std::int64_t>(size + 16));
        previous_used = allocator.used();
    }
    const std::int64_t peak = allocator.used();
    for (void* block : blocks)
        allocator.free(block);
    allocator.free(nullptr);
    EXPECT_EQ(allocator.used(), 0);
    EXPECT_EQ(allocator.maximum_used(), peak);
    // A request beyond the address space is out of memory.
    const std::size_t huge = std::numeric_limits<std::size_t>::max();
    EXPECT_EQ(test::error_of<kam::ErrorWithCStack>([&] { allocator.allocate(huge); }),
              "Out of memory allocating " + std::to_string(huge) + " bytes");
    EXPECT_EQ(allocator.used(), 0);
}

// The status lines of the process-wide pair, slot allocator first, without the slot
// allocator's committed bytes (its pages stay committed once used).
std::pair<std::string, std::string> memory_status() {
    std::ostringstream status;
    kam::print_memory_status(status, false);
    std::string text = status.str();
    const std::size_t committed = text.find(" / ");
    text.erase(committed, text.find(" in ") - committed);
    const std::size_t heap = text.find('\n') + 1;
    return {text.substr(0, heap), text.substr(heap)};
}

TEST(ProcessAllocatorsTest, SmallBlocksComeFromSlotsAndLargerOnesFromTheHeap) {
    const auto before = memory_status();
    void* empty = kam::allocate_memory(0);
    void* largest_slot = kam::allocate_memory(512);
    const auto with_slots = memory_status();
    void* heap_block = kam::allocate_memory(513);
    const auto with_heap = memory_status();
    EXPECT_NE(with_slots.first, before.first);
    EXPECT_EQ(with_slots.second, before.second);
    EXPECT_EQ(with_heap.first, with_slots.first);
    EXPECT_NE(with_heap.second, with_slots.second);

    kam::release_memory(heap_block);
    kam::release_memory(largest_slot);
    kam::release_memory(empty);
    kam::release_memory(nullptr);
    EXPECT_EQ(memory_status(), before);
}

TEST(GroupedTest, DigitsAreGroupedInThrees) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1,000"},
        {469762048, "469,762,048"},
        {-1234, "-1,234"},
        {std::numeric_limits<std::int64_t>::min(), "-9,223,372,036,854,775,808"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(kam::grouped(value), text);
}

}  // namespace
