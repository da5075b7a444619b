#include "src/settings/SettingsFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TempFolder.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries EntriesOf(const SettingsMap& settings) {
    Entries entries;
    for (const auto& [key, value] : settings) entries.emplace_back(key, value);
    return entries;
}

struct ParseCase {
    const char* name;
    std::string text;
    Entries expected;
};

TEST(SettingsText, ParsesEachLineAsTheFormatSays) {
    const ParseCase cases[] = {
        {"blanks around key and value", " \t PickupSize \t= \t1.5 \t\n", {{"PickupSize", "1.5"}}},
        {"comment text after the value stays", "PickupSize=1.5 ; bigger\n", {{"PickupSize", "1.5 ; bigger"}}},
        {"empty value", "PickupSize =\n", {{"PickupSize", ""}}},
        {"empty key", "=5\n", {{"", "5"}}},
        {"first equals sign splits", "a=b=c\n", {{"a", "b=c"}}},
        {"keys are case-sensitive", "pickupsize = 2\nPickupSize = 3\n", {{"PickupSize", "3"}, {"pickupsize", "2"}}},
        {"sections mean nothing", "[Pickups]\nx=1\n[Other]\nx=2\n", {{"x", "2"}}},
        {"comments after blanks", "# PickupSize = 3\n  ; PickupSize = 3\n\t#x=1\n", {}},
        {"lines without an equals sign", "just words\n\n   \n", {}},
        {"inner blanks and marks in keys", "a b#c;[d] = v\n", {{"a b#c;[d]", "v"}}},
        {"only blanks and tabs are trimmed", "\vkey\v=\v1\v\n", {{"\vkey\v", "\v1\v"}}},
        {"trailing CRs of a value go", "a=1\r\r\r\n", {{"a", "1"}}},
        {"a lone CR inside a value stays", "a=1\r2\n", {{"a", "1\r2"}}},
        {"a CR before the equals sign stays in the key", "a\r=1\n", {{"a\r", "1"}}},
        {"no line end at the end of the text", "a=1", {{"a", "1"}}},
        {"the last duplicate wins", "a=1\nb=2\na=3\n", {{"a", "3"}, {"b", "2"}}},
        {"keys in ascending order, one between, repeats", "a=1\nc=3\nd=4\nb=2\nc=5\nc=6\ne=7\na=8\n",
         {{"a", "8"}, {"b", "2"}, {"c", "6"}, {"d", "4"}, {"e", "7"}}},
        {"keys in descending order", "c=1\nb=2\na=3\nb=4\n", {{"a", "3"}, {"b", "4"}, {"c", "1"}}},
        {"Ctrl-Z ends the file", "a=1\nb=2\x1A\nc=3\n", {{"a", "1"}, {"b", "2"}}},
        {"a NUL ends the line's text", std::string("a=1\0junk=9\nb=2\n", 15), {{"a", "1"}, {"b", "2"}}},
        {"a byte-order mark joins the first key", "\xEF\xBB\xBFPickupSize=3\n", {{"\xEF\xBB\xBFPickupSize", "3"}}},
        {"a byte-order mark hides a comment", "\xEF\xBB\xBF# a=1\n", {{"\xEF\xBB\xBF# a", "1"}}},
        {"empty text", "", {}},
    };
    TempFolder folder;
    for (const ParseCase& c : cases) {
        EXPECT_EQ(c.expected, EntriesOf(ParseSettingsText(c.text))) << c.name;
        const auto file = folder.write("Glimmerward.ini", c.text);
        EXPECT_EQ(c.expected, EntriesOf(ReadSettingsFile(file.string().c_str()))) << c.name << ", from a file";
    }
}

struct Piece {
    std::uint64_t line;
    PieceKind kind;
    PieceEnd end;
    std::string key;
    std::string value;
    bool operator==(const Piece&) const = default;
};

std::vector<Piece> PiecesOf(std::string_view text) {
    std::vector<Piece> pieces;
    ReadSettingsPieces(TextSource(text), [&pieces](const SettingsPiece& p) {
        pieces.push_back({p.line, p.kind, p.end, std::string(p.key), std::string(p.value)});
    });
    return pieces;
}

struct PiecesCase {
    const char* name;
    std::string text;
    std::vector<Piece> expected;
};

