// A program that links AllocationPeak.cpp keeps count of the bytes it holds through the
// global operator new, so that a test can show how much a stretch of code needs at most.
#pragma once

#include <cstddef>

namespace AllocationPeak {

// Bytes allocated through operator new and not yet freed.
std::size_t Live();

// The most bytes live at once since the last Restart.
std::size_t Peak();

// Starts a new peak from what is live now.
void Restart();

}  // namespace AllocationPeak
