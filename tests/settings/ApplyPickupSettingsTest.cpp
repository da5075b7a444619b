#include "src/settings/ApplyPickupSettings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cstring>
#include <limits>
#include <string>

#include "injector/memory.h"
#include "standin/HostImage.h"
#include "standin/PickupExpectations.h"
#include "tests/support/TempFolder.h"

namespace {

namespace Expect = PickupExpectations;

std::uint32_t FloatBitsAt(HostAddress address) {
    std::uint32_t bits;
    std::memcpy(&bits, injector::host_ptr(address), 4);
    return bits;
}

Expect::ColorTable ColorTableInHost() {
    Expect::ColorTable table;
    std::memcpy(table.data(), injector::host_ptr(Host::Pickup::ColorTable), table.size());
    return table;
}

class ApplyPickupSettingsInHost : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HostImage::Covers(Host::DataBegin, Host::DataSize))
            << "the test image does not cover the host's data";
        HostImage::FillData(0xCC);
    }

    void Apply(std::string_view settingsText) {
        const auto file = folder.write("Glimmerward.ini", settingsText);
        ApplyPickupSettings(file.string().c_str());
    }

    TempFolder folder;
};

TEST_F(ApplyPickupSettingsInHost, WritesEveryDefaultWhenThereIsNoFile) {
    ApplyPickupSettings((folder.path() / "Glimmerward.ini").string().c_str());
    for (const auto& expected : Expect::DefaultFloats) {
        EXPECT_EQ(expected.bits, FloatBitsAt(expected.address)) << std::hex << expected.address;
    }
    EXPECT_EQ(Expect::DefaultColorTable(), ColorTableInHost());
}

TEST_F(ApplyPickupSettingsInHost, ReadsTheFileAfreshOnEveryRun) {
    Apply("PickupSize = 3\r\nPickupColor_5 = 300 -1 256 0 0.5\r\nTurnSpeed=0.01\r\n");
    EXPECT_EQ(std::bit_cast<std::uint32_t>(3.0f), FloatBitsAt(Host::Pickup::Size));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(0.01f), FloatBitsAt(Host::Pickup::TurnSpeed));
    Expect::ColorTable expected = Expect::DefaultColorTable();
    Expect::SetEntry(expected, 5, "2CFF0000", 0.5f);
    EXPECT_EQ(expected, ColorTableInHost());

    // The keys gone from the file: their defaults come back, not the previous run's values.
    Apply("TurnSpeed=0.02\r\n");
    EXPECT_EQ(0x3F99999Au, FloatBitsAt(Host::Pickup::Size));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(0.02f), FloatBitsAt(Host::Pickup::TurnSpeed));
    EXPECT_EQ(Expect::DefaultColorTable(), ColorTableInHost());
}

// A program that renames a new version over the file still holds it for a moment afterwards
// with a handle that may delete it; the file must be read all the same, not taken as absent.
TEST_F(ApplyPickupSettingsInHost, ReadsTheFileWhileAWriterThatMayDeleteItHoldsIt) {
    const auto file = folder.write("Glimmerward.ini", "PickupSize = 3\r\n");
    const HANDLE writer = CreateFileA(file.string().c_str(), DELETE | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer) << "error " << GetLastError();
    ApplyPickupSettings(file.string().c_str());
    CloseHandle(writer);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(3.0f), FloatBitsAt(Host::Pickup::Size));
}

// The C runtime is shared with the host, which may set a locale with a decimal comma.
TEST_F(ApplyPickupSettingsInHost, ReadsAPointAsDecimalSeparatorWhateverTheLocale) {
    ASSERT_NE(nullptr, std::setlocale(LC_ALL, "German_Germany.1252"));
    Apply("PickupSize = 1.5\nTextMoveY = 1,5\nEffectStrength = 0x1p3\nSize2DFX = -inf\n"
          "Distance2DFX = 2.5e1\nPickupColor_0 = 1 2 3 4 0.25\nPickupColor_1 = 1 2 3 4 2,5\n");
    std::setlocale(LC_ALL, "C");

    EXPECT_EQ(std::bit_cast<std::uint32_t>(1.5f), FloatBitsAt(Host::Pickup::Size));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(1.0f), FloatBitsAt(Host::Pickup::TextMoveY));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(8.0f), FloatBitsAt(Host::Pickup::EffectStrength));
    EXPECT_EQ(0xFF800000u, FloatBitsAt(Host::Pickup::Size2DFX));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(25.0f), FloatBitsAt(Host::Pickup::Distance2DFX));
    Expect::ColorTable expected = Expect::DefaultColorTable();
    Expect::SetEntry(expected, 0, "01020304", 0.25f);
    Expect::SetEntry(expected, 1, "01020304", 2.0f);
    EXPECT_EQ(expected, ColorTableInHost());
}

}  // namespace
