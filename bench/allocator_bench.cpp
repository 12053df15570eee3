// The slot allocator against the system allocator on the tool's allocation patterns: bursts of
// small strings, map nodes keyed by paths, and short-lived temporaries among long-lived blocks.
// "Slot" is the process-wide pair (slot allocator, then heap) that a replacement of global
// allocation would call; "System" is malloc and free.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "utility/allocator.h"

namespace {

struct SystemHeap {
    static void* allocate(std::size_t size) { return std::malloc(size); }
    static void release(void* pointer) { std::free(pointer); }
};

struct SlotHeap {
    static void* allocate(std::size_t size) { return kam::allocate_memory(size); }
    static void release(void* pointer) { kam::release_memory(pointer); }
};

template <class T, class Heap>
struct HeapAllocator {
    using value_type = T;
    HeapAllocator() = default;
    template <class U>
    HeapAllocator(const HeapAllocator<U, Heap>&) {}
    T* allocate(std::size_t count) { return static_cast<T*>(Heap::allocate(count * sizeof(T))); }
    void deallocate(T* pointer, std::size_t) { Heap::release(pointer); }
    template <class U>
    bool operator==(const HeapAllocator<U, Heap>&) const {
        return true;
    }
};

template <class Heap>
using String = std::basic_string<char, std::char_traits<char>, HeapAllocator<char, Heap>>;

// Path-like names of 16 to 90 characters, past the in-place buffer of std::string.
std::vector<std::string> sample_paths(std::size_t count) {
    std::mt19937 random(7);
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < count; ++i) {
        std::string path = "data\\levels\\";
        const int depth = 1 + static_cast<int>(random() % 4);
        for (int part = 0; part < depth; ++part)
            path += "part" + std::to_string(random() % 1000) + "\\";
        path += "file" + std::to_string(i) + ".xml";
        paths.push_back(path);
    }
    return paths;
}

template <class Heap>
void BM_StringBurst(benchmark::State& state) {
    const auto paths = sample_paths(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::vector<String<Heap>> strings;
        strings.reserve(paths.size());
        for (const auto& path : paths)
            strings.emplace_back(path.data(), path.size());
        benchmark::DoNotOptimize(strings.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <class Heap>
void BM_PathMap(benchmark::State& state) {
    const auto paths = sample_paths(static_cast<std::size_t>(state.range(0)));
    using Map = std::map<String<Heap>, int, std::less<>,
                         HeapAllocator<std::pair<const String<Heap>, int>, Heap>>;
    for (auto _ : state) {
        Map map;
        int value = 0;
        for (const auto& path : paths)
            map.emplace(String<Heap>(path.data(), path.size()), value++);
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// A live set of blocks of 8 to 200 bytes in which one block at random is replaced at each step.
template <class Heap>
void BM_Churn(benchmark::State& state) {
    const std::size_t live = 4096;
    std::mt19937 random(11);
    std::vector<std::size_t> sizes(1 << 16), slots(1 << 16);
    for (auto& size : sizes)
        size = 8 + random() % 193;
    for (auto& slot : slots)
        slot = random() % live;
    std::vector<void*> blocks(live);
    for (std::size_t i = 0; i < live; ++i)
        blocks[i] = Heap::allocate(sizes[i]);
    std::size_t step = 0;
    for (auto _ : state) {
        const std::size_t index = step & 0xFFFF;
        void*& block = blocks[slots[index]];
        Heap::release(block);
        block = Heap::allocate(sizes[index]);
        benchmark::DoNotOptimize(block);
        ++step;
    }
    for (void* block : blocks)
        Heap::release(block);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_TEMPLATE(BM_StringBurst, SystemHeap)->Arg(100000);
BENCHMARK_TEMPLATE(BM_StringBurst, SlotHeap)->Arg(100000);
BENCHMARK_TEMPLATE(BM_PathMap, SystemHeap)->Arg(100000);
BENCHMARK_TEMPLATE(BM_PathMap, SlotHeap)->Arg(100000);
BENCHMARK_TEMPLATE(BM_Churn, SystemHeap);
BENCHMARK_TEMPLATE(BM_Churn, SlotHeap);

}  // namespace
