// The real plug-in DLL loaded into the stand-in host with LoadLibrary and freed with
// FreeLibrary, its settings file in real folders beside the host executable.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "host/HostGame.h"
#include "standin/HostImage.h"
#include "standin/PickupExpectations.h"
#include "tests/standin/StandInFixture.h"

namespace {

namespace fs = std::filesystem;
namespace Expect = PickupExpectations;
using SiteBytes = std::array<std::uint8_t, 5>;

using StandInHost::HostFolder;

std::uint32_t Bits(float value) { return std::bit_cast<std::uint32_t>(value); }

// The handle values that name an object in this process, found by trying each.
int OpenHandles() {
    int open = 0;
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
    }
    return open;
}

class PluginInHost : public PluginInStandInTest {
protected:
    static void WriteSettings(const fs::path& relative, std::string_view text) {
        const fs::path file = HostFolder() / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    }

    void Load() {
        plugin = LoadLibraryA((HostFolder() / "Glimmerward.dll").string().c_str());
        ASSERT_NE(nullptr, plugin) << "error " << GetLastError();
    }
    void Unload() {
        ASSERT_TRUE(FreeLibrary(plugin));
        plugin = nullptr;
    }
};

TEST_F(PluginInHost, HooksOnlyTheRunningBuildAppliesTheSettingsOnEveryCallAndRestoresTheHostOnUnload) {
    WriteSettings("Glimmerward.ini", "PickupSize = 3\r\nPickupColor_5 = 255 0 0 255 2.0\r\n");
    Expect::ColorTable expectedColors = Expect::DefaultColorTable();
    Expect::SetEntry(expectedColors, 5, "FF0000FF", 2.0f);

    for (const Host::Build& build : Host::Builds) {
        SCOPED_TRACE(build.version);
        StandInHost::Become(build.version);
        HostImage::FillData(0xCC);
        std::array<SiteBytes, 3> original;
        for (std::size_t i = 0; i < 3; ++i) original[i] = StandInHost::CallSiteBytes(Host::Builds[i].version);

        ASSERT_NO_FATAL_FAILURE(Load());
        for (std::size_t i = 0; i < 3; ++i) {
            const bool running = Host::Builds[i].version == build.version;
            EXPECT_EQ(running, StandInHost::CallSiteBytes(Host::Builds[i].version) != original[i]) << Host::Builds[i].version;
        }
        EXPECT_EQ(0xCCCCCCCCu, StandInHost::FloatBitsAt(Host::Pickup::Size));  // nothing is applied at load

        for (int run = 1; run <= 2; ++run) {
            const int callsBefore = StandInHost::CalleeCalls();
            EXPECT_EQ(StandInHost::CalleeResult(), StandInHost::RunCallSite(build.version));
            EXPECT_EQ(callsBefore + 1, StandInHost::CalleeCalls());
            EXPECT_EQ(Bits(3.0f), StandInHost::FloatBitsAt(Host::Pickup::Size));
            EXPECT_EQ(0x3B4851ECu, StandInHost::FloatBitsAt(Host::Pickup::TurnSpeed));
            EXPECT_EQ(expectedColors, StandInHost::ColorTable());
            HostImage::FillData(0xCC);
        }

        ASSERT_NO_FATAL_FAILURE(Unload());
        for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(original[i], StandInHost::CallSiteBytes(Host::Builds[i].version));
        const int callsBefore = StandInHost::CalleeCalls();
        EXPECT_EQ(StandInHost::CalleeResult(), StandInHost::RunCallSite(build.version));
        EXPECT_EQ(callsBefore + 1, StandInHost::CalleeCalls());
        EXPECT_EQ(0xCCCCCCCCu, StandInHost::FloatBitsAt(Host::Pickup::Size));  // the plug-in is gone
    }
}

