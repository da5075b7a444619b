// The program's own image stands in for the host's memory: a section of its own,
// large enough to cover the host's code and data addresses, readable, writable and
// executable. Host addresses are moved to wherever the image was loaded, so it serves at
// any base as long as the section starts no later than the host's code (RVA 0x200000).
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/HostGame.h"

namespace HostImage {

// Whether the host range [address, address + size), moved to this image's base, lies
// within the section.
bool Covers(HostAddress address, std::size_t size);

// Fills the whole range the plug-in writes with one byte, so that every byte written
// afterwards can be told from one left alone.
void FillData(std::uint8_t pattern);

}  // namespace HostImage
