// The released files in a player's game: tests/release/play-release unpacks the zip and
// lays them out as README.txt tells the player (the DLL in the loader's "scripts" folder,
// Glimmerward.ini made by the checker beside the executable), with this program as the
// game's executable. The real DLL is then loaded from there with LoadLibrary.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "host/HostGame.h"
#include "src/settings/LocateSettingsFile.h"
#include "src/settings/PickupSettings.h"
#include "src/settings/SettingsFile.h"
#include "standin/HostImage.h"
#include "standin/PickupExpectations.h"
#include "tests/standin/StandInFixture.h"

namespace {

namespace fs = std::filesystem;
namespace Expect = PickupExpectations;

using StandInHost::HostFolder;

const fs::path Dll = fs::path("scripts") / "Glimmerward.dll";

using ReleaseInGame = StandInHostTest;

TEST_F(ReleaseInGame, ThePlugInFindsTheCopiedSettingsFileAndItHoldsAll59Settings) {
    char settingsPath[SettingsPathSize];
    LocateSettingsFile(settingsPath);
    EXPECT_EQ((HostFolder() / "Glimmerward.ini").string(), settingsPath);

    const SettingsMap settings = ReadSettingsFile(settingsPath);
    EXPECT_EQ(15u + 44u, settings.size());
    for (const PickupSetting& setting : PickupSettings) EXPECT_TRUE(settings.lookup(setting.key)) << setting.key;
}

TEST_F(ReleaseInGame, EveryValueThePlugInWritesIsItsDefaultBitForBitOnEveryBuild) {
    for (const Host::Build& build : Host::Builds) {
        SCOPED_TRACE(build.version);
        StandInHost::Become(build.version);
        HostImage::FillData(0xCC);
        const auto original = StandInHost::CallSiteBytes(build.version);

        const HMODULE plugin = LoadLibraryA((HostFolder() / Dll).string().c_str());
        ASSERT_NE(nullptr, plugin) << "error " << GetLastError();
        EXPECT_NE(original, StandInHost::CallSiteBytes(build.version)) << "the call site is not hooked";
        const int callsBefore = StandInHost::CalleeCalls();
        EXPECT_EQ(StandInHost::CalleeResult(), StandInHost::RunCallSite(build.version));
        EXPECT_EQ(callsBefore + 1, StandInHost::CalleeCalls());

        for (const Expect::FloatBits& expected : Expect::DefaultFloats) {
            EXPECT_EQ(expected.bits, StandInHost::FloatBitsAt(expected.address)) << std::hex << expected.address;
        }
        EXPECT_EQ(Expect::DefaultColorTable(), StandInHost::ColorTable());

        ASSERT_TRUE(FreeLibrary(plugin));
        EXPECT_EQ(original, StandInHost::CallSiteBytes(build.version));
    }
}

// A string of the DLL's version resource, in its one (US English, Unicode) language.
std::string VersionString(const std::string& info, const char* name) {
    void* value = nullptr;
    UINT size = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), path.c_str(), &value, &size) || size == 0) return "<none>";
    return std::string(static_cast<const char*>(value), size - 1);
}

TEST_F(ReleaseInGame, TheDllShowsTheReleaseVersionInItsProperties) {
    const std::string dll = (HostFolder() / Dll).string();
    DWORD ignored = 0;
    std::string info(GetFileVersionInfoSizeA(dll.c_str(), &ignored), '\0');
    ASSERT_FALSE(info.empty()) << "no version resource in " << dll;
    ASSERT_TRUE(GetFileVersionInfoA(dll.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));

    EXPECT_EQ(GLIMMERWARD_VERSION, VersionString(info, "ProductVersion"));
    EXPECT_EQ(GLIMMERWARD_VERSION, VersionString(info, "FileVersion"));
    EXPECT_EQ("Glimmerward", VersionString(info, "ProductName"));
    EXPECT_EQ("Glimmerward.dll", VersionString(info, "OriginalFilename"));
    EXPECT_NE("<none>", VersionString(info, "FileDescription"));

    void* fixedInfo = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &fixedInfo, &size));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(fixedInfo);
    const std::string fixedVersion = std::to_string(HIWORD(fixed->dwProductVersionMS)) + "." +
                                     std::to_string(LOWORD(fixed->dwProductVersionMS)) + "." +
                                     std::to_string(HIWORD(fixed->dwProductVersionLS));
    EXPECT_EQ(GLIMMERWARD_VERSION, fixedVersion);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
}

}  // namespace
