// The one rule of what is a text file, and its two users: the checker warns about exactly the
// files that the writer refuses, judging the bytes before the first Ctrl-Z as the plug-in reads
// them.
#include "basis/TextRule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "checker/SettingsCheck.h"
#include "edit/SettingsWriter.h"
#include "tests/support/TempFolder.h"

namespace {

using namespace std::string_literals;

std::string Repeated(const std::string& part, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += part;
    return text;
}

const std::string Entry = "PickupSize = 2\r\n";
const std::string Junk(200, '\x01');
const std::string ManyLines = Repeated(Entry, 300);  // 4800 bytes: 200 control bytes are under one in ten

struct TextCase {
    const char* name;
    std::string bytes;
    TextVerdict verdict;
};

const TextCase TextCases[] = {
    {"plain text", Entry + "TextAlpha = 7\r\n", TextVerdict::Text},
    {"empty", "", TextVerdict::Text},
    {"UTF-16, little-endian", "\xFF\xFEP\0=\0\x33\0\r\0\n\0"s, TextVerdict::Utf16},
    {"UTF-16, big-endian", "\xFE\xFF\0P\0=\0\x33\0\r\0\n"s, TextVerdict::Utf16},
    {"binary", Junk, TextVerdict::Binary},
    {"binary junk after a Ctrl-Z", Entry + "\x1A" + Junk, TextVerdict::Text},
    {"binary junk before a Ctrl-Z, much text after it", Junk + "\x1A" + ManyLines, TextVerdict::Binary},
    {"binary junk among much text, no Ctrl-Z", Junk + ManyLines, TextVerdict::Text},
    {"a Ctrl-Z first", "\x1A" + Junk, TextVerdict::Text},
    {"a UTF-16 mark after a Ctrl-Z", "\x1A\xFF\xFE" + Entry, TextVerdict::Text},
    {"a UTF-16 mark before a Ctrl-Z", "\xFF\xFE\x1A" + Entry, TextVerdict::Utf16},
    {"fewer than 16 bytes before a Ctrl-Z", std::string(15, '\x02') + "\x1A" + Junk, TextVerdict::Text},
    {"one byte in ten a control byte", std::string(18, 'a') + "\x01\x01", TextVerdict::Text},
    {"more than one in ten", std::string(17, 'a') + "\x01\x01", TextVerdict::Binary},
    {"binary junk past the first 64 KiB", Repeated(Entry, 4097) + Junk, TextVerdict::Text},
};

TEST(JudgeText, JudgesTheBytesBeforeTheFirstCtrlZ) {
    for (const TextCase& c : TextCases) {
        EXPECT_EQ(c.verdict, JudgeText(c.bytes)) << c.name;
        // The checker hands its bytes over as they come: a byte at a time gives the same verdict.
        TextJudge judge;
        for (const char byte : c.bytes) judge.look({&byte, 1});
        EXPECT_EQ(c.verdict, judge.verdict()) << c.name;
    }
}

TEST(JudgeText, TheCheckerWarnsAboutExactlyTheFilesTheWriterRefuses) {
    TempFolder folder;
    int n = 0;
    for (const TextCase& c : TextCases) {
        const std::string path = folder.write("settings" + std::to_string(++n) + ".ini", c.bytes).string();
        const WriteOutcome written = WriteSettings(path, {}, {{{"PickupSize", "3"}}, {}, {}});
        const std::string refusal = written.problems.empty() ? "" : written.problems.front();

        const SettingsCheck check = CheckSettingsText(c.bytes);
        std::string warning;
        for (const Note& note : check.fileNotes) warning += note.kind == Finding::NotText ? note.text : "";

        const bool text = c.verdict == TextVerdict::Text;
        EXPECT_EQ(text ? WriteStatus::Written : WriteStatus::BadInput, written.status) << c.name << ": " << refusal;
        EXPECT_EQ(!text, refusal.find("is not changed") != std::string::npos) << c.name << ": " << refusal;
        EXPECT_EQ(!text, !warning.empty()) << c.name << ": " << warning;
        const bool utf16 = c.verdict == TextVerdict::Utf16;
        EXPECT_EQ(utf16, refusal.find("UTF-16") != std::string::npos) << c.name << ": " << refusal;
        EXPECT_EQ(utf16, warning.find("UTF-16") != std::string::npos) << c.name << ": " << warning;
    }
}

}  // namespace
