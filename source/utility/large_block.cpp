// Large blocks: aligned operator new with the huge-page hint, small ones plain new.
#include "utility/large_block.h"

#include <new>

#include "utility/platform/memory.h"

namespace kam {

namespace {

constexpr std::align_val_t huge_page{platform::huge_page_size};

}  // namespace

void LargeBlockDeleter::operator()(char* block) const {
    if (size >= large_block_size)
        ::operator delete[](block, huge_page);
    else
        delete[] block;
}

LargeBlock new_large_block(std::size_t size) {
    if (size < large_block_size)
        return LargeBlock(new char[size], {size});
    LargeBlock block(static_cast<char*>(::operator new[](size, huge_page)), {size});
    platform::advise_huge_pages(block.get(), size);
    return block;
}

}  // namespace kam
