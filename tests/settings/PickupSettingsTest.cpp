#include "src/settings/PickupSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "standin/PickupExpectations.h"

namespace {

namespace Expect = PickupExpectations;

// The host's data range in an ordinary buffer, filled with a pattern that no write makes.
class FakeHostData {
public:
    FakeHostData() : bytes(Host::DataSize, 0xCC) {}

    void store(HostAddress address, const void* source, std::size_t size) {
        ASSERT_GE(address, Host::DataBegin);
        ASSERT_LE(address + size, Host::DataEnd);
        std::memcpy(&bytes[address - Host::DataBegin], source, size);
        ++stores;
    }

    std::uint32_t floatBits(HostAddress address) const {
        std::uint32_t bits;
        std::memcpy(&bits, &bytes[address - Host::DataBegin], 4);
        return bits;
    }

    Expect::ColorTable colorTable() const {
        Expect::ColorTable table;
        std::memcpy(table.data(), &bytes[Host::Pickup::ColorTable - Host::DataBegin], table.size());
        return table;
    }

    int stores = 0;
    std::vector<std::uint8_t> bytes;
};

// The values as the text's map gives them, looked up key by key: the plug-in's documented
// way, written out here as a second, independent path.
PickupValues LookedUp(const SettingsMap& settings) {
    PickupValues values{};
    for (std::size_t i = 0; i < FloatSettingCount; ++i) {
        values.floats[i] = GetFloatSetting(settings, FloatSettings[i].key.data(), FloatSettings[i].defaultValue);
    }
    for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
        const auto value = settings.lookup(ColorSettings[static_cast<std::size_t>(n)].key);
        values.colors[static_cast<std::size_t>(n)] = value ? ScanPickupColor(*value) : DefaultPickupColor(n);
    }
    return values;
}

// The host's data as the hooked call writes it, from values taken piece by piece; the values
// that the text's map gives must write the very same bytes.
FakeHostData Written(std::string_view settingsText) {
    FakeHostData host;
    FakeHostData fromMap;
    WritePickupSettings(ReadPickupSettings(TextSource(settingsText)).values,
                        [&](HostAddress a, const void* b, std::size_t n) { host.store(a, b, n); });
    WritePickupSettings(LookedUp(ParseSettingsText(settingsText)),
                        [&](HostAddress a, const void* b, std::size_t n) { fromMap.store(a, b, n); });
    EXPECT_EQ(fromMap.bytes, host.bytes);
    return host;
}

TEST(PickupSettingTable, HoldsEachKeyOnceAndEachValueAtItsOwnPlaceInTheHost) {
    std::vector<std::pair<HostAddress, HostAddress>> ranges;
    for (std::size_t i = 0; i < PickupSettings.size(); ++i) {
        const PickupSetting& setting = PickupSettings[i];
        EXPECT_EQ('\0', setting.key.data()[setting.key.size()]) << setting.key;
        EXPECT_EQ(i < FloatSettingCount ? SettingKind::Float : SettingKind::Color, setting.kind) << setting.key;
        EXPECT_EQ(std::optional<std::size_t>(i), FindPickupSetting(setting.key)) << setting.key;
        const HostAddress size = setting.kind == SettingKind::Float ? 4 : Host::Pickup::ColorEntrySize;
        EXPECT_GE(setting.address, Host::DataBegin);
        EXPECT_LE(setting.address + size, Host::DataEnd);
        ranges.emplace_back(setting.address, setting.address + size);
    }
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t i = 1; i < ranges.size(); ++i) EXPECT_LE(ranges[i - 1].second, ranges[i].first) << "overlap";
    EXPECT_EQ("PickupColor_0", ColorSettings.front().key);
    EXPECT_EQ("PickupColor_43", ColorSettings.back().key);
}

