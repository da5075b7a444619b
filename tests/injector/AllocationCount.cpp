#include "tests/injector/AllocationCount.h"

#include <atomic>
#include <cstdlib>
#include <new>

// In a source of their own: inlined next to a call of delete, free() looks mismatched to GCC.
namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1);
    if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace AllocationCount {

long SoFar() { return allocations.load(); }

}  // namespace AllocationCount
