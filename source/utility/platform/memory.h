// Address space reserved in one piece and committed page by page.
#pragma once

#include <cstddef>

namespace kam::platform {

// Reserves size bytes of address space without access; null on failure.
void* reserve_address_space(std::size_t size);
// Makes [address, address + size) of a reserved range readable and writable; null on failure.
void* commit_pages(void* address, std::size_t size);
// The size of one page of the system.
std::size_t page_size();
// The usable size of a block of the runtime heap (std::malloc); at least what was asked for.
std::size_t heap_block_size(void* block);
// Lets the runtime heap keep freed memory for the next file instead of giving it back and taking
// it again, page fault by page fault; blocks of many megabytes still come and go on their own.
void keep_freed_heap_memory();
// The size of a huge page where the system has them: a large block aligned to it can be backed
// by them.
constexpr std::size_t huge_page_size = std::size_t{2} << 20;
// Asks for huge pages behind the whole pages of a large block about to be filled: each spares
// hundreds of page faults. Only a hint; blocks under a huge page gain nothing.
void advise_huge_pages(void* block, std::size_t size);

}  // namespace kam::platform
