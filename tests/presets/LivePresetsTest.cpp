// Presets switched while the game runs: the real plug-in in the stand-in host runs its hooked
// call in a tight loop while another process, preset_writer, applies two presets that differ in
// every setting, one after the other, 200 times. After every call all 59 values in the host
// must be those of one preset whole (or of the file the test started from), never a mix.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "presets/Presets.h"
#include "tests/edit/LiveHost.h"
#include "tests/standin/StandInFixture.h"

namespace {

namespace fs = std::filesystem;

using StandInHost::HostFolder;

constexpr HostVersion Build = 110;
constexpr int Applies = 200;
// The file starts as version 0 of the live versions; preset "A" holds version 1, "B" version 2.
constexpr int VersionOfA = 1;
constexpr int VersionOfB = 2;

class LivePresets : public PluginInStandInTest {
protected:
    void SetUp() override {
        PluginInStandInTest::SetUp();
        RemoveOwn();
    }
    void TearDown() override {
        PluginInStandInTest::TearDown();
        RemoveOwn();
    }
    static void RemoveOwn() {
        fs::remove(Result());
        fs::remove_all(HostFolder() / std::string(PresetFolderName));
    }
    static fs::path Result() { return HostFolder() / "preset_writer.result"; }
};

TEST_F(LivePresets, EveryHookedCallSeesOnePresetWholeWhileAnotherProcessSwitchesThem200Times) {
    // The two presets, saved from the settings file as a player saves them.
    for (const auto& [version, name] : {std::pair{VersionOfA, "A"}, std::pair{VersionOfB, "B"}}) {
        LiveHost::WriteVersion(Settings(), version, "a player's file, before any preset");
        const PresetOutcome saved = SavePreset(Settings().string(), name, false);
        ASSERT_EQ(WriteStatus::Written, saved.status) << (saved.problems.empty() ? "" : saved.problems.front());
    }
    LiveHost::WriteVersion(Settings(), 0, "a player's file, before any preset");

    StandInHost::Become(Build);
    plugin = LoadLibraryA((HostFolder() / "Glimmerward.dll").string().c_str());
    ASSERT_NE(nullptr, plugin) << "error " << GetLastError();
    StandInHost::RunCallSite(Build);
    ASSERT_EQ(0, LiveHost::LookAtHost().version.value_or(-1)) << LiveHost::LookAtHost().what;

    // The host's thread, as in the game: one hooked call after another, each looked at at once.
    long long calls = 0;
    long long mixed = 0;
    std::set<int> seen;
    std::optional<int> last;
    const std::optional<DWORD> writerStatus = LiveHost::CallWhileWriting(
        "preset_writer.exe", "\"" + Settings().string() + "\" " + std::to_string(Applies) + " \"" + Result().string() + "\"",
        Build, [&] {
            ++calls;
            const LiveHost::Look look = LiveHost::LookAtHost();
            last = look.version;
            if (!last) {
                if (++mixed <= 3) ADD_FAILURE() << "call " << calls << " left values of no one preset: " << look.what;
                return;
            }
            seen.insert(*last);
        });
    ASSERT_TRUE(writerStatus);

    EXPECT_EQ(0u, *writerStatus) << "preset_writer failed; what it said is above";
    EXPECT_EQ(0, mixed) << "of " << calls << " calls, these left values of no one preset";
    EXPECT_EQ(std::set<int>({0, VersionOfA, VersionOfB}), seen) << "both presets should have been seen while they switched";
    EXPECT_EQ(VersionOfB, last.value_or(-1)) << "the last call does not show the last apply";
    int applies = 0;
    std::ifstream(Result()) >> applies;
    EXPECT_EQ(Applies, applies);
    std::printf("live presets: %lld hooked calls while %d applies switched the presets\n", calls, applies);
}

}  // namespace
