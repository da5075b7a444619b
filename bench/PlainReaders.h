// What the settings reader is measured against, written here rather than taken from it:
// the floor of opening, reading and closing a file, and a plain reader that takes the file
// as a 256-byte line buffer would (fgets) into a std::map.
#pragma once

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

// Opens the file, reads it whole into a buffer of this benchmark and closes it; the bytes read.
inline std::size_t OpenReadClose(const char* path) {
    static std::array<char, 16384> buffer;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return 0;
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::size_t total = 0;
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) total += got;
    std::fclose(file);
    return total;
}

// Each line through fgets, trimmed as the settings format says, into a std::map.
inline std::map<std::string, std::string> PlainMapRead(const char* path) {
    std::map<std::string, std::string> entries;
    std::FILE* file = std::fopen(path, "r");
    if (!file) return entries;
    char line[256];
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (std::fgets(line, sizeof line, file)) {
        const char* start = line;
        while (blank(*start)) ++start;
        if (*start == '\0' || *start == '\n' || *start == '#' || *start == ';') continue;
        const char* equals = std::strchr(start, '=');
        if (!equals) continue;
        const char* keyEnd = equals;
        while (keyEnd > start && blank(keyEnd[-1])) --keyEnd;
        const char* value = equals + 1;
        while (blank(*value)) ++value;
        const char* valueEnd = value + std::strlen(value);
        while (valueEnd > value && (blank(valueEnd[-1]) || valueEnd[-1] == '\r' || valueEnd[-1] == '\n')) --valueEnd;
        entries[std::string(start, keyEnd)] = std::string(value, valueEnd);
    }
    std::fclose(file);
    return entries;
}
