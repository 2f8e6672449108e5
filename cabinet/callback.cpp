// SPDX-License-Identifier: MIT
// The Callback module's registration slot and the handler the setup library
// calls: it forwards each notification to the object that started the walk.
#include "cabinet/callback.h"

#include "cabinet/cab_file.h"
#include "cabinet/conversions.h"
#include "platform/kernel.h"
#include "platform/runtime.h"
#include "platform/setupapi.h"

namespace cabinet::Callback {

namespace {

// The module's one piece of global state, because the class promises it:
// every operation registers its object here, the next registration replaces
// it and nothing clears it (so the object that walked last lives on), and the
// handler answers 0 while it is empty. All else a walk needs is in its record.
std::shared_ptr<CabFile> activeCabFile;

// The answer that ends a walk at once for each notification that can carry
// a raised error back.
uint32_t AnswerThatEndsTheWalk(uint32_t notification) {
    return notification == platform::SPFILENOTIFY_FILEINCABINET ? platform::FILEOP_ABORT : platform::ERROR_GEN_FAILURE;
}

}  // namespace

std::shared_ptr<CabFile> ActiveCabFile() { return activeCabFile; }

void SetActiveCabFile(std::shared_ptr<CabFile> cabFile) { activeCabFile = std::move(cabFile); }

uint32_t CabFileCallback(void* Context, uint32_t Notification, uintptr_t Param1, uintptr_t Param2) noexcept {
    auto* walk = static_cast<WalkContext*>(Context);
    if (!activeCabFile || walk == nullptr || walk->cabFile == nullptr) {
        return 0;
    }
    if (walk->parkedError) {
        // The service went on after being told to stop; keep it stopping.
        return AnswerThatEndsTheWalk(Notification);
    }
    try {
        return walk->cabFile->CabCallBack(static_cast<int32_t>(walk->mode), Notification, Param1, Param2);
    } catch (...) {
        walk->parkedError = std::current_exception();
        return AnswerThatEndsTheWalk(Notification);
    }
}

double EntryDates::value(uint16_t dosDate, uint16_t dosTime) {
    const uint32_t stamp = static_cast<uint32_t>(dosDate) << 16 | dosTime;
    if (!hasValue_ || stamp != stamp_) {
        platform::FILETIME fileTime{0, 0};
        platform::DosDateTimeToFileTime(dosDate, dosTime, &fileTime);
        value_ = conversions::FileTimeToDate(fileTime);
        stamp_ = stamp;
        hasValue_ = true;
    }
    return value_;
}

std::u16string_view EntryDates::text(double date) {
    if (!hasText_ || date != textOf_) {
        text_ = platform::FormatGeneralDate(date);
        textOf_ = date;
        hasText_ = true;
    }
    return text_;
}

}  // namespace cabinet::Callback
