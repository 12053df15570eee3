// Address space reserved in one range and committed page by page, for the slot allocator.
#pragma once

#include <cstddef>

namespace kam {

class PageAllocator {
public:
    virtual ~PageAllocator() = default;
    // Reserves size bytes of address space without making them usable; null on failure.
    virtual void* reserve(std::size_t size) = 0;
    // Makes [address, address + size) inside a reserved range readable and writable and returns
    // address; null on failure.
    virtual void* commit(void* address, std::size_t size) = 0;
};

// The operating system's virtual memory; one per process.
class SystemPageAllocator : public PageAllocator {
public:
    static SystemPageAllocator& instance();

    void* reserve(std::size_t size) override;
    // Commits the whole system pages that the range touches, which may be larger than 4 KiB.
    void* commit(void* address, std::size_t size) override;
};

}  // namespace kam
