// SPDX-License-Identifier: MIT
// The multicast event: order, references, subscriptions (also mid-raise), errors.
#include "cabinet/event.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(Event, CallsListenersInOrderAndEachSeesWhatTheOneBeforeSet) {
    cabinet::Event<bool&> event;
    std::string calls;
    event.Subscribe([&](bool& cancel) {
        calls += "first ";
        cancel = true;
    });
    const auto second = event.Subscribe([&](bool& cancel) { calls += cancel ? "second(cancel) " : "second "; });
    event.Subscribe([&](bool& cancel) {
        calls += "third ";
        cancel = false;
    });
    bool cancel = false;
    event.Raise(cancel);
    EXPECT_EQ(calls, "first second(cancel) third ");
    EXPECT_FALSE(cancel);  // what the last listener left
    event.Unsubscribe(second);
    event.Unsubscribe(second);  // gone already: nothing happens
    calls.clear();
    event.Raise(cancel);
    EXPECT_EQ(calls, "first third ");
}

// A raise calls the listeners of its start that are still subscribed at
// their turn: one added during it is heard from the next raise on, one
// removed during it is not called again, not even by that raise.
TEST(Event, ARaiseCallsTheListenersOfItsStartThatAreStillSubscribed) {
    cabinet::Event<> event;
    std::string calls;
    cabinet::Event<>::Subscription late = 0, third = 0;
    event.Subscribe([&] {
        calls += "first ";
        late = late != 0 ? late : event.Subscribe([&] { calls += "late "; });
    });
    const auto second = event.Subscribe([&] {
        calls += "second ";
        event.Unsubscribe(third);
    });
    third = event.Subscribe([&] { calls += "third "; });
    event.Subscribe([&] {
        calls += "fourth ";
        event.Unsubscribe(second);  // itself called already
    });
    event.Raise();
    EXPECT_EQ(calls, "first second fourth ");
    calls.clear();
    event.Raise();
    EXPECT_EQ(calls, "first fourth late ");
}

TEST(Event, AListenersErrorReachesTheRaiserAndStopsTheRest) {
    cabinet::Event<int> event;
    int heard = 0;
    event.Subscribe([](int) { throw std::runtime_error("listener failed"); });
    event.Subscribe([&](int value) { heard = value; });
    EXPECT_THROW(event.Raise(7), std::runtime_error);
    EXPECT_EQ(heard, 0);
}

}  // namespace