TEST(SettingsPieces, TellEachPieceItsLineWhatItHoldsAndHowItEnded) {
    using K = PieceKind;
    using E = PieceEnd;
    const std::string longLine = "k=" + std::string(300, 'v');
    const PiecesCase cases[] = {
        {"one of each kind", "a = 1\n\n  # c\n[s]\n",
         {{1, K::Entry, E::LineFeed, "a", "1"}, {2, K::Blank, E::LineFeed, "", ""},
          {3, K::Comment, E::LineFeed, "", ""}, {4, K::NoEquals, E::LineFeed, "", ""}}},
        {"CR LF is a line end, a lone CR is not", "\r\na\rb=1\r\n",
         {{1, K::Blank, E::LineFeed, "", ""}, {2, K::Entry, E::LineFeed, "a\rb", "1"}}},
        {"a long line's pieces share its number", longLine + "\nx=1",
         {{1, K::Entry, E::Limit, "k", std::string(253, 'v')}, {1, K::NoEquals, E::LineFeed, "", ""},
          {2, K::Entry, E::EndOfText, "x", "1"}}},
        {"a NUL ends the text, not the line", std::string("a=1\0b=2\nc=3\n", 12),
         {{1, K::Entry, E::Nul, "a", "1"}, {2, K::Entry, E::LineFeed, "c", "3"}}},
        {"a NUL first leaves a blank piece", std::string("\0a=1", 5), {{1, K::Blank, E::Nul, "", ""}}},
        {"a Ctrl-Z ends the text", "a=1\nb=2\x1A\nc=3\n",
         {{1, K::Entry, E::LineFeed, "a", "1"}, {2, K::Entry, E::CtrlZ, "b", "2"}}},
        {"a Ctrl-Z after a line end leaves no piece", "a=1\n\x1A b=2", {{1, K::Entry, E::LineFeed, "a", "1"}}},
        {"no text, no piece", "", {}},
    };
    for (const PiecesCase& c : cases) EXPECT_EQ(c.expected, PiecesOf(c.text)) << c.name;
}

// The reader holds a few KiB of the text at a time: every piece must come out the same
// wherever the end of what it holds falls, inside a long line or between a CR and its LF.
TEST(SettingsText, ReadsPiecesTheSameWhereverTheyMeetTheEndOfWhatIsHeld) {
    const std::string lines = "a=" + std::string(298, 'v') + "\r\n" +  // a piece of 255 bytes, then 45
                              "b=" + std::string(252, 'w') + "\r\n" +  // 254 bytes and CR LF: one piece
                              "c=1\x1A\nd=2\n";
    const Entries expected{{"a", std::string(253, 'v')}, {"b", std::string(252, 'w')}, {"c", "1"}};
    for (std::size_t padding = 3500; padding < 4700; ++padding) {
        const std::string text = "#" + std::string(padding - 2, 'x') + "\n" + lines;
        ASSERT_EQ(expected, EntriesOf(ParseSettingsText(text))) << "after " << padding << " bytes";
    }
}

// Each key finds its place as it comes, in logarithmic steps: a million distinct keys in
// scrambled order, where a sorted array shifted on every insertion would take hours.
TEST(SettingsText, KeepsAMillionDistinctKeysInOrder) {
    constexpr int Count = 1000000;
    std::string text;
    for (long long n = 0; n < Count; ++n) {
        text += "key" + std::to_string(n * 7919 % Count) + "=" + std::to_string(n) + "\n";
    }
    const SettingsMap settings = ParseSettingsText(text);
    EXPECT_EQ(std::size_t{Count}, settings.size());
    EXPECT_TRUE(std::is_sorted(settings.begin(), settings.end(),
                               [](const auto& a, const auto& b) { return a.first < b.first; }));
    EXPECT_EQ("0", settings.lookup("key0").value_or("absent"));
    EXPECT_EQ("1", settings.lookup("key7919").value_or("absent"));
    EXPECT_EQ("absent", settings.lookup("key1000000").value_or("absent"));
}

TEST(SettingsText, CrLfAndLfLineEndsGiveTheSameMap) {
    const std::string lf = "# pickups\nPickupSize = 1.5\n\n[x]\nTurnSpeed=0.01 \nPickupColor_5 = 1 2 3 4 5\n";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(EntriesOf(ParseSettingsText(lf)), EntriesOf(ParseSettingsText(crlf)));
    EXPECT_EQ(3u, ParseSettingsText(crlf).size());
}

