// Global new and delete served by the process-wide allocators (slot allocator, then heap). Linked
// only into benchmark programs that time real work both ways; the tool keeps the system's.
#include <new>

#include "utility/allocator.h"

void* operator new(std::size_t size) {
    return kam::allocate_memory(size);
}
void* operator new[](std::size_t size) {
    return kam::allocate_memory(size);
}
void operator delete(void* pointer) noexcept {
    kam::release_memory(pointer);
}
void operator delete[](void* pointer) noexcept {
    kam::release_memory(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
    kam::release_memory(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
    kam::release_memory(pointer);
}
