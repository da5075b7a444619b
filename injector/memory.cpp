#include "injector/memory.h"

#include <windows.h>

#include <atomic>

namespace injector {

void* host_module_base() {
    // The main module never moves, so one lookup serves the whole process lifetime.
    static void* const base = GetModuleHandleA(nullptr);
    return base;
}

protection_guard::protection_guard(void* address, std::uint32_t size, bool unprotect, lifted_access access)
    : address_(address), size_(unprotect ? size : 0) {
    if (size_ == 0) {
        return;
    }
    const DWORD lifted = access == lifted_access::code ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE;
    DWORD previous = 0;
    changed_ = VirtualProtect(address_, size_, lifted, &previous) != 0;
    previous_ = previous;
}

protection_guard::~protection_guard() {
    // A failed change left the old protection in place: nothing to put back.
    if (changed_) {
        DWORD scratch = 0;
        VirtualProtect(address_, size_, previous_, &scratch);
    }
}

void read_bytes(const void* address, void* destination, std::uint32_t size, bool unprotect) {
    const protection_guard guard{const_cast<void*>(address), size, unprotect};
    std::memcpy(destination, address, size);
}

namespace {

std::uint32_t as_u32(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

// Host code is patched while other host threads may run it. A thread that met a CALL's
// displacement half written would call an address made of two targets' bytes. A plain copy
// can split it: msvcrt's memcpy aligns its destination first, so four bytes at an address
// 2 modulo 4 land as two 2-byte stores. Intel and AMD both guarantee that one store contained
// in an aligned 8-byte block lands at once (Intel also within a cache line, AMD no further).
// A locked compare-exchange of the whole block is such a store, and it keeps the block's
// other bytes as they are.
// Kept out of line, under this name, so that the built code can be checked for it.
[[gnu::noinline, gnu::noipa]] void store_within_block(void* address, const void* source, std::uint32_t size) {
    const std::uint32_t offset = as_u32(address) % 8;
    auto* const block = reinterpret_cast<std::uint64_t*>(static_cast<std::uint8_t*>(address) - offset);
    const auto* const bytes = static_cast<const std::uint8_t*>(source);
    std::uint64_t value = 0;
    std::uint64_t mask = 0;
    for (std::uint32_t i = 0; i < size; ++i) {
        const std::uint32_t shift = 8 * (offset + i);  // little-endian: byte k is bits 8k to 8k+7
        value |= std::uint64_t{bytes[i]} << shift;
        mask |= std::uint64_t{0xFF} << shift;
    }
    std::atomic_ref<std::uint64_t> whole{*block};
    std::uint64_t expected = whole.load(std::memory_order_relaxed);
    while (!whole.compare_exchange_weak(expected, (expected & ~mask) | value)) {
    }
}

void* as_pointer(std::uint32_t value) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(value));
}

const std::uint8_t* at(const void* address, std::uint32_t offset) {
    return static_cast<const std::uint8_t*>(address) + offset;
}

}  // namespace

void write_bytes(void* address, const void* source, std::uint32_t size, bool unprotect) {
    {
        const protection_guard guard{address, size, unprotect};
        if (within_one_block(as_u32(address), size)) {
            store_within_block(address, source, size);
        } else {
            std::memcpy(address, source, size);
        }
    }
    // The bytes may be code another thread is about to run.
    FlushInstructionCache(GetCurrentProcess(), address, size);
}

void* call_target(void* address) {
    const auto opcode = read_value<std::uint8_t>(address);
    if (opcode == call_opcode || opcode == jump_opcode) {
        const auto displacement = read_value<std::uint32_t>(at(address, 1));
        return as_pointer(as_u32(address) + sizeof(call_rel32) + displacement);
    }
    if (opcode == 0xFF) {
        // FF 15 is CALL [abs32], FF 25 is JMP [abs32]; other ModR/M forms are not branches we follow.
        const auto modrm = read_value<std::uint8_t>(at(address, 1));
        if (modrm != 0x15 && modrm != 0x25) {
            return nullptr;
        }
        const auto slot = read_value<std::uint32_t>(at(address, 2));
        // The slot is ordinary data (an import table entry, say): read it as it stands.
        std::uint32_t pointer;
        std::memcpy(&pointer, as_pointer(slot), sizeof(pointer));
        return as_pointer(pointer);
    }
    return nullptr;
}

void* place_call(void* address, void* target) {
    void* const previous = call_target(address);
    const auto call = encode_call(as_u32(address), as_u32(target));
    // Opcode first, then the displacement: each copy under a guard of its own size.
    write_bytes(address, call.data(), 1, true);
    write_bytes(static_cast<std::uint8_t*>(address) + 1, call.data() + 1, sizeof(call_rel32) - 1, true);
    return previous;
}

bool in_host_image(const void* address, std::uint32_t size) {
    const auto* first = static_cast<const std::uint8_t*>(address);
    const auto* const end = first + size;
    while (first < end) {
        MEMORY_BASIC_INFORMATION region;
        if (VirtualQuery(first, &region, sizeof region) == 0) return false;
        if (region.AllocationBase != host_module_base() || region.State != MEM_COMMIT) return false;
        first = static_cast<const std::uint8_t*>(region.BaseAddress) + region.RegionSize;
    }
    return true;
}

}  // namespace injector
