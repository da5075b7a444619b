// The host's call site restored and patched again, over and over, while two threads run it.
// Every store must land whole: a thread that met a displacement half written would call an
// address made of two targets' bytes, and crash or get something other than the callee's
// result. This shows that the stores land whole; it cannot prove what another core fetches.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "injector/hooking"
#include "injector/memory.h"
#include "tests/standin/StandInFixture.h"

namespace {

using Bytes5 = std::array<std::uint8_t, 5>;

constexpr HostVersion Running = 110;
constexpr HostAddress Site = StandInHost::BuildOf(Running).callSite;
constexpr int Flips = 100'000;

using Hook = injector::function_hooker<injector::scoped_call, Site, void*()>;

std::uint32_t AddressOf(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

bool DiffersInEveryByte(std::uint32_t a, std::uint32_t b) {
    for (int shift = 0; shift < 32; shift += 8) {
        if (((a >> shift) & 0xFF) == ((b >> shift) & 0xFF)) return false;
    }
    return true;
}

// The host's callee as the race sees it: a stub that jumps on to the stand-in's callee, put
// where the CALL's displacement to it differs in every byte from the displacement to the
// hook's entry point. So any mix of the two leads neither to the stub nor to the entry point.
// (The stand-in's callee lies near the entry point in the same image: their displacements
// share their upper bytes, and a store split in halves would go unnoticed.)
class FarCallee {
public:
    FarCallee(const void* site, const void* entryPoint) {
        const std::uint32_t end = AddressOf(site) + sizeof(injector::call_rel32);
        const std::uint32_t hooked = AddressOf(entryPoint) - end;
        const std::uint32_t low = (end + ~hooked) & 0xFFFF;  // the displacement's low half: ~hooked's
        for (std::uint32_t region = 0x10000000; region < 0x70000000 && !stub_; region += 0x01010000) {
            if (!DiffersInEveryByte(region + low - end, hooked)) continue;
            region_ = static_cast<std::uint8_t*>(VirtualAlloc(reinterpret_cast<void*>(region), 0x20000,
                                                              MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
            if (region_) stub_ = region_ + low;
        }
        if (!stub_) return;
        // mov eax, Callee; jmp eax
        const std::uint32_t callee = AddressOf(reinterpret_cast<const void*>(&StandInHost::Callee));
        const std::uint8_t code[] = {0xB8,
                                     static_cast<std::uint8_t>(callee),
                                     static_cast<std::uint8_t>(callee >> 8),
                                     static_cast<std::uint8_t>(callee >> 16),
                                     static_cast<std::uint8_t>(callee >> 24),
                                     0xFF,
                                     0xE0};
        std::copy(std::begin(code), std::end(code), stub_);
        FlushInstructionCache(GetCurrentProcess(), stub_, sizeof code);
    }
    ~FarCallee() {
        if (region_) VirtualFree(region_, 0, MEM_RELEASE);
    }
    FarCallee(const FarCallee&) = delete;
    FarCallee& operator=(const FarCallee&) = delete;

    void* address() const { return stub_; }

private:
    std::uint8_t* region_ = nullptr;
    std::uint8_t* stub_ = nullptr;
};

// One thread running the host's call until told to stop.
struct alignas(64) Runner {
    std::atomic<bool>* stop;
    // 64 bits: on a slow machine the threads make billions of calls while the site flips.
    std::atomic<std::uint64_t> calls{0};
    std::atomic<std::uint64_t> wrongResults{0};

    static DWORD WINAPI Run(void* self) {
        Runner& runner = *static_cast<Runner*>(self);
        while (!runner.stop->load(std::memory_order_relaxed)) {
            if (StandInHost::RunCallSite(Running) != StandInHost::CalleeResult()) {
                runner.wrongResults.fetch_add(1, std::memory_order_relaxed);
            }
            runner.calls.fetch_add(1, std::memory_order_relaxed);
        }
        return 0;
    }
};

// A thread that died on a torn call says where it went before the process ends.
LONG WINAPI ReportFault(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_ILLEGAL_INSTRUCTION || code == EXCEPTION_BREAKPOINT ||
        code == EXCEPTION_PRIV_INSTRUCTION) {
        std::fprintf(stderr, "patch race: exception %08lx at %p while the site was being flipped\n",
                     static_cast<unsigned long>(code), info->ExceptionRecord->ExceptionAddress);
        std::fflush(stderr);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

class PatchRaceTest : public StandInHostTest {};

TEST_F(PatchRaceTest, ThreadsRunningTheSiteWhileItIsRestoredAndPatchedAgainAlwaysReachTheCallee) {
    StandInHost::Become(Running);
    void* const site = injector::host_ptr(Site);
    void* const entryPoint = reinterpret_cast<void*>(&Hook::manager_type::call_hooks);
    const FarCallee callee{site, entryPoint};
    ASSERT_NE(nullptr, callee.address()) << "no free memory where the far callee must go";

    // Put back at the end, while the far callee is still there: the stand-in's own call.
    injector::scoped_call standIn;
    standIn.capture(site, sizeof(Bytes5), true);
    injector::place_call(site, callee.address());
    const Bytes5 hostBytes = StandInHost::CallSiteBytes(Running);

    // The host's own bytes, held the way the hook's manager holds them.
    injector::scoped_call host;
    host.capture(site, sizeof(Bytes5), true);

    std::atomic<std::uint64_t> hooked{0};
    Hook hook;
    hook.attach_callback([&hooked](injector::HookContinuation next) {
        hooked.fetch_add(1, std::memory_order_relaxed);
        return next();
    });
    ASSERT_EQ(callee.address(), reinterpret_cast<void*>(Hook::manager_type::instance()->previous_target()));

    std::atomic<bool> stop{false};
    Runner runners[2]{{&stop}, {&stop}};
    HANDLE threads[2];
    const auto calleeRunsBefore = static_cast<std::uint32_t>(StandInHost::CalleeCalls());
    for (int i = 0; i < 2; ++i) {
        threads[i] = CreateThread(nullptr, 0, &Runner::Run, &runners[i], 0, nullptr);
        ASSERT_NE(nullptr, threads[i]);
    }
    for (const Runner& runner : runners) {
        while (runner.calls.load() == 0) Sleep(0);
    }

    void* const handler = AddVectoredExceptionHandler(1, &ReportFault);
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < Flips; ++i) {
        host.write_back();                             // the host's own call: straight to the callee
        host.capture(site, sizeof(Bytes5), true);      // saved again, as a hook saves them
        injector::place_call(site, entryPoint);        // and through the hook once more
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    stop = true;
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    RemoveVectoredExceptionHandler(handler);
    for (HANDLE thread : threads) CloseHandle(thread);

    std::uint64_t calls = 0;
    for (const Runner& runner : runners) {
        EXPECT_EQ(0u, runner.wrongResults.load()) << "calls that returned something other than the callee's value";
        calls += runner.calls.load();
    }
    // The stand-in counts its callee's runs in 32 bits: compared modulo 2^32.
    EXPECT_EQ(static_cast<std::uint32_t>(calls), static_cast<std::uint32_t>(StandInHost::CalleeCalls()) - calleeRunsBefore)
        << "every call runs the callee exactly once";
    EXPECT_GT(hooked.load(), 0) << "no call went through the hook";
    EXPECT_LT(hooked.load(), calls) << "no call met the host's own bytes";

    std::printf(
        "patch race at base 0x%lx: the site restored and patched again %d times in %lld ms; "
        "%llu calls by two threads, %llu of them through the hook\n",
        static_cast<unsigned long>(LinkedBase), Flips,
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()),
        static_cast<unsigned long long>(calls), static_cast<unsigned long long>(hooked.load()));
    if (std::getenv("GLIMMERWARD_IN_GUEST")) {
        std::printf(
            "patch race: this ran in an emulated machine, which makes it a weaker test: the emulator, not a "
            "processor, carries out the stores and the code the threads run\n");
    }
    std::fflush(stdout);

    hook.write_back();
    EXPECT_EQ(hostBytes, StandInHost::CallSiteBytes(Running));
}

}  // namespace