TEST_F(PluginInHost, FindsTheSettingsFileInTheFirstFolderThatHasOne) {
    struct Case {
        std::vector<std::pair<const char*, float>> files;
        float expected;
    };
    const Case cases[] = {
        {{{"plugins/Glimmerward.ini", 4.0f}, {"scripts/Glimmerward.ini", 5.0f}, {"Glimmerward.ini", 6.0f}}, 4.0f},
        {{{"scripts/Glimmerward.ini", 5.0f}, {"Glimmerward.ini", 6.0f}}, 5.0f},
        {{{"Glimmerward.ini", 6.0f}}, 6.0f},
        {{}, 1.2f},  // nowhere: every default
    };
    StandInHost::Become(110);
    for (const Case& c : cases) {
        RemoveSettings();
        for (const auto& [file, size] : c.files) WriteSettings(file, "PickupSize = " + std::to_string(size) + "\n");
        ASSERT_NO_FATAL_FAILURE(Load());
        StandInHost::RunCallSite(110);
        EXPECT_EQ(Bits(c.expected), StandInHost::FloatBitsAt(Host::Pickup::Size)) << c.expected;
        EXPECT_EQ(Expect::DefaultColorTable(), StandInHost::ColorTable());
        ASSERT_NO_FATAL_FAILURE(Unload());
    }
}

TEST_F(PluginInHost, ReadsTheFileAfreshOnEveryCall) {
    StandInHost::Become(120);
    WriteSettings("scripts/Glimmerward.ini", "PickupSize = 3\nTextAlpha = 100\n");
    ASSERT_NO_FATAL_FAILURE(Load());
    StandInHost::RunCallSite(120);
    EXPECT_EQ(Bits(3.0f), StandInHost::FloatBitsAt(Host::Pickup::Size));
    EXPECT_EQ(Bits(100.0f), StandInHost::FloatBitsAt(Host::Pickup::TextAlpha));

    WriteSettings("scripts/Glimmerward.ini", "PickupSize = 4\n");  // TextAlpha gone: its default again
    StandInHost::RunCallSite(120);
    EXPECT_EQ(Bits(4.0f), StandInHost::FloatBitsAt(Host::Pickup::Size));
    EXPECT_EQ(Bits(255.0f), StandInHost::FloatBitsAt(Host::Pickup::TextAlpha));
}

// The plug-in's runtime creates semaphores for its own locks and frees an exception pool of
// its own; none of it may stay in the host once the plug-in is unloaded.
TEST_F(PluginInHost, LeavesNoHandleInTheHostWhenUnloaded) {
    WriteSettings("Glimmerward.ini", "PickupSize = 3\n");
    StandInHost::Become(Host::Builds[0].version);
    const auto cycle = [this] {
        ASSERT_NO_FATAL_FAILURE(Load());
        StandInHost::RunCallSite(Host::Builds[0].version);
        EXPECT_EQ(Bits(3.0f), StandInHost::FloatBitsAt(Host::Pickup::Size));
        ASSERT_NO_FATAL_FAILURE(Unload());
    };
    cycle();  // whatever the system keeps after a first load is not the plug-in's
    const int before = OpenHandles();
    for (int n = 0; n < 20; ++n) cycle();
    EXPECT_EQ(before, OpenHandles());
}

TEST_F(PluginInHost, LeavesAnUnknownHostAlone) {
    StandInHost::Become(0);
    WriteSettings("Glimmerward.ini", "PickupSize = 3\n");
    std::array<SiteBytes, 3> original;
    for (std::size_t i = 0; i < 3; ++i) original[i] = StandInHost::CallSiteBytes(Host::Builds[i].version);
    ASSERT_NO_FATAL_FAILURE(Load());
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(original[i], StandInHost::CallSiteBytes(Host::Builds[i].version));
    ASSERT_NO_FATAL_FAILURE(Unload());
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(original[i], StandInHost::CallSiteBytes(Host::Builds[i].version));
    EXPECT_EQ(0xCCCCCCCCu, StandInHost::FloatBitsAt(Host::Pickup::Size));
}

}  // namespace
