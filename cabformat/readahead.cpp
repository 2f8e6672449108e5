// SPDX-License-Identifier: MIT
// The reader and decoder threads and their rings (see readahead.h).
//
// The reader owns the BlockReader: the read system calls, the copies out
// of the page cache and the checksums run on its thread, beside the
// decoder's. The decoder's history, the decoded slot it filled last, stays
// intact until the ring comes round to it again.
#include "cabformat/readahead.h"

#include "cabformat/decoders.h"
#include "cabformat/layout.h"
#include "cabformat/libmspack_stream.h"

#include <cstring>
#include <new>

namespace cabformat {

ReadAhead::ReadAhead() = default;

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        ++generation_;
    }
    toThreads_.notify_all();
    packed_.toProducer.notify_all();
    packed_.toConsumer.notify_all();
    decoded_.toProducer.notify_all();
    for (std::thread* thread : {&reader_, &decoder_}) {
        if (thread->joinable()) {
            thread->join();
        }
    }
}

void ReadAhead::start(FolderData data) {
    stop();
    if (!decoded_.slots[0].bytes) {
        for (Slot& slot : decoded_.slots) {
            slot.bytes = std::make_unique_for_overwrite<unsigned char[]>(kDecodedBlockCapacity);
        }
        for (Slot& slot : packed_.slots) {
            slot.bytes = std::make_unique_for_overwrite<unsigned char[]>(layout::kMaxPackedBlockSize);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(data);
        readerPending_ = true;
        decoderPending_ = true;
    }
    if (!reader_.joinable()) {
        reader_ = std::thread(&ReadAhead::serve, this, &ReadAhead::readerPending_, &ReadAhead::readerRunning_,
                              &ReadAhead::read);
    }
    if (!decoder_.joinable()) {
        decoder_ = std::thread(&ReadAhead::serve, this, &ReadAhead::decoderPending_, &ReadAhead::decoderRunning_,
                               &ReadAhead::decode);
    }
    toThreads_.notify_all();
}

void ReadAhead::stop() noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    ++generation_;
    readerPending_ = false;
    decoderPending_ = false;
    toThreads_.notify_all();
    packed_.toProducer.notify_all();
    packed_.toConsumer.notify_all();
    decoded_.toProducer.notify_all();
    idle_.wait(lock, [this] { return !readerRunning_ && !decoderRunning_; });
    packed_.head = packed_.count = decoded_.head = decoded_.count = 0;
    packed_.consumerWaits = packed_.producerWaits = false;
    decoded_.consumerWaits = decoded_.producerWaits = false;
    used_ = 0;
}

// One worker's life: each job start() hands it, until the object goes. The
// job is copied under the lock; the work runs without it.
void ReadAhead::serve(bool ReadAhead::*pending, bool ReadAhead::*running,
                      void (ReadAhead::*work)(const FolderData&, uint64_t)) noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        toThreads_.wait(lock, [&] { return quit_ || this->*pending; });
        if (quit_) {
            return;
        }
        this->*pending = false;
        this->*running = true;
        const FolderData data = job_;
        const uint64_t generation = generation_;
        lock.unlock();
        (this->*work)(data, generation);
        lock.lock();
        this->*running = false;
        idle_.notify_all();
    }
}

template <std::size_t N>
ReadAhead::Slot* ReadAhead::freeSlot(Ring<N>& ring, uint64_t generation) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (generation_ == generation && ring.count == N) {
        ring.producerWaits = true;
        ring.toProducer.wait(lock, [&] { return generation_ != generation || !ring.producerWaits; });
        ring.producerWaits = false;
    }
    return generation_ != generation ? nullptr : &ring.slots[(ring.head + ring.count) % N];
}

template <std::size_t N>
bool ReadAhead::publish(Ring<N>& ring, uint64_t generation, bool last) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation_ != generation) {
            return false;
        }
        ++ring.count;
        wake = ring.consumerWaits && (last || ring.count >= N / 2);
        ring.consumerWaits = ring.consumerWaits && !wake;
    }
    if (wake) {
        ring.toConsumer.notify_one();
    }
    return true;
}

template <std::size_t N>
void ReadAhead::fail(Ring<N>& ring, uint64_t generation, Error failure) {
    if (Slot* slot = freeSlot(ring, generation)) {
        slot->size = 0;
        slot->error = failure;
        slot->end = false;
        publish(ring, generation, true);
    }
}

void ReadAhead::read(const FolderData& data, uint64_t generation) {
    try {
        BlockReader reader(data);
        for (;;) {
            Slot* slot = freeSlot(packed_, generation);
            if (slot == nullptr) {
                return;
            }
            DataBlock block;
            bool end = false;
            slot->size = 0;
            slot->error = reader.next(block, end);
            slot->end = end;
            if (slot->error.ok() && !end) {
                // The reader checked packedSize against the largest block.
                std::memcpy(slot->bytes.get(), block.packed, block.packedSize);
                slot->size = block.packedSize;
                slot->unpackedSize = block.unpackedSize;
            }
            const bool last = slot->last();
            if (!publish(packed_, generation, last) || last) {
                return;
            }
        }
    } catch (const std::bad_alloc&) {
        fail(packed_, generation, {Errc::NoMemory});
    } catch (...) {
        fail(packed_, generation, {Errc::Internal});  // nothing may leave the thread
    }
}

