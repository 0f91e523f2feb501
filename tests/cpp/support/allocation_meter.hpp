// Counts the bytes that operator new holds, so that a test can bound the memory of some
// work exactly, without reading the process's resident size. Include it in one file of a
// test program only: it replaces the global operator new and delete of that program.
#pragma once

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace allocation_meter {

inline std::atomic<std::size_t> live{0};
inline std::atomic<std::size_t> peak{0};

// The most bytes held at once while `work` ran, beyond what was held when it began.
template <class Work>
std::size_t peak_during(Work&& work) {
    const std::size_t before = live.load();
    peak = before;
    work();
    return peak.load() - before;
}

inline void* take(std::size_t size) {
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) throw std::bad_alloc();
    const std::size_t now = live += malloc_usable_size(memory);
    std::size_t seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
    return memory;
}

inline void give(void* memory) noexcept {
    if (memory == nullptr) return;
    live -= malloc_usable_size(memory);
    std::free(memory);
}

}  // namespace allocation_meter

void* operator new(std::size_t size) { return allocation_meter::take(size); }
void* operator new[](std::size_t size) { return allocation_meter::take(size); }
void operator delete(void* memory) noexcept { allocation_meter::give(memory); }
void operator delete[](void* memory) noexcept { allocation_meter::give(memory); }
void operator delete(void* memory, std::size_t) noexcept { allocation_meter::give(memory); }
void operator delete[](void* memory, std::size_t) noexcept { allocation_meter::give(memory); }
