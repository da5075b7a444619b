// Feeds arbitrary bytes to the settings reader and to the number scanning. The reader is
// checked against a plain reference that reads as the C runtime's text mode and a 256-byte
// line buffer would, byte by byte; the number conversion against the C library's strtod
// and strtof, which in the "C" locale follow ISO C to the letter.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/settings/NumberScan.h"
#include "src/settings/PickupSettings.h"
#include "src/settings/SettingsFile.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

bool SameNumber(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void CheckNumbers(std::string_view text) {
    const std::string terminated(text.substr(0, text.find('\0')));  // the C library stops at NUL too
    Check(SameNumber(std::strtod(terminated.c_str(), nullptr), ConvertFloatPrefix(text)), "atof conversion differs from strtod");

    // A "%f" field that matches is exactly what strtof reads at the same place.
    if (const auto field = ScanFloatField(text, 0)) {
        char* end = nullptr;
        const float reference = std::strtof(terminated.c_str(), &end);
        Check(static_cast<std::size_t>(end - terminated.c_str()) == field->end, "float field ends elsewhere than strtof");
        Check(SameNumber(reference, field->value), "float field differs from strtof");
    }
    if (const auto field = ScanIntField(text, 0)) Check(field->end <= text.size(), "int field runs past the text");
    ScanPickupColor(text);
}

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A piece as the reference cuts it: its physical line, how it ended, its text, and its
// entry if it holds one.
struct ReferencePiece {
    std::uint64_t line;
    std::uint32_t piece;  // from 1 within its line
    PieceEnd end;
    std::string text;
    bool entry;
    std::string key;
    std::string value;
};

std::map<std::string, std::string> ReferenceRead(std::string_view raw, std::vector<ReferencePiece>& pieces) {
    std::string text;  // as text mode delivers it: CR LF as LF, Ctrl-Z ending the file
    const bool endedByCtrlZ = raw.find('\x1A') != std::string_view::npos;
    for (std::size_t i = 0; i < raw.size() && raw[i] != '\x1A'; ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        text += raw[i];
    }
    std::map<std::string, std::string> entries;
    std::uint64_t lineNumber = 1;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = at;  // one read: at most 255 bytes, through the first LF
        while (end < text.size() && end - at < 255) {
            if (text[end++] == '\n') break;
        }
        std::string line = text.substr(at, end - at);
        at = end;
        const bool lineFeed = line.back() == '\n';
        PieceEnd how = lineFeed ? PieceEnd::LineFeed
                       : at < text.size() ? PieceEnd::Limit
                       : endedByCtrlZ     ? PieceEnd::CtrlZ
                                          : PieceEnd::EndOfText;
        lineNumber += lineFeed ? 1 : 0;
        if (std::strlen(line.c_str()) < line.size()) how = PieceEnd::Nul;
        line.resize(std::strlen(line.c_str()));  // the line as a C string
        const std::uint64_t physical = lineNumber - (lineFeed ? 1 : 0);
        const std::uint32_t piece = !pieces.empty() && pieces.back().line == physical ? pieces.back().piece + 1 : 1;
        pieces.push_back({physical, piece, how, line.substr(0, line.find('\n')), false, {}, {}});
        std::size_t start = 0;
        while (start < line.size() && IsBlank(line[start])) ++start;
        if (start == line.size() || line[start] == '\n' || line[start] == '#' || line[start] == ';') continue;
        const std::size_t equals = line.find('=', start);
        if (equals == std::string::npos) continue;
        std::string key = line.substr(start, equals - start);
        while (!key.empty() && IsBlank(key.back())) key.pop_back();
        std::size_t valueStart = equals + 1;
        while (valueStart < line.size() && IsBlank(line[valueStart])) ++valueStart;
        std::string value = line.substr(valueStart);
        while (!value.empty() && (IsBlank(value.back()) || value.back() == '\r' || value.back() == '\n')) value.pop_back();
        entries[key] = value;
        pieces.back().entry = true;
        pieces.back().key = key;
        pieces.back().value = value;
    }
    return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckNumbers(text);

    const SettingsMap settings = ParseSettingsText(text);
    std::vector<ReferencePiece> referencePieces;
    const auto reference = ReferenceRead(text, referencePieces);

    // Each piece handed out as the reference cuts it: its line, and its entry or none.
    std::size_t next = 0;
    ReadSettingsPieces(TextSource(text), [&](const SettingsPiece& piece) {
        Check(next < referencePieces.size(), "more pieces than the reference cuts");
        const ReferencePiece& expected = referencePieces[next++];
        Check(piece.line == expected.line && piece.piece == expected.piece, "a piece on another line or place than the reference's");
        Check(piece.end == expected.end, "a piece ended otherwise than the reference's");
        Check(piece.text == expected.text, "a piece's text differs from the reference's");
        Check((piece.kind == PieceKind::Entry) == expected.entry, "an entry where the reference has none, or none where it has one");
        Check(piece.key == expected.key && piece.value == expected.value, "a piece's key or value differs from the reference");
    });
    Check(next == referencePieces.size(), "fewer pieces than the reference cuts");
    Check(settings.size() == reference.size(), "the reader keeps other entries than the reference");
    auto expected = reference.begin();
    for (const auto& [key, value] : settings) {
        Check(std::string_view(key) == expected->first && std::string_view(value) == expected->second, "the reader reads an entry otherwise than the reference");
        ++expected;
    }
    std::optional<std::string_view> previous;
    for (const auto& [key, value] : settings) {
        Check(!previous || *previous < key, "keys out of byte order");  // string_view compares as unsigned bytes
        previous = key;
        Check(settings.lookup(key) == value, "a key's lookup misses its own entry");
        Check(key.find_first_of(std::string_view("\n\0", 2)) == std::string::npos, "line end or NUL in a key");
        Check(key.empty() || (key.front() != ' ' && key.front() != '\t'), "leading blank in a key");
        Check(key.empty() || (key.back() != ' ' && key.back() != '\t'), "trailing blank in a key");
        Check(value.empty() || std::string_view(" \t\r\n").find(value.back()) == std::string_view::npos, "trailing blank in a value");
        Check(value.empty() || (value.front() != ' ' && value.front() != '\t'), "leading blank in a value");
        Check(key.size() + value.size() < 255, "an entry longer than its line piece");
        CheckNumbers(value);
    }
    // The values as the plug-in reads them: for each setting, the last entry of its key among
    // the reference's pieces, converted, with that entry's place; the default where none is.
    const PickupReading reading = ReadPickupSettings(TextSource(text));
    for (std::size_t i = 0; i < PickupSettings.size(); ++i) {
        const PickupSetting& setting = PickupSettings[i];
        const ReferencePiece* last = nullptr;
        for (const ReferencePiece& piece : referencePieces) {
            if (piece.entry && piece.key == setting.key) last = &piece;
        }
        Check(reading.origins[i].line == (last ? last->line : 0) && reading.origins[i].piece == (last ? last->piece : 0),
              "a value's origin is not the last entry of its key");
        if (i < FloatSettingCount) {
            const float wanted = last ? static_cast<float>(std::strtod(last->value.c_str(), nullptr)) : setting.defaultValue;
            Check(SameNumber(wanted, reading.values.floats[i]), "a float value differs from its last entry's");
        } else {
            const PickupColorEntry wanted = last ? ScanPickupColor(last->value) : DefaultPickupColor(int(i - FloatSettingCount));
            Check(std::memcmp(&wanted, &reading.values.colors[i - FloatSettingCount], sizeof wanted) == 0,
                  "a colour entry differs from its last entry's");
        }
    }
    WritePickupSettings(reading.values, [](HostAddress address, const void*, std::size_t bytes) {
        Check(address >= Host::DataBegin && address + bytes <= Host::DataEnd, "a store outside the host's data");
    });
    return 0;
}
