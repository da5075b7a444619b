// This program's image is small and does not reach the host's probe addresses, and it is
// loaded far from anything else, so the probes fall on unmapped memory: a host that the
// plug-in does not know, as any other executable that loaded it would be.
#include <gtest/gtest.h>
#include <windows.h>

#include "plugin/HostVersion.h"

namespace {

std::uintptr_t ImageEnd() {
    const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return base + nt->OptionalHeader.SizeOfImage;
}

TEST(ForeignHost, ProbesOutsideTheImageDoNotMatchAndDoNotFault) {
    const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
    ASSERT_LT(ImageEnd(), base + 0x266BA0) << "this program's image reaches the probes";
    EXPECT_EQ(0, plugin::DetectHostVersion());
    EXPECT_EQ(0, plugin::CurrentHostVersion());
}

}  // namespace
