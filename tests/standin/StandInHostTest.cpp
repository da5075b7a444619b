#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>

#include "injector/hooking"
#include "injector/memory.h"
#include "plugin/HostVersion.h"
#include "src/settings/ApplyPickupSettings.h"
#include "standin/HostImage.h"
#include "standin/PickupExpectations.h"
#include "tests/standin/StandInFixture.h"
#include "tests/support/TempFolder.h"

namespace {

using StandInHost::Become;
using StandInHost::CalleeCalls;
using StandInHost::CallSiteBytes;
using StandInHost::ProtectionAt;
using StandInHost::RunCallSite;

std::uint32_t AddressOf(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

void* CalleeAddress() { return reinterpret_cast<void*>(&StandInHost::Callee); }

// A function of the test's own, for a patched call site to lead to instead of the callee.
std::atomic<int> detourCalls{0};
void* __cdecl Detour() {
    detourCalls.fetch_add(1);
    return &detourCalls;
}

void* DetourAddress() { return reinterpret_cast<void*>(&Detour); }

std::array<std::uint8_t, 5> InactiveSiteBytes() {
    std::array<std::uint8_t, 5> bytes;
    std::copy_n(StandInHost::InactiveSite.begin(), bytes.size(), bytes.begin());
    return bytes;
}

TEST_F(StandInHostTest, HostAddressesMoveWithTheImage) {
    EXPECT_EQ(reinterpret_cast<void*>(LinkedBase), injector::host_module_base());
    EXPECT_EQ(reinterpret_cast<void*>(Base() + 0x200411), injector::host_ptr(0x600411));

    Become(110);
    EXPECT_EQ(static_cast<std::uint32_t>(PAGE_EXECUTE_READ), ProtectionAt(StandInHost::CodeBegin));
    EXPECT_EQ(static_cast<std::uint32_t>(PAGE_EXECUTE_READ), ProtectionAt(StandInHost::CodeEnd - 1));
    // An image page not yet written to reports write-copy: writable all the same.
    constexpr std::uint32_t Writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    EXPECT_NE(0u, ProtectionAt(Host::Pickup::ColorTable) & Writable) << std::hex << ProtectionAt(Host::Pickup::ColorTable);
}

// Each build's signature at its probe, and a call only at that build's call site.
TEST_F(StandInHostTest, EachBuildIsRecognisedAndOnlyItsCallSiteCalls) {
    for (const HostVersion version : {100, 110, 120, 0}) {
        SCOPED_TRACE(version);
        Become(version);
        EXPECT_EQ(version, plugin::DetectHostVersion());
        for (const Host::Build& build : Host::Builds) {
            void* const expected = build.version == version ? CalleeAddress() : nullptr;
            EXPECT_EQ(expected, injector::call_target(injector::host_ptr(build.callSite))) << build.version;
        }
    }
}

TEST_F(StandInHostTest, ACallSiteRedirectedAndWrittenBackReachesTheCalleeAgain) {
    for (const Host::Build& build : Host::Builds) {
        SCOPED_TRACE(build.version);
        Become(build.version);
        void* const site = injector::host_ptr(build.callSite);
        const int calls = CalleeCalls();
        EXPECT_EQ(StandInHost::CalleeResult(), RunCallSite(build.version));
        EXPECT_EQ(calls + 1, CalleeCalls());
        const auto original = CallSiteBytes(build.version);

        injector::scoped_call saved;
        saved.capture(site, 5, true);
        EXPECT_EQ(CalleeAddress(), injector::place_call(site, DetourAddress()));
        EXPECT_EQ(injector::encode_call(AddressOf(site), AddressOf(DetourAddress())), CallSiteBytes(build.version));
        EXPECT_EQ(static_cast<std::uint32_t>(PAGE_EXECUTE_READ), ProtectionAt(build.callSite));

        const int detours = detourCalls.load();
        EXPECT_EQ(static_cast<void*>(&detourCalls), RunCallSite(build.version));
        EXPECT_EQ(detours + 1, detourCalls.load());
        EXPECT_EQ(calls + 1, CalleeCalls());

        saved.write_back();
        EXPECT_EQ(original, CallSiteBytes(build.version));
        EXPECT_EQ(StandInHost::CalleeResult(), RunCallSite(build.version));
        EXPECT_EQ(calls + 2, CalleeCalls());
        EXPECT_EQ(static_cast<std::uint32_t>(PAGE_EXECUTE_READ), ProtectionAt(build.callSite));

        for (const Host::Build& other : Host::Builds) {
            if (other.version != build.version) {
                EXPECT_EQ(InactiveSiteBytes(), CallSiteBytes(other.version)) << other.version;
            }
        }
    }
}

TEST_F(StandInHostTest, AScopedPatchEndingPutsTheCallBack) {
    Become(120);
    void* const site = injector::host_ptr(StandInHost::BuildOf(120).callSite);
    const auto original = CallSiteBytes(120);
    {
        injector::scoped_basic<5> saved;
        saved.capture(site, 5, true);
        injector::place_call(site, DetourAddress());
        EXPECT_EQ(DetourAddress(), injector::call_target(site));
    }
    EXPECT_EQ(original, CallSiteBytes(120));
    const int calls = CalleeCalls();
    EXPECT_EQ(StandInHost::CalleeResult(), RunCallSite(120));
    EXPECT_EQ(calls + 1, CalleeCalls());
    EXPECT_EQ(static_cast<std::uint32_t>(PAGE_EXECUTE_READ), ProtectionAt(StandInHost::BuildOf(120).callSite));
}

bool InThisImage(std::uintptr_t address) {
    MEMORY_BASIC_INFORMATION info{};
    return VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == sizeof info &&
           info.AllocationBase == GetModuleHandleA(nullptr);
}

TEST_F(StandInHostTest, PickupSettingsLandInTheHostDataWhereTheImageLies) {
    namespace Expect = PickupExpectations;
    TempFolder folder;
    HostImage::FillData(0xCC);
    ApplyPickupSettings((folder.path() / "Glimmerward.ini").string().c_str());
    for (const auto& expected : Expect::DefaultFloats) {
        EXPECT_EQ(expected.bits, StandInHost::FloatBitsAt(expected.address)) << std::hex << expected.address;
    }
    EXPECT_EQ(Expect::DefaultColorTable(), StandInHost::ColorTable());

    HostImage::FillData(0xCC);
    const auto file = folder.write("Glimmerward.ini", "PickupSize = 3\r\nPickupColor_5 = 255 0 0 255 2.0\r\n");
    ApplyPickupSettings(file.string().c_str());
    for (const auto& expected : Expect::DefaultFloats) {
        const std::uint32_t bits =
            expected.address == Host::Pickup::Size ? std::bit_cast<std::uint32_t>(3.0f) : expected.bits;
        EXPECT_EQ(bits, StandInHost::FloatBitsAt(expected.address)) << std::hex << expected.address;
    }
    Expect::ColorTable table = Expect::DefaultColorTable();
    Expect::SetEntry(table, 5, "FF0000FF", 2.0f);
    EXPECT_EQ(table, StandInHost::ColorTable());

    // Away from the preferred base the table as linked is not part of this program at all.
    EXPECT_EQ(LinkedBase == Host::PreferredBase, InThisImage(Host::Pickup::ColorTable));
}

}  // namespace
