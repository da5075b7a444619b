// The checker's verdict against the real plug-in: each tricky settings file is applied by
// the real DLL in the stand-in host, and the real checker program explains the same game
// folder. The 59 values in the checker's final table must be what landed in the host, bit
// for bit, and its warnings exactly the kinds each file is made to show.
#include <windows.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "src/settings/NumberScan.h"
#include "src/settings/PickupSettings.h"
#include "standin/HostImage.h"
#include "tests/standin/StandInFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeExecutable.h"

namespace {

namespace fs = std::filesystem;

using StandInHost::HostFolder;

struct CheckerRun {
    int status;
    std::string output;
};

// Runs the checker on `argument` with its output through a pipe.
CheckerRun RunChecker(const std::string& argument) {
    ChildProcess checker({(HostFolder() / "glimmerward-check.exe").string(), argument, "--all", "--no-wait"});
    const int status = checker.finish();
    return {status, checker.output()};
}

// One row of the checker's final table: its channels (colour entries) and its float.
struct Row {
    std::vector<unsigned> channels;
    std::string valueText;
    std::uint32_t bits = 0;
};

std::map<std::string, Row> FinalTable(const std::string& output) {
    std::map<std::string, Row> rows;
    std::istringstream lines(output.substr(output.find("What the plug-in writes into the game:")));
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line) && line.size() > 2) {
        std::istringstream words(line);
        std::string key;
        std::string word;
        words >> key;
        Row row;
        std::vector<std::string> before;
        while (words >> word && !word.starts_with("(0x")) before.push_back(word);
        if (before.empty()) continue;
        row.valueText = before.back();
        before.pop_back();
        for (const std::string& channel : before) row.channels.push_back(std::stoul(channel));
        row.bits = static_cast<std::uint32_t>(std::stoul(word.substr(1), nullptr, 16));
        rows[key] = row;
    }
    return rows;
}

std::set<std::string> WarningKinds(const std::string& output) {
    std::set<std::string> kinds;
    for (std::size_t at = output.find("warning ("); at != std::string::npos; at = output.find("warning (", at + 1)) {
        kinds.insert(output.substr(at + 9, output.find("):", at) - at - 9));
    }
    return kinds;
}

std::string Fixture(const std::string& name) {
    std::ifstream in(HostFolder() / "checker-files" / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CheckerAgreesWithPlugin : public StandInHostTest {
protected:
    // The folder holds the game, as the checker sees it: an executable of a supported build.
    void SetUp() override {
        StandInHostTest::SetUp();
        std::ofstream(HostFolder() / "game.exe", std::ios::binary) << SupportedGame(110);
    }
    void TearDown() override {
        RemoveSettings();
        fs::remove(HostFolder() / "game.exe");
    }
    static void RemoveSettings() {
        for (const char* place : {"plugins", "scripts"}) fs::remove_all(HostFolder() / place);
        fs::remove_all(HostFolder() / "Glimmerward.ini");
    }
};

TEST_F(CheckerAgreesWithPlugin, OnEveryTrickyFileTheFinalTableIsWhatTheHostGetsAndTheWarningsAreThoseOfTheFile) {
    struct Case {
        const char* file;  // a fixture; "" for no settings file, "/" for a folder in its place
        int status;
        std::set<std::string> warnings;
    };
    const Case cases[] = {
        {"clean.ini", 0, {}},
        {"bom.ini", 1, {"byte-order mark", "unknown key"}},
        {"bom-comment.ini", 0, {}},
        {"decimal-comma.ini", 1, {"decimal comma"}},
        {"commas-between.ini", 1, {"stops early", "not a number"}},
        {"comment-after-value.ini", 1, {"text after the number", "not a number"}},
        {"duplicates.ini", 1, {"replaced"}},
        {"unknown-keys.ini", 1, {"unknown key", "missing \"=\""}},
        {"long-lines.ini", 1, {"line over 255 bytes", "unknown key", "infinity or NaN"}},
        {"nul-bytes.ini", 1, {"NUL byte"}},
        {"ctrl-z.ini", 1, {"after Ctrl-Z"}},
        {"not-numbers.ini", 1, {"not a number", "text after the number", "infinity or NaN", "too small", "hexadecimal", "stops early"}},
        {"channels.ini", 1, {"channel out of 0-255", "too small"}},
        {"lone-cr.ini", 1, {"text after the number"}},
        {"utf16.ini", 1, {"not a text file"}},
        {"binary.ini", 1, {"not a text file", "NUL byte", "after Ctrl-Z"}},
        {"", 2, {}},
        {"/", 2, {}},
    };
    StandInHost::Become(110);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        RemoveSettings();
        const std::string file(c.file);
        if (file == "/") {
            fs::create_directories(HostFolder() / "plugins" / "Glimmerward.ini");
        } else if (!file.empty()) {
            std::ofstream(HostFolder() / "Glimmerward.ini", std::ios::binary) << Fixture(file);
        }

        HostImage::FillData(0xCC);
        const HMODULE plugin = LoadLibraryA((HostFolder() / "Glimmerward.dll").string().c_str());
        ASSERT_NE(nullptr, plugin);
        StandInHost::RunCallSite(110);
        ASSERT_TRUE(FreeLibrary(plugin));

        const CheckerRun run = RunChecker(HostFolder().string());
        ASSERT_EQ(c.status, run.status) << run.output;
        EXPECT_EQ(c.warnings, WarningKinds(run.output)) << run.output;
        const auto rows = FinalTable(run.output);
        ASSERT_EQ(59u, rows.size()) << run.output;
        for (const PickupSetting& setting : FloatSettings) {
            const Row& row = rows.at(std::string(setting.key));
            EXPECT_EQ(StandInHost::FloatBitsAt(setting.address), row.bits) << setting.key;
            // What the checker prints reads back to those bits through the plug-in's conversion.
            EXPECT_EQ(row.bits, std::bit_cast<std::uint32_t>(static_cast<float>(ConvertFloatPrefix(row.valueText))))
                << row.valueText;
        }
        const auto table = StandInHost::ColorTable();
        for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
            const Row& row = rows.at("PickupColor_" + std::to_string(n));
            ASSERT_EQ(4u, row.channels.size()) << n;
            for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(table[std::size_t(n) * 8 + i], row.channels[i]) << n;
            std::uint32_t bits;
            std::memcpy(&bits, &table[std::size_t(n) * 8 + 4], 4);
            EXPECT_EQ(bits, row.bits) << n;
        }
    }
}

}  // namespace
