#include "standin/HostImage.h"

#include <cstring>

#include "injector/memory.h"

// An uninitialised ("b"), writable ("w"), executable ("x") section: it costs no file
// space, and the linker places it right after the program's code and data.
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
    const auto first = reinterpret_cast<std::uintptr_t>(injector::host_ptr(address));
    const auto begin = reinterpret_cast<std::uintptr_t>(hostImageBegin);
    const auto end = reinterpret_cast<std::uintptr_t>(hostImageEnd);
    return first >= begin && first <= end && size <= end - first;
}

void FillData(std::uint8_t pattern) {
    std::memset(injector::host_ptr(Host::DataBegin), pattern, Host::DataSize);
}

}  // namespace HostImage
