// Reserve and commit are the two steps of VirtualAlloc.
#include "utility/platform/memory.h"

#include <malloc.h>
#include <windows.h>

namespace kam::platform {

void* reserve_address_space(std::size_t size) {
    return VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
}

void* commit_pages(void* address, std::size_t size) {
    return VirtualAlloc(address, size, MEM_COMMIT, PAGE_READWRITE);
}

std::size_t page_size() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

std::size_t heap_block_size(void* block) {
    return _msize(block);
}

// The Windows heap has no such setting.
void keep_freed_heap_memory() {}

// Large pages need a privilege that builds do not run with.
void advise_huge_pages(void*, std::size_t) {}

}  // namespace kam::platform
