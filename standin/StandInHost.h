// A program that links this becomes the host: its image takes the host's code and
// data addresses (moved to wherever the program was loaded), with one build's signature
// and a working call site in place.
//
//   StandInHost::Become(110);                 // build 110, code back to execute-read
//   StandInHost::RunCallSite(110);            // runs the CALL at 0x600431 for real
//   StandInHost::CalleeCalls();               // how often the host's callee ran
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

#include "host/HostGame.h"

namespace StandInHost {

inline constexpr HostAddress PageSize = 0x1000;

constexpr HostAddress PageUp(HostAddress address) { return (address + PageSize - 1) & ~(PageSize - 1); }

constexpr HostAddress LastProbeEnd() {
    HostAddress end = 0;
    for (const Host::Build& build : Host::Builds) end = build.probe + 4 > end ? build.probe + 4 : end;
    return end;
}

// The host's code: every call site and probe. Execute-read between Become() calls.
inline constexpr HostAddress CodeBegin = 0x600000;
inline constexpr HostAddress CodeEnd = PageUp(LastProbeEnd());
// The host's writable data: the pickup settings. Stays read-write.
inline constexpr HostAddress DataBegin = Host::DataBegin & ~(PageSize - 1);
inline constexpr HostAddress DataEnd = PageUp(Host::DataEnd);

static_assert(CodeEnd <= DataBegin);

// Bytes at a build's probe when it is not the running build.
inline constexpr std::array<std::uint8_t, 4> NotSignature{0x55, 0x89, 0xE5, 0x52};
// An inactive build's call site: xor eax, eax and three NOPs in the 5 bytes, then ret.
// Callable, returns null, and holds no branch, so call_target() finds nothing there.
inline constexpr std::array<std::uint8_t, 6> InactiveSite{0x31, 0xC0, 0x90, 0x90, 0x90, 0xC3};

// The host's own callee: no arguments, C convention, a pointer-sized result.
void* __cdecl Callee();
// What Callee() returns.
void* CalleeResult();
int CalleeCalls();

[[noreturn]] void NoSuchBuild(HostVersion build);

// The table row of a supported build; aborts on any other id.
constexpr const Host::Build& BuildOf(HostVersion build) {
    const Host::Build* const found = Host::BuildOf(build);
    if (found == nullptr) NoSuchBuild(build);
    return *found;
}

// Rewrites the host's code range: filled with int3, the signature 55 89 E5 53 at the probe
// of `build` and 55 89 E5 52 at the others, and at the call site of `build` a CALL to
// Callee() followed by ret. The other builds' call sites get InactiveSite. Become(0) puts
// no signature anywhere. Afterwards the code range is execute-read.
void Become(HostVersion build);

// Calls the call site of `build` as a function: the CALL there runs, then the ret.
void* RunCallSite(HostVersion build);

std::array<std::uint8_t, 5> CallSiteBytes(HostVersion build);

// Protection of the page holding `address` (a PAGE_* value).
std::uint32_t ProtectionAt(HostAddress address);

// Whether this image's host section covers the code and data ranges at its real base.
bool CoversHost();

// The folder of the running executable, the host's: its plug-in and settings lie there.
std::filesystem::path HostFolder();

// The host's pickup data where it actually lies.
using ColorTableBytes = std::array<std::uint8_t, Host::Pickup::ColorTableSize>;
std::uint32_t FloatBitsAt(HostAddress address);
ColorTableBytes ColorTable();

}  // namespace StandInHost
