// The test program's own image stands in for the host's memory: a section of its own,
// large enough to cover the host's code and data addresses, readable, writable and
// executable. It only lands there when the program is linked at the host's base.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/HostGame.h"

namespace HostImage {

// Whether [address, address + size) lies within the section.
bool Covers(HostAddress address, std::size_t size);

// Fills the whole range the plug-in writes with one byte, so that every byte written
// afterwards can be told from one left alone.
void FillData(std::uint8_t pattern);

}  // namespace HostImage
