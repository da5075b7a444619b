// Executable files made up for the checker's tests: just enough of a 32-bit Windows
// executable for the checker to read the game's build from it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "host/HostGame.h"

// A 32-bit executable with one section mapping [rva, rva + raw) from the file, plus `extra`
// zero-filled bytes the file does not hold.
inline std::string Executable(std::uint32_t sectionRva, const std::string& raw, std::uint32_t extra = 0, std::uint16_t magic = 0x10B) {
    std::string file(0x200, '\0');
    auto put16 = [&](std::size_t at, std::uint16_t v) { file[at] = char(v); file[at + 1] = char(v >> 8); };
    auto put32 = [&](std::size_t at, std::uint32_t v) { put16(at, std::uint16_t(v)); put16(at + 2, std::uint16_t(v >> 16)); };
    put16(0, 0x5A4D);
    put32(0x3C, 0x40);
    put32(0x40, 0x00004550);
    put16(0x44, 0x14C);  // i386
    put16(0x46, 1);      // one section
    put16(0x54, 0xE0);   // optional header size
    put16(0x58, magic);
    const std::size_t section = 0x58 + 0xE0;
    std::memcpy(&file[section], ".text", 5);
    put32(section + 8, std::uint32_t(raw.size()) + extra);
    put32(section + 12, sectionRva);
    put32(section + 16, std::uint32_t(raw.size()));
    put32(section + 20, 0x200);
    return file + raw;
}

// An executable that the checker takes for build `version` of the game: the build's
// signature at its probe, as the file maps it.
inline std::string SupportedGame(HostVersion version) {
    const HostAddress probe = Host::BuildOf(version)->probe;
    const std::uint32_t rva = (probe - Host::PreferredBase) & ~0xFFFu;
    return Executable(rva, std::string(probe - Host::PreferredBase - rva, '\xCC') + std::string("\x55\x89\xE5\x53", 4));
}