TEST(PickupSettingTable, FindsOnlyTheKeysThePluginReads) {
    struct Case {
        std::string_view key;
        std::optional<std::size_t> index;
    };
    const Case cases[] = {
        {"WeaponCircles_ScaleX", 0},
        {"PickupSize", 6},
        {"Distance2DFX", 14},
        {"PickupColor_0", 15},
        {"PickupColor_9", 24},
        {"PickupColor_10", 25},
        {"PickupColor_43", 58},
        {"PickupColor_07", std::nullopt},
        {"PickupColor_00", std::nullopt},
        {"PickupColor_44", std::nullopt},
        {"PickupColor_100", std::nullopt},
        {"PickupColor_+7", std::nullopt},
        {"PickupColor_-0", std::nullopt},
        {"PickupColor_7x", std::nullopt},
        {"PickupColor_ 7", std::nullopt},
        {"PickupColor_", std::nullopt},
        {"pickupcolor_7", std::nullopt},
        {"pickupsize", std::nullopt},
        {"PickupSize ", std::nullopt},
        {"PickupSiz", std::nullopt},
        {"", std::nullopt},
        {std::string_view("PickupSize\0", 11), std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(c.index, FindPickupSetting(c.key)) << '"' << c.key << '"';
}

TEST(PickupSettingTable, EachSettingStepsByAPowerOfTenOnItsOwnScale) {
    const auto powerOfTen = [](float step) {
        for (int exponent = -6; exponent <= 3; ++exponent) {
            if (step == static_cast<float>(std::pow(10.0, exponent))) return true;
        }
        return false;
    };
    for (const PickupSetting& setting : PickupSettings) {
        EXPECT_TRUE(powerOfTen(setting.step)) << setting.key << " steps by " << setting.step;
        // One step is a share of the default, never the whole of it, nor a step too small to see.
        const float size = std::fabs(setting.defaultValue);
        EXPECT_LT(setting.step, size) << setting.key;
        EXPECT_GE(setting.step, size / 1000) << setting.key;
    }
    const std::pair<std::string_view, float> named[] = {
        {"TurnSpeed", 0.0001f}, {"PickupSize", 0.1f}, {"WeaponCircles_Distance", 1.0f}, {"PickupColor_5", 0.1f}};
    for (const auto& [key, step] : named) EXPECT_EQ(step, PickupSettings[*FindPickupSetting(key)].step) << key;
}

TEST(PickupSettings, EachValueComesWithTheLineAndPieceThatSetItLast) {
    const std::string longLine = "TextAlpha = 1" + std::string(250, ' ') + "PickupSize = 4\n";
    const PickupReading reading = ReadPickupSettings(TextSource(
        "PickupSize = 2\r\n"
        "; PickupColor_3 = 1 1 1 1 1\r\n"
        "PickupColor_3 = 1 2 3 4 5\r\n"
        "PickupColor_3x = 9 9 9 9 9\r\n"
        "\r\n" +
        longLine +  // line 6, pieces 1 and 2
        "TurnSpeed\n"));
    const auto origin = [&](std::string_view key) {
        const SettingOrigin& o = reading.origins[*FindPickupSetting(key)];
        return std::make_pair(o.line, o.piece);
    };
    EXPECT_EQ(std::make_pair(std::uint64_t{6}, 2u), origin("PickupSize"));
    EXPECT_EQ(std::make_pair(std::uint64_t{3}, 1u), origin("PickupColor_3"));
    EXPECT_EQ(std::make_pair(std::uint64_t{6}, 1u), origin("TextAlpha"));
    EXPECT_EQ(std::make_pair(std::uint64_t{0}, 0u), origin("TurnSpeed"));  // no "=": the default
    EXPECT_EQ(4.0f, reading.values.floats[6]);
    EXPECT_EQ(FloatSettings[7].defaultValue, reading.values.floats[7]);

    for (const SettingOrigin& o : DefaultPickupReading().origins) EXPECT_EQ(0u, o.line);
}

TEST(PickupSettings, WritesEveryDefaultWhenTheSettingsAreEmpty) {
    const FakeHostData host = Written("");
    EXPECT_EQ(15 + 44, host.stores);
    for (const auto& expected : Expect::DefaultFloats) {
        EXPECT_EQ(expected.bits, host.floatBits(expected.address)) << std::hex << expected.address;
    }
    EXPECT_EQ(Expect::DefaultColorTable(), host.colorTable());
}

TEST(PickupSettings, TakesPresentValuesAndDefaultsForTheRest) {
    const FakeHostData host = Written(
        "PickupSize = 7\n"
        "PickupColor_5 = 1 1 1 1 1\n"
        "PickupSize = 3\n"
        "TurnSpeed = 0,01\n"
        "TextAlpha =\n"
        "WeaponCircles_AlphaMinus = -1e400\n"
        "PickupColor_5 = 255 0 0 255 2.0\n"
        "PickupColor_43 = 1 2 3\n"
        "PickupColor_05 = 9 9 9 9 9\n"
        "PickupColor_44 = 9 9 9 9 9\n"
        "pickupcolor_6 = 9 9 9 9 9\n"
        "PickupColor_-0 = 9 9 9 9 9\n"
        "PickupColor_+7 = 9 9 9 9 9\n"
        "PickupColor_7x = 9 9 9 9 9\n"
        "PickupColor_ = 9 9 9 9 9\n"
        "PickupColor_100 = 9 9 9 9 9\n");
    EXPECT_EQ(std::bit_cast<std::uint32_t>(3.0f), host.floatBits(Host::Pickup::Size));
    EXPECT_EQ(0u, host.floatBits(Host::Pickup::TurnSpeed));
    EXPECT_EQ(0u, host.floatBits(Host::Pickup::TextAlpha));
    EXPECT_EQ(0xFF800000u, host.floatBits(Host::Pickup::WeaponCirclesAlphaMinus));
    EXPECT_EQ(0x40000000u, host.floatBits(Host::Pickup::WeaponCirclesScaleX));  // absent: default

    Expect::ColorTable expected = Expect::DefaultColorTable();
    Expect::SetEntry(expected, 5, "FF0000FF", 2.0f);
    Expect::SetEntry(expected, 43, "01020300", 1.0f);
    EXPECT_EQ(expected, host.colorTable());
}

// Every key present with a value of its own, in an order unlike the map's, and unknown keys
// between them: each value lands at its own key's address and nowhere else.
TEST(PickupSettings, PutsEachKeysValueAtItsOwnAddress) {
    std::string text = "A = 1\nZ = 2\n";
    for (int n = Host::Pickup::ColorEntryCount - 1; n >= 0; --n) {
        text += "PickupColor_" + std::to_string(n) + " = " + std::to_string(n) + " " + std::to_string(n + 100) +
                " 7 " + std::to_string(200 - n) + " " + std::to_string(n) + ".25\nPickupColor_" +
                std::to_string(n) + "a = 9 9 9 9 9\n";
    }
    for (std::size_t i = 0; i < FloatSettings.size(); ++i) {
        text += std::string(FloatSettings[i].key) + " = " + std::to_string(i) + ".5\n~" + std::string(FloatSettings[i].key) + " = 9\n";
    }
    const FakeHostData host = Written(text);
    for (std::size_t i = 0; i < FloatSettings.size(); ++i) {
        EXPECT_EQ(std::bit_cast<std::uint32_t>(static_cast<float>(i) + 0.5f), host.floatBits(FloatSettings[i].address))
            << FloatSettings[i].key;
    }
    Expect::ColorTable expected{};
    for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
        const std::uint8_t channels[4] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n + 100), 7,
                                          static_cast<std::uint8_t>(200 - n)};
        const float value = static_cast<float>(n) + 0.25f;
        std::memcpy(&expected[static_cast<std::size_t>(n) * Host::Pickup::ColorEntrySize], channels, 4);
        std::memcpy(&expected[static_cast<std::size_t>(n) * Host::Pickup::ColorEntrySize + 4], &value, 4);
    }
    EXPECT_EQ(expected, host.colorTable());
}

