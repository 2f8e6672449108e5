// The Callback module's registration slot and the handler the setup library
// calls: it forwards each notification to the object that started the walk.
#include "cabinet/callback.h"

#include <algorithm>

#include "cabinet/cab_file.h"
#include "platform/kernel.h"
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

}  // namespace cabinet::Callback

namespace cabinet::Callback {

uint64_t FolderMarks::HashOf(std::u16string_view folder) {
    uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a, over each UTF-16 unit's two bytes
    for (const char16_t unit : folder) {
        hash = (hash ^ (unit & 0xFFu)) * 0x100000001b3ULL;
        hash = (hash ^ (static_cast<unsigned>(unit) >> 8)) * 0x100000001b3ULL;
    }
    return hash == 0 ? 1 : hash;
}

bool FolderMarks::contains(std::u16string_view folder) const {
    if (slots_.empty()) {
        return false;
    }
    const uint64_t hash = HashOf(folder);
    for (std::size_t at = hash & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
        if (slots_[at] == hash) {
            return true;
        }
        if (slots_[at] == 0) {
            return false;
        }
    }
}

void FolderMarks::insert(std::u16string_view folder) {
    if (used_ >= kMaxFolders) {
        slots_.clear();
        used_ = 0;
    }
    if ((used_ + 1) * 2 > slots_.size()) {
        std::vector<uint64_t> old(std::max<std::size_t>(64, slots_.size() * 2), 0);
        old.swap(slots_);
        for (const uint64_t kept : old) {
            if (kept != 0) {
                std::size_t at = kept & (slots_.size() - 1);
                while (slots_[at] != 0) {
                    at = (at + 1) & (slots_.size() - 1);
                }
                slots_[at] = kept;
            }
        }
    }
    const uint64_t hash = HashOf(folder);
    std::size_t at = hash & (slots_.size() - 1);
    while (slots_[at] != 0 && slots_[at] != hash) {
        at = (at + 1) & (slots_.size() - 1);
    }
    used_ += slots_[at] == 0 ? 1 : 0;
    slots_[at] = hash;
}

}  // namespace cabinet::Callback
