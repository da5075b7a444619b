#include "injector/memory.h"

#include <windows.h>

namespace injector {

void* host_module_base() {
    // The main module never moves, so one lookup serves the whole process lifetime.
    static void* const base = GetModuleHandleA(nullptr);
    return base;
}

protection_guard::protection_guard(void* address, std::uint32_t size, bool unprotect)
    : address_(address), size_(unprotect ? size : 0) {
    if (size_ == 0) {
        return;
    }
    DWORD previous = 0;
    changed_ = VirtualProtect(address_, size_, PAGE_EXECUTE_READWRITE, &previous) != 0;
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

void write_bytes(void* address, const void* source, std::uint32_t size, bool unprotect) {
    {
        const protection_guard guard{address, size, unprotect};
        std::memcpy(address, source, size);
    }
    // The bytes may be code another thread is about to run.
    FlushInstructionCache(GetCurrentProcess(), address, size);
}

namespace {

std::uint32_t as_u32(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

void* as_pointer(std::uint32_t value) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(value));
}

const std::uint8_t* at(const void* address, std::uint32_t offset) {
    return static_cast<const std::uint8_t*>(address) + offset;
}

}  // namespace

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
