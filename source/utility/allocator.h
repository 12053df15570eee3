// Allocators with usage accounting: the interface, the heap allocator, and the process-wide pair
// (slot allocator for small blocks, heap for the rest).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>

namespace kam {

class Allocator {
public:
    virtual ~Allocator() = default;

    // Whether a block of size bytes can come from this allocator.
    virtual bool can_allocate(std::size_t size) const = 0;
    // Whether the block at pointer came from this allocator.
    virtual bool owns_pointer(const void* pointer) const = 0;
    // A block of at least size bytes; null when the allocator has no room left for it.
    virtual void* allocate(std::size_t size) = 0;
    // Returns a block of this allocator; null is ignored.
    virtual void free(void* pointer) = 0;
    // The usable bytes of a block of this allocator.
    virtual std::size_t size_of(const void* pointer) const = 0;
    // Prints the usage, as a table when detailed, as one line otherwise. Returns (used bytes,
    // bytes taken from the system).
    virtual std::pair<std::int64_t, std::int64_t> print_status(std::ostream& out,
                                                               bool detailed) const = 0;
};

// The runtime heap, with blocks aligned to 16 bytes and counters of the bytes in use.
class MallocAllocator : public Allocator {
public:
    bool can_allocate(std::size_t) const override { return true; }
    bool owns_pointer(const void*) const override { return true; }
    // Throws ErrorWithCStack "Out of memory allocating " + size + " bytes" when the heap is out.
    void* allocate(std::size_t size) override;
    void free(void* pointer) override;
    std::size_t size_of(const void* pointer) const override;
    std::pair<std::int64_t, std::int64_t> print_status(std::ostream& out,
                                                       bool detailed) const override;

    // Heap bytes held by live blocks (the heap's own block sizes), and the most ever held.
    std::int64_t used() const;
    std::int64_t maximum_used() const;

private:
    mutable std::mutex mutex_;
    std::int64_t used_ = 0;
    std::int64_t maximum_used_ = 0;
};

// The process-wide allocators, built on first use: blocks up to 512 bytes come from a slot
// allocator, larger ones (and all blocks once its address range is used up) from the heap.
// allocate_memory treats 0 bytes as 1; release_memory ignores null.
void* allocate_memory(std::size_t size);
void release_memory(void* pointer);
// The status of both, slot allocator first.
void print_memory_status(std::ostream& out, bool detailed);

// The number with its digits grouped in threes: 1234567 gives "1,234,567".
std::string grouped(std::int64_t value);

}  // namespace kam
