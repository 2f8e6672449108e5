// The Callback module's registration slot and the handler the setup library
// calls: it forwards each notification to the object that started the walk.
#include "cabinet/callback.h"

#include "cabinet/cab_file.h"
#include "platform/kernel.h"
#include "platform/setupapi.h"

#include <exception>

namespace cabinet::Callback {

namespace {

std::shared_ptr<CabFile> activeCabFile;

// An error raised while a notification was handled. It must not unwind
// through the setup library's frames, so it waits here until the walk has
// returned.
std::exception_ptr parkedError;

// The answer that ends a walk at once for each notification that can carry
// a raised error back.
uint32_t AnswerThatEndsTheWalk(uint32_t notification) {
    return notification == platform::SPFILENOTIFY_FILEINCABINET ? platform::FILEOP_ABORT
                                                                 : platform::ERROR_GEN_FAILURE;
}

}  // namespace

std::shared_ptr<CabFile> ActiveCabFile() { return activeCabFile; }

void SetActiveCabFile(std::shared_ptr<CabFile> cabFile) { activeCabFile = std::move(cabFile); }

uint32_t CabFileCallback(void* Context, uint32_t Notification, uintptr_t Param1, uintptr_t Param2) {
    if (!activeCabFile) {
        return 0;
    }
    if (parkedError) {
        // The service went on after being told to stop; keep it stopping.
        return AnswerThatEndsTheWalk(Notification);
    }
    try {
        const auto mode = static_cast<int32_t>(reinterpret_cast<intptr_t>(Context));
        return activeCabFile->CabCallBack(mode, Notification, Param1, Param2);
    } catch (...) {
        parkedError = std::current_exception();
        return AnswerThatEndsTheWalk(Notification);
    }
}

void DiscardParkedError() { parkedError = nullptr; }

void TakeParkedError() {
    if (parkedError) {
        std::exception_ptr error = std::exchange(parkedError, nullptr);
        std::rethrow_exception(error);
    }
}

}  // namespace cabinet::Callback
