// SPDX-License-Identifier: MIT
// The bridge from the setup library's cabinet callback to the CabFile that
// started the walk.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

namespace cabinet {

class CabFile;
enum class IterationMode : int32_t;

namespace Callback {

// The object that started the latest walk: replaced by each registration and
// never cleared, so the object lives at least until the next walk begins.
std::shared_ptr<CabFile> ActiveCabFile();
void SetActiveCabFile(std::shared_ptr<CabFile> cabFile);

// An entry's date value and its general-date text, each worked out once per
// value in a walk: a cabinet's entries share a handful of DOS stamps, and
// working one out (local time, then the text in the user's locale) costs
// more than the rest of an entry's listing. The locale is the one of the
// walk's first date.
class EntryDates {
public:
    double value(uint16_t dosDate, uint16_t dosTime);
    std::u16string_view text(double date);

private:
    bool hasValue_ = false;
    uint32_t stamp_ = 0;
    double value_ = 0;
    bool hasText_ = false;
    double textOf_ = 0;
    std::u16string text_;
};

// One walk's own record, handed to the service as the walk's Context: the
// object that started the walk, what the walk is for, an error a handler
// raised, parked here because it must not unwind through the service's
// frames (the object raises it again once the service has returned), and
// the dates its entries share.
struct WalkContext {
    CabFile* cabFile = nullptr;
    IterationMode mode{};
    std::exception_ptr parkedError;
    EntryDates dates;
};

// The handler given to SetupIterateCabinetA, with a WalkContext as Context:
// forwards each notification to the record's object and answers what it
// gives. Answers 0 and does nothing while no object is registered. A raised
// error never leaves it: it is parked in the record and the walk is told to
// end, and told again should the service go on.
uint32_t CabFileCallback(void* Context, uint32_t Notification, uintptr_t Param1, uintptr_t Param2) noexcept;

}  // namespace Callback
}  // namespace cabinet
