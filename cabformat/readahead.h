// A decoder thread that runs ahead of the walk through one folder's data,
// into a bounded ring of decoded blocks, while the walk's own thread hands
// the entries on to the caller. The thread is made on the first start() and
// lives until the object goes; it never calls back into the caller.
#pragma once

#include "cabformat/blocks.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace cabformat {

class ReadAhead {
public:
    // Decoded blocks held at most: 16 blocks of at most 38 KB, about 600 KB.
    // More buy nothing on two cores (the walk keeps up with the decoder) and
    // cost memory and cache: 64 took 6.8 MB at the peak, 16 take 5.0 MB.
    static constexpr std::size_t kSlots = 16;
    // A side that waits is woken once the other has this many blocks for it
    // (or the folder ends): one wake-up per batch, not one per block.
    static constexpr std::size_t kBatch = kSlots / 2;

    ReadAhead();
    // Stops the decoder and waits for its thread to end.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Decodes `data` from its first block on, dropping what an earlier
    // folder left. Throws std::system_error when no thread can be made.
    void start(FolderData data);
    // Stops decoding; returns once the thread is idle.
    void stop() noexcept;

    // Waits for the next decoded bytes. Returns ok with them (`size` 0 at the
    // end of the folder's data), or the failure that stopped the decoder, at
    // this point and every later call.
    Error peek(const unsigned char*& data, std::size_t& size);
    // Drops the first `bytes` of what peek() gave.
    void consume(std::size_t bytes);

private:
    struct Slot {
        std::unique_ptr<unsigned char[]> bytes;
        std::size_t size = 0;
        Error error;
        bool end = false;
    };

    void run() noexcept;
    void decode(const FolderData& data, uint64_t generation);
    // The slot the decoder fills next, once there is room; nullptr when its
    // job was stopped.
    Slot* freeSlot(uint64_t generation);
    // Hands the filled slot to the walk, `last` when the folder ends with it;
    // false when its job was stopped.
    bool publish(uint64_t generation, bool last);

    std::mutex mutex_;
    std::condition_variable toDecoder_;
    std::condition_variable toWalk_;
    // Guarded by mutex_.
    FolderData job_;
    bool pending_ = false;
    bool running_ = false;
    bool quit_ = false;
    uint64_t generation_ = 0;    // each start() or stop() ends the job before it
    std::size_t head_ = 0;       // oldest decoded slot
    std::size_t count_ = 0;      // decoded slots not yet consumed
    bool walkWaits_ = false;     // the walk sleeps in peek() for a decoded slot
    bool decoderWaits_ = false;  // the decoder sleeps in freeSlot() for room
    // The walk's side only.
    std::size_t used_ = 0;  // bytes of the head slot consumed
    Slot slots_[kSlots];
    std::thread thread_;
};

}  // namespace cabformat
