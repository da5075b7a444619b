// The reader's memory grows with the entries it keeps, never with the size of the file.
#include "src/settings/PickupSettings.h"
#include "src/settings/SettingsFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/AllocationPeak.h"
#include "tests/support/TempFolder.h"

namespace {

// Writes `lines(n)` for n = 0, 1, ... until the file holds `size` bytes, then `last`.
template <class Lines>
std::string WriteFile(const TempFolder& folder, const char* name, std::size_t size, Lines&& lines,
                      const std::string& last) {
    const std::filesystem::path path = folder.path() / name;
    std::ofstream out(path, std::ios::binary);
    std::string block;
    for (std::size_t n = 0, written = 0; written < size; ++n) {
        block += lines(n);
        if (block.size() >= (1u << 20)) {
            out << block;
            written += block.size();
            block.clear();
        }
    }
    out << block << last;
    return path.string();
}

// The most bytes held at once, beyond what was held before, while `read` runs.
template <class Read>
std::size_t PeakWhile(Read&& read) {
    AllocationPeak::Restart();
    const std::size_t before = AllocationPeak::Live();
    read();
    return AllocationPeak::Peak() - before;
}

// PickupSize from the file's map, and as the hooked call takes it, which keeps no entry.
std::size_t PeakWhileReading(const std::string& path, float& pickupSize) {
    return PeakWhile([&] { pickupSize = GetFloatSetting(ReadSettingsFile(path.c_str()), "PickupSize", 1.2f); });
}
std::size_t PeakWhileTakingValues(const std::string& path, float& pickupSize) {
    return PeakWhile([&] { pickupSize = ReadPickupSettingsFile(path.c_str()).values.floats[6]; });
}

// Both files apply their last line, "PickupSize = 3", with the same peak of memory; taken
// as the hooked call takes them, with none.
void ExpectSamePeak(const std::string& smaller, const std::string& larger) {
    static_assert(std::string_view(FloatSettings[6].key) == "PickupSize");
    for (const std::string* path : {&smaller, &larger}) {
        float value = 0;
        EXPECT_EQ(0u, PeakWhileTakingValues(*path, value)) << *path;
        EXPECT_EQ(3.0f, value) << *path;
    }
    float smallerValue = 0;
    float largerValue = 0;
    const std::size_t smallerPeak = PeakWhileReading(smaller, smallerValue);
    const std::size_t largerPeak = PeakWhileReading(larger, largerValue);
    EXPECT_EQ(3.0f, smallerValue);
    EXPECT_EQ(3.0f, largerValue);
    EXPECT_EQ(smallerPeak, largerPeak);
    EXPECT_GT(smallerPeak, 0u);
    testing::Test::RecordProperty("peakBytes", std::to_string(largerPeak));
}

TEST(SettingsMemory, AFileOfCommentsEightTimesAsLargeNeedsNoMoreMemory) {
    TempFolder folder;
    const auto comment = [](std::size_t n) { return "; comment line " + std::to_string(n) + "\r\n"; };
    const std::string small = WriteFile(folder, "small.ini", 8u << 20, comment, "PickupSize = 3\r\n");
    const std::string large = WriteFile(folder, "large.ini", 64u << 20, comment, "PickupSize = 3\r\n");
    ExpectSamePeak(small, large);
}

TEST(SettingsMemory, OneKeyRepeatedMillionsOfTimesNeedsNoMoreMemoryThanAFewThousandTimes) {
    TempFolder folder;
    // Values of every length up to 31 bytes, and of 240 bytes now and then: each repeat
    // replaces a value longer or shorter than the one before.
    const auto repeat = [](std::size_t n) {
        const std::size_t zeros = n % 997 == 0 ? 240 : n * 7 % 32;
        return "PickupSize = 1." + std::string(zeros, '0') + "\n";
    };
    const std::string few = WriteFile(folder, "few.ini", 200u << 10, repeat, "PickupSize = 3\n");
    const std::string many = WriteFile(folder, "many.ini", 64u << 20, repeat, "PickupSize = 3\n");
    ExpectSamePeak(few, many);
}

}  // namespace
