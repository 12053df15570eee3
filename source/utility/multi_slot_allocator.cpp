// The slot allocator. Small blocks dominate the tool's allocations (strings, map and tree nodes);
// here each is a table lookup and a list pop or a pointer bump inside a committed page.
#include "utility/multi_slot_allocator.h"

#include <cstring>

namespace kam {

MultiSlotAllocator::MultiSlotAllocator(PageAllocator& pages, std::size_t range_bytes)
    : pages_(pages) {
    std::size_t entry = 0;
    for (std::size_t index = 0; index < slot_sizes.size(); ++index) {
        slots_[index].object_size = slot_sizes[index];
        while (entry <= slot_sizes[index] / 4)
            lookup_[entry++] = static_cast<std::uint8_t>(index);
    }
    // Page numbers are 32-bit.
    const std::size_t largest_range = std::size_t{0xFFFFFFFE} * page_bytes;
    if (range_bytes > largest_range)
        range_bytes = largest_range;
    char* start = static_cast<char*>(pages_.reserve(range_bytes));
    if (start == nullptr)
        return;
    // Pages must lie on 4 KiB boundaries so that an object finds its page's header.
    const auto misalignment = reinterpret_cast<std::uintptr_t>(start) % page_bytes;
    const std::size_t skipped = misalignment == 0 ? 0 : page_bytes - misalignment;
    if (skipped >= range_bytes)
        return;
    range_start_ = start + skipped;
    range_end_ = range_start_ + (range_bytes - skipped) / page_bytes * page_bytes;
    next_uncommitted_ = range_start_;
}

MultiSlotAllocator::PageHeader* MultiSlotAllocator::page(std::uint32_t number) const {
    return reinterpret_cast<PageHeader*>(range_start_ + std::size_t{number - 1} * page_bytes);
}

std::uint32_t MultiSlotAllocator::page_number(const void* pointer) const {
    return static_cast<std::uint32_t>(
        (static_cast<const char*>(pointer) - range_start_) / page_bytes + 1);
}

bool MultiSlotAllocator::owns_pointer(const void* pointer) const {
    const auto* address = static_cast<const char*>(pointer);
    return range_start_ != nullptr && address >= range_start_ && address < range_end_;
}

void MultiSlotAllocator::link_freed(Slot& slot, std::uint32_t number) {
    PageHeader* header = page(number);
    header->previous_page = 0;
    header->next_page = slot.pages_with_freed;
    if (slot.pages_with_freed != 0)
        page(slot.pages_with_freed)->previous_page = number;
    slot.pages_with_freed = number;
    ++slot.pages_with_freed_count;
}

void MultiSlotAllocator::unlink_freed(Slot& slot, std::uint32_t number) {
    PageHeader* header = page(number);
    if (header->previous_page != 0) {
        page(header->previous_page)->next_page = header->next_page;
    } else {
        slot.pages_with_freed = header->next_page;
    }
    if (header->next_page != 0)
        page(header->next_page)->previous_page = header->previous_page;
    header->next_page = 0;
    header->previous_page = 0;
    --slot.pages_with_freed_count;
}

std::uint32_t MultiSlotAllocator::new_page(std::uint32_t object_size) {
    std::uint32_t number = empty_pages_;
    if (number != 0) {
        empty_pages_ = page(number)->next_page;
        --empty_page_count_;
    } else {
        if (next_uncommitted_ == nullptr ||
            static_cast<std::size_t>(range_end_ - next_uncommitted_) < page_bytes) {
            return 0;
        }
        if (pages_.commit(next_uncommitted_, page_bytes) == nullptr)
            return 0;
        number = page_number(next_uncommitted_);
        next_uncommitted_ += page_bytes;
    }
    PageHeader* header = page(number);
    std::memset(header, 0, header_bytes);
    header->object_size = object_size;
    return number;
}

void* MultiSlotAllocator::allocate(std::size_t size) {
    if (!can_allocate(size))
        return nullptr;
    std::lock_guard lock(mutex_);
    Slot& slot = slots_[lookup_[(size + 3) / 4]];
    std::uint32_t number = slot.pages_with_freed;
    char* object;
    if (number != 0) {
        PageHeader* header = page(number);
        object = reinterpret_cast<char*>(header) + header->freed_head;
        std::memcpy(&header->freed_head, object, sizeof header->freed_head);
        if (--header->freed_count == 0)
            unlink_freed(slot, number);
    } else {
        if (slot.filling_page == 0 || slot.bump_offset + slot.object_size > page_bytes) {
            const std::uint32_t fresh = new_page(slot.object_size);
            if (fresh == 0)
                return nullptr;
            slot.filling_page = fresh;
            slot.bump_offset = header_bytes;
        }
        number = slot.filling_page;
        object = reinterpret_cast<char*>(page(number)) + slot.bump_offset;
        slot.bump_offset += slot.object_size;
    }
    ++page(number)->objects_in_use;
    if (++slot.live_objects > slot.maximum_live_objects)
        slot.maximum_live_objects = slot.live_objects;
    return object;
}

void MultiSlotAllocator::free(void* pointer) {
    if (pointer == nullptr)
        return;
    std::lock_guard lock(mutex_);
    const std::uint32_t number = page_number(pointer);
    PageHeader* header = page(number);
    Slot& slot = slots_[lookup_[(header->object_size + 3) / 4]];
    std::memcpy(pointer, &header->freed_head, sizeof header->freed_head);
    header->freed_head =
        static_cast<std::uint32_t>(static_cast<char*>(pointer) - reinterpret_cast<char*>(header));
    if (++header->freed_count == 1)
        link_freed(slot, number);
    --slot.live_objects;
    if (--header->objects_in_use == 0) {
        unlink_freed(slot, number);
        if (slot.filling_page == number)
            slot.filling_page = 0;
        header->next_page = empty_pages_;
        empty_pages_ = number;
        ++empty_page_count_;
    }
}

std::size_t MultiSlotAllocator::size_of(const void* pointer) const {
    std::lock_guard lock(mutex_);
    return page(page_number(pointer))->object_size;
}

std::size_t MultiSlotAllocator::committed_pages() const {
    std::lock_guard lock(mutex_);
    return range_start_ == nullptr
               ? 0
               : static_cast<std::size_t>(next_uncommitted_ - range_start_) / page_bytes;
}

std::size_t MultiSlotAllocator::empty_pages() const {
    std::lock_guard lock(mutex_);
    return empty_page_count_;
}

std::pair<std::int64_t, std::int64_t> MultiSlotAllocator::print_status(std::ostream& out,
                                                                       bool detailed) const {
    std::lock_guard lock(mutex_);
    std::int64_t objects = 0;
    std::int64_t used = 0;
    for (const Slot& slot : slots_) {
        objects += slot.live_objects;
        used += slot.live_objects * slot.object_size;
    }
    const std::int64_t allocated = range_start_ == nullptr ? 0 : next_uncommitted_ - range_start_;
    if (detailed) {
        out << "MultiSlot allocator\n--------------\n\n";
        for (const Slot& slot : slots_) {
            out << grouped(slot.live_objects) << " objects of size " << slot.object_size
                << " (max count " << grouped(slot.maximum_live_objects) << ")\n";
        }
        out << "Objects:          " << grouped(objects) << '\n'
            << "Free pages:       " << grouped(empty_page_count_) << '\n'
            << "Used memory:      " << grouped(used) << '\n'
            << "Allocated memory: " << grouped(allocated) << '\n'
            << "Overhead:         " << grouped(allocated - used) << '\n'
            << "Address space:    " << grouped(range_end_ - range_start_) << "\n\n";
    } else {
        out << "MultiSlot                  : " << grouped(used) << " / " << grouped(allocated)
            << " in " << grouped(objects) << " objects\n";
    }
    return {used, allocated};
}

}  // namespace kam
