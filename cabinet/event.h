// SPDX-License-Identifier: MIT
// A multicast event: any number of listeners, called synchronously in the
// order they subscribed. An error a listener raises comes back to the raiser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>

namespace cabinet {

template <typename... Args>
class Event {
public:
    using Listener = std::function<void(Args...)>;
    using Subscription = uint64_t;

    Subscription Subscribe(Listener listener) {
        listeners_.push_back({++lastSubscription_, std::move(listener), false});
        return lastSubscription_;
    }

    // A listener removed while the event is raised is not called by that
    // raise from then on; it goes once no raise is running.
    void Unsubscribe(Subscription subscription) {
        for (Entry& entry : listeners_) {
            if (entry.subscription == subscription) {
                entry.removed = true;
            }
        }
        Sweep();
    }

    // Calls the listeners subscribed when raising starts and not removed
    // before their turn. Nothing is copied: a listener subscribed meanwhile
    // lands behind the ones this raise calls (a deque keeps the others where
    // they are), and one removed meanwhile stays in place until the raise ends.
    template <typename... Passed>
    void Raise(Passed&&... args) const {
        const std::size_t count = listeners_.size();
        ++raising_;
        struct Done {
            const Event& event;
            ~Done() {
                --event.raising_;
                event.Sweep();
            }
        } done{*this};
        for (std::size_t i = 0; i < count; ++i) {
            const Entry& entry = listeners_[i];
            if (!entry.removed) {
                entry.listener(args...);
            }
        }
    }

private:
    struct Entry {
        Subscription subscription;
        Listener listener;
        bool removed;
    };

    // Drops removed listeners, unless a raise is running over them.
    void Sweep() const {
        if (raising_ == 0) {
            std::erase_if(listeners_, [](const Entry& entry) { return entry.removed; });
        }
    }

    // Mutable so that a const raise can leave the removal of listeners
    // unsubscribed during it until it ends.
    mutable std::deque<Entry> listeners_;
    mutable int raising_ = 0;
    Subscription lastSubscription_ = 0;
};

}  // namespace cabinet
