#include "settings/SettingsFile.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "settings/NumberScan.h"

namespace {

// What one read into a 256-byte line buffer takes: 255 bytes at most, through the first LF.
constexpr std::size_t LinePieceLimit = 255;
constexpr char CtrlZ = '\x1A';

// The first byte in [from, to) equal to `a` or `b`, or `to`. A machine word at a time,
// since a settings line is mostly bytes that are neither.
std::size_t FindEither(const char* text, std::size_t from, std::size_t to, char a, char b) {
    using Word = std::uintptr_t;
    static_assert(std::endian::native == std::endian::little, "the first match is the lowest byte");
    constexpr Word Ones = ~Word{0} / 0xFF;
    constexpr Word Highs = Ones * 0x80;
    const Word wordA = Ones * static_cast<unsigned char>(a);
    const Word wordB = Ones * static_cast<unsigned char>(b);
    std::size_t i = from;
    for (; i + sizeof(Word) <= to; i += sizeof(Word)) {
        Word word;
        std::memcpy(&word, text + i, sizeof word);
        const Word xa = word ^ wordA;
        const Word xb = word ^ wordB;
        // A zero byte of xa or xb is a match; the lowest flagged byte is always a true one.
        const Word flagged = (((xa - Ones) & ~xa) | ((xb - Ones) & ~xb)) & Highs;
        if (flagged != 0) return i + static_cast<std::size_t>(std::countr_zero(flagged)) / 8;
    }
    while (i < to && text[i] != a && text[i] != b) ++i;
    return i;
}

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// What a value loses at its end: blanks and line-end characters.
constexpr bool IsValueTrailer(char c) { return IsBlank(c) || c == '\r' || c == '\n'; }

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool SettingsMap::KeyOrder::operator()(std::string_view a, std::string_view b) const noexcept {
    static_assert(std::endian::native == std::endian::little);
    const std::size_t common = std::min(a.size(), b.size());
    if (common >= 8) {
        // Read big-endian, eight bytes compare as one unsigned number, in the same order.
        // The last word overlaps bytes already found equal, which cannot change the order.
        const auto wordAt = [](std::string_view text, std::size_t at) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + at, 8);
            return __builtin_bswap64(word);
        };
        for (std::size_t i = 0;; i += 8) {
            const std::size_t at = std::min(i, common - 8);
            const std::uint64_t x = wordAt(a, at);
            const std::uint64_t y = wordAt(b, at);
            if (x != y) return x < y;
            if (at == common - 8) break;
        }
    } else {
        for (std::size_t i = 0; i < common; ++i) {
            if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
        }
    }
    return a.size() < b.size();
}

SettingsMap::SettingsMap(FileBytes fileBytes)
    : bytes(std::move(fileBytes)),
      arena(bytes.data.get() + bytes.size, bytes.capacity - bytes.size),
      entries(&arena) {
    const char* const text = bytes.data.get();
    const std::size_t size = FindEither(text, 0, bytes.size, CtrlZ, CtrlZ);

    // Pieces are cut as in the translated stream, where a CR LF pair is one LF: that CR
    // only stands right before the LF that ends a line, and a value's trailing CRs are
    // removed anyway, so each piece is parsed in place from the raw bytes.
    std::size_t at = 0;
    while (at < size) {
        const std::size_t limit = std::min(size, at + LinePieceLimit);
        const std::size_t stop = FindEither(text, at, limit, '\n', '\0');  // a NUL ends the text, not the piece
        const std::size_t lf = stop < limit && text[stop] == '\n' ? stop : FindEither(text, stop, limit, '\n', '\n');
        std::size_t end = lf < limit ? lf + 1 : limit;
        if (lf == limit && end < size && text[end - 1] == '\r' && text[end] == '\n') ++end;
        const std::size_t equals = FindEither(text, at, stop, '=', '=');
        if (equals < stop) parseEntry(std::string_view(text + at, stop - at), equals - at);
        at = end;
    }
}

void SettingsMap::parseEntry(std::string_view line, std::size_t equals) {
    std::size_t start = 0;
    while (IsBlank(line[start])) ++start;  // stops at the "=" at the latest
    if (line[start] == '#' || line[start] == ';') return;

    std::size_t keyEnd = equals;
    while (keyEnd > start && IsBlank(line[keyEnd - 1])) --keyEnd;
    std::size_t valueStart = equals + 1;
    while (valueStart < line.size() && IsBlank(line[valueStart])) ++valueStart;
    std::size_t valueEnd = line.size();
    while (valueEnd > valueStart && IsValueTrailer(line[valueEnd - 1])) --valueEnd;
    const std::string_view key = line.substr(start, keyEnd - start);
    const std::string_view value = line.substr(valueStart, valueEnd - valueStart);

    const auto at = entries.lower_bound(key);
    if (at != entries.end() && at->first == key) {
        at->second = value;
    } else {
        entries.emplace_hint(at, key, value);
    }
}

std::optional<std::string_view> SettingsMap::lookup(std::string_view key) const {
    const auto found = entries.find(key);
    if (found == entries.end()) return std::nullopt;
    return found->second;
}

SettingsMap ParseSettingsText(std::string_view fileBytes) {
    // Room behind the text for the nodes: a node takes about twice the bytes of a short line.
    const std::size_t capacity = fileBytes.size() * 3 + 256;
    FileBytes copy{std::make_unique_for_overwrite<char[]>(capacity), fileBytes.size(), capacity};
    std::copy(fileBytes.begin(), fileBytes.end(), copy.data.get());
    return SettingsMap(std::move(copy));
}

FileBytes ReadWholeFile(const char* path) {
    const std::unique_ptr<std::FILE, FileCloser> file{std::fopen(path, "rb")};
    if (!file) return {};
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // reads go straight into our buffer

    // One read takes a file of ordinary size whole; a larger one grows the buffer.
    FileBytes bytes{std::make_unique_for_overwrite<char[]>(8192), 0, 8192};
    for (;;) {
        bytes.size += std::fread(bytes.data.get() + bytes.size, 1, bytes.capacity - bytes.size, file.get());
        if (bytes.size < bytes.capacity) return bytes;
        auto larger = std::make_unique_for_overwrite<char[]>(bytes.capacity * 2);
        std::copy_n(bytes.data.get(), bytes.size, larger.get());
        bytes.data = std::move(larger);
        bytes.capacity *= 2;
    }
}

SettingsMap ReadSettingsFile(const char* path) {
    return SettingsMap(ReadWholeFile(path));
}

float GetFloatSetting(const SettingsMap& settings, const char* key, float defaultValue) {
    const auto value = settings.lookup(key);
    return value ? static_cast<float>(ConvertFloatPrefix(*value)) : defaultValue;
}
