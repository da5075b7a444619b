#include "tests/support/AllocationPeak.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::size_t live = 0;
std::size_t peak = 0;

// Room before each block for its size and the pointer malloc gave, the block aligned to 16.
constexpr std::size_t Room = 32;
constexpr std::size_t Alignment = 16;

void* Allocate(std::size_t size, std::size_t alignment) {
    if (alignment > Alignment || size > SIZE_MAX - Room) throw std::bad_alloc();
    void* const raw = std::malloc(size + Room);
    if (!raw) throw std::bad_alloc();
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(raw) + Room) & ~std::uintptr_t{Alignment - 1};
    auto* const block = reinterpret_cast<unsigned char*>(start);
    std::memcpy(block - sizeof raw, &raw, sizeof raw);
    std::memcpy(block - sizeof raw - sizeof size, &size, sizeof size);
    live += size;
    peak = std::max(peak, live);
    return block;
}

void Free(void* memory) {
    if (!memory) return;
    auto* const block = static_cast<unsigned char*>(memory);
    void* raw;
    std::size_t size;
    std::memcpy(&raw, block - sizeof raw, sizeof raw);
    std::memcpy(&size, block - sizeof raw - sizeof size, sizeof size);
    live -= size;
    std::free(raw);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size, alignof(std::max_align_t)); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    return Allocate(size, static_cast<std::size_t>(alignment));
}
void operator delete(void* memory) noexcept { Free(memory); }
void operator delete(void* memory, std::size_t) noexcept { Free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { Free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { Free(memory); }

namespace AllocationPeak {

std::size_t Live() { return live; }
std::size_t Peak() { return peak; }
void Restart() { peak = live; }

}  // namespace AllocationPeak