struct ColorCase {
    const char* value;
    const char* channels;
    float number;
};

TEST(PickupColor, ScansFourChannelsAndAFloatAsScanfWould) {
    const float inf = std::numeric_limits<float>::infinity();
    const ColorCase cases[] = {
        {"255 0 0 255 2.0", "FF0000FF", 2.0f},
        {"255 0 0", "FF000000", 1.0f},
        {"300 -1 256 0 0.5", "2CFF0000", 0.5f},
        {"255,0,0,255", "FF000000", 1.0f},
        {"red", "00000000", 1.0f},
        {"", "00000000", 1.0f},
        {"  1\t2   3 4 -inf trailing", "01020304", -inf},
        {"1 2 3 4 1e", "01020304", 1.0f},
        {"1 2 3 4 2,5", "01020304", 2.0f},
        {"1 2 3 4 0x1p-2", "01020304", 0.25f},
        {"1 2 x 4 5", "01020000", 1.0f},
        {"1000000000001 -1000000000001 4294967551 0 3", "01FFFF00", 3.0f},
    };
    for (const ColorCase& c : cases) {
        const PickupColorEntry entry = ScanPickupColor(c.value);
        std::array<std::uint8_t, 8> bytes;
        std::memcpy(bytes.data(), &entry, 8);
        EXPECT_EQ(Expect::Entry(c.channels, c.number), bytes) << '"' << c.value << '"';
    }
}

}  // namespace
