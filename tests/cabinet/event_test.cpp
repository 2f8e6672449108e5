// The multicast event: order, arguments by reference, subscribing and
// unsubscribing, also while it is being raised, and errors from listeners.
#include "cabinet/event.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using cabinet::Event;

namespace {

TEST(Event, CallsListenersInSubscriptionOrderSharingReferenceArguments) {
    Event<const std::string&, bool&> event;
    std::string calls;
    event.Subscribe([&](const std::string& name, bool& cancel) {
        calls += "first(" + name + ") ";
        cancel = true;
    });
    const auto second =
        event.Subscribe([&](const std::string&, bool& cancel) { calls += cancel ? "second saw cancel " : "second "; });
    event.Subscribe([&](const std::string&, bool& cancel) { cancel = false; });
    bool cancel = false;
    event.Raise("a.txt", cancel);
    EXPECT_EQ(calls, "first(a.txt) second saw cancel ");
    EXPECT_FALSE(cancel);  // the value after the last listener

    calls.clear();
    event.Unsubscribe(second);
    event.Unsubscribe(second);  // gone already: nothing happens
    event.Raise("b.txt", cancel);
    EXPECT_EQ(calls, "first(b.txt) ");
}

TEST(Event, ARaiseCallsTheListenersSubscribedWhenItStarted) {
    Event<> event;
    std::string calls;
    Event<>::Subscription late = 0, second = 0;
    const auto first = event.Subscribe([&] {
        calls += "first ";
        if (late == 0) {
            late = event.Subscribe([&] { calls += "late "; });
        }
        event.Unsubscribe(second);
    });
    second = event.Subscribe([&] {
        calls += "second ";
        event.Unsubscribe(first);
        event.Unsubscribe(second);  // itself
    });
    // Added during the raise: heard from the next one on. Removed during the
    // raise: still called in it, not afterwards.
    event.Raise();
    EXPECT_EQ(calls, "first second ");
    calls.clear();
    event.Raise();
    EXPECT_EQ(calls, "late ");
}

TEST(Event, AListenersErrorComesBackToTheRaiserAndStopsTheRest) {
    Event<int> event;
    int heard = 0;
    event.Subscribe([](int) { throw std::runtime_error("listener failed"); });
    event.Subscribe([&](int value) { heard = value; });
    EXPECT_THROW(event.Raise(7), std::runtime_error);
    EXPECT_EQ(heard, 0);
}

}  // namespace
