// The host event on the stand-in host's real call sites: installation by the first
// listener, and dispatch when the host executes the hooked call.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "plugin/CallSiteEvent.h"
#include "tests/standin/StandInFixture.h"

namespace {

std::vector<std::string> trace;
int depth = 0;

void Before() { trace.push_back("before"); }

// Makes the host execute the hooked call again from within a dispatch, once.
void AfterThatCallsTheHostAgain() {
    trace.push_back("after");
    if (depth == 0) {
        ++depth;
        trace.push_back(StandInHost::RunCallSite(120) == StandInHost::CalleeResult() ? "nested result" : "wrong result");
        --depth;
    }
}

using EventInHost = StandInHostTest;

TEST_F(EventInHost, TheFirstListenerHooksTheRunningBuildOnlyAndEveryCallDispatchesInFull) {
    StandInHost::Become(120);
    std::array<std::array<std::uint8_t, 5>, 3> original;
    for (std::size_t i = 0; i < 3; ++i) original[i] = StandInHost::CallSiteBytes(Host::Builds[i].version);

    // An event of the plug-in's own type, alive as long as the hook it installs.
    static plugin::CallSiteEventType event;
    event.AddListener(event.before, Before);  // the first addition, to `before`, installs the hook
    EXPECT_TRUE(event.installed);
    EXPECT_EQ(original[0], StandInHost::CallSiteBytes(100));
    EXPECT_EQ(original[1], StandInHost::CallSiteBytes(110));
    const auto hooked = StandInHost::CallSiteBytes(120);
    EXPECT_NE(original[2], hooked);

    event.AddListener(event.before, Before);  // a duplicate: nothing changes
    event.AddListener(event.after, AfterThatCallsTheHostAgain);
    EXPECT_EQ(1u, event.before.size());
    EXPECT_EQ(hooked, StandInHost::CallSiteBytes(120));  // installed once

    const int calls = StandInHost::CalleeCalls();
    EXPECT_EQ(StandInHost::CalleeResult(), StandInHost::RunCallSite(120));
    EXPECT_EQ(calls + 2, StandInHost::CalleeCalls());
    EXPECT_EQ((std::vector<std::string>{"before", "after", "before", "after", "nested result"}), trace);
}

}  // namespace
