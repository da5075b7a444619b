// The settings file: plain "key = value" lines, no sections, "#" and ";" comments.
#pragma once

#include <cstddef>
#include <compare>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// A file's bytes as they stand on disk, read whole, in a buffer that may be larger.
struct FileBytes {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    std::size_t capacity = 0;

    std::string_view view() const { return {data.get(), size}; }
};

// An ordered map from key to value, both the file's bytes as they stand. Keys compare
// exactly, byte by byte as unsigned values, a prefix first; a later entry with the same
// key replaces the earlier one. The map keeps the file's bytes, and its keys and values
// are views of them. Exact lookups go through a hash table built while the file is read;
// the key order is only worked out when asked for (iteration), which the
// plug-in's own reading never does. Everything lives in an arena that starts in the file
// buffer's unused tail, so an ordinary file costs no allocation beyond its buffer.
// Returned by value, it is never moved (the copy is elided), so it can hold its arena in
// place. Like each run's own map, it is not for use by several threads at once.
class SettingsMap {
public:
    using Entry = std::pair<std::string_view, std::string_view>;
    using const_iterator = const Entry*;

    // Parses a settings file's raw bytes, text-mode translation included (see
    // ReadSettingsFile). Each line is handled in pieces of at most 255 bytes, as a
    // 256-byte line buffer reads it.
    explicit SettingsMap(FileBytes fileBytes);
    SettingsMap(const SettingsMap&) = delete;
    SettingsMap& operator=(const SettingsMap&) = delete;

    // The value under exactly `key`, if there is one.
    std::optional<std::string_view> lookup(std::string_view key) const;

    // All entries, in key order.
    const_iterator begin() const { return ordered().data(); }
    const_iterator end() const { return ordered().data() + ordered().size(); }
    std::size_t size() const { return entries.size(); }
    bool empty() const { return entries.empty(); }

    // A key's first sixteen bytes as two big-endian numbers, zero-padded: compared as
    // numbers they order keys as their bytes do (keys hold no NUL).
    struct KeyHead {
        std::uint64_t high;
        std::uint64_t low;
        auto operator<=>(const KeyHead&) const = default;
    };

private:
    // The entry of `key`, or the free slot where it would go.
    std::uint32_t& slotOf(const KeyHead& head, std::string_view key) const;
    void store(std::string_view key, std::string_view value);
    const std::pmr::vector<Entry>& ordered() const;

    FileBytes bytes;  // what the keys and values view
    std::pmr::monotonic_buffer_resource arena;  // outlives the arrays below
    std::pmr::vector<KeyHead> heads;  // heads[i] belongs to entries[i]
    std::pmr::vector<Entry> entries;  // one per key, in order of first appearance
    mutable std::pmr::vector<std::uint32_t> slots;  // entry index + 1, or 0; a power of two long
    mutable std::pmr::vector<Entry> sorted;  // the entries in key order, once asked for
    mutable bool isSorted = false;
};

// Opens, reads and closes the file at `path` in one go; no bytes when it cannot be opened
// or read, and what came before a read error otherwise.
FileBytes ReadWholeFile(const char* path);

// Reads the whole file at `path` as the C runtime's text mode would present it (CR LF as
// LF, a lone CR kept, Ctrl-Z ending the file) and parses it. A file that cannot be
// opened or read, or a folder, gives an empty map. Nothing is reported.
SettingsMap ReadSettingsFile(const char* path);

// Parses a copy of a settings file's raw bytes, as SettingsMap does.
SettingsMap ParseSettingsText(std::string_view fileBytes);

// The value under `key` converted as atof does ("." as decimal point whatever the
// locale), narrowed to float; `defaultValue` when the key is absent, 0 when the value is
// no number.
float GetFloatSetting(const SettingsMap& settings, const char* key, float defaultValue);
