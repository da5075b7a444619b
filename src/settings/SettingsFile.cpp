#include "settings/SettingsFile.h"

#include <algorithm>
#include <compare>
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

SettingsMap::KeyHead HeadOf(std::string_view key) {
    unsigned char bytes[16] = {};
    std::memcpy(bytes, key.data(), std::min<std::size_t>(16, key.size()));
    std::uint64_t high, low;
    std::memcpy(&high, bytes, 8);
    std::memcpy(&low, bytes + 8, 8);
    return {__builtin_bswap64(high), __builtin_bswap64(low)};
}

// Byte order of two keys, their heads first. Keys whose heads match are either one a
// zero-padded prefix of the other, when both are short, or share sixteen bytes
// ("WeaponCircles_AlphaPlus", "WeaponCircles_AlphaMinus") and need their bytes compared.
std::strong_ordering CompareKeys(const SettingsMap::KeyHead& headA, std::string_view a,
                                 const SettingsMap::KeyHead& headB, std::string_view b) {
    if (const auto order = headA <=> headB; order != 0) return order;
    if (a.size() <= 16 && b.size() <= 16) return a.size() <=> b.size();
    return a.compare(b) <=> 0;  // char_traits<char> compares as unsigned bytes
}

// An entry as read, before sorting.
struct PendingEntry {
    std::string_view key;
    std::string_view value;
};

// What the sort moves about: small, with the arrival order settling duplicates.
struct SortRecord {
    SettingsMap::KeyHead head;
    std::uint32_t order;  // index into the entries as read
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

SettingsMap::SettingsMap(FileBytes fileBytes)
    : bytes(std::move(fileBytes)), arena(bytes.data.get() + bytes.size, bytes.capacity - bytes.size), heads(&arena), entries(&arena) {
    const char* const text = bytes.data.get();
    const std::size_t size = FindEither(text, 0, bytes.size, CtrlZ, CtrlZ);

    std::pmr::vector<PendingEntry> pending(&arena);
    std::pmr::vector<SortRecord> records(&arena);
    pending.reserve(64);
    records.reserve(64);
    const auto add = [&](std::string_view line, std::size_t equals) {
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
        records.push_back({HeadOf(key), static_cast<std::uint32_t>(pending.size())});
        pending.push_back({key, line.substr(valueStart, valueEnd - valueStart)});
    };

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
        if (equals < stop) add(std::string_view(text + at, stop - at), equals - at);
        at = end;
    }

    // Sorted once, with each key's last entry behind its earlier ones, which then go.
    std::sort(records.begin(), records.end(), [&](const SortRecord& a, const SortRecord& b) {
        const auto order = CompareKeys(a.head, pending[a.order].key, b.head, pending[b.order].key);
        return order != 0 ? order < 0 : a.order < b.order;
    });
    heads.reserve(records.size());
    entries.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const SortRecord& record = records[i];
        const PendingEntry& entry = pending[record.order];
        if (i + 1 < records.size() &&
            CompareKeys(records[i + 1].head, pending[records[i + 1].order].key, record.head, entry.key) == 0) {
            continue;
        }
        heads.push_back(record.head);
        entries.emplace_back(entry.key, entry.value);
    }
}

SettingsMap::const_iterator SettingsMap::lowerBound(std::string_view key) const {
    const KeyHead head = HeadOf(key);
    std::size_t first = 0;
    std::size_t count = entries.size();
    while (count > 0) {
        const std::size_t half = count / 2;
        if (CompareKeys(heads[first + half], entries[first + half].first, head, key) < 0) {
            first += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return begin() + first;
}

std::optional<std::string_view> SettingsMap::lookup(std::string_view key) const {
    const const_iterator found = lowerBound(key);
    if (found == end()) return std::nullopt;
    const std::size_t index = static_cast<std::size_t>(found - begin());
    if (CompareKeys(heads[index], found->first, HeadOf(key), key) != 0) return std::nullopt;
    return found->second;
}

SettingsMap ParseSettingsText(std::string_view fileBytes) {
    // Room behind the text for the entries, as a file read from disk has.
    const std::size_t capacity = fileBytes.size() * 4 + 4096;
    FileBytes copy{std::make_unique_for_overwrite<char[]>(capacity), fileBytes.size(), capacity};
    std::copy(fileBytes.begin(), fileBytes.end(), copy.data.get());
    return SettingsMap(std::move(copy));
}

FileBytes ReadWholeFile(const char* path) {
    const std::unique_ptr<std::FILE, FileCloser> file{std::fopen(path, "rb")};
    if (!file) return {};
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // reads go straight into our buffer

    // One read takes a file of ordinary size whole; a larger one grows the buffer.
    FileBytes bytes{std::make_unique_for_overwrite<char[]>(16384), 0, 16384};
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
