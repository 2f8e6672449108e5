// The decoder thread and its ring of decoded blocks (see readahead.h).
//
// Only the decoder writes a slot, and only while it is outside
// [head_, head_ + count_); the walk reads slots inside it. Both move those
// bounds under mutex_, which orders the bytes between the threads. The
// decoder's history, the slot it filled last, stays intact until the ring
// comes round to it again.
#include "cabformat/readahead.h"

#include "cabformat/decoders.h"

#include <new>

namespace cabformat {

ReadAhead::ReadAhead() = default;

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        ++generation_;
    }
    toDecoder_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ReadAhead::start(FolderData data) {
    stop();
    if (!slots_[0].bytes) {
        for (Slot& slot : slots_) {
            slot.bytes = std::make_unique_for_overwrite<unsigned char[]>(kDecodedBlockCapacity);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(data);
        pending_ = true;
    }
    if (!thread_.joinable()) {
        thread_ = std::thread(&ReadAhead::run, this);
    }
    toDecoder_.notify_all();
}

void ReadAhead::stop() noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    ++generation_;
    pending_ = false;
    toDecoder_.notify_all();
    toWalk_.wait(lock, [this] { return !running_; });
    head_ = 0;
    count_ = 0;
    used_ = 0;
    walkWaits_ = false;
    decoderWaits_ = false;
}

void ReadAhead::run() noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        toDecoder_.wait(lock, [this] { return quit_ || pending_; });
        if (quit_) {
            return;
        }
        pending_ = false;
        running_ = true;
        const FolderData data = std::move(job_);
        const uint64_t generation = generation_;
        lock.unlock();
        decode(data, generation);
        lock.lock();
        running_ = false;
        toWalk_.notify_all();
    }
}

ReadAhead::Slot* ReadAhead::freeSlot(uint64_t generation) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (generation_ == generation && count_ == kSlots) {
        decoderWaits_ = true;
        toDecoder_.wait(lock, [&] { return generation_ != generation || !decoderWaits_; });
        decoderWaits_ = false;
    }
    return generation_ != generation ? nullptr : &slots_[(head_ + count_) % kSlots];
}

bool ReadAhead::publish(uint64_t generation, bool last) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation_ != generation) {
            return false;
        }
        ++count_;
        wake = walkWaits_ && (last || count_ >= kBatch);
        walkWaits_ = walkWaits_ && !wake;
    }
    if (wake) {
        toWalk_.notify_one();
    }
    return true;
}

void ReadAhead::decode(const FolderData& data, uint64_t generation) {
    const unsigned char* history = nullptr;
    std::size_t historySize = 0;
    Error failure;
    try {
        BlockReader reader(data);
        const std::unique_ptr<BlockDecoder> decoder = MakeBlockDecoder(data.compression);
        for (;;) {
            Slot* slot = freeSlot(generation);
            if (slot == nullptr) {
                return;
            }
            DataBlock block;
            bool end = false;
            slot->size = 0;
            slot->error = reader.next(block, end);
            if (slot->error.ok() && !end) {
                slot->error = decoder->decode(block, history, historySize, slot->bytes.get(), slot->size);
            }
            slot->end = end;
            if (!slot->error.ok()) {
                slot->size = 0;
            }
            const bool last = slot->end || !slot->error.ok();
            if (!publish(generation, last) || last) {
                return;
            }
            history = slot->bytes.get();
            historySize = slot->size;
        }
    } catch (const std::bad_alloc&) {
        failure = {Errc::NoMemory};
    } catch (...) {
        failure = {Errc::Internal};  // nothing may leave the thread
    }
    // Memory or a lock failed: that ends the folder too.
    if (Slot* slot = freeSlot(generation)) {
        slot->size = 0;
        slot->error = failure;
        slot->end = false;
        publish(generation, true);
    }
}

Error ReadAhead::peek(const unsigned char*& data, std::size_t& size) {
    for (;;) {
        Slot* slot = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (count_ == 0) {
                walkWaits_ = true;
                toWalk_.wait(lock, [this] { return !walkWaits_; });
            }
            slot = &slots_[head_];
        }
        if (!slot->error.ok()) {
            return slot->error;
        }
        if (slot->end || used_ < slot->size) {
            data = slot->bytes.get() + used_;
            size = slot->end ? 0 : slot->size - used_;
            return {};
        }
        consume(0);  // a block that unpacked to nothing
    }
}

void ReadAhead::consume(std::size_t bytes) {
    used_ += bytes;
    const Slot& slot = slots_[head_];
    if (used_ < slot.size || slot.end || !slot.error.ok()) {
        return;
    }
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        head_ = (head_ + 1) % kSlots;
        --count_;
        used_ = 0;
        wake = decoderWaits_ && count_ <= kSlots - kBatch;
        decoderWaits_ = decoderWaits_ && !wake;
    }
    if (wake) {
        toDecoder_.notify_one();
    }
}

}  // namespace cabformat
