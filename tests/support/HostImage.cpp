#include "HostImage.h"

#include <cstring>

// An uninitialised ("b"), writable ("w"), executable ("x") section: it costs no file
// space, and the loader maps it right after the program's code and data.
asm(R"(
    .section .hostimg,"bwx"
    .balign 4096
    .globl _hostImageBegin
_hostImageBegin:
    .space 0x400000
    .globl _hostImageEnd
_hostImageEnd:
    .text
)");

extern "C" unsigned char hostImageBegin[];
extern "C" unsigned char hostImageEnd[];

namespace HostImage {

bool Covers(HostAddress address, std::size_t size) {
    const auto begin = reinterpret_cast<std::uintptr_t>(hostImageBegin);
    const auto end = reinterpret_cast<std::uintptr_t>(hostImageEnd);
    return address >= begin && address <= end && size <= end - address;
}

void FillData(std::uint8_t pattern) {
    std::memset(reinterpret_cast<void*>(std::uintptr_t{Host::DataBegin}), pattern, Host::DataEnd - Host::DataBegin);
}

}  // namespace HostImage
