// A program that links AllocationCount.cpp counts every allocation made through the global
// operator new, so that a test can show a stretch of code makes none.
#pragma once

namespace AllocationCount {

// How many times operator new has run in this program so far.
long SoFar();

}  // namespace AllocationCount
