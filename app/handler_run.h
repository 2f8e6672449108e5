// How both front ends run one of the window's event handlers: a raised error
// that leaves the handler, or running out of memory, is not the handler's to
// trap; it becomes the runtime's report, after which the program ends.
#pragma once

#include "platform/runtime.h"

#include <cstdint>
#include <functional>
#include <new>
#include <string_view>

namespace app {

// The runtime's number and text for running out of memory.
inline constexpr int32_t kOutOfMemoryNumber = 7;
inline constexpr std::u16string_view kOutOfMemoryText = u"Out of memory";

// Runs `handler`; an error that leaves it goes to `report` (number,
// description). Returns false when it did.
inline bool RunHandler(const std::function<void()>& handler,
                       const std::function<void(int32_t, std::u16string_view)>& report) {
    try {
        handler();
        return true;
    } catch (const platform::RaisedError& error) {
        report(error.Number(), error.Description());
    } catch (const std::bad_alloc&) {
        report(kOutOfMemoryNumber, kOutOfMemoryText);
    }
    return false;
}

}  // namespace app
