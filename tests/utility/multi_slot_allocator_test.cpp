// The slot allocator over a small in-memory range: slot choice, page use and reuse, accounting.
#include "utility/multi_slot_allocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <sstream>
#include <vector>

namespace {

constexpr std::size_t page_bytes = kam::MultiSlotAllocator::page_bytes;

// A range of ordinary memory that counts commits.
class FakePageAllocator : public kam::PageAllocator {
public:
    explicit FakePageAllocator(std::size_t pages)
        : bytes_(pages * page_bytes),
          memory_(static_cast<char*>(::operator new(bytes_, std::align_val_t(page_bytes)))) {}
    ~FakePageAllocator() override { ::operator delete(memory_, std::align_val_t(page_bytes)); }

    void* reserve(std::size_t size) override { return size <= bytes_ ? memory_ : nullptr; }
    void* commit(void* address, std::size_t) override {
        ++commits;
        return address;
    }

    std::size_t bytes() const { return bytes_; }
    int commits = 0;

private:
    std::size_t bytes_;
    char* memory_;
};

std::uintptr_t page_of(const void* pointer) {
    return reinterpret_cast<std::uintptr_t>(pointer) / page_bytes;
}

TEST(MultiSlotAllocatorTest, RequestIsServedByTheSmallestSlotThatFits) {
    FakePageAllocator pages(64);
    kam::MultiSlotAllocator allocator(pages, pages.bytes());
    const std::pair<std::size_t, std::size_t> cases[] = {
        {0, 4},   {1, 4},   {4, 4},     {5, 8},     {29, 32},   {33, 40},  {40, 40},
        {41, 48}, {65, 80}, {129, 144}, {321, 384}, {449, 512}, {512, 512}};
    for (const auto& [request, slot] : cases) {
        void* pointer = allocator.allocate(request);
        ASSERT_NE(pointer, nullptr) << request;
        EXPECT_TRUE(allocator.owns_pointer(pointer));
        EXPECT_EQ(allocator.size_of(pointer), slot) << request;
    }
    EXPECT_FALSE(allocator.can_allocate(513));
    EXPECT_EQ(allocator.allocate(513), nullptr);
    int on_stack = 0;
    EXPECT_FALSE(allocator.owns_pointer(&on_stack));
}

TEST(MultiSlotAllocatorTest, FullPageStartsAnotherAndFreedObjectsComeBackFirst) {
    FakePageAllocator pages(2);
    kam::MultiSlotAllocator allocator(pages, pages.bytes());
    // Seven 512-byte objects fit after a page's header; the eighth needs a page of its own.
    std::vector<void*> objects;
    for (int i = 0; i < 14; ++i)
        objects.push_back(allocator.allocate(512));
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(page_of(objects[i]), page_of(objects[i / 7 * 7])) << i;
    EXPECT_NE(page_of(objects[7]), page_of(objects[0]));
    EXPECT_EQ(allocator.committed_pages(), 2u);
    // The range is used up: null instead of memory outside it.
    EXPECT_EQ(allocator.allocate(512), nullptr);
    EXPECT_EQ(allocator.allocate(4), nullptr);

    allocator.free(objects[2]);
    allocator.free(objects[4]);
    EXPECT_EQ(allocator.allocate(500), objects[4]);
    EXPECT_EQ(allocator.allocate(500), objects[2]);
    EXPECT_EQ(allocator.committed_pages(), 2u);
}

TEST(MultiSlotAllocatorTest, EmptiedPageIsReusedByAnotherSlotBeforeANewPageIsCommitted) {
    FakePageAllocator pages(4);
    kam::MultiSlotAllocator allocator(pages, pages.bytes());
    void* first = allocator.allocate(16);
    void* second = allocator.allocate(16);
    allocator.free(first);
    EXPECT_EQ(allocator.empty_pages(), 0u);
    allocator.free(second);
    EXPECT_EQ(allocator.empty_pages(), 1u);

    void* larger = allocator.allocate(100);
    EXPECT_EQ(page_of(larger), page_of(first));
    EXPECT_EQ(allocator.size_of(larger), 112u);
    EXPECT_EQ(allocator.empty_pages(), 0u);
    EXPECT_EQ(pages.commits, 1);

    // The 16-byte slot lost its page and starts a new one.
    void* again = allocator.allocate(16);
    EXPECT_NE(page_of(again), page_of(first));
    EXPECT_EQ(pages.commits, 2);
}

TEST(MultiSlotAllocatorTest, StatusCountsLiveObjectsPagesAndBytes) {
    FakePageAllocator pages(16);
    kam::MultiSlotAllocator allocator(pages, pages.bytes());
    void* forty[3];
    for (void*& object : forty)
        object = allocator.allocate(36);
    allocator.allocate(0);
    allocator.free(forty[1]);

    // The status is no output of the tool: only its figures are pinned, not its layout.
    std::ostringstream status;
    EXPECT_EQ(allocator.print_status(status, false),
              std::make_pair(std::int64_t{84}, std::int64_t{8192}));

    // A range that could not be reserved gives and counts nothing.
    kam::MultiSlotAllocator unreserved(pages, pages.bytes() * 2);
    EXPECT_EQ(unreserved.allocate(4), nullptr);
    EXPECT_EQ(unreserved.print_status(status, false),
              std::make_pair(std::int64_t{0}, std::int64_t{0}));
}

}  // namespace