const ReadAhead::Slot* ReadAhead::nextPacked(uint64_t generation) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (generation_ == generation && packed_.count == 0) {
        packed_.consumerWaits = true;
        packed_.toConsumer.wait(lock, [&] { return generation_ != generation || !packed_.consumerWaits; });
        packed_.consumerWaits = false;
    }
    return generation_ != generation ? nullptr : &packed_.slots[packed_.head];
}

void ReadAhead::releasePacked() {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        packed_.head = (packed_.head + 1) % kPackedSlots;
        --packed_.count;
        // The reader fills blocks many times faster than they are inflated.
        wake = packed_.producerWaits && packed_.count <= kPackedSlots / 4;
        packed_.producerWaits = packed_.producerWaits && !wake;
    }
    if (wake) {
        packed_.toProducer.notify_one();
    }
}

// The rings as libmspack's stream sees them: the packed block it reads,
// held until it asks for the next, and the decoded slot its frame goes to.
struct ReadAhead::RingStream final : FolderStream {
    RingStream(ReadAhead& owner, uint64_t job) : ahead(owner), generation(job) {}

    bool nextBlock(DataBlock& block, Error& error) noexcept override {
        try {
            if (held != nullptr) {
                ahead.releasePacked();
                held = nullptr;
            }
            held = ahead.nextPacked(generation);
            if (held == nullptr) {
                stopped = true;
                error = {Errc::Internal};
                return false;
            }
            error = held->error;
            if (held->last()) {
                return false;
            }
            block = {held->bytes.get(), held->size, held->unpackedSize};
            return true;
        } catch (...) {
            error = {Errc::Internal};  // a lock that failed
            return false;
        }
    }

    bool emit(const unsigned char* bytes, std::size_t size, bool blockEnds) noexcept override {
        try {
            if (out == nullptr) {
                out = ahead.freeSlot(ahead.decoded_, generation);
                if (out == nullptr) {
                    stopped = true;
                    return false;
                }
                out->size = 0;
                out->error = {};
                out->end = false;
            }
            std::memcpy(out->bytes.get() + out->size, bytes, size);  // a frame fits a slot
            out->size += size;
            if (blockEnds) {
                Slot* done = out;
                out = nullptr;
                if (!ahead.publish(ahead.decoded_, generation, done->last())) {
                    stopped = true;
                    return false;
                }
            }
            return true;
        } catch (...) {
            stopped = true;
            return false;
        }
    }

    ReadAhead& ahead;
    uint64_t generation;
    const Slot* held = nullptr;
    Slot* out = nullptr;
    bool stopped = false;
};

void ReadAhead::decodeStream(const FolderData& data, uint64_t generation) {
    RingStream stream(*this, generation);
    const Error result = DecodeFolderStream(data, stream);
    if (stream.stopped) {
        return;
    }
    try {
        if (stream.held != nullptr) {
            releasePacked();
        }
        // The folder's end, or its failure, after the blocks that came out whole.
        Slot* slot = stream.out != nullptr ? stream.out : freeSlot(decoded_, generation);
        if (slot == nullptr) {
            return;
        }
        slot->size = 0;
        slot->error = result;
        slot->end = result.ok();
        publish(decoded_, generation, true);
    } catch (...) {
        fail(decoded_, generation, {Errc::Internal});
    }
}

void ReadAhead::decode(const FolderData& data, uint64_t generation) {
    const uint16_t compression = data.compression;
    const uint16_t method = compression & layout::kCompressionMask;
    if (method == layout::kCompressionQuantum || method == layout::kCompressionLzx) {
        decodeStream(data, generation);
        return;
    }
    const unsigned char* history = nullptr;
    std::size_t historySize = 0;
    try {
        const std::unique_ptr<BlockDecoder> decoder = MakeBlockDecoder(compression);
        for (;;) {
            const Slot* in = nextPacked(generation);
            if (in == nullptr) {
                return;
            }
            Slot* slot = freeSlot(decoded_, generation);
            if (slot == nullptr) {
                return;
            }
            slot->size = 0;
            slot->error = in->error;
            slot->end = in->end;
            if (!in->last()) {
                const DataBlock block{in->bytes.get(), in->size, in->unpackedSize};
                slot->error = decoder->decode(block, history, historySize, slot->bytes.get(), slot->size);
            }
            if (!slot->error.ok()) {
                slot->size = 0;
            }
            releasePacked();
            const bool last = slot->last();
            if (!publish(decoded_, generation, last) || last) {
                return;
            }
            history = slot->bytes.get();
            historySize = slot->size;
        }
    } catch (const std::bad_alloc&) {
        fail(decoded_, generation, {Errc::NoMemory});
    } catch (...) {
        fail(decoded_, generation, {Errc::Internal});  // nothing may leave the thread
    }
}

Error ReadAhead::peek(const unsigned char*& data, std::size_t& size) {
    for (;;) {
        Slot* slot = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (decoded_.count == 0) {
                decoded_.consumerWaits = true;
                decoded_.toConsumer.wait(lock, [this] { return !decoded_.consumerWaits; });
            }
            slot = &decoded_.slots[decoded_.head];
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
    const Slot& slot = decoded_.slots[decoded_.head];
    if (used_ < slot.size || slot.last()) {
        return;
    }
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        decoded_.head = (decoded_.head + 1) % kSlots;
        --decoded_.count;
        used_ = 0;
        wake = decoded_.producerWaits && decoded_.count <= kSlots / 2;
        decoded_.producerWaits = decoded_.producerWaits && !wake;
    }
    if (wake) {
        decoded_.toProducer.notify_one();
    }
}

}  // namespace cabformat
