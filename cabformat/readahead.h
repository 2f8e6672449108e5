// SPDX-License-Identifier: MIT
// Two threads that run ahead of the walk through one folder's data while the
// walk's own thread hands the entries on to the caller: a reader, which
// reads the data blocks and verifies their checksums into a small ring of
// packed blocks, and a decoder, which does nothing but unpack them into a
// ring of decoded blocks. Decoding is the one step that cannot be split
// (each block needs the one before), so everything else stays off its
// thread. The threads are made on the first start() and live until the
// object goes; they never call back into the caller.
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
    // Packed blocks read and verified ahead of the decoder. Reading and
    // summing a block takes a fraction of inflating it, so the decoder wakes
    // the reader only once a quarter are left: with 8, one wake-up per 6
    // blocks (with 4, one per 2 cost the decoder 3% of its time).
    static constexpr std::size_t kPackedSlots = 8;

    ReadAhead();
    // Stops the threads and waits for them to end.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Decodes `data` from its first block on, dropping what an earlier
    // folder left. Throws std::system_error when no thread can be made.
    void start(FolderData data);
    // Stops reading and decoding; returns once both threads are idle.
    void stop() noexcept;

    // Waits for the next decoded bytes. Returns ok with them (`size` 0 at the
    // end of the folder's data), or the failure that stopped the reader or
    // the decoder, at this point and every later call.
    Error peek(const unsigned char*& data, std::size_t& size);
    // Drops the first `bytes` of what peek() gave.
    void consume(std::size_t bytes);

private:
    // A block as one side hands it to the next: its bytes, or the end of the
    // folder, or the failure that ends it.
    struct Slot {
        std::unique_ptr<unsigned char[]> bytes;
        std::size_t size = 0;
        std::size_t unpackedSize = 0;  // a packed block's stated size
        Error error;
        bool end = false;
        bool last() const { return end || !error.ok(); }
    };

    // A bounded ring between two threads. The producer writes a slot only
    // while it is outside [head, head + count); the consumer reads slots
    // inside it. Both move those bounds under mutex_, which orders the bytes
    // between the threads. A side that waits says so, and the other wakes
    // it only then, once half the ring is ready for it (or the folder ends):
    // one wake-up per batch of blocks, not one per block.
    template <std::size_t N>
    struct Ring {
        Slot slots[N];
        std::size_t head = 0;
        std::size_t count = 0;
        bool consumerWaits = false;
        bool producerWaits = false;
        std::condition_variable toConsumer;
        std::condition_variable toProducer;
    };

    void serve(bool ReadAhead::*pending, bool ReadAhead::*running,
               void (ReadAhead::*work)(const FolderData&, uint64_t)) noexcept;
    void read(const FolderData& data, uint64_t generation);
    void decode(const FolderData& data, uint64_t generation);
    // decode() for LZX and Quantum: the folder as one stream through
    // libmspack (libmspack_stream.h), block by block between the rings.
    void decodeStream(const FolderData& data, uint64_t generation);
    struct RingStream;
    // The slot the producer fills next, once there is room; nullptr when its
    // job was stopped.
    template <std::size_t N>
    Slot* freeSlot(Ring<N>& ring, uint64_t generation);
    // Hands the filled slot to the consumer; false when its job was stopped.
    template <std::size_t N>
    bool publish(Ring<N>& ring, uint64_t generation, bool last);
    // Ends a job that failed outside the slots (memory, a lock): the
    // consumer sees `failure` as the folder's last block.
    template <std::size_t N>
    void fail(Ring<N>& ring, uint64_t generation, Error failure);
    // The decoder's side of the packed ring.
    const Slot* nextPacked(uint64_t generation);
    void releasePacked();

    std::mutex mutex_;
    std::condition_variable toThreads_;  // a job, a stop, or the end
    std::condition_variable idle_;       // a thread has finished its job
    // Guarded by mutex_.
    FolderData job_;
    bool readerPending_ = false;
    bool decoderPending_ = false;
    bool readerRunning_ = false;
    bool decoderRunning_ = false;
    bool quit_ = false;
    uint64_t generation_ = 0;  // each start() or stop() ends the job before it
    Ring<kPackedSlots> packed_;
    Ring<kSlots> decoded_;
    // The walk's side only.
    std::size_t used_ = 0;  // bytes of the decoded ring's head slot consumed
    std::thread reader_;
    std::thread decoder_;
};

}  // namespace cabformat
