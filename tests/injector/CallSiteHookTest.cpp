// Hooks on the stand-in host's call sites, run through the host's own CALL instruction.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "injector/hooking"
#include "injector/memory.h"
#include "tests/injector/AllocationCount.h"
#include "tests/standin/StandInFixture.h"

namespace {

using injector::HookCallback;
using injector::HookContinuation;
using StandInHost::Become;
using StandInHost::BuildOf;
using StandInHost::CalleeCalls;
using StandInHost::CalleeResult;
using StandInHost::CallSiteBytes;
using StandInHost::RunCallSite;
using Bytes5 = std::array<std::uint8_t, 5>;

template <HostVersion Version>
using HookOf = injector::function_hooker<injector::scoped_call, BuildOf(Version).callSite, void*()>;

template <HostVersion Version>
const typename HookOf<Version>::manager_type& ManagerOf() {
    return *HookOf<Version>::manager_type::instance();  // the static holder keeps it
}

constexpr HostVersion Running = 110;
using Hook = HookOf<Running>;

std::uint32_t AddressOf(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

// The CALL that leads the site of `Version` to its manager's entry point.
template <HostVersion Version>
Bytes5 PatchedBytes() {
    return injector::encode_call(AddressOf(injector::host_ptr(BuildOf(Version).callSite)),
                                 AddressOf(reinterpret_cast<void*>(&HookOf<Version>::manager_type::call_hooks)));
}

// A function of the test's own that the host's call can be turned to.
std::atomic<int> elsewhereCalls{0};
void* __cdecl Elsewhere() {
    elsewhereCalls.fetch_add(1);
    return &elsewhereCalls;
}

void* CalleeAddress() { return reinterpret_cast<void*>(&StandInHost::Callee); }

// What a callback returns when it does not hand on the callee's result.
void* Own(int n) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(0xB0B0 + n)); }

// Writes "name>" and "<name" into the trace around `continuations` calls of its continuation;
// returns the last continuation's result, or Own(0) without one.
HookCallback Traced(std::vector<std::string>& trace, const std::string& name, int continuations = 1) {
    return [&trace, name, continuations](HookContinuation next) {
        trace.push_back(name + ">");
        void* result = Own(0);
        for (int i = 0; i < continuations; ++i) result = next();
        trace.push_back("<" + name);
        return result;
    };
}

using Trace = std::vector<std::string>;

class CallSiteHookTest : public StandInHostTest {
protected:
    void SetUp() override {
        StandInHostTest::SetUp();
        Become(Running);
        original = CallSiteBytes(Running);
    }

    // Runs the host's call once: what it received, and how often the callee ran meanwhile.
    std::pair<void*, int> Run(HostVersion build = Running) {
        const int before = CalleeCalls();
        void* const result = RunCallSite(build);
        return {result, CalleeCalls() - before};
    }

    Bytes5 original;
};

using CallSiteHookDeathTest = CallSiteHookTest;

template <HostVersion Version>
void OneHookDivertsTheSiteOf() {
    SCOPED_TRACE(Version);
    Become(Version);
    const Bytes5 before = CallSiteBytes(Version);
    const auto& manager = ManagerOf<Version>();
    int runs = 0;
    {
        HookOf<Version> hook;
        EXPECT_EQ(before, CallSiteBytes(Version));  // constructing touches nothing
        hook.attach_callback([&runs](HookContinuation next) {
            ++runs;
            return next();
        });
        EXPECT_EQ(PatchedBytes<Version>(), CallSiteBytes(Version));
        EXPECT_EQ(static_cast<std::uint32_t>(PAGE_EXECUTE_READ), StandInHost::ProtectionAt(BuildOf(Version).callSite));
        EXPECT_EQ(CalleeAddress(), reinterpret_cast<void*>(manager.previous_target()));
        EXPECT_TRUE(manager.site_patched());
        EXPECT_TRUE(hook.attached());

        const int calls = CalleeCalls();
        EXPECT_EQ(CalleeResult(), RunCallSite(Version));
        EXPECT_EQ(calls + 1, CalleeCalls());
        EXPECT_EQ(1, runs);
    }
    EXPECT_EQ(before, CallSiteBytes(Version));
    EXPECT_FALSE(manager.site_patched());
    EXPECT_EQ(0u, manager.size());
    const int calls = CalleeCalls();
    EXPECT_EQ(CalleeResult(), RunCallSite(Version));
    EXPECT_EQ(calls + 1, CalleeCalls());
    EXPECT_EQ(1, runs);
}

