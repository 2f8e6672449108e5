// A multicast event: any number of listeners, called synchronously in the
// order they subscribed. An error a listener raises comes back to the raiser.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace cabinet {

template <typename... Args>
class Event {
public:
    using Listener = std::function<void(Args...)>;
    using Subscription = uint64_t;

    Subscription Subscribe(Listener listener) {
        listeners_.emplace_back(++lastSubscription_, std::move(listener));
        return lastSubscription_;
    }

    void Unsubscribe(Subscription subscription) {
        std::erase_if(listeners_, [subscription](const auto& entry) { return entry.first == subscription; });
    }

    // Calls every listener subscribed when raising starts, even when one of
    // them subscribes or unsubscribes others meanwhile.
    template <typename... Passed>
    void Raise(Passed&&... args) const {
        const auto snapshot = listeners_;
        for (const auto& entry : snapshot) {
            entry.second(args...);
        }
    }

private:
    std::vector<std::pair<Subscription, Listener>> listeners_;
    Subscription lastSubscription_ = 0;
};

}  // namespace cabinet
