// How both front ends run one of the window's event handlers: a raised error
// that leaves the handler, running out of memory or any other exception is
// not the handler's to trap; it becomes the runtime's report, after which the
// program ends. Nothing unwinds further, into the window system's frames.
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
// ... and for a failure it has no number of its own for.
inline constexpr int32_t kInternalErrorNumber = 51;
inline constexpr std::u16string_view kInternalErrorText = u"Internal error";

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
    } catch (...) {
        report(kInternalErrorNumber, kInternalErrorText);
    }
    return false;
}

}  // namespace app
