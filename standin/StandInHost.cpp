#include "standin/StandInHost.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "injector/memory.h"
#include "standin/HostImage.h"

namespace StandInHost {

namespace {

std::atomic<int> calleeCalls{0};

// An address no allocation hands out, so a caller can tell the callee's result apart.
const std::uintptr_t CalleeResultValue = 0x5EED0C0D;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "stand-in host: %s\n", what);
    std::abort();
}

void Protect(HostAddress begin, HostAddress end, DWORD protection) {
    DWORD previous = 0;
    if (VirtualProtect(injector::host_ptr(begin), end - begin, protection, &previous) == 0) {
        Fail("cannot change the protection of the host's code");
    }
}

void Put(HostAddress address, const void* bytes, std::size_t size) {
    std::memcpy(injector::host_ptr(address), bytes, size);
}

}  // namespace

void* __cdecl Callee() {
    calleeCalls.fetch_add(1);
    return CalleeResult();
}

void* CalleeResult() { return reinterpret_cast<void*>(CalleeResultValue); }

int CalleeCalls() { return calleeCalls.load(); }

void NoSuchBuild(HostVersion build) {
    std::fprintf(stderr, "stand-in host: no build %d\n", static_cast<int>(build));
    std::abort();
}

void Become(HostVersion build) {
    if (build != Host::UnknownVersion) BuildOf(build);
    if (!CoversHost()) Fail("this program's image does not cover the host");

    Protect(CodeBegin, CodeEnd, PAGE_EXECUTE_READWRITE);
    // int3 everywhere else: a stray jump into the host traps instead of sliding along.
    std::memset(injector::host_ptr(CodeBegin), 0xCC, CodeEnd - CodeBegin);
    for (const Host::Build& each : Host::Builds) {
        if (each.version == build) {
            const std::uint32_t signature = Host::BuildSignature;
            Put(each.probe, &signature, sizeof signature);
            const auto call = injector::encode_call(
                static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(injector::host_ptr(each.callSite))),
                static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&Callee)));
            Put(each.callSite, call.data(), call.size());
            const std::uint8_t ret = 0xC3;
            Put(each.callSite + call.size(), &ret, 1);
        } else {
            Put(each.probe, NotSignature.data(), NotSignature.size());
            Put(each.callSite, InactiveSite.data(), InactiveSite.size());
        }
    }
    Protect(CodeBegin, CodeEnd, PAGE_EXECUTE_READ);
    FlushInstructionCache(GetCurrentProcess(), injector::host_ptr(CodeBegin), CodeEnd - CodeBegin);
}

void* RunCallSite(HostVersion build) {
    // Through a volatile pointer, so that the compiler cannot see what is being called.
    void* (*volatile site)() = reinterpret_cast<void* (*)()>(injector::host_ptr(BuildOf(build).callSite));
    return site();
}

std::array<std::uint8_t, 5> CallSiteBytes(HostVersion build) {
    std::array<std::uint8_t, 5> bytes;
    std::memcpy(bytes.data(), injector::host_ptr(BuildOf(build).callSite), bytes.size());
    return bytes;
}

std::uint32_t ProtectionAt(HostAddress address) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(injector::host_ptr(address), &info, sizeof info) != sizeof info) return 0;
    return info.Protect;
}

std::filesystem::path HostFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length == MAX_PATH) Fail("cannot tell the path of the running executable");
    return std::filesystem::path(path, path + length).parent_path();
}

bool CoversHost() { return HostImage::Covers(CodeBegin, DataEnd - CodeBegin); }

std::uint32_t FloatBitsAt(HostAddress address) {
    std::uint32_t bits;
    std::memcpy(&bits, injector::host_ptr(address), sizeof bits);
    return bits;
}

ColorTableBytes ColorTable() {
    ColorTableBytes table;
    std::memcpy(table.data(), injector::host_ptr(Host::Pickup::ColorTable), table.size());
    return table;
}

}  // namespace StandInHost
