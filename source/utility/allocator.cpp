// The heap allocator and the process-wide pair of allocators.
#include "utility/allocator.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "utility/errors.h"
#include "utility/multi_slot_allocator.h"
#include "utility/page_allocator.h"
#include "utility/platform/memory.h"

namespace kam {

namespace {

constexpr std::size_t block_alignment = 16;
// Room for the alignment and for the block's start, kept in the word before the aligned address.
constexpr std::size_t block_extra = 16;

void* block_start(const void* pointer) {
    void* start;
    std::memcpy(&start, static_cast<const char*>(pointer) - sizeof start, sizeof start);
    return start;
}

struct ProcessAllocators {
    MallocAllocator heap;
    MultiSlotAllocator slots{SystemPageAllocator::instance()};
    Allocator* registry[2] = {&slots, &heap};
};

// Built in static storage and never destroyed: blocks may still be released while the process
// exits, and building it takes nothing from the heap, so it could serve a global operator new.
ProcessAllocators& process_allocators() {
    alignas(ProcessAllocators) static unsigned char storage[sizeof(ProcessAllocators)];
    static ProcessAllocators* allocators = new (storage) ProcessAllocators;
    return *allocators;
}

}  // namespace

void* MallocAllocator::allocate(std::size_t size) {
    void* start = size <= std::numeric_limits<std::size_t>::max() - block_extra
                      ? std::malloc(size + block_extra)
                      : nullptr;
    if (start == nullptr)
        throw ErrorWithCStack("Out of memory allocating " + std::to_string(size) + " bytes");
    // malloc's blocks are aligned to at least 8 bytes, so the aligned address lies at most 16 bytes
    // in.
    const auto address =
        (reinterpret_cast<std::uintptr_t>(start) + sizeof start + block_alignment - 1) &
        ~std::uintptr_t{block_alignment - 1};
    void* pointer = reinterpret_cast<void*>(address);
    std::memcpy(static_cast<char*>(pointer) - sizeof start, &start, sizeof start);
    const auto held = static_cast<std::int64_t>(platform::heap_block_size(start));
    std::lock_guard lock(mutex_);
    used_ += held;
    if (used_ > maximum_used_)
        maximum_used_ = used_;
    return pointer;
}

void MallocAllocator::free(void* pointer) {
    if (pointer == nullptr)
        return;
    void* start = block_start(pointer);
    const auto held = static_cast<std::int64_t>(platform::heap_block_size(start));
    {
        std::lock_guard lock(mutex_);
        used_ -= held;
    }
    std::free(start);
}

std::size_t MallocAllocator::size_of(const void* pointer) const {
    const void* start = block_start(pointer);
    return platform::heap_block_size(const_cast<void*>(start)) -
           static_cast<std::size_t>(static_cast<const char*>(pointer) -
                                    static_cast<const char*>(start));
}

std::int64_t MallocAllocator::used() const {
    std::lock_guard lock(mutex_);
    return used_;
}

std::int64_t MallocAllocator::maximum_used() const {
    std::lock_guard lock(mutex_);
    return maximum_used_;
}

std::pair<std::int64_t, std::int64_t> MallocAllocator::print_status(std::ostream& out,
                                                                    bool detailed) const {
    std::lock_guard lock(mutex_);
    if (detailed) {
        out << "Malloc allocator\n---------------\n"
            << "Used memory:      " << grouped(used_) << '\n'
            << "Max used memory:  " << grouped(maximum_used_) << "\n\n";
    } else {
        out << "Malloc                     : " << grouped(used_) << " / " << grouped(used_) << '\n';
    }
    return {used_, used_};
}

void* allocate_memory(std::size_t size) {
    if (size == 0)
        size = 1;
    for (Allocator* allocator : process_allocators().registry) {
        if (!allocator->can_allocate(size))
            continue;
        // The slot allocator gives null once its range is used up; the heap serves from then on.
        if (void* pointer = allocator->allocate(size))
            return pointer;
    }
    throw ErrorWithCStack("Out of memory allocating " + std::to_string(size) + " bytes");
}

void release_memory(void* pointer) {
    if (pointer == nullptr)
        return;
    for (Allocator* allocator : process_allocators().registry) {
        if (allocator->owns_pointer(pointer)) {
            allocator->free(pointer);
            return;
        }
    }
}

void print_memory_status(std::ostream& out, bool detailed) {
    for (const Allocator* allocator : process_allocators().registry)
        allocator->print_status(out, detailed);
}

std::string grouped(std::int64_t value) {
    const std::string digits = std::to_string(value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                                        : static_cast<std::uint64_t>(value));
    std::string text = value < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += ',';
        text += digits[i];
    }
    return text;
}

}  // namespace kam
