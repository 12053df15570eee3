// Small blocks in fixed-size slots, carved out of 4 KiB pages of one reserved address range.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "utility/allocator.h"
#include "utility/page_allocator.h"

namespace kam {

// Serves blocks of up to 512 bytes from the smallest of 26 slot sizes that fits. Each 4 KiB page
// holds objects of one size after a 32-byte header; freed objects go on their page's list, and a
// page whose objects are all free is kept for reuse by any slot size (never given back). Pages
// are committed one at a time from a single reservation, so owns_pointer is a range test.
class MultiSlotAllocator : public Allocator {
public:
    static constexpr std::size_t page_bytes = 4096;
    static constexpr std::size_t header_bytes = 32;
    static constexpr std::size_t default_range_bytes = 0x1C000000;
    static constexpr std::array<std::uint32_t, 26> slot_sizes = {
        4,  8,   12,  16,  20,  24,  28,  32,  40,  48,  56,  64,  80,
        96, 112, 128, 144, 160, 192, 224, 256, 288, 320, 384, 448, 512};

    // Reserves range_bytes of address space from pages; if that fails, every allocate gives null.
    explicit MultiSlotAllocator(PageAllocator& pages,
                                std::size_t range_bytes = default_range_bytes);
    MultiSlotAllocator(const MultiSlotAllocator&) = delete;
    MultiSlotAllocator& operator=(const MultiSlotAllocator&) = delete;

    bool can_allocate(std::size_t size) const override { return size <= slot_sizes.back(); }
    bool owns_pointer(const void* pointer) const override;
    // Null when the size is too large or no page can be had (the range is used up).
    void* allocate(std::size_t size) override;
    void free(void* pointer) override;
    std::size_t size_of(const void* pointer) const override;
    std::pair<std::int64_t, std::int64_t> print_status(std::ostream& out,
                                                       bool detailed) const override;

    // Pages committed so far, and those of them that are empty and kept for reuse.
    std::size_t committed_pages() const;
    std::size_t empty_pages() const;

private:
    // The page header, eight 32-bit words. A page is named by its index in the range plus one
    // and an object by its offset in its page, so 0 means none and a 4-byte object can hold the
    // link of its page's freed list.
    struct PageHeader {
        std::uint32_t object_size;
        std::uint32_t objects_in_use;
        std::uint32_t
            next_page;  // in the slot's list of pages with freed objects, or the empty list
        std::uint32_t previous_page;  // in the slot's list of pages with freed objects
        std::uint32_t freed_head;     // offset of the first freed object
        std::uint32_t freed_count;
        std::uint32_t unused[2];
    };
    static_assert(sizeof(PageHeader) == header_bytes);

    struct Slot {
        std::uint32_t object_size = 0;
        std::uint32_t pages_with_freed = 0;  // head of the list
        std::uint32_t pages_with_freed_count = 0;
        std::uint32_t filling_page = 0;  // the page being bump-allocated, 0 if none
        std::uint32_t bump_offset = 0;
        std::int64_t live_objects = 0;
        std::int64_t maximum_live_objects = 0;
    };

    PageHeader* page(std::uint32_t number) const;
    std::uint32_t page_number(const void* pointer) const;
    void link_freed(Slot& slot, std::uint32_t number);
    void unlink_freed(Slot& slot, std::uint32_t number);
    // An empty page for the slot: a kept one, or a newly committed one. 0 when none can be had.
    std::uint32_t new_page(std::uint32_t object_size);

    mutable std::mutex mutex_;
    std::array<Slot, slot_sizes.size()> slots_;
    // Slot index by (size + 3) / 4.
    std::array<std::uint8_t, 512 / 4 + 1> lookup_{};
    PageAllocator& pages_;
    char* range_start_ = nullptr;
    char* range_end_ = nullptr;
    char* next_uncommitted_ = nullptr;
    std::uint32_t empty_pages_ = 0;  // head of the list
    std::uint32_t empty_page_count_ = 0;
};

}  // namespace kam
