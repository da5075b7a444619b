// A library's lasting hook on the stand-in host: in place while the library is loaded,
// withdrawn when it is freed.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "injector/memory.h"
#include "tests/standin/StandInFixture.h"

namespace {

using StandInHost::CalleeCalls;
using StandInHost::CalleeResult;
using StandInHost::CallSiteBytes;
using StandInHost::RunCallSite;

// Built beside this program.
std::filesystem::path LibraryPath() { return StandInHost::HostFolder() / "lasting_hook.dll"; }

HMODULE ModuleHolding(const void* address) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(address, &info, sizeof info) != sizeof info) return nullptr;
    return static_cast<HMODULE>(info.AllocationBase);
}

TEST_F(StandInHostTest, ALastingHookHoldsTheSiteWhileItsLibraryIsLoadedAndLeavesWithIt) {
    StandInHost::Become(110);
    const auto original = CallSiteBytes(110);
    void* const site = injector::host_ptr(StandInHost::BuildOf(110).callSite);
    void* const hooked = static_cast<char*>(CalleeResult()) + 1;
    for (const int round : {1, 2}) {  // the second load patches the restored site afresh
        SCOPED_TRACE(round);
        const HMODULE library = LoadLibraryA(LibraryPath().string().c_str());
        ASSERT_NE(nullptr, library) << GetLastError();
        EXPECT_EQ(0xE8, CallSiteBytes(110)[0]);
        EXPECT_EQ(library, ModuleHolding(injector::call_target(site)));
        EXPECT_EQ(static_cast<std::uint32_t>(PAGE_EXECUTE_READ), StandInHost::ProtectionAt(StandInHost::BuildOf(110).callSite));
        int calls = CalleeCalls();
        EXPECT_EQ(hooked, RunCallSite(110));
        EXPECT_EQ(calls + 1, CalleeCalls());

        ASSERT_NE(0, FreeLibrary(library));
        EXPECT_EQ(nullptr, GetModuleHandleA("lasting_hook.dll")) << "the library stayed loaded";
        EXPECT_EQ(original, CallSiteBytes(110));
        EXPECT_EQ(static_cast<std::uint32_t>(PAGE_EXECUTE_READ), StandInHost::ProtectionAt(StandInHost::BuildOf(110).callSite));
        calls = CalleeCalls();
        EXPECT_EQ(CalleeResult(), RunCallSite(110));
        EXPECT_EQ(calls + 1, CalleeCalls());
    }
}

}  // namespace
