// A settings file's version.
#include "basis/FileRead.h"

#include <gtest/gtest.h>

namespace {

TEST(SettingsVersion, ChangesWithEveryByte) {
    EXPECT_EQ(16u, SettingsVersion("").size());
    EXPECT_EQ(SettingsVersion("PickupSize = 1\n"), SettingsVersion("PickupSize = 1\n"));
    EXPECT_NE(SettingsVersion("PickupSize = 1\n"), SettingsVersion("PickupSize = 1\r\n"));
    EXPECT_NE(SettingsVersion("a"), SettingsVersion("b"));
}

}  // namespace
