// Every stand-in test starts from an image that was loaded where it was linked and that
// covers the host's code and data at that base.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "standin/HostImage.h"
#include "standin/StandInHost.h"

#ifndef STANDIN_LINKED_BASE
#error "stand-in tests are added with glimmerward_standin_test(), which links them at a chosen base"
#endif

class StandInHostTest : public testing::Test {
protected:
    static constexpr std::uintptr_t LinkedBase = STANDIN_LINKED_BASE;

    static std::uintptr_t Base() { return reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)); }

    void SetUp() override {
        ASSERT_EQ(LinkedBase, Base()) << "the program was not loaded where it was linked";
        ASSERT_TRUE(StandInHost::CoversHost()) << "the host section does not cover RVA 0x200000 to 0x299000";
    }
};

// The real plug-in loaded from beside the test program: each test starts with no settings
// file in any of its places and a data section filled with 0xCC, and ends with the plug-in
// unloaded and the files gone again, the writer's backup and lock included.
class PluginInStandInTest : public StandInHostTest {
protected:
    void SetUp() override {
        StandInHostTest::SetUp();
        RemoveSettings();
        HostImage::FillData(0xCC);
    }
    void TearDown() override {
        if (plugin) FreeLibrary(plugin);
        RemoveSettings();
    }

    static std::filesystem::path Settings() { return StandInHost::HostFolder() / "Glimmerward.ini"; }

    static void RemoveSettings() {
        namespace fs = std::filesystem;
        for (const char* place : {"plugins", "scripts"}) fs::remove_all(StandInHost::HostFolder() / place);
        for (const char* suffix : {"", ".bak", ".lock"}) fs::remove(Settings().string() + suffix);
    }

    HMODULE plugin = nullptr;
};
