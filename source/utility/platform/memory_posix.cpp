// Reserve is an inaccessible anonymous mapping; commit opens pages of it for reading and writing.
#include "utility/platform/memory.h"

#include <malloc.h>
#include <stdint.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kam::platform {

void* reserve_address_space(std::size_t size) {
    void* address =
        mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return address == MAP_FAILED ? nullptr : address;
}

void* commit_pages(void* address, std::size_t size) {
    return mprotect(address, size, PROT_READ | PROT_WRITE) == 0 ? address : nullptr;
}

std::size_t page_size() {
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

std::size_t heap_block_size(void* block) {
    return malloc_usable_size(block);
}

void keep_freed_heap_memory() {
#if defined(__GLIBC__)
    // Without this, the heap hands back all but 128 KB above its top (a thread's heap as well),
    // so every file of a run faults in the memory the previous one freed.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

void advise_huge_pages(void* block, std::size_t size) {
#if defined(MADV_HUGEPAGE)
    if (size < huge_page_size)
        return;
    const uintptr_t page = page_size();
    const auto begin = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (begin + page - 1) / page * page;
    const uintptr_t end = (begin + size) / page * page;
    // A refusal (no such pages here) leaves the block as it was: small pages.
    madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)size;
#endif
}

}  // namespace kam::platform
