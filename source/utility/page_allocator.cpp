// Pages of the system's virtual memory.
#include "utility/page_allocator.h"

#include <cstdint>

#include "utility/platform/memory.h"

namespace kam {

SystemPageAllocator& SystemPageAllocator::instance() {
    static SystemPageAllocator allocator;
    return allocator;
}

void* SystemPageAllocator::reserve(std::size_t size) {
    return platform::reserve_address_space(size);
}

void* SystemPageAllocator::commit(void* address, std::size_t size) {
    static const std::size_t page = platform::page_size();
    const auto begin = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t first = begin / page * page;
    const std::uintptr_t end = (begin + size + page - 1) / page * page;
    if (platform::commit_pages(reinterpret_cast<void*>(first), end - first) == nullptr)
        return nullptr;
    return address;
}

}  // namespace kam
