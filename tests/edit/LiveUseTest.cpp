// The settings file changed through the writer library while the game reads it: the real
// plug-in in the stand-in host runs its hooked call in a tight loop while another process,
// live_writer, makes 500 changes to the same file. After every call all 59 values in the host
// must come from one and the same version of the file, and the versions never go back.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "edit/FileReplace.h"
#include "basis/ValueText.h"
#include "src/settings/PickupSettings.h"
#include "tests/edit/LiveHost.h"
#include "tests/edit/LiveVersions.h"
#include "tests/standin/StandInFixture.h"

namespace {

namespace fs = std::filesystem;

using StandInHost::HostFolder;

constexpr HostVersion Build = 110;

class LiveUse : public PluginInStandInTest {
protected:
    void SetUp() override {
        PluginInStandInTest::SetUp();
        fs::remove(Result());
    }
    void TearDown() override {
        PluginInStandInTest::TearDown();
        fs::remove(Result());
    }

    static fs::path Result() { return HostFolder() / "live_writer.result"; }
};

TEST_F(LiveUse, EveryHookedCallSeesOneWholeVersionWhileAnotherProcessChangesTheFile500Times) {
    // Version 0, written as a player's file would be, differs from the defaults in every value.
    LiveHost::WriteVersion(Settings(), 0, "the file the live-use test starts from");
    const PickupReading start = ReadPickupSettingsFile(Settings().string().c_str());
    const PickupReading defaults = DefaultPickupReading();
    for (std::size_t i = 0; i < FloatSettingCount; ++i) {
        EXPECT_NE(std::bit_cast<std::uint32_t>(defaults.values.floats[i]), std::bit_cast<std::uint32_t>(start.values.floats[i]))
            << FloatSettings[i].key;
    }
    for (std::size_t n = 0; n < ColorSettings.size(); ++n) {
        EXPECT_NE(defaults.values.colors[n].channels, start.values.colors[n].channels) << ColorSettings[n].key;
        EXPECT_NE(std::bit_cast<std::uint32_t>(defaults.values.colors[n].value),
                  std::bit_cast<std::uint32_t>(start.values.colors[n].value))
            << ColorSettings[n].key;
    }

    StandInHost::Become(Build);
    plugin = LoadLibraryA((HostFolder() / "Glimmerward.dll").string().c_str());
    ASSERT_NE(nullptr, plugin) << "error " << GetLastError();
    StandInHost::RunCallSite(Build);
    ASSERT_EQ(0, LiveHost::LookAtHost().version.value_or(-1)) << LiveHost::LookAtHost().what;

    // The host's thread, as in the game: one hooked call after another, each looked at at once.
    const int calleeCallsBefore = StandInHost::CalleeCalls();
    long long calls = 0;
    long long mixed = 0;
    long long backwards = 0;
    int last = 0;
    std::set<int> seen{0};
    const std::optional<DWORD> writerStatus = LiveHost::CallWhileWriting(
        "live_writer.exe", "\"" + Settings().string() + "\" 1 " + std::to_string(LiveVersions::Changes) + " \"" +
                               Result().string() + "\"",
        Build, [&] {
            ++calls;
            const LiveHost::Look look = LiveHost::LookAtHost();
            if (!look.version) {
                if (++mixed <= 3) ADD_FAILURE() << "call " << calls << " left values of no one version: " << look.what;
                return;
            }
            if (*look.version < last && ++backwards <= 3) {
                ADD_FAILURE() << "call " << calls << " saw version " << *look.version << " after version " << last;
            }
            last = *look.version;
            seen.insert(last);
        });
    ASSERT_TRUE(writerStatus);

    EXPECT_EQ(0u, *writerStatus) << "live_writer failed; what it said is above";
    EXPECT_EQ(calleeCallsBefore + calls, StandInHost::CalleeCalls());
    EXPECT_EQ(0, mixed) << "calls that left values of no one version";
    EXPECT_EQ(0, backwards) << "calls that saw an older version than the call before";
    EXPECT_EQ(LiveVersions::Changes, last) << "the last call does not show the last change";
    // Seen while it changed, not only before and after.
    EXPECT_NE(seen.end(), std::find_if(seen.begin(), seen.end(), [](int k) { return k > 0 && k < LiveVersions::Changes; }));

    int changes = 0;
    int retried = 0;
    long retries = 0;
    std::ifstream(Result()) >> changes >> retried >> retries;
    EXPECT_EQ(LiveVersions::Changes, changes);

    // The file itself holds the last version, the backup the one before, and no temporary file is left.
    const PickupReading after = ReadPickupSettingsFile(Settings().string().c_str());
    const PickupReading before = ReadPickupSettingsFile((Settings().string() + ".bak").c_str());
    for (std::size_t i = 0; i < FloatSettingCount; ++i) {
        EXPECT_EQ(LiveVersions::Changes, LiveVersions::VersionOfFloat(i, std::bit_cast<std::uint32_t>(after.values.floats[i])));
        EXPECT_EQ(LiveVersions::Changes - 1,
                  LiveVersions::VersionOfFloat(i, std::bit_cast<std::uint32_t>(before.values.floats[i])));
    }
    for (const auto& entry : fs::directory_iterator(HostFolder())) {
        EXPECT_FALSE(IsTemporaryName(entry.path().filename().string(), "Glimmerward.ini")) << entry.path();
    }

    std::printf("live use: %lld hooked calls, %zu distinct versions seen of %d, %d of %d changes had a replacement "
                "tried again (%ld tries again in all)\n",
                calls, seen.size(), LiveVersions::Changes + 1, retried, changes, retries);
}

}  // namespace