TEST(SettingsText, ReadsALongLineInPiecesOf255Bytes) {
    // 300 bytes before the LF: the first 255 form one entry, the remaining 45 another.
    const std::string head = "key=" + std::string(251, 'v');
    const std::string tail = "tail=" + std::string(40, 't');
    ASSERT_EQ(255u, head.size());
    ASSERT_EQ(45u, tail.size());
    const SettingsMap settings = ParseSettingsText(head + tail + "\n");
    EXPECT_EQ((Entries{{"key", std::string(251, 'v')}, {"tail", std::string(40, 't')}}), EntriesOf(settings));
}

TEST(SettingsText, CountsBytesAfterANulTowardsThePiece) {
    // The NUL ends the first piece's text, but the piece still spans 255 bytes.
    std::string text = std::string("k=v\0", 4) + std::string(251, 'z') + "x=y\n";
    EXPECT_EQ((Entries{{"k", "v"}, {"x", "y"}}), EntriesOf(ParseSettingsText(text)));
}

TEST(SettingsText, CountsACrLfPairAsOneByteOfThePiece) {
    // 254 bytes and CR LF fit one piece once translated; the next line stands on its own.
    const std::string line = "k=" + std::string(252, 'v');
    EXPECT_EQ((Entries{{"k", std::string(252, 'v')}, {"n", "1"}}), EntriesOf(ParseSettingsText(line + "\r\nn=1\r\n")));
}

TEST(SettingsText, KeepsEveryKeyOfALongFileInByteOrderWithTheLastValue) {
    std::string text;
    Entries expected;
    for (int n = 0; n < 300; ++n) text += "key" + std::to_string(n) + " = first\n";
    for (int n = 0; n < 300; n += 7) text += "key" + std::to_string(n) + " = again\n";
    for (int n = 0; n < 300; ++n) expected.emplace_back("key" + std::to_string(n), n % 7 == 0 ? "again" : "first");
    std::sort(expected.begin(), expected.end());
    const SettingsMap settings = ParseSettingsText(text);
    EXPECT_EQ(expected, EntriesOf(settings));
    EXPECT_EQ("again", settings.lookup("key294").value_or("absent"));
    EXPECT_EQ("first", settings.lookup("key299").value_or("absent"));
    EXPECT_EQ("absent", settings.lookup("key300").value_or("absent"));
}

TEST(SettingsFile, ReadsARealFile) {
    TempFolder folder;
    const auto file = folder.write("Glimmerward.ini", "PickupSize = 1.5\r\n; note\r\nTurnSpeed=0.01\r\n");
    EXPECT_EQ((Entries{{"PickupSize", "1.5"}, {"TurnSpeed", "0.01"}}), EntriesOf(ReadSettingsFile(file.string().c_str())));
}

TEST(SettingsFile, ReadsAFileLargerThanOneBuffer) {
    TempFolder folder;
    std::string text;
    while (text.size() < 40000) text += "; a comment line that pads the file out\n";
    const auto file = folder.write("big.ini", text + "last = 7\n");
    EXPECT_EQ((Entries{{"last", "7"}}), EntriesOf(ReadSettingsFile(file.string().c_str())));
}

TEST(SettingsFile, GivesAnEmptyMapForWhatCannotBeRead) {
    TempFolder folder;
    std::filesystem::create_directories(folder.path() / "Glimmerward.ini");
    const auto empty = folder.write("empty.ini", "");
    for (const auto& path : {folder.path() / "missing.ini", folder.path() / "Glimmerward.ini", empty}) {
        EXPECT_EQ(0u, ReadSettingsFile(path.string().c_str()).size()) << path;
    }
}

TEST(FloatSetting, ConvertsTheValueOrGivesTheDefault) {
    const SettingsMap settings = ParseSettingsText(
        "PickupSize = 1.5 ; bigger\nTurnSpeed = 0,01\nTextAlpha =\nEffectStrength = big\nSize2DFX = -0x1p-1\n");
    EXPECT_EQ(1.5f, GetFloatSetting(settings, "PickupSize", 9.0f));
    EXPECT_EQ(0.0f, GetFloatSetting(settings, "TurnSpeed", 9.0f));
    EXPECT_EQ(0.0f, GetFloatSetting(settings, "TextAlpha", 9.0f));
    EXPECT_EQ(0.0f, GetFloatSetting(settings, "EffectStrength", 9.0f));
    EXPECT_EQ(-0.5f, GetFloatSetting(settings, "Size2DFX", 9.0f));
    EXPECT_EQ(9.0f, GetFloatSetting(settings, "pickupsize", 9.0f));
    EXPECT_EQ(9.0f, GetFloatSetting(settings, "Absent", 9.0f));
}

}  // namespace
