// The bridge from the setup library's cabinet callback to the CabFile that
// started the walk.
#pragma once

#include <cstdint>
#include <memory>

namespace cabinet {

class CabFile;

namespace Callback {

// The object that started the latest walk: replaced by each registration and
// never cleared, so the object lives at least until the next walk begins.
std::shared_ptr<CabFile> ActiveCabFile();
void SetActiveCabFile(std::shared_ptr<CabFile> cabFile);

// The handler given to SetupIterateCabinetA. Context carries the walk's
// iteration mode. A raised error never leaves it towards the service: it is
// parked, the walk is ended, and TakeParkedError hands it back once the
// service has returned.
uint32_t CabFileCallback(void* Context, uint32_t Notification, uintptr_t Param1, uintptr_t Param2);

// Empties the slot before a walk begins: an error parked where no walk took
// it back (a notification after its walk, a service call that never
// returned) must not end a later walk or surface after it.
void DiscardParkedError();

// Rethrows the error a handler parked during the last walk, if any, and
// clears the slot.
void TakeParkedError();

}  // namespace Callback
}  // namespace cabinet
