#include "plugin/Event.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// An event with no references: its lists and dispatch work as any event's, and adding a
// listener installs nothing.
using TestEvent = plugin::BaseEventI<injector::function_hooker, plugin::RefList<>, plugin::ArgPick<plugin::ArgTypes<>>, void()>;

std::vector<std::string> trace;

void First() { trace.push_back("first"); }
void Second() { trace.push_back("second"); }

void* const CalleeResult = reinterpret_cast<void*>(0x1234);

// The rest of a call site's chain, as the hooking layer hands it over.
injector::HookContinuation Callee() {
    return [] {
        trace.push_back("callee");
        return CalleeResult;
    };
}

class Event : public testing::Test {
protected:
    void SetUp() override { trace.clear(); }
    TestEvent event;
};

TEST_F(Event, StoresAPlainFunctionOnceInEachList) {
    event.AddListener(event.after, First);
    event.AddListener(event.after, First);
    event.AddListener(event.before, First);
    event.AddListener(event.after, Second);
    EXPECT_EQ(2u, event.after.size());
    EXPECT_EQ(1u, event.before.size());
    EXPECT_TRUE(event.installed);
}

TEST_F(Event, NeverMergesOtherCallables) {
    const std::function<void()> lambda = [] { trace.push_back("lambda"); };
    event.AddListener(event.after, lambda);
    event.AddListener(event.after, lambda);
    event.AddListener(event.after, First);  // a plain function among lambdas is appended
    ASSERT_EQ(3u, event.after.size());
    EXPECT_EQ(CalleeResult, event.Dispatch(Callee()));
    EXPECT_EQ((std::vector<std::string>{"callee", "lambda", "lambda", "first"}), trace);
}

TEST_F(Event, RunsBeforeListenersThenTheCalleeThenAfterListenersInOrderOfAddition) {
    const auto named = [](std::string name) { return std::function<void()>([name] { trace.push_back(name); }); };
    event.AddListener(event.before, named("B1"));
    event.AddListener(event.before, named("B2"));
    event.AddListener(event.after, named("A1"));
    event.AddListener(event.after, named("A2"));
    event.AddListener(event.after, named("A3"));
    EXPECT_EQ(CalleeResult, event.Dispatch(Callee()));
    EXPECT_EQ((std::vector<std::string>{"B1", "B2", "callee", "A1", "A2", "A3"}), trace);
}

TEST_F(Event, RunsAListenerAppendedToTheListItWalksInTheSamePass) {
    event.AddListener(event.after, std::function<void()>([this] {
        trace.push_back("adder");
        event.AddListener(event.after, Second);
        event.AddListener(event.before, First);  // the other list: from the next dispatch on
    }));
    event.Dispatch(Callee());
    EXPECT_EQ((std::vector<std::string>{"callee", "adder", "second"}), trace);
    trace.clear();
    event.Dispatch(Callee());
    EXPECT_EQ((std::vector<std::string>{"first", "callee", "adder", "second"}), trace);
}

TEST_F(Event, CallsEachListenerThroughACopy) {
    int count = 0;
    event.AddListener(event.after, std::function<void()>([calls = 0, &count]() mutable { count = ++calls; }));
    event.Dispatch(Callee());
    event.Dispatch(Callee());
    EXPECT_EQ(1, count);  // the stored listener's own count never moves
}

TEST_F(Event, ReturnsTheCalleesResultWhateverTheListenersDo) {
    event.AddListener(event.before, std::function<void()>([] { trace.push_back("before"); }));
    const injector::HookContinuation other = [] { return reinterpret_cast<void*>(0x5678); };
    EXPECT_EQ(reinterpret_cast<void*>(0x5678), event.Dispatch(other));
}

TEST_F(Event, StopsAtAnEmptyListenerWithBadFunctionCall) {
    event.AddListener(event.before, std::function<void()>());
    event.AddListener(event.after, First);
    EXPECT_THROW(event.Dispatch(Callee()), std::bad_function_call);
    EXPECT_TRUE(trace.empty());  // the callee and the after listeners never ran
    EXPECT_THROW(TestEvent().Dispatch(injector::HookContinuation()), std::bad_function_call);
}

}  // namespace
