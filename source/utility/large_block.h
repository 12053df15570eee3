// Blocks of memory that a large input fills: from huge pages where the system has them.
#pragma once

#include <cstddef>
#include <memory>

namespace kam {

// Blocks of at least this size are aligned to huge pages and asked to be backed by them: fresh
// memory filled a 4 KB page fault at a time cost more than the work that fills it. Smaller
// ones come from the heap as usual, which hands memory freed by the last file to the next.
constexpr std::size_t large_block_size = std::size_t{4} << 20;

struct LargeBlockDeleter {
    std::size_t size = 0;
    void operator()(char* block) const;
};
using LargeBlock = std::unique_ptr<char[], LargeBlockDeleter>;

// Uninitialised; throws std::bad_alloc as new does.
LargeBlock new_large_block(std::size_t size);

}  // namespace kam
