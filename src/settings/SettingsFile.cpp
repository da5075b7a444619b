#include "src/settings/SettingsFile.h"

#include <algorithm>
#include <bit>
#include <compare>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "src/settings/NumberScan.h"

namespace {

// What one read into a 256-byte line buffer takes: 255 bytes at most, through the first LF.
constexpr std::size_t LinePieceLimit = 255;
constexpr char CtrlZ = '\x1A';

// The first byte in [from, to) that is one of `Targets`, or `to`. Sixteen bytes at a
// time where SSE2 is there (every x86 target we build for), since a settings line is
// mostly bytes that are none of them.
template <char... Targets>
std::size_t FindAny(const char* text, std::size_t from, std::size_t to) {
    std::size_t i = from;
#if defined(__SSE2__)
    for (; i + 16 <= to; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        __m128i hits = _mm_setzero_si128();
        ((hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, _mm_set1_epi8(Targets)))), ...);
        if (const int mask = _mm_movemask_epi8(hits); mask != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
        }
    }
#endif
    while (i < to && ((text[i] != Targets) && ...)) ++i;
    return i;
}

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// What a value loses at its end: blanks and line-end characters.
constexpr bool IsValueTrailer(char c) { return IsBlank(c) || c == '\r' || c == '\n'; }

SettingsMap::KeyHead HeadOf(std::string_view key) {
    static_assert(std::endian::native == std::endian::little, "loads are byte-swapped to big-endian");
    // Overlapping loads, so that no byte beyond the key is read and no library call is made.
    const char* const bytes = key.data();
    const std::size_t size = key.size();
    const auto load64 = [bytes](std::size_t at) {
        std::uint64_t word;
        std::memcpy(&word, bytes + at, 8);
        return __builtin_bswap64(word);
    };
    const auto load32 = [bytes](std::size_t at) {
        std::uint32_t word;
        std::memcpy(&word, bytes + at, 4);
        return std::uint64_t{__builtin_bswap32(word)};
    };
    if (size >= 16) return {load64(0), load64(8)};
    if (size > 8) return {load64(0), load64(size - 8) << (8 * (16 - size))};
    if (size >= 4) return {(load32(0) << 32) | (load32(size - 4) << (8 * (8 - size))), 0};
    std::uint64_t high = 0;
    for (std::size_t i = 0; i < size; ++i) high |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (56 - 8 * i);
    return {high, 0};
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

// Where a key's entry is looked for first in a table of 2^k slots.
std::uint32_t HashOf(const SettingsMap::KeyHead& head, std::size_t size) {
    const std::uint64_t mixed = (head.high * 0x9E3779B97F4A7C15u) ^ ((head.low + size) * 0xC2B2AE3D27D4EB4Fu);
    return static_cast<std::uint32_t>(mixed >> 32) ^ static_cast<std::uint32_t>(mixed);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

SettingsMap::SettingsMap(FileBytes fileBytes)
    : bytes(std::move(fileBytes)),
      arena(bytes.data.get() + bytes.size, bytes.capacity - bytes.size),
      heads(&arena),
      entries(&arena),
      slots(&arena),
      sorted(&arena) {
    const char* const text = bytes.data.get();
    std::size_t size = bytes.size;  // until a Ctrl-Z ends the file
    heads.reserve(64);
    entries.reserve(64);
    slots.assign(128, 0);

    // One pass over each piece finds its first "=" and where its text ends. Pieces are cut
    // as in the translated stream, where a CR LF pair is one LF: that CR only stands right
    // before the LF that ends a line, and a value's trailing CRs are removed anyway, so each
    // piece is parsed in place from the raw bytes.
    std::size_t at = 0;
    while (at < size) {
        const std::size_t limit = std::min(size, at + LinePieceLimit);
        std::size_t equals = limit;
        std::size_t stop = FindAny<'\n', '\0', CtrlZ, '='>(text, at, limit);
        if (stop < limit && text[stop] == '=') {
            equals = stop;
            stop = FindAny<'\n', '\0', CtrlZ>(text, stop + 1, limit);
        }
        // A NUL ends the line's text, not the piece: that ends at the LF.
        const std::size_t lf = stop < limit && text[stop] == '\0' ? FindAny<'\n', CtrlZ>(text, stop, limit) : stop;
        std::size_t end = lf;
        if (lf < limit && text[lf] == CtrlZ) {
            size = lf;
        } else if (lf < limit) {
            end = lf + 1;
        } else if (end < size && text[end - 1] == '\r' && text[end] == '\n') {
            ++end;
        }
        const std::string_view line(text + at, stop - at);
        if (equals < stop) {
            std::size_t start = 0;
            while (IsBlank(line[start])) ++start;  // stops at the "=" at the latest
            if (line[start] != '#' && line[start] != ';') {
                std::size_t keyEnd = equals - at;
                while (keyEnd > start && IsBlank(line[keyEnd - 1])) --keyEnd;
                std::size_t valueStart = equals - at + 1;
                while (valueStart < line.size() && IsBlank(line[valueStart])) ++valueStart;
                std::size_t valueEnd = line.size();
                while (valueEnd > valueStart && IsValueTrailer(line[valueEnd - 1])) --valueEnd;
                store(line.substr(start, keyEnd - start), line.substr(valueStart, valueEnd - valueStart));
            }
        }
        at = end;
    }
}

std::uint32_t& SettingsMap::slotOf(const KeyHead& head, std::string_view key) const {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t slot = HashOf(head, key.size()) & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t index = slots[slot];
        if (index == 0) return slots[slot];
        if (CompareKeys(heads[index - 1], entries[index - 1].first, head, key) == 0) return slots[slot];
    }
}

void SettingsMap::store(std::string_view key, std::string_view value) {
    const KeyHead head = HeadOf(key);
    std::uint32_t& slot = slotOf(head, key);
    if (slot != 0) {
        entries[slot - 1].second = value;  // the later entry wins
        return;
    }
    heads.push_back(head);
    entries.emplace_back(key, value);
    slot = static_cast<std::uint32_t>(entries.size());
    if (entries.size() * 2 > slots.size()) {  // keep the table at most half full
        slots.assign(slots.size() * 2, 0);
        for (std::size_t i = 0; i < entries.size(); ++i) slotOf(heads[i], entries[i].first) = static_cast<std::uint32_t>(i + 1);
    }
}

std::optional<std::string_view> SettingsMap::lookup(std::string_view key) const {
    const std::uint32_t slot = slotOf(HeadOf(key), key);
    if (slot == 0) return std::nullopt;
    return entries[slot - 1].second;
}

const std::pmr::vector<SettingsMap::Entry>& SettingsMap::ordered() const {
    if (!isSorted) {
        std::pmr::vector<std::uint32_t> order(entries.size(), sorted.get_allocator());
        for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return CompareKeys(heads[a], entries[a].first, heads[b], entries[b].first) < 0;
        });
        sorted.reserve(order.size());
        for (const std::uint32_t i : order) sorted.push_back(entries[i]);
        isSorted = true;
    }
    return sorted;
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
