// Every stand-in test starts from an image that was loaded where it was linked and that
// covers the host's code and data at that base.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

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
