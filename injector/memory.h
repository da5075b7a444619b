// Host memory: address translation, copies with the page protection lifted for one copy,
// and the branch instructions the hooks read and write. No operation reports an error;
// addresses are taken as valid.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>

#include "host/HostGame.h"

namespace injector {

// Base of the process's main module, fetched on the first call and kept.
void* host_module_base();

// `address` as linked at Host::PreferredBase, moved to a module loaded at `base`.
constexpr std::uint32_t rebase(std::uint32_t base, HostAddress address) {
    return base + (address - Host::PreferredBase);  // unsigned: wraps modulo 2^32
}

// `address` moved to the running process's main module.
inline void* host_ptr(HostAddress address) {
    const auto base = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(host_module_base()));
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(rebase(base, address)));
}

// What a lifted range may be while it is lifted: code stays executable as it is written;
// data (an import slot, say) becomes writable without ever becoming executable.
enum class lifted_access { code, data };

// Lifts [address, address + size) to execute-read-write (or, for data, read-write) for its
// lifetime when `unprotect` is set and size is above 0; puts the previous protection back only
// if the change worked.
class protection_guard {
public:
    protection_guard(void* address, std::uint32_t size, bool unprotect, lifted_access access = lifted_access::code);
    ~protection_guard();
    protection_guard(const protection_guard&) = delete;
    protection_guard& operator=(const protection_guard&) = delete;

    // Whether the range was lifted: false when no change was asked for or the change failed.
    bool lifted() const { return changed_; }

private:
    void* address_;
    std::uint32_t size_;  // 0 when no change was asked for
    std::uint32_t previous_ = 0;
    bool changed_ = false;
};

// Whether [address, address + size) is committed memory of the host's own image, so that
// reading it (with the protection lifted) cannot fault.
bool in_host_image(const void* address, std::uint32_t size);

// Copies `size` bytes from `address` into `destination`.
void read_bytes(const void* address, void* destination, std::uint32_t size, bool unprotect);

// Whether [address, address + size) lies within one naturally aligned 8-byte block. Image
// bases are 64 KiB-aligned, so a host address and its relocated self give the same answer.
constexpr bool within_one_block(std::uint32_t address, std::uint32_t size) {
    return size > 0 && address % 8 + size <= 8;
}

// Copies `size` bytes from `source` to `address`. A range within one aligned 8-byte block
// lands in a single atomic store: a thread running that code meanwhile sees all the old
// bytes or all the new ones.
void write_bytes(void* address, const void* source, std::uint32_t size, bool unprotect);

// One value at `address`, always read with the protection lifted over its bytes.
template <class T>
    requires std::same_as<T, std::uint8_t> || std::same_as<T, std::uint32_t>
T read_value(const void* address) {
    const protection_guard guard{const_cast<void*>(address), sizeof(T), true};
    T value;
    std::memcpy(&value, address, sizeof(T));
    return value;
}

// CALL rel32 as it stands in code.
struct [[gnu::packed]] call_rel32 {
    std::uint8_t opcode;
    std::int32_t displacement;  // from the end of the instruction
};
static_assert(sizeof(call_rel32) == 5);

// So each site's patch and restore land whole (see write_bytes).
static_assert(std::ranges::all_of(Host::Builds,
                                  [](const Host::Build& build) {
                                      return within_one_block(build.callSite, sizeof(call_rel32));
                                  }),
              "every call site's five bytes lie within one aligned 8-byte block");

inline constexpr std::uint8_t call_opcode = 0xE8;
inline constexpr std::uint8_t jump_opcode = 0xE9;

constexpr std::array<std::uint8_t, sizeof(call_rel32)> encode_call(std::uint32_t address, std::uint32_t target) {
    const call_rel32 call{call_opcode, static_cast<std::int32_t>(target - (address + sizeof(call_rel32)))};
    return std::bit_cast<std::array<std::uint8_t, sizeof(call_rel32)>>(call);
}

// Destination of the CALL/JMP at `address`: E8/E9 rel32, or FF 15/FF 25 through an absolute
// pointer. Null for any other instruction.
void* call_target(void* address);

// Writes a CALL rel32 to `target` at `address`, touching those 5 bytes only; returns
// call_target(address) as it was just before.
void* place_call(void* address, void* target);

}  // namespace injector