TEST_F(CallSiteHookTest, OneHookLeadsEachBuildsCallThroughItsCallbackToTheCallee) {
    OneHookDivertsTheSiteOf<100>();
    OneHookDivertsTheSiteOf<110>();
    OneHookDivertsTheSiteOf<120>();
}

TEST_F(CallSiteHookTest, TheCallbackDecidesHowOftenTheCalleeRunsAndWhatTheHostGets) {
    struct Case {
        int continuations;
        void* received;
    };
    for (const Case& c : {Case{0, Own(0)}, Case{1, CalleeResult()}, Case{2, CalleeResult()}, Case{3, CalleeResult()}}) {
        SCOPED_TRACE(c.continuations);
        Trace trace;
        Hook hook;
        hook.attach_callback(Traced(trace, "E", c.continuations));
        EXPECT_EQ(std::make_pair(c.received, c.continuations), Run());
        EXPECT_EQ((Trace{"E>", "<E"}), trace);
    }
    EXPECT_EQ(original, CallSiteBytes(Running));
}

TEST_F(CallSiteHookTest, TheNewestCallbackIsOutermostAndEachContinuationRunsTheRestAgain) {
    struct Case {
        int outerContinuations;
        Trace trace;
        int calleeRuns;
    };
    const Case cases[] = {
        {0, {"E2>", "<E2"}, 0},
        {1, {"E2>", "E1>", "<E1", "<E2"}, 1},
        {2, {"E2>", "E1>", "<E1", "E1>", "<E1", "<E2"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outerContinuations);
        Trace trace;
        Hook first;
        Hook second;
        first.attach_callback(Traced(trace, "E1"));
        const auto& manager = ManagerOf<Running>();
        const auto previous = manager.previous_target();
        second.attach_callback(Traced(trace, "E2", c.outerContinuations));
        // Patched once, by the first: the second read nothing from the site.
        EXPECT_EQ(PatchedBytes<Running>(), CallSiteBytes(Running));
        EXPECT_EQ(previous, manager.previous_target());
        EXPECT_EQ(2u, manager.size());

        EXPECT_EQ(std::make_pair(c.outerContinuations ? CalleeResult() : Own(0), c.calleeRuns), Run());
        EXPECT_EQ(c.trace, trace);

        first.write_back();  // the older one goes: the site stays patched for the newer
        EXPECT_EQ(PatchedBytes<Running>(), CallSiteBytes(Running));
        trace.clear();
        Run();
        EXPECT_EQ((Trace{"E2>", "<E2"}), trace);

        second.write_back();
        EXPECT_EQ(original, CallSiteBytes(Running));
        EXPECT_EQ(std::make_pair(CalleeResult(), 1), Run());
    }
}

TEST_F(CallSiteHookTest, AttachingAgainThroughOneHookReplacesItsCallbackInPlace) {
    Trace trace;
    Hook first;
    Hook second;
    first.attach_callback(Traced(trace, "A"));
    second.attach_callback(Traced(trace, "B"));
    first.attach_callback(Traced(trace, "A2"));
    EXPECT_EQ(2u, ManagerOf<Running>().size());
    EXPECT_EQ(PatchedBytes<Running>(), CallSiteBytes(Running));
    Run();
    EXPECT_EQ((Trace{"B>", "A2>", "<A2", "<B"}), trace);
}

TEST_F(CallSiteHookTest, ACopyTakesTheEntryToTheNewestEndAndItsSourceLeavesNothingBehind) {
    Trace trace;
    auto first = std::make_unique<Hook>();
    Hook second;
    first->attach_callback(Traced(trace, "A"));
    second.attach_callback(Traced(trace, "B"));

    const Hook copy{*first};
    EXPECT_TRUE(copy.attached());
    EXPECT_EQ(2u, ManagerOf<Running>().size());
    EXPECT_EQ(PatchedBytes<Running>(), CallSiteBytes(Running));
    Run();
    EXPECT_EQ((Trace{"A>", "B>", "<B", "<A"}), trace);

    first.reset();
    EXPECT_EQ(2u, ManagerOf<Running>().size());
    EXPECT_EQ(PatchedBytes<Running>(), CallSiteBytes(Running));
    trace.clear();
    Run();
    EXPECT_EQ((Trace{"A>", "B>", "<B", "<A"}), trace);

    {
        const Hook never;
        const Hook copyOfNever{never};
    }
    EXPECT_EQ(2u, ManagerOf<Running>().size());
    EXPECT_EQ(PatchedBytes<Running>(), CallSiteBytes(Running));
}

TEST_F(CallSiteHookTest, WithdrawingTheLastCallbackRestoresTheSiteAndALaterAttachReadsItAfresh) {
    Trace trace;
    Hook hook;
    hook.attach_callback(Traced(trace, "E"));
    hook.write_back();
    EXPECT_FALSE(hook.attached());
    EXPECT_EQ(original, CallSiteBytes(Running));
    EXPECT_FALSE(ManagerOf<Running>().site_patched());
    EXPECT_EQ(std::make_pair(CalleeResult(), 1), Run());
    EXPECT_TRUE(trace.empty());
    hook.write_back();  // nothing left to withdraw
    EXPECT_EQ(original, CallSiteBytes(Running));

    // Meanwhile the host's call came to lead elsewhere: the next patch saves and follows that.
    void* const site = injector::host_ptr(BuildOf(Running).callSite);
    const int elsewhereBefore = elsewhereCalls.load();
    injector::place_call(site, reinterpret_cast<void*>(&Elsewhere));
    const Bytes5 moved = CallSiteBytes(Running);

    hook.attach_callback(Traced(trace, "E"));
    EXPECT_EQ(PatchedBytes<Running>(), CallSiteBytes(Running));
    EXPECT_EQ(&Elsewhere, ManagerOf<Running>().previous_target());
    EXPECT_EQ(std::make_pair(static_cast<void*>(&elsewhereCalls), 0), Run());
    EXPECT_EQ(elsewhereBefore + 1, elsewhereCalls.load());
    hook.write_back();
    EXPECT_EQ(moved, CallSiteBytes(Running));
}

TEST_F(CallSiteHookTest, WriteBackOfAnUnpatchedManagerWritesNothingEvenWithBytesSaved) {
    auto manager = Hook::manager_type::instance();
    void* const site = injector::host_ptr(BuildOf(Running).callSite);
    manager->capture(site, 5, true);
    const Bytes5 patched = injector::encode_call(AddressOf(site), AddressOf(CalleeAddress()) + 16);
    injector::write_bytes(site, patched.data(), patched.size(), true);
    manager->write_back();
    EXPECT_EQ(patched, CallSiteBytes(Running));

    // A hook patches over it and restores what it found; the manager holds nothing after.
    Hook hook;
    hook.attach_callback([](HookContinuation) { return Own(1); });
    EXPECT_EQ(PatchedBytes<Running>(), CallSiteBytes(Running));
    hook.write_back();
    EXPECT_EQ(patched, CallSiteBytes(Running));
}

// Build 100's site is inactive while 110 runs: its bytes hold no branch.
TEST_F(CallSiteHookTest, ASiteWithoutABranchIsPatchedAndItsContinuationReturnsNullWithoutACall) {
    const Bytes5 inactive = CallSiteBytes(100);
    int runs = 0;
    void* continued = Own(0);
    {
        HookOf<100> hook;
        hook.attach_callback([&](HookContinuation next) {
            ++runs;
            continued = next();
            return Own(1);
        });
        EXPECT_EQ(PatchedBytes<100>(), CallSiteBytes(100));
        EXPECT_EQ(nullptr, ManagerOf<100>().previous_target());
        EXPECT_EQ(std::make_pair(Own(1), 0), Run(100));
        EXPECT_EQ(1, runs);
        EXPECT_EQ(nullptr, continued);
    }
    EXPECT_EQ(inactive, CallSiteBytes(100));
    EXPECT_EQ(std::make_pair(static_cast<void*>(nullptr), 0), Run(100));  // xor eax, eax
}

TEST_F(CallSiteHookTest, ADispatchThroughOneEntryAllocatesNothing) {
    Hook hook;
    hook.attach_callback([](HookContinuation next) { return next(); });
    Run();  // first use of anything lazily made
    const long before = AllocationCount::SoFar();
    for (int i = 0; i < 3; ++i) RunCallSite(Running);
    EXPECT_EQ(before, AllocationCount::SoFar());
    EXPECT_EQ(std::make_pair(CalleeResult(), 1), Run());

    // The counter does see the chain built for two entries.
    Hook other;
    other.attach_callback([](HookContinuation next) { return next(); });
    const long twoBefore = AllocationCount::SoFar();
    EXPECT_EQ(std::make_pair(CalleeResult(), 1), Run());
    EXPECT_LT(twoBefore, AllocationCount::SoFar());
}

TEST_F(CallSiteHookTest, AHookWithdrawnDuringItsOwnDispatchFinishesItAndRestoresTheSite) {
    for (const int entries : {1, 2}) {
        SCOPED_TRACE(entries);
        Trace trace;
        Hook older;
        if (entries == 2) older.attach_callback(Traced(trace, "O"));
        Hook hook;
        Bytes5 duringDispatch{};
        hook.attach_callback([&, name = std::string("self")](HookContinuation next) {
            hook.write_back();
            older.write_back();
            duringDispatch = CallSiteBytes(Running);
            trace.push_back(name);  // the callback's own state is still there
            return next();
        });
        EXPECT_EQ(std::make_pair(CalleeResult(), 1), Run());
        EXPECT_EQ(original, duringDispatch);
        // A chain of copies still runs the older callback; a single entry has no other.
        EXPECT_EQ(entries == 2 ? (Trace{"self", "O>", "<O"}) : Trace{"self"}, trace);
        EXPECT_EQ(0u, ManagerOf<Running>().size());
        EXPECT_EQ(std::make_pair(CalleeResult(), 1), Run());
    }
}

TEST_F(CallSiteHookTest, ACallbackReplacedDuringItsDispatchRunsToItsEndAndTheNewOneRunsNext) {
    Trace trace;
    Hook hook;
    hook.attach_callback([&, name = std::string("old")](HookContinuation next) {
        hook.attach_callback(Traced(trace, "new"));
        trace.push_back(name);
        return next();
    });
    EXPECT_EQ(std::make_pair(CalleeResult(), 1), Run());
    EXPECT_EQ((Trace{"old"}), trace);
    EXPECT_EQ(1u, ManagerOf<Running>().size());
    EXPECT_EQ(std::make_pair(CalleeResult(), 1), Run());
    EXPECT_EQ((Trace{"old", "new>", "<new"}), trace);
}

TEST_F(CallSiteHookTest, ACopyMadeDuringADispatchTakesTheRunningEntryOver) {
    Trace trace;
    Hook hook;
    std::unique_ptr<Hook> copy;
    hook.attach_callback([&, name = std::string("E")](HookContinuation next) {
        if (!copy) copy = std::make_unique<Hook>(hook);
        trace.push_back(name);
        return next();
    });
    EXPECT_EQ(std::make_pair(CalleeResult(), 1), Run());
    EXPECT_EQ(std::make_pair(CalleeResult(), 1), Run());
    EXPECT_EQ((Trace{"E", "E"}), trace);
    hook.write_back();
    EXPECT_EQ(PatchedBytes<Running>(), CallSiteBytes(Running));
    copy.reset();
    EXPECT_EQ(original, CallSiteBytes(Running));
}

TEST_F(CallSiteHookDeathTest, AttachingAnEmptyCallbackIsACallerError) {
    Hook hook;
    EXPECT_DEATH(hook.attach_callback(HookCallback{}), "callback, file injector/hooking, line \\d+");
}

}  // namespace
