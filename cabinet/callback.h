// The bridge from the setup library's cabinet callback to the CabFile that
// started the walk.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_set>

namespace cabinet {

class CabFile;
enum class IterationMode : int32_t;

namespace Callback {

// The object that started the latest walk: replaced by each registration and
// never cleared, so the object lives at least until the next walk begins.
std::shared_ptr<CabFile> ActiveCabFile();
void SetActiveCabFile(std::shared_ptr<CabFile> cabFile);

// One walk's own record, handed to the service as the walk's Context: the
// object that started the walk, what the walk is for, an error a handler
// raised, parked here because it must not unwind through the service's
// frames (the object raises it again once the service has returned), and
// the folders the walk has made or found there, which it need not try again.
struct WalkContext {
    CabFile* cabFile = nullptr;
    IterationMode mode{};
    std::exception_ptr parkedError;
    std::unordered_set<std::u16string> confirmedFolders;
};

// The handler given to SetupIterateCabinetA, with a WalkContext as Context:
// forwards each notification to the record's object and answers what it
// gives. Answers 0 and does nothing while no object is registered. A raised
// error never leaves it: it is parked in the record and the walk is told to
// end, and told again should the service go on.
uint32_t CabFileCallback(void* Context, uint32_t Notification, uintptr_t Param1, uintptr_t Param2) noexcept;

}  // namespace Callback
}  // namespace cabinet
